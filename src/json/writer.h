// Compact JSON writer into one growing C-heap buffer, which can be handed to
// the caller as the returned block without another copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "json/value.h"

namespace quorvel::json {

class Writer {
 public:
  Writer() = default;
  explicit Writer(size_t initial_capacity) { reserve(initial_capacity); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;
  ~Writer();

  void value(const Value& v);
  // A JSON string with the library's escapes.
  void string(std::string_view s);
  void uint(uint64_t u);
  void int64(int64_t i);
  void number(double d);
  void raw(std::string_view s) { append(s.data(), s.size()); }
  void raw(char c) {
    if (size_ == capacity_) grow(1);
    data_[size_++] = c;
  }

  std::string_view view() const { return {data_, size_}; }
  size_t size() const { return size_; }

  // Appends a NUL and gives up the buffer, which the caller frees with free().
  char* release();

  void reserve(size_t capacity);

 private:
  void append(const char* p, size_t n) {
    if (n == 0) return;
    if (capacity_ - size_ < n) grow(n);
    std::memcpy(data_ + size_, p, n);
    size_ += n;
  }
  void grow(size_t extra);

  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// The compact text of a value.
std::string to_json(const Value& v);

}  // namespace quorvel::json
