// Failure as a value: every core operation returns its result or one Error.
//
// The first failure propagates unchanged; nobody rewrites its text. Where the
// failure has a place (a position in a JSON text, the path of a member in a
// document or of a field in a value), the place travels beside the text, so
// that the Python surface can give it to callers as attributes without
// reading it back out of the text.
//
// Early returns take one line:
//
//   VARKEL_TRY(check_header(bytes));                  // Result<void>
//   VARKEL_TRY_AS(const Header header, read(bytes));  // Result<Header>
#pragma once

#include <cstdint>
#include <expected>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace varkel {

struct Error {
  Error() = default;
  explicit Error(std::string text) : message(std::move(text)) {}
  Error(std::string text, std::string where) : message(std::move(text)), path(std::move(where)) {}
  Error(std::string text, std::uint32_t text_line, std::uint32_t text_column)
      : message(std::move(text)), line(text_line), column(text_column) {}

  std::string message;       // the whole text, as reported
  std::string path;          // the member or field it is about ("meta.err", "args.amount"); empty: none
  std::uint32_t line = 0;    // a JSON text's failure: its 1-based line (0: not a text's failure)
  std::uint32_t column = 0;  // and the bytes read on that line (0 when a line feed is at fault)

  // An error reads as its text.
  friend bool operator==(const Error& error, std::string_view text) { return error.message == text; }
  friend std::ostream& operator<<(std::ostream& out, const Error& error) { return out << error.message; }
};

template <class T>
using Result = std::expected<T, Error>;

inline std::unexpected<Error> fail(std::string message) {
  return std::unexpected<Error>(Error(std::move(message)));
}

inline std::unexpected<Error> fail(Error error) {
  return std::unexpected<Error>(std::move(error));
}

}  // namespace varkel

#define VARKEL_CONCAT_(a, b) a##b
#define VARKEL_CONCAT(a, b) VARKEL_CONCAT_(a, b)

// Returns the failure of `expr` (a Result) from the enclosing function, which
// returns a Result too.
#define VARKEL_TRY(expr)                                                         \
  do {                                                                           \
    if (auto varkel_try_ = (expr); !varkel_try_) [[unlikely]]                    \
      return ::std::unexpected<::varkel::Error>(std::move(varkel_try_).error()); \
  } while (false)

// The same, then declares `decl` from the value of `expr`: one statement.
#define VARKEL_TRY_AS(decl, expr)                                                                       \
  auto VARKEL_CONCAT(varkel_try_, __LINE__) = (expr);                                                   \
  if (!VARKEL_CONCAT(varkel_try_, __LINE__)) [[unlikely]]                                               \
    return ::std::unexpected<::varkel::Error>(std::move(VARKEL_CONCAT(varkel_try_, __LINE__)).error()); \
  decl = std::move(*VARKEL_CONCAT(varkel_try_, __LINE__))
