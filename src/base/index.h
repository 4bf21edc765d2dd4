// The one "no index": an index or count of an entry that is not there.
#pragma once

#include <cstdint>

namespace varkel {

inline constexpr std::uint32_t kNoIndex = 0xFFFF'FFFF;

}  // namespace varkel
