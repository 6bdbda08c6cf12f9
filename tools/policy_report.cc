#include "policy_report.h"

#include <array>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "json/arena.h"
#include "json/reader.h"
#include "policy/compiled_patterns.h"
#include "policy/pattern_dialect.h"
#include "policy/reader.h"
#include "policy/variants.h"
#include "text.h"
#include "util/utf8.h"
#include "util/uuid.h"

namespace quorvel::tools {
namespace {

using policy::PolicyConfig;
using policy::PolicyLoadError;
using policy::ReadReport;
using Member = ReadReport::Member;
using Source = ReadReport::Source;

std::string quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

std::string plural(size_t n, std::string_view one, std::string_view many) {
  return (n == 0 ? std::string("no") : std::to_string(n)) + " " + std::string(n == 1 ? one : many);
}

// The byte offset of the first ill-formed UTF-8 sequence, if any.
std::optional<size_t> first_bad_utf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  for (const auto* q = p; q < end;) {
    const size_t n = utf8_sequence_length(q, end);
    if (n == 0) return static_cast<size_t>(q - p);
    q += n;
  }
  return std::nullopt;
}

std::string kind_name(PolicyLoadError::Kind kind) {
  switch (kind) {
    case PolicyLoadError::Kind::Parse: return "Parse";
    case PolicyLoadError::Kind::UnsupportedSchema: return "UnsupportedSchema";
    case PolicyLoadError::Kind::EmptyField: return "EmptyField";
    case PolicyLoadError::Kind::InvalidPattern: return "InvalidPattern";
    case PolicyLoadError::Kind::MissingSalt: return "MissingSalt";
  }
  return "?";
}

// The verdict line and the lines of data of a load error.
std::pair<std::string, std::string> describe_error(const PolicyLoadError& error) {
  std::string verdict = "rejected (" + kind_name(error.kind()) + "): ";
  std::string data;
  std::visit(
      [&](const auto& e) {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, PolicyLoadError::Parse>) {
          verdict += "the text is not one JSON value";
          data = "  line " + std::to_string(e.line) + ", column " + std::to_string(e.column) +
                 ": " + e.message + "\n";
        } else if constexpr (std::is_same_v<E, PolicyLoadError::UnsupportedSchema>) {
          verdict += "schema_version is " + quoted(e.schema_version) +
                     ", and the only version supported is \"1.0\"";
        } else if constexpr (std::is_same_v<E, PolicyLoadError::EmptyField>) {
          verdict += quoted(e.field) + " is empty";
        } else if constexpr (std::is_same_v<E, PolicyLoadError::InvalidPattern>) {
          verdict += "a pattern does not compile";
          data = "  pattern: " + e.pattern + "\n  message: " + e.message + "\n";
        } else if constexpr (std::is_same_v<E, PolicyLoadError::MissingSalt>) {
          verdict += "the hash key variable " + quoted(e.variable) + " is not set";
          data = "  set it, with UTF-8 content, in the environment of the process that loads the policy\n";
        }
      },
      error.data);
  return {verdict, data};
}

// ---- top-level members

struct TopLevelMember {
  std::string_view key;
  Member ReadReport::*state;
  std::string_view when_absent;  // what applies instead, for "absent" and "ignored"
};

constexpr std::array<TopLevelMember, 7> kTopLevel{{
    {"schema_version", &ReadReport::schema_version, "\"1.0\" applies"},
    {"policy_id", &ReadReport::policy_id, "a random id applies"},
    {"policy_name", &ReadReport::policy_name, "\"default\" applies"},
    {"policy_version", &ReadReport::policy_version, "\"0.0.0\" applies"},
    {"active", &ReadReport::active, ""},
    {"quorvel_policy", &ReadReport::quorvel_policy, "the default body applies"},
    {"tracing_policy", &ReadReport::tracing_policy, "the default tracing policy applies"},
}};

