#include "decode/borsh_reader.h"

#include <limits>

namespace varkel::decode {

Error read_failure(std::uint64_t n, std::uint64_t position, std::uint64_t length) {
  if (n > std::numeric_limits<std::uint64_t>::max() - position) {
    return Error{"length overflow"};
  }
  return Error{"unexpected end of buffer: need " + std::to_string(n) + " byte(s) at offset " +
               std::to_string(position) + ", have " + std::to_string(length)};
}

}  // namespace varkel::decode
