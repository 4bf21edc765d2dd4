// Shared by the fuzz targets: the entry points that every engine calls, and
// checks that end the run (abort, which every engine records as a crash with
// the input saved) when a property of the code under test fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace varkel::fuzz {

[[noreturn, gnu::cold]] inline void check_failed(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, what);
  std::abort();
}

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace varkel::fuzz

#define VARKEL_FUZZ_CHECK(condition) \
  ((condition) ? void(0) : ::varkel::fuzz::check_failed(__FILE__, __LINE__, #condition))