std::string_view wanted_type(std::string_view key) {
  if (key == "active") return "a boolean";
  if (key == "quorvel_policy" || key == "tracing_policy") return "an object or an array";
  return "a string";
}

void write_members(const ReadReport& report, const json::Value& doc, std::string& out) {
  out += "Top-level members:\n";
  for (const TopLevelMember& m : kTopLevel) {
    std::string first = "  " + std::string(m.key);
    first.append(m.key.size() < 16 ? 16 - m.key.size() : 1, ' ');
    std::string line;
    const json::Value* v = doc.find(m.key);
    switch (report.*m.state) {
      case Member::kTaken:
        line += "taken";
        if (m.key == "active") line += v->boolean ? ": true" : ": false";
        break;
      case Member::kAbsent:
        line += "absent";
        if (m.key == "active") {
          line += ": the presence of \"quorvel_policy\" decides";
        } else {
          line += ": " + std::string(m.when_absent);
        }
        break;
      case Member::kWrongType:
        line += "wrong type, ignored: " + std::string(policy::describe_kind(*v)) + ", not " +
                std::string(wanted_type(m.key));
        if (m.key == "active") {
          line += "; the policy is inactive";
        } else if (m.key == "quorvel_policy") {
          line += "; the default body applies, and the member still makes the policy active";
        } else {
          line += "; " + std::string(m.when_absent);
        }
        break;
      case Member::kUnparsable:
        line += "ignored: " + quoted(v->string()) + " is not a UUID; " +
                std::string(m.when_absent);
        break;
    }
    out += wrapped(first, line, std::string(first.size(), ' '));
  }
  std::vector<std::string_view> others;
  for (const json::Member& member : doc.object()) {
    bool known = false;
    for (const TopLevelMember& m : kTopLevel) known = known || member.key == m.key;
    if (!known) others.push_back(member.key);
  }
  if (!others.empty()) {
    std::string list = "Not policy members, ignored:";
    for (size_t i = 0; i < others.size(); ++i) {
      list += (i == 0 ? " " : ", ") + quoted(others[i]);
    }
    out += wrapped(list, "  ");
  }
}

// Why the policy is or is not active, from the same rule as the reader's.
std::string active_reason(const ReadReport& report, const json::Value& doc) {
  switch (report.active) {
    case Member::kTaken:
      return doc.find("active")->boolean ? "\"active\" is true" : "\"active\" is false";
    case Member::kWrongType:
      return "\"active\" is " + std::string(policy::describe_kind(*doc.find("active"))) +
             ", not a boolean";
    default:
      break;
  }
  return doc.find("quorvel_policy") != nullptr
             ? "there is no \"active\" member, and \"quorvel_policy\" is present"
             : "there is neither an \"active\" member nor a \"quorvel_policy\"";
}

// ---- the body

std::string describe_strategy(const policy::MaskingStrategy& strategy) {
  return std::visit(
      [](const auto& s) -> std::string {
        using S = std::decay_t<decltype(s)>;
        if constexpr (std::is_same_v<S, policy::Redact>) {
          return "redact, gives \"[REDACTED]\"";
        } else if constexpr (std::is_same_v<S, policy::PartialMask>) {
          return "partial_mask, keeps the first " + std::to_string(s.preserve_prefix) +
                 " and the last " + std::to_string(s.preserve_suffix) +
                 " bytes and writes \"*\" for each byte between";
        } else if constexpr (std::is_same_v<S, policy::Replace>) {
          return "replace, gives " + quoted(s.with);
        } else {
          if (s.algorithm != "sha256") {
            return "hash with algorithm " + quoted(s.algorithm) +
                   ", gives \"[REDACTED]\" (only \"sha256\" hashes)";
          }
          return "hash, HMAC-SHA-256 keyed by the variable " + quoted(s.salt_env) +
                 ", read at every hash";
        }
      },
      strategy);
}

