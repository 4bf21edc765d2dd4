#include "json/path.h"

namespace varkel::json {

std::string path_text(std::span<const PathStep> steps, std::string_view root, std::size_t shown) {
  std::string out;
  for (std::size_t k = 0; k < steps.size(); ++k) {
    if (k == shown) {
      out += "...";
      break;
    }
    const PathStep& step = steps[k];
    if (step.is_index) {
      out += '[';
      out += std::to_string(step.index);
      out += ']';
    } else {
      if (!out.empty()) out += '.';
      out += step.key;
    }
  }
  return out.empty() ? std::string(root) : out;
}

}  // namespace varkel::json
