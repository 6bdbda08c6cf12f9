#include "json/value.h"

#include <algorithm>

namespace quorvel::json {

Value* Value::find(std::string_view key) {
  if (kind != Kind::kObject) return nullptr;
  Member* end = members + size;
  Member* it = std::lower_bound(members, end, key,
                                [](const Member& m, std::string_view k) { return m.key < k; });
  return it != end && it->key == key ? &it->value : nullptr;
}

const Value* Value::find(std::string_view key) const {
  return const_cast<Value*>(this)->find(key);
}

bool equal(const Value& a, const Value& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case Kind::kNull:
      return true;
    case Kind::kBool:
      return a.boolean == b.boolean;
    case Kind::kUint:
      return a.uint_value == b.uint_value;
    case Kind::kInt:
      return a.int_value == b.int_value;
    case Kind::kDouble:
      return a.double_value == b.double_value;
    case Kind::kString:
      return a.string() == b.string();
    case Kind::kArray:
      return std::equal(a.array().begin(), a.array().end(), b.array().begin(), b.array().end(),
                        [](const Value& x, const Value& y) { return equal(x, y); });
    case Kind::kObject:
      return std::equal(a.object().begin(), a.object().end(), b.object().begin(),
                        b.object().end(), [](const Member& x, const Member& y) {
                          return x.key == y.key && equal(x.value, y.value);
                        });
  }
  return false;
}

}  // namespace quorvel::json
