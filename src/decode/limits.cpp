#include "decode/limits.h"

#if defined(__linux__)
#include <pthread.h>
#endif

#include <cstddef>

namespace varkel::decode {

std::uintptr_t stack_floor() noexcept {
  thread_local const std::uintptr_t floor = [] {
    std::uintptr_t low = 0;
#if defined(__linux__)
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
      void* addr = nullptr;
      std::size_t size = 0;
      if (pthread_attr_getstack(&attr, &addr, &size) == 0) low = reinterpret_cast<std::uintptr_t>(addr);
      pthread_attr_destroy(&attr);
    }
#endif
    return low;
  }();
  return floor;
}

}  // namespace varkel::decode