// Whether decoding recognises tokens of this pattern name.
bool restorable_name(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

void write_patterns(const PolicyConfig& p, const policy::Regex& regex, std::string& out) {
  if (regex.patterns.empty()) {
    out += "  PII backend: regex, without patterns: encode tokenizes nothing\n";
    return;
  }
  out += "  PII backend: regex, " + plural(regex.patterns.size(), "pattern", "patterns") +
         ", tried in this order:\n";
  const auto& compiled = p.compiled_patterns->entries();
  for (size_t i = 0; i < regex.patterns.size(); ++i) {
    const policy::PiiPattern& pattern = regex.patterns[i];
    out += "    " + std::to_string(i + 1) + ". " + pattern.name + ": " + pattern.pattern + "\n";
    const re2::RE2& re = *compiled[i].re;
    out += "       compiled, program size " + std::to_string(re.ProgramSize());
    if (auto translated = policy::translate_pattern(pattern.pattern);
        translated.ok() && translated.value() != pattern.pattern) {
      out += ", runs on RE2 as\n       " + translated.value();
    }
    out += "\n";
    if (!restorable_name(pattern.name)) {
      out += "       note: decode restores only tokens whose name is made of A-Z, 0-9 and \"_\",\n"
             "       so tokens of this pattern stay in replies\n";
    }
    if (re2::RE2::PartialMatch("", re)) {
      out += "       note: it can match the empty text; empty matches are never tokenized\n";
    }
  }
}

void write_body(const PolicyConfig& p, std::string& out) {
  const policy::QuorvelPolicy& body = p.quorvel_policy;
  out += std::string("  masking: ") + (body.masking ? "on" : "off") +
         ", mapping: " + (body.mapping ? "on" : "off") + "\n";
  if (body.mapping_rules.empty()) {
    out += "  Mapping rules: none\n";
  } else {
    out += body.mapping ? "  Mapping rules, applied by encode in this order:\n"
                        : "  Mapping rules, skipped while \"mapping\" is off:\n";
    for (size_t i = 0; i < body.mapping_rules.size(); ++i) {
      const policy::MappingRule& r = body.mapping_rules[i];
      out += "    " + std::to_string(i + 1) + ". " + quoted(r.source_field) + " as " +
             r.pii_category + "\n" + wrapped(describe_strategy(r.strategy), "       ");
    }
  }
  if (body.masking_rules.empty()) {
    out += "  Masking rules: none\n";
  } else {
    out += "  Masking rules, kept with the policy (no pass applies them):\n";
    for (size_t i = 0; i < body.masking_rules.size(); ++i) {
      const policy::MaskingRule& r = body.masking_rules[i];
      out += "    " + std::to_string(i + 1) + ". " + r.pii_name + "\n" +
             wrapped(describe_strategy(r.strategy), "       ");
    }
  }
  if (const auto* regex = std::get_if<policy::Regex>(&body.pii_config.backend)) {
    write_patterns(p, *regex, out);
  } else {
    const auto& llm = std::get<policy::Llm>(body.pii_config.backend);
    const policy::LlmConfig& c = llm.llm_config;
    out += wrapped("PII backend: llm, url " + quoted(llm.llm_url) + ", model " + quoted(c.model) +
                       ", timeout " + std::to_string(c.timeout_ms) + " ms, " +
                       plural(c.extra.size(), "extra setting", "extra settings"),
                   "  ");
    out += wrapped("system prompt: " + quoted(c.system_prompt), "    ");
    out += "    The library never contacts this service: encode tokenizes nothing with it.\n";
  }
}

std::string_view source_of_rule_list(const json::Value& body) {
  if (!body.is_object()) return "it is not an object, so no \"pii_rules\" list is read";
  const json::Value* rules = body.find("pii_rules");
  if (rules == nullptr) return "it has no \"pii_rules\" list to fall back to";
  if (!rules->is_array()) return "its \"pii_rules\" is not an array";
  return "its \"pii_rules\" list has no usable \"regex\" or \"llm\" entry";
}

void write_body_source(const ReadReport& report, const json::Value& doc, std::string& out) {
  const json::Value* body = doc.find("quorvel_policy");
  std::string note;
  switch (report.body) {
    case Source::kDocument:
      out += "Policy body: read strictly from \"quorvel_policy\".\n";
      return;
    case Source::kRuleListRegex:
      out += "Policy body: from the \"pii_rules\" list, because the strict reading failed.\n";
      note = "Each \"regex\" entry of the list gives a pattern and a redact masking rule; "
             "\"masking\" is on unless the body says false, \"mapping\" off unless it says "
             "true.";
      break;
    case Source::kRuleListLlm:
      out += wrapped("",
                     "Policy body: from the \"llm\" entry of the \"pii_rules\" list, because "
                     "the strict reading failed and the list has no usable \"regex\" entry.",
                     "  ");
      note = "In this form \"masking\" is always on, \"mapping\" off unless the body says "
             "true.";
      break;
    case Source::kDefault:
      if (body == nullptr) {
        out += "Policy body: the default (no \"quorvel_policy\").\n";
        return;
      }
      out += wrapped("",
                     "Policy body: the default, because the strict reading failed and " +
                         std::string(source_of_rule_list(*body)) + ".",
                     "  ");
      break;
  }
  out += "  The strict reading failed first at:\n" + wrapped(report.body_failure, "    ");
  if (!note.empty()) out += wrapped(note, "  ");
  if (!report.llm_config_failure.empty()) {
    out += "  Its \"llm_config\" could not be read, so the default LLM settings apply:\n" +
           wrapped(report.llm_config_failure, "    ");
  }
}

// ---- the tracing policy

void write_tracing(const ReadReport& report, const json::Value& doc, const PolicyConfig* p,
                   std::string& out) {
  switch (report.tracing) {
    case Source::kDocument:
      out += "Tracing policy: read strictly from \"tracing_policy\".\n";
      break;
    default:
      if (doc.find("tracing_policy") == nullptr) {
        out += "Tracing policy: the default (no \"tracing_policy\").\n";
      } else {
        out += "Tracing policy: the default, because the strict reading failed at:\n" +
               wrapped(report.tracing_failure, "    ");
      }
      break;
  }
  if (p == nullptr) return;
  const policy::TracingPolicy& t = p->tracing_policy;
  const std::pair<std::string_view, bool> flags[] = {
      {"enabled", t.enabled},
      {"capture_all_nodes", t.capture_all_nodes},
      {"capture_inputs", t.capture_inputs},
      {"capture_outputs", t.capture_outputs},
      {"capture_timestamps", t.capture_timestamps},
      {"capture_llm_metadata", t.capture_llm_metadata},
      {"capture_cot", t.capture_cot},
      {"capture_tool_calls", t.capture_tool_calls},
      {"capture_agent_transitions", t.capture_agent_transitions},
      {"capture_human_overrides", t.capture_human_overrides},
  };
  for (bool on : {true, false}) {
    std::string names;
    for (const auto& [name, value] : flags) {
      if (value == on) names += (names.empty() ? "" : ", ") + std::string(name);
    }
    if (!names.empty()) out += wrapped(std::string(on ? "on: " : "off: ") + names, "  ");
  }
  out += "  sink: " +
         std::visit(
             [](const auto& s) -> std::string {
               using S = std::decay_t<decltype(s)>;
               if constexpr (std::is_same_v<S, policy::File>) return "file " + quoted(s.path);
               if constexpr (std::is_same_v<S, policy::Http>) return "http " + quoted(s.path);
               if constexpr (std::is_same_v<S, policy::TraceCollector>) {
                 return "trace_collector " + quoted(s.path);
               }
               return "stdout";
             },
             t.output_sink) +
         "\n";
  out += "  The library keeps these settings with the policy and traces nothing.\n";
}

// ---- what the policy does to payloads

void write_summary(const PolicyConfig& p, std::string& out) {
  const policy::QuorvelPolicy& body = p.quorvel_policy;
  std::string summary = "In short: ";
  if (!p.active) {
    summary += "the policy is inactive; encode and decode pass payloads through unchanged.";
  } else if (!body.masking && !body.mapping) {
    summary += "neither \"masking\" nor \"mapping\" is on; encode and decode pass payloads "
               "through unchanged.";
  } else {
    summary += "encode ";
    if (body.mapping && !body.mapping_rules.empty()) {
      summary += "applies " +
                 plural(body.mapping_rules.size(), "mapping rule", "mapping rules") + " and ";
    }
    const auto* regex = std::get_if<policy::Regex>(&body.pii_config.backend);
    if (regex != nullptr && !regex->patterns.empty()) {
      summary += "tokenizes what " + plural(regex->patterns.size(), "pattern", "patterns") +
                 " find";
    } else {
      summary += "has no pattern to tokenize with";
    }
    summary += body.mapping ? "; decode restores the tokens of the session."
                            : "; decode restores nothing, since \"mapping\" is off.";
  }
  out += wrapped(summary, "");
}

}  // namespace

