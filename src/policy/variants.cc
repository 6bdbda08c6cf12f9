#include "policy/variants.h"

#include <array>

#include "json/writer.h"

namespace quorvel::policy {
namespace {

// Document texts quoted in failure texts are cut, at a UTF-8 boundary, so a
// huge tag cannot make a huge report.
constexpr size_t kMaxQuoted = 40;

std::string quoted(std::string_view text) {
  bool cut = false;
  if (text.size() > kMaxQuoted) {
    size_t n = kMaxQuoted;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    text = text.substr(0, n);
    cut = true;
  }
  json::Writer w;
  w.string(text);
  std::string out(w.view());
  if (cut) out += "...";
  return out;
}

std::string unknown_type(std::string_view tag) { return "unknown type " + quoted(tag); }

template <size_t N>
using Names = std::array<std::string_view, N>;

}  // namespace

std::string within(std::string_view segment, std::string failure) {
  std::string out(segment);
  if (failure.empty() || (failure[0] != '.' && failure[0] != '[')) out += ": ";
  out += failure;
  return out;
}

std::string_view describe_kind(const json::Value& v) {
  switch (v.kind) {
    case json::Kind::kNull:
      return "null";
    case json::Kind::kBool:
      return "a boolean";
    case json::Kind::kUint:
      return "an unsigned integer";
    case json::Kind::kInt:
      return "a negative integer";
    case json::Kind::kDouble:
      return "a number with fraction or exponent";
    case json::Kind::kString:
      return "a string";
    case json::Kind::kArray:
      return "an array";
    case json::Kind::kObject:
      return "an object";
  }
  return "a value";
}

// ---- RecordReader

RecordReader::RecordReader(const json::Value& v, std::span<const std::string_view> names,
                           size_t defaulted, bool tagged)
    : v_(v),
      names_(names),
      first_defaulted_(names.size() - defaulted),
      offset_(tagged ? 1 : 0) {
  if (v.is_object()) return;
  if (!v.is_array()) {
    failed_ = true;
    failure_ = expected("an object or an array", v);
    return;
  }
  const size_t most = offset_ + names.size();
  const size_t least = offset_ + first_defaulted_;
  if (v.size < least || v.size > most) {
    failed_ = true;
    failure_ = "expected " + std::to_string(least);
    if (least != most) failure_ += " to " + std::to_string(most);
    failure_ += most == 1 ? " element" : " elements";
    failure_ += ", got " + std::to_string(v.size);
  }
}

const json::Value* RecordReader::lookup(size_t i) const {
  if (v_.is_object()) return v_.find(names_[i]);
  const size_t k = offset_ + i;
  return k < v_.size ? &v_.items[k] : nullptr;
}

std::string RecordReader::segment(size_t i) const {
  if (v_.is_object()) return std::string(".").append(names_[i]);
  return index_segment(offset_ + i);
}

std::string RecordReader::index_segment(size_t k) {
  return std::string("[").append(std::to_string(k)).append("]");
}

std::string RecordReader::expected(std::string_view wanted, const json::Value& got) {
  return "expected " + std::string(wanted) + ", got " + std::string(describe_kind(got));
}

const json::Value* RecordReader::required(size_t i) {
  if (failed_) return nullptr;
  const json::Value* v = lookup(i);
  if (v == nullptr) {
    // The constructor has checked the array length, so only an object can
    // lack a required member.
    failed_ = true;
    failure_ = "missing member \"" + std::string(names_[i]) + "\"";
  }
  return v;
}

const json::Value* RecordReader::defaulted(size_t i) {
  if (failed_) return nullptr;
  return lookup(i);
}

void RecordReader::fail(size_t i, std::string_view what) {
  if (failed_) return;
  failed_ = true;
  failure_ = within(segment(i), std::string(what));
}

void RecordReader::fail_below(size_t i, std::string failure) {
  if (failed_) return;
  failed_ = true;
  failure_ = within(segment(i), std::move(failure));
}

void RecordReader::boolean(size_t i, bool& out) {
  const json::Value* v = required(i);
  if (v == nullptr) return;
  if (v->kind != json::Kind::kBool) return fail(i, expected("a boolean", *v));
  out = v->boolean;
}

void RecordReader::string(size_t i, std::string& out) {
  const json::Value* v = required(i);
  if (v == nullptr) return;
  if (!v->is_string()) return fail(i, expected("a string", *v));
  out.assign(v->string());
}

void RecordReader::unsigned_integer(size_t i, uint64_t& out) {
  const json::Value* v = required(i);
  if (v == nullptr) return;
  if (v->kind != json::Kind::kUint) return fail(i, expected("an unsigned integer", *v));
  out = v->uint_value;
}

// ---- tags and variants

StrictResult<std::string_view> read_tag(const json::Value& v) {
  const json::Value* tag = nullptr;
  std::string_view where;
  if (v.is_object()) {
    tag = v.find("type");
    if (tag == nullptr) return Err(std::string("missing member \"type\""));
    where = ".type";
  } else if (v.is_array()) {
    if (v.size == 0) return Err(std::string("empty array, expected a tag first"));
    tag = &v.items[0];
    where = "[0]";
  } else {
    return Err(RecordReader::expected("an object or an array", v));
  }
  if (!tag->is_string()) return Err(within(where, RecordReader::expected("a string", *tag)));
  return tag->string();
}

StrictResult<MaskingStrategy> read_masking_strategy(const json::Value& v) {
  auto tag = read_tag(v);
  if (!tag.ok()) return Err(std::move(tag).error());
  const std::string_view t = *tag;
  if (t == "redact") {
    return RecordReader(v, {}, 0, true).finish(MaskingStrategy{Redact{}});
  }
  if (t == "partial_mask") {
    static constexpr Names<2> kNames{"preserve_prefix", "preserve_suffix"};
    RecordReader r(v, kNames, 0, true);
    PartialMask m;
    r.unsigned_integer(0, m.preserve_prefix);
    r.unsigned_integer(1, m.preserve_suffix);
    return std::move(r).finish(MaskingStrategy{m});
  }
  if (t == "replace") {
    static constexpr Names<1> kNames{"with"};
    RecordReader r(v, kNames, 0, true);
    Replace m;
    r.string(0, m.with);
    return std::move(r).finish(MaskingStrategy{std::move(m)});
  }
  if (t == "hash") {
    static constexpr Names<2> kNames{"algorithm", "salt_env"};
    RecordReader r(v, kNames, 0, true);
    Hash m;
    r.string(0, m.algorithm);
    r.string(1, m.salt_env);
    return std::move(r).finish(MaskingStrategy{std::move(m)});
  }
  return Err(unknown_type(t));
}

StrictResult<PiiBackend> read_pii_backend(const json::Value& v) {
  auto tag = read_tag(v);
  if (!tag.ok()) return Err(std::move(tag).error());
  const std::string_view t = *tag;
  if (t == "regex") {
    static constexpr Names<1> kNames{"patterns"};
    RecordReader r(v, kNames, 0, true);
    Regex b;
    r.list(0, b.patterns, read_pii_pattern);
    return std::move(r).finish(PiiBackend{std::move(b)});
  }
  if (t == "llm") {
    static constexpr Names<2> kNames{"llm_url", "llm_config"};
    RecordReader r(v, kNames, 0, true);
    Llm b;
    r.string(0, b.llm_url);
    r.record(1, b.llm_config, read_llm_config);
    return std::move(r).finish(PiiBackend{std::move(b)});
  }
  return Err(unknown_type(t));
}

StrictResult<OutputSink> read_output_sink(const json::Value& v) {
  auto tag = read_tag(v);
  if (!tag.ok()) return Err(std::move(tag).error());
  const std::string_view t = *tag;
  if (t == "stdout") return RecordReader(v, {}, 0, true).finish(OutputSink{Stdout{}});

  // The three sinks with data share their one member.
  OutputSink sink;
  std::string* path = nullptr;
  if (t == "file") {
    path = &sink.emplace<File>().path;
  } else if (t == "http") {
    path = &sink.emplace<Http>().path;
  } else if (t == "trace_collector") {
    path = &sink.emplace<TraceCollector>().path;
  } else {
    return Err(unknown_type(t));
  }
  static constexpr Names<1> kNames{"path"};
  RecordReader r(v, kNames, 0, true);
  r.string(0, *path);
  return std::move(r).finish(std::move(sink));
}

StrictResult<PiiPattern> read_pii_pattern(const json::Value& v) {
  static constexpr Names<2> kNames{"name", "pattern"};
  RecordReader r(v, kNames);
  PiiPattern p;
  r.string(0, p.name);
  r.string(1, p.pattern);
  return std::move(r).finish(std::move(p));
}

StrictResult<LlmConfig> read_llm_config(const json::Value& v) {
  static constexpr Names<4> kNames{"model", "system_prompt", "timeout_ms", "extra"};
  RecordReader r(v, kNames, 1);
  LlmConfig c;
  r.string(0, c.model);
  r.string(1, c.system_prompt);
  r.unsigned_integer(2, c.timeout_ms);
  if (const json::Value* extra = r.defaulted(3)) {
    if (!extra->is_object()) {
      r.fail(3, RecordReader::expected("an object", *extra));
    } else {
      for (const json::Member& m : extra->object()) {
        c.extra.emplace(std::string(m.key), json::to_json(m.value));
      }
    }
  }
  return std::move(r).finish(std::move(c));
}

}  // namespace quorvel::policy
