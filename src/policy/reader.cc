#include "policy/reader.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <unordered_set>
#include <utility>

#include "json/arena.h"
#include "json/reader.h"
#include "policy/compiled_patterns.h"
#include "policy/variants.h"
#include "util/utf8.h"
#include "util/uuid.h"

namespace quorvel::policy {
namespace {

using Member = ReadReport::Member;
using Source = ReadReport::Source;

template <size_t N>
using Names = std::array<std::string_view, N>;

// ---- strict records of the body and of the tracing policy

StrictResult<MaskingRule> read_masking_rule(const json::Value& v) {
  static constexpr Names<2> kNames{"pii_name", "strategy"};
  RecordReader r(v, kNames);
  MaskingRule rule;
  r.string(0, rule.pii_name);
  r.record(1, rule.strategy, read_masking_strategy);
  return std::move(r).finish(std::move(rule));
}

StrictResult<MappingRule> read_mapping_rule(const json::Value& v) {
  static constexpr Names<3> kNames{"source_field", "pii_category", "strategy"};
  RecordReader r(v, kNames);
  MappingRule rule;
  r.string(0, rule.source_field);
  r.string(1, rule.pii_category);
  r.record(2, rule.strategy, read_masking_strategy);
  return std::move(r).finish(std::move(rule));
}

StrictResult<PiiConfig> read_pii_config(const json::Value& v) {
  static constexpr Names<1> kNames{"backend"};
  RecordReader r(v, kNames);
  PiiConfig config;
  r.record(0, config.backend, read_pii_backend);
  return std::move(r).finish(std::move(config));
}

StrictResult<QuorvelPolicy> read_quorvel_policy(const json::Value& v) {
  static constexpr Names<5> kNames{"masking", "mapping", "masking_rules", "mapping_rules",
                                   "pii_config"};
  RecordReader r(v, kNames);
  QuorvelPolicy body;
  r.boolean(0, body.masking);
  r.boolean(1, body.mapping);
  r.list(2, body.masking_rules, read_masking_rule);
  r.list(3, body.mapping_rules, read_mapping_rule);
  r.record(4, body.pii_config, read_pii_config);
  return std::move(r).finish(std::move(body));
}

StrictResult<TracingPolicy> read_tracing_policy(const json::Value& v) {
  static constexpr Names<11> kNames{"enabled",
                                    "capture_all_nodes",
                                    "capture_inputs",
                                    "capture_outputs",
                                    "capture_timestamps",
                                    "capture_llm_metadata",
                                    "capture_cot",
                                    "capture_tool_calls",
                                    "capture_agent_transitions",
                                    "capture_human_overrides",
                                    "output_sink"};
  RecordReader r(v, kNames);
  TracingPolicy t;
  bool* flags[] = {&t.enabled,
                   &t.capture_all_nodes,
                   &t.capture_inputs,
                   &t.capture_outputs,
                   &t.capture_timestamps,
                   &t.capture_llm_metadata,
                   &t.capture_cot,
                   &t.capture_tool_calls,
                   &t.capture_agent_transitions,
                   &t.capture_human_overrides};
  for (size_t i = 0; i < std::size(flags); ++i) r.boolean(i, *flags[i]);
  r.record(10, t.output_sink, read_output_sink);
  return std::move(r).finish(std::move(t));
}

// ---- the lenient top level

Member take_string(const json::Value& doc, std::string_view key, std::string& out) {
  const json::Value* v = doc.find(key);
  if (v == nullptr) return Member::kAbsent;
  if (!v->is_string()) return Member::kWrongType;
  out.assign(v->string());
  return Member::kTaken;
}

// The rule-list form of a body object whose strict reading failed. Replaces
// `body` when the list gives patterns or an "llm" entry; says which it was.
Source apply_rule_list(const json::Value& b, QuorvelPolicy& body, ReadReport& report) {
  const json::Value* rules = b.find("pii_rules");
  if (rules == nullptr || !rules->is_array()) return Source::kDefault;

  std::vector<PiiPattern> patterns;
  std::vector<MaskingRule> masking_rules;
  const json::Value* llm_entry = nullptr;
  size_t llm_index = 0;
  for (size_t k = 0; k < rules->size; ++k) {
    const json::Value& entry = rules->items[k];
    const json::Value* type = entry.find("type");
    if (type == nullptr || !type->is_string()) continue;
    if (type->string() == "regex") {
      const json::Value* name = entry.find("name");
      const json::Value* pattern = entry.find("pattern");
      if (name == nullptr || !name->is_string() || pattern == nullptr || !pattern->is_string()) {
        continue;
      }
      patterns.push_back(PiiPattern{std::string(name->string()), std::string(pattern->string())});
      masking_rules.push_back(MaskingRule{std::string(name->string()), Redact{}});
    } else if (type->string() == "llm") {
      llm_entry = &entry;  // the last one wins
      llm_index = k;
    }
  }

  const json::Value* masking = b.find("masking");
  const json::Value* mapping = b.find("mapping");
  auto flag = [](const json::Value* v, bool otherwise) {
    return v != nullptr && v->kind == json::Kind::kBool ? v->boolean : otherwise;
  };

  if (!patterns.empty()) {
    body = QuorvelPolicy{};
    body.masking = flag(masking, true);
    body.mapping = flag(mapping, false);
    body.masking_rules = std::move(masking_rules);
    body.pii_config.backend = Regex{std::move(patterns)};
    return Source::kRuleListRegex;
  }
  if (llm_entry != nullptr) {
    Llm llm;
    if (const json::Value* url = llm_entry->find("llm_url"); url != nullptr && url->is_string()) {
      llm.llm_url.assign(url->string());
    }
    llm.llm_config = default_llm_config();
    if (const json::Value* config = llm_entry->find("llm_config")) {
      auto read = read_llm_config(*config);
      if (read.ok()) {
        llm.llm_config = std::move(read).value();
      } else {
        report.llm_config_failure =
            within("quorvel_policy.pii_rules" + RecordReader::index_segment(llm_index) +
                       ".llm_config",
                   std::move(read).error());
      }
    }
    body = QuorvelPolicy{};
    body.masking = true;  // whatever the body says
    body.mapping = flag(mapping, false);
    body.pii_config.backend = std::move(llm);
    return Source::kRuleListLlm;
  }
  return Source::kDefault;
}

// ---- validation

// Whether a salt variable is set with UTF-8 content. A name that no variable
// can have (empty, or holding "=" or NUL) counts as unset: getenv would cut
// it at the NUL or match it against the wrong variable.
bool salt_available(const std::string& name) {
  if (name.empty() || name.find_first_of(std::string_view("=\0", 2)) != std::string::npos) {
    return false;
  }
  const char* value = std::getenv(name.c_str());
  return value != nullptr && is_valid_utf8(value, std::strlen(value));
}

std::optional<PolicyLoadError> validate(PolicyConfig& p) {
  if (p.schema_version != "1.0") {
    return PolicyLoadError{PolicyLoadError::UnsupportedSchema{p.schema_version}};
  }
  if (p.policy_name.empty()) return PolicyLoadError{PolicyLoadError::EmptyField{"policy_name"}};
  if (p.policy_version.empty()) {
    return PolicyLoadError{PolicyLoadError::EmptyField{"policy_version"}};
  }

  // Compiled once here so that no encode ever compiles.
  if (const auto* regex = std::get_if<Regex>(&p.quorvel_policy.pii_config.backend)) {
    auto compiled = CompiledPatterns::compile(regex->patterns);
    if (!compiled.ok()) {
      auto failure = std::move(compiled).error();
      return PolicyLoadError{
          PolicyLoadError::InvalidPattern{std::move(failure.pattern), std::move(failure.message)}};
    }
    p.compiled_patterns = std::move(compiled).value();
  } else {
    p.compiled_patterns = CompiledPatterns::empty();
  }

  std::unordered_set<std::string_view> salts_seen;
  auto check = [&](const MaskingStrategy& s) -> std::optional<PolicyLoadError> {
    const auto* hash = std::get_if<Hash>(&s);
    if (hash == nullptr || salts_seen.contains(hash->salt_env)) return std::nullopt;
    if (!salt_available(hash->salt_env)) {
      return PolicyLoadError{PolicyLoadError::MissingSalt{hash->salt_env}};
    }
    salts_seen.insert(hash->salt_env);
    return std::nullopt;
  };
  for (const MaskingRule& rule : p.quorvel_policy.masking_rules) {
    if (auto e = check(rule.strategy)) return e;
  }
  for (const MappingRule& rule : p.quorvel_policy.mapping_rules) {
    if (auto e = check(rule.strategy)) return e;
  }
  return std::nullopt;
}

}  // namespace

Result<std::unique_ptr<PolicyConfig>, PolicyLoadError> read_policy(std::string_view text,
                                                                    ReadReport* report) {
  ReadReport scratch;
  ReadReport& rep = report != nullptr ? *report : scratch;
  rep = ReadReport{};

  json::Arena arena;
  auto parsed = json::parse(text, arena);
  if (!parsed.ok()) {
    const json::ParseError& e = parsed.error();
    return Err(PolicyLoadError{PolicyLoadError::Parse{e.message, e.line, e.column}});
  }
  const json::Value& doc = parsed.value();

  std::unique_ptr<PolicyConfig> p = default_policy();

  if (doc.is_object()) {
    rep.schema_version = take_string(doc, "schema_version", p->schema_version);
    rep.policy_name = take_string(doc, "policy_name", p->policy_name);
    rep.policy_version = take_string(doc, "policy_version", p->policy_version);

    if (const json::Value* id = doc.find("policy_id")) {
      if (!id->is_string()) {
        rep.policy_id = Member::kWrongType;
      } else if (auto uuid = parse_uuid(id->string())) {
        p->policy_id = *uuid;
        rep.policy_id = Member::kTaken;
      } else {
        rep.policy_id = Member::kUnparsable;
      }
    }

    const json::Value* body = doc.find("quorvel_policy");
    if (body != nullptr) {
      rep.quorvel_policy =
          body->is_object() || body->is_array() ? Member::kTaken : Member::kWrongType;
      auto strict = read_quorvel_policy(*body);
      if (strict.ok()) {
        p->quorvel_policy = std::move(strict).value();
        rep.body = Source::kDocument;
      } else {
        rep.body_failure = within("quorvel_policy", std::move(strict).error());
        if (body->is_object()) rep.body = apply_rule_list(*body, p->quorvel_policy, rep);
      }
    }

    if (const json::Value* tracing = doc.find("tracing_policy")) {
      rep.tracing_policy =
          tracing->is_object() || tracing->is_array() ? Member::kTaken : Member::kWrongType;
      auto strict = read_tracing_policy(*tracing);
      if (strict.ok()) {
        p->tracing_policy = std::move(strict).value();
        rep.tracing = Source::kDocument;
      } else {
        rep.tracing_failure = within("tracing_policy", std::move(strict).error());
      }
    }

    // A boolean "active" decides; without one, a present body turns the
    // policy on, but an "active" of another type leaves it off.
    if (const json::Value* active = doc.find("active")) {
      if (active->kind == json::Kind::kBool) {
        p->active = active->boolean;
        rep.active = Member::kTaken;
      } else {
        p->active = false;
        rep.active = Member::kWrongType;
      }
    } else {
      p->active = body != nullptr;
    }
  }

  if (auto failure = validate(*p)) return Err(std::move(*failure));
  return p;
}

}  // namespace quorvel::policy
