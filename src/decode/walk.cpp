#include "decode/walk.h"

namespace varkel::decode::walk_failure {

Error too_deep(unsigned depth) {
  if (depth >= kMaxDepth) return Error{"type nesting exceeds " + std::to_string(kMaxDepth) + " levels"};
  return Error{"type nesting exceeds the thread's stack at " + std::to_string(depth) + " levels"};
}

Error too_many_zero_width() {
  return Error{"more than " + std::to_string(kMaxZeroWidth) + " zero-width elements"};
}

Error generic_parameter() {
  return Error{"generic type parameter is not supported"};
}

Error generic_length() {
  return Error{"generic array length is not supported"};
}

Error unknown_type(const std::string& name) {
  return Error{"unknown defined type '" + name + "'"};
}

Error generic_defined(const std::string& name) {
  return Error{"generic defined type '" + name + "' is not supported"};
}

Error bad_discriminant(unsigned discriminant) {
  return Error{"enum discriminant " + std::to_string(discriminant) + " out of range"};
}

Error invalid_utf8(const std::string& detail) {
  return Error{"invalid utf-8: " + detail};
}

// The path reads like an expression: fields joined by ".", elements in
// brackets ("routes[2].amount").
void prepend(Error& error, std::string_view step, bool index) {
  std::string path = index ? "[" + std::string(step) + "]" : std::string(step);
  if (!error.path.empty() && error.path.front() != '[') path += '.';
  error.path.insert(0, path);
}

void prepend_index(Error& error, std::uint64_t index) {
  prepend(error, std::to_string(index), true);
}

}  // namespace varkel::decode::walk_failure
