// memmove for the sanitizer runs of the Python tests, preloaded ahead of the
// AddressSanitizer runtime (scripts/sanitize.sh).
//
// The free-threaded interpreter lets other threads read a list's item array
// without a lock while memmove shifts it (insert, pop, slice assignment); it
// relies on memmove writing each aligned pointer whole, as the C library's
// does. The sanitizer runtime's memmove, which the uninstrumented interpreter
// reaches through the dynamic linker, copies byte by byte: readers then see
// torn pointers and the interpreter crashes in whatever touches them. This
// memmove copies aligned 8-byte words with single atomic loads and stores, and
// bytes otherwise. It is built without instrumentation.
#include <cstddef>
#include <cstdint>

namespace {

template <class T>
void move_units(unsigned char* to, const unsigned char* from, std::size_t count) {
  T* out = reinterpret_cast<T*>(to);
  const T* in = reinterpret_cast<const T*>(from);
  if (to < from) {
    for (std::size_t i = 0; i < count; ++i)
      __atomic_store_n(&out[i], __atomic_load_n(&in[i], __ATOMIC_RELAXED), __ATOMIC_RELAXED);
  } else {
    for (std::size_t i = count; i-- > 0;)
      __atomic_store_n(&out[i], __atomic_load_n(&in[i], __ATOMIC_RELAXED), __ATOMIC_RELAXED);
  }
}

}  // namespace

extern "C" [[gnu::visibility("default")]] void* memmove(void* to, const void* from, std::size_t size) {
  auto* out = static_cast<unsigned char*>(to);
  const auto* in = static_cast<const unsigned char*>(from);
  if (out == in || size == 0) return to;
  if (((reinterpret_cast<std::uintptr_t>(out) | reinterpret_cast<std::uintptr_t>(in) | size) & 7) == 0) {
    move_units<std::uint64_t>(out, in, size / 8);
  } else {
    move_units<unsigned char>(out, in, size);
  }
  return to;
}
