// Result<T, E>: the return type of every fallible operation inside the library.
#pragma once

#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

namespace quorvel {

// Wraps an error so that Result<T, E> can be built from it even when T and E
// are the same type.
template <class E>
struct Err {
  // A constructor rather than aggregate initialisation: clang before 16 does
  // not build aggregates from parentheses, and the fuzzers build with clang.
  explicit Err(E e) : error(std::move(e)) {}
  E error;
};
template <class E>
Err(E) -> Err<E>;

template <class T, class E>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT(implicit)
  template <class F>
  Result(Err<F> err) : v_(std::in_place_index<1>, E(std::move(err.error))) {}  // NOLINT

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & {
    assert(ok());
    return std::get<0>(v_);
  }
  const T& value() const& {
    assert(ok());
    return std::get<0>(v_);
  }
  T&& value() && {
    assert(ok());
    return std::get<0>(std::move(v_));
  }
  const E& error() const& {
    assert(!ok());
    return std::get<1>(v_);
  }
  E&& error() && {
    assert(!ok());
    return std::get<1>(std::move(v_));
  }

  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

 private:
  std::variant<T, E> v_;
};

}  // namespace quorvel