PolicyExplanation explain_policy(std::string_view text) {
  PolicyExplanation result;
  if (auto bad = first_bad_utf8(text)) {
    result.verdict = "rejected: the text is not UTF-8 (byte offset " + std::to_string(*bad) + ")";
    return result;
  }

  ReadReport report;
  auto loaded = policy::read_policy(text, &report);
  std::string& out = result.details;
  const PolicyConfig* p = nullptr;
  if (loaded.ok()) {
    result.accepted = true;
    result.verdict = "accepted";
    p = loaded.value().get();
  } else {
    auto [verdict, data] = describe_error(loaded.error());
    result.verdict = std::move(verdict);
    out += data;
    if (loaded.error().kind() == PolicyLoadError::Kind::Parse) return result;
  }

  json::Arena arena;
  auto parsed = json::parse(text, arena);
  if (!parsed.ok()) return result;  // read_policy has said so already
  const json::Value& doc = parsed.value();

  if (!result.accepted) out += "\nWhat was read before the validation failed:\n";
  std::string headline;
  if (p != nullptr) {
    headline = "Policy " + quoted(p->policy_name) + ", version " + quoted(p->policy_version) +
               ": " + (p->active ? "active" : "inactive");
  }
  if (!doc.is_object()) {
    if (p != nullptr) {
      out += wrapped(headline + ", since the document is " +
                         std::string(policy::describe_kind(doc)) +
                         ", not an object, and so gives the default policy.",
                     "");
      out += "\n";
      write_summary(*p, out);
    }
    return result;
  }
  if (p != nullptr) out += wrapped(headline + ", since " + active_reason(report, doc) + ".", "");
  if (p != nullptr && report.policy_id == Member::kTaken) {
    out += "Policy id: " + format_uuid(p->policy_id) + "\n";
  }
  out += "\n";
  write_members(report, doc, out);
  out += "\n";
  write_body_source(report, doc, out);
  if (p != nullptr) write_body(*p, out);
  out += "\n";
  write_tracing(report, doc, p, out);
  if (p != nullptr) {
    out += "\n";
    write_summary(*p, out);
  }
  return result;
}

std::string rejection_reason(std::string_view text) {
  PolicyExplanation e = explain_policy(text);
  if (e.accepted) return {};
  std::string reason = e.verdict;
  // The error's own data: the indented lines before the first blank line.
  size_t start = 0;
  while (start < e.details.size() && e.details.compare(start, 2, "  ") == 0) {
    size_t end = e.details.find('\n', start);
    if (end == std::string::npos) end = e.details.size();
    reason += "; " + e.details.substr(start + 2, end - start - 2);
    start = end + 1;
  }
  return reason;
}

}  // namespace quorvel::tools
