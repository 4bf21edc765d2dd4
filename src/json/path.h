// The path of a member in a JSON document, as messages name it: keys joined
// by ".", indexes in brackets ("result.meta.innerInstructions[0].index").
#pragma once

#include <cstddef>
#include <limits>
#include <span>
#include <string>
#include <string_view>

namespace varkel::json {

// One step down from a value: a member's key, or an element's index.
struct PathStep {
  std::string_view key;
  std::size_t index = 0;
  bool is_index = false;
};

// The text of `steps` from the top of the document, or `root` when there are
// none. Past `shown` steps the rest is written as "...".
std::string path_text(std::span<const PathStep> steps, std::string_view root,
                      std::size_t shown = std::numeric_limits<std::size_t>::max());

}  // namespace varkel::json
