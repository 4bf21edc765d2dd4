// Failure as a value: every core operation returns its result or one message.
#pragma once

#include <expected>
#include <string>
#include <utility>

namespace varkel {

template <class T>
using Result = std::expected<T, std::string>;

inline std::unexpected<std::string> fail(std::string message) {
  return std::unexpected<std::string>(std::move(message));
}

}  // namespace varkel
