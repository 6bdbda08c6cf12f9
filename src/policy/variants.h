// Strict readers of the tagged variants (MaskingStrategy, PiiBackend,
// OutputSink) and of the two records found only inside them (PiiPattern,
// LlmConfig), with the RecordReader that every strict record reader shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/value.h"
#include "policy/model.h"
#include "util/result.h"

namespace quorvel::policy {

// A failure of a strict reader reads "<path>: <what>", with the path relative
// to the value read (".strategy", "[2].pattern"); a failure of the value
// itself has no path ("unknown type \"Redact\"").
template <class T>
using StrictResult = Result<T, std::string>;

// Puts `segment` (".name" or "[3]") in front of a failure found below it.
std::string within(std::string_view segment, std::string failure);

// "a string", "an array", ...: the JSON kind of `v` for failure texts.
std::string_view describe_kind(const json::Value& v);

// Reads one strict record, written either as a JSON object or as an array of
// its member values in declared order. The first failure sticks: later reads
// do nothing and finish() returns it, so a reader just lists its members.
class RecordReader {
 public:
  // `names` in declared order; the last `defaulted` of them may be left out
  // (in the array form only from the end). With `tagged`, the value is a
  // tagged variant whose tag the caller has read: its array form begins with
  // the tag, and the object form's "type" member is not a member here.
  RecordReader(const json::Value& v, std::span<const std::string_view> names,
               size_t defaulted = 0, bool tagged = false);

  void boolean(size_t i, bool& out);
  void string(size_t i, std::string& out);
  // A JSON integer from 0 to 2^64-1 written without fraction or exponent.
  void unsigned_integer(size_t i, uint64_t& out);

  // A nested strict record or variant; `read` is one of the readers here.
  template <class T, class F>
  void record(size_t i, T& out, F&& read) {
    const json::Value* v = required(i);
    if (v == nullptr) return;
    auto r = read(*v);
    if (!r.ok()) return fail_below(i, std::move(r).error());
    out = std::move(r).value();
  }

  // A JSON array of nested records, kept in array order.
  template <class T, class F>
  void list(size_t i, std::vector<T>& out, F&& read) {
    const json::Value* v = required(i);
    if (v == nullptr) return;
    if (!v->is_array()) return fail(i, expected("an array", *v));
    std::vector<T> items;
    items.reserve(v->size);
    for (size_t k = 0; k < v->size; ++k) {
      auto r = read(v->items[k]);
      if (!r.ok()) return fail_below(i, within(index_segment(k), std::move(r).error()));
      items.push_back(std::move(r).value());
    }
    out = std::move(items);
  }

  // The value of a member with a default, or null when it is left out (or
  // the record has failed already).
  const json::Value* defaulted(size_t i);

  // Fails the record at member `i`.
  void fail(size_t i, std::string_view what);

  bool failed() const { return failed_; }

  template <class T>
  StrictResult<T> finish(T value) && {
    if (failed_) return Err(std::move(failure_));
    return value;
  }

  static std::string expected(std::string_view wanted, const json::Value& got);
  static std::string index_segment(size_t k);

 private:
  const json::Value* required(size_t i);
  const json::Value* lookup(size_t i) const;
  std::string segment(size_t i) const;
  void fail_below(size_t i, std::string failure);

  const json::Value& v_;
  std::span<const std::string_view> names_;
  size_t first_defaulted_;
  size_t offset_;  // array elements before the first member (the tag)
  bool failed_ = false;
  std::string failure_;
};

// The tag of a tagged variant: the string "type" member of an object, or the
// string first element of an array.
StrictResult<std::string_view> read_tag(const json::Value& v);

StrictResult<MaskingStrategy> read_masking_strategy(const json::Value& v);
StrictResult<PiiBackend> read_pii_backend(const json::Value& v);
StrictResult<OutputSink> read_output_sink(const json::Value& v);
StrictResult<PiiPattern> read_pii_pattern(const json::Value& v);
// "extra" may be left out (empty map); when present it must be an object,
// whose member values are kept as compact JSON text.
StrictResult<LlmConfig> read_llm_config(const json::Value& v);

}  // namespace quorvel::policy
