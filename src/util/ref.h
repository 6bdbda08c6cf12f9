// Intrusive atomic reference counting: Ref<T> is one pointer wide, so a
// configuration handle stays a one-pointer cell.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "util/fatal.h"

namespace quorvel {

class RefCounted {
 public:
  RefCounted() = default;
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;

  void add_ref() const noexcept {
    if (refs_.fetch_add(1, std::memory_order_relaxed) == UINT32_MAX) die_refcount_overflow();
  }
  // True when this was the last reference.
  bool release() const noexcept { return refs_.fetch_sub(1, std::memory_order_acq_rel) == 1; }
  uint32_t ref_count_for_testing() const noexcept { return refs_.load(); }

 protected:
  ~RefCounted() = default;

 private:
  mutable std::atomic<uint32_t> refs_{1};
};

// T derives from RefCounted. A new object starts with one reference, which
// Ref::adopt takes over.
template <class T>
class Ref {
 public:
  Ref() noexcept = default;
  static Ref adopt(const T* p) noexcept { return Ref(p); }
  template <class... Args>
  static Ref make(Args&&... args) {
    return Ref(new T(std::forward<Args>(args)...));
  }

  Ref(const Ref& o) noexcept : p_(o.p_) {
    if (p_) p_->add_ref();
  }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Ref() { reset(); }

  void reset() noexcept {
    if (p_ && p_->release()) delete p_;
    p_ = nullptr;
  }

  const T* get() const noexcept { return p_; }
  const T& operator*() const noexcept { return *p_; }
  const T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  explicit Ref(const T* p) noexcept : p_(p) {}
  const T* p_ = nullptr;
};

}  // namespace quorvel
