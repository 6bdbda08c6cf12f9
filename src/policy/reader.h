// The policy document reader: a JSON text in, a validated PolicyConfig or a
// PolicyLoadError out. Lenient at the top level, strict inside the records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "policy/model.h"
#include "util/result.h"

namespace quorvel::policy {

struct PolicyLoadError {
  // The text is not one well-formed JSON value.
  struct Parse {
    std::string message;
    size_t line = 0;    // 1-based
    size_t column = 0;  // 1-based, in bytes
  };
  // schema_version is not exactly "1.0".
  struct UnsupportedSchema {
    std::string schema_version;
  };
  // "policy_name" or "policy_version" is empty.
  struct EmptyField {
    std::string field;
  };
  // A pattern of the Regex backend does not compile.
  struct InvalidPattern {
    std::string pattern;
    std::string message;
  };
  // A Hash strategy's salt variable is unset or not UTF-8.
  struct MissingSalt {
    std::string variable;
  };

  enum class Kind : uint8_t { Parse, UnsupportedSchema, EmptyField, InvalidPattern, MissingSalt };

  std::variant<Parse, UnsupportedSchema, EmptyField, InvalidPattern, MissingSalt> data;

  Kind kind() const { return static_cast<Kind>(data.index()); }
};

// What the reader made of a document, for tools that explain a policy; the
// library itself never looks at it.
struct ReadReport {
  enum class Member : uint8_t {
    kAbsent,
    kTaken,
    kWrongType,   // present with a JSON type that the member does not take
    kUnparsable,  // "policy_id": a string that holds no UUID
  };
  // Where a record of the policy came from.
  enum class Source : uint8_t {
    kDefault,        // the default record: member absent, or every reading failed
    kDocument,       // read strictly from the document
    kRuleListRegex,  // body only: the rule list gave patterns
    kRuleListLlm,    // body only: the rule list gave an "llm" entry alone
  };

  Member schema_version = Member::kAbsent;
  Member policy_id = Member::kAbsent;
  Member policy_name = Member::kAbsent;
  Member policy_version = Member::kAbsent;
  Member active = Member::kAbsent;
  // kTaken when it is an object or an array, whether or not it then reads.
  Member quorvel_policy = Member::kAbsent;
  Member tracing_policy = Member::kAbsent;

  Source body = Source::kDefault;
  Source tracing = Source::kDefault;

  // The first failure of a strict reading that was discarded, with its path
  // from the top level, e.g.
  // `quorvel_policy.mapping_rules[1].strategy: unknown type "Redact"`.
  std::string body_failure;
  std::string tracing_failure;
  // The "llm_config" of the rule list's "llm" entry, when it was present but
  // gave way to the default LlmConfig.
  std::string llm_config_failure;
};

// Reads and validates a policy document. `text` is UTF-8 (the caller checks);
// nothing of it is kept. `report`, when given, is overwritten, also on
// failure (with what was found before the failure).
Result<std::unique_ptr<PolicyConfig>, PolicyLoadError> read_policy(std::string_view text,
                                                                    ReadReport* report = nullptr);

}  // namespace quorvel::policy
