// Finished columns in Arrow's memory layout: owned byte buffers and the tree
// of arrays that describes them. Immutable once built; exported to the Arrow
// C data interface by columnar/export.h without copying the buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace varkel::columnar {

// A growable block of bytes, 64-byte aligned as Arrow recommends. data() is
// never null (an empty buffer points at a shared empty block), so that every
// exported buffer pointer is valid.
class Buffer {
 public:
  static constexpr std::size_t kAlignment = 64;

  Buffer() noexcept = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Buffer(Buffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  Buffer& operator=(Buffer&& other) noexcept {
    if (this != &other) {
      std::free(data_);
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
  }
  ~Buffer() { std::free(data_); }

  std::uint8_t* data() noexcept { return data_ != nullptr ? data_ : empty_block(); }
  const std::uint8_t* data() const noexcept { return data_ != nullptr ? data_ : empty_block(); }
  std::size_t size() const noexcept { return size_; }

  // Room for at least `n` bytes in all; throws std::bad_alloc.
  void reserve(std::size_t n) {
    if (n > capacity_) grow(n);
  }
  // Sets the size; bytes added are zero.
  void resize(std::size_t n) {
    reserve(n);
    if (n > size_) std::memset(data() + size_, 0, n - size_);
    size_ = n;
  }
  // Drops the bytes from `n` on (n <= size()).
  void truncate(std::size_t n) noexcept { size_ = n; }

  void append(const void* bytes, std::size_t n) {
    if (n == 0) return;
    reserve(size_ + n);
    std::memcpy(data_ + size_, bytes, n);
    size_ += n;
  }
  template <class T>
  void push(T value) {
    if (size_ + sizeof(T) > capacity_) grow(size_ + sizeof(T));
    std::memcpy(data_ + size_, &value, sizeof(T));
    size_ += sizeof(T);
  }
  template <class T>
  T* as() noexcept {
    return reinterpret_cast<T*>(data());
  }
  template <class T>
  const T* as() const noexcept {
    return reinterpret_cast<const T*>(data());
  }

 private:
  static std::uint8_t* empty_block() noexcept {
    alignas(kAlignment) static std::uint8_t block[kAlignment] = {};
    return block;
  }
  // A new block, the bytes copied, the old one freed.
  void grow(std::size_t n) {
    std::size_t capacity = capacity_ < kFirst ? kFirst : capacity_;
    while (capacity < n) capacity = capacity > (SIZE_MAX / 2) ? n : capacity * 2;
    capacity = (capacity + kAlignment - 1) / kAlignment * kAlignment;
    auto* bytes = static_cast<std::uint8_t*>(std::aligned_alloc(kAlignment, capacity));
    if (bytes == nullptr) throw std::bad_alloc();
    if (size_ > 0) std::memcpy(bytes, data_, size_);
    std::free(data_);
    data_ = bytes;
    capacity_ = capacity;
  }

  static constexpr std::size_t kFirst = 256;

  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// One array with its type: the format string and buffers follow the Arrow
// C data interface. For every format but the null type ("n"), buffers[0] is
// the validity bitmap, exported as absent when null_count is 0.
struct ArrayData {
  std::string format;
  std::string name;
  std::int64_t flags = 0;  // ARROW_FLAG_NULLABLE
  std::int64_t length = 0;
  std::int64_t null_count = 0;
  std::vector<Buffer> buffers;
  std::vector<ArrayData> children;
  std::unique_ptr<ArrayData> dictionary;  // dictionary-encoded arrays: the values
};

// The events of one name from one batch: a struct array whose children are
// the columns (one record batch).
struct Table {
  std::string name;
  ArrayData batch;
};

}  // namespace varkel::columnar
