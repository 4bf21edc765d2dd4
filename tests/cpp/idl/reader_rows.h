// The row harness of the IDL reader tests: a document text, and either "ok"
// or the exact message that reading it must give.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"

namespace varkel::idl::testing {

struct Row {
  std::string name;
  std::string text;
  std::string expected;  // "ok" or the exact message
};

// "ok" when `read(text)` succeeds, else its message.
template <class Read>
std::string outcome_of(Read read, std::string_view text) {
  auto result = read(text);
  return result ? std::string("ok") : result.error().message;
}

template <class Read>
void check_rows(Read read, const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    EXPECT_EQ(outcome_of(read, row.text), row.expected) << row.name << ": " << row.text;
  }
}

// The value that `read(text)` must produce (a default value, with the test
// marked failed, when it does not).
template <class Read>
auto read_ok(Read read, std::string_view text) {
  auto result = read(text);
  EXPECT_TRUE(result.has_value()) << text << "\n" << (result ? "" : result.error().message);
  using Value = typename decltype(result)::value_type;
  return result ? std::move(*result) : Value{};
}

}  // namespace varkel::idl::testing
