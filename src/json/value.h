// Value: a parsed JSON value living in an Arena. Objects keep their members
// sorted by key in ascending byte order, without duplicates. Strings are
// views: into the parsed text when they had no escapes, else into the arena.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "json/arena.h"

namespace quorvel::json {

enum class Kind : uint8_t { kNull, kBool, kUint, kInt, kDouble, kString, kArray, kObject };

struct Member;

struct Value {
  Kind kind = Kind::kNull;
  bool boolean = false;
  size_t size = 0;  // bytes of a string, elements of an array, members of an object
  union {
    uint64_t uint_value = 0;
    int64_t int_value;
    double double_value;
    const char* chars;
    Value* items;
    Member* members;
  };

  static Value null() { return Value{}; }
  static Value make_bool(bool b) {
    Value v;
    v.kind = Kind::kBool;
    v.boolean = b;
    return v;
  }
  static Value make_uint(uint64_t u) {
    Value v;
    v.kind = Kind::kUint;
    v.uint_value = u;
    return v;
  }
  static Value make_int(int64_t i) {
    Value v;
    v.kind = Kind::kInt;
    v.int_value = i;
    return v;
  }
  static Value make_double(double d) {
    Value v;
    v.kind = Kind::kDouble;
    v.double_value = d;
    return v;
  }
  // The view must outlive the value (arena or parsed text).
  static Value make_string(std::string_view s) {
    Value v;
    v.kind = Kind::kString;
    v.size = s.size();
    v.chars = s.data();
    return v;
  }
  static Value make_array(Value* items, size_t n) {
    Value v;
    v.kind = Kind::kArray;
    v.size = n;
    v.items = items;
    return v;
  }
  // `members` must already be sorted by key and free of duplicates.
  static Value make_object(Member* members, size_t n) {
    Value v;
    v.kind = Kind::kObject;
    v.size = n;
    v.members = members;
    return v;
  }

  bool is_string() const { return kind == Kind::kString; }
  bool is_array() const { return kind == Kind::kArray; }
  bool is_object() const { return kind == Kind::kObject; }

  std::string_view string() const { return {chars, size}; }
  std::span<Value> array() const { return {items, size}; }
  std::span<Member> object() const;

  // The member with exactly this key, or null.
  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);
};

struct Member {
  std::string_view key;
  Value value;
};

inline std::span<Member> Value::object() const { return {members, size}; }

// Structural equality; doubles compare by value, objects member by member.
bool equal(const Value& a, const Value& b);

}  // namespace quorvel::json
