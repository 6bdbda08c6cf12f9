// The in-memory policy: PolicyConfig and its records, built once and never
// changed afterwards. Records list their fields in declared order; the
// document reader relies on that order for the array forms.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "util/clock.h"
#include "util/ref.h"
#include "util/uuid.h"

namespace quorvel::policy {

using TimePoint = UtcTime;

struct Redact {
  bool operator==(const Redact&) const = default;
};
struct PartialMask {
  uint64_t preserve_prefix = 0;
  uint64_t preserve_suffix = 0;
  bool operator==(const PartialMask&) const = default;
};
struct Replace {
  std::string with;
  bool operator==(const Replace&) const = default;
};
struct Hash {
  std::string algorithm;
  std::string salt_env;
  bool operator==(const Hash&) const = default;
};
using MaskingStrategy = std::variant<Redact, PartialMask, Replace, Hash>;

struct MaskingRule {
  std::string pii_name;
  MaskingStrategy strategy;
  bool operator==(const MaskingRule&) const = default;
};

struct MappingRule {
  std::string source_field;
  std::string pii_category;
  MaskingStrategy strategy;
  bool operator==(const MappingRule&) const = default;
};

struct PiiPattern {
  std::string name;
  std::string pattern;
  bool operator==(const PiiPattern&) const = default;
};

struct LlmConfig {
  std::string model;
  std::string system_prompt;
  uint64_t timeout_ms = 0;
  // Member values are kept as compact JSON text; the library never reads them.
  std::map<std::string, std::string> extra;
  bool operator==(const LlmConfig&) const = default;
};

struct Regex {
  std::vector<PiiPattern> patterns;
  bool operator==(const Regex&) const = default;
};
struct Llm {
  std::string llm_url;
  LlmConfig llm_config;
  bool operator==(const Llm&) const = default;
};
using PiiBackend = std::variant<Regex, Llm>;

struct PiiConfig {
  PiiBackend backend;
  bool operator==(const PiiConfig&) const = default;
};

struct QuorvelPolicy {
  bool masking = false;
  bool mapping = false;
  std::vector<MaskingRule> masking_rules;
  std::vector<MappingRule> mapping_rules;
  PiiConfig pii_config;
  bool operator==(const QuorvelPolicy&) const = default;
};

struct File {
  std::string path;
  bool operator==(const File&) const = default;
};
struct Http {
  std::string path;
  bool operator==(const Http&) const = default;
};
struct TraceCollector {
  std::string path;
  bool operator==(const TraceCollector&) const = default;
};
struct Stdout {
  bool operator==(const Stdout&) const = default;
};
using OutputSink = std::variant<File, Http, TraceCollector, Stdout>;

struct TracingPolicy {
  bool enabled = true;
  bool capture_all_nodes = true;
  bool capture_inputs = true;
  bool capture_outputs = true;
  bool capture_timestamps = true;
  bool capture_llm_metadata = false;
  bool capture_cot = false;
  bool capture_tool_calls = true;
  bool capture_agent_transitions = true;
  bool capture_human_overrides = true;
  OutputSink output_sink = Stdout{};
  bool operator==(const TracingPolicy&) const = default;
};

// The patterns of a Regex backend in compiled form, built when the policy
// loads (see compiled_patterns.h).
class CompiledPatterns;

struct PolicyConfig final : RefCounted {
  std::string schema_version;
  Uuid policy_id{};
  std::string policy_name;
  std::string policy_version;
  TimePoint built_at{};
  bool active = false;
  QuorvelPolicy quorvel_policy;
  TracingPolicy tracing_policy;

  // Compiled form of quorvel_policy's Regex patterns; null when the backend
  // is Llm or the policy has not been validated.
  std::shared_ptr<const CompiledPatterns> compiled_patterns;

  PolicyConfig() = default;
  // Copies everything but the reference count.
  PolicyConfig(const PolicyConfig& o);
  PolicyConfig& operator=(const PolicyConfig&) = delete;
};

using PolicyRef = Ref<PolicyConfig>;

// The default policy: inactive, named "default", version "0.0.0", Regex
// backend without patterns, tracing to Stdout. Draws a new policy_id and
// reads the clock at each call.
std::unique_ptr<PolicyConfig> default_policy();

// The LlmConfig that the rule-list form of a policy body falls back to.
LlmConfig default_llm_config();

}  // namespace quorvel::policy
