#include "policy/compiled_patterns.h"

#include "policy/pattern_dialect.h"

namespace quorvel::policy {

Result<std::shared_ptr<const CompiledPatterns>, CompiledPatterns::Failure>
CompiledPatterns::compile(const std::vector<PiiPattern>& patterns) {
  auto out = std::make_shared<CompiledPatterns>();
  out->entries_.reserve(patterns.size());
  for (const PiiPattern& p : patterns) {
    auto re = compile_pattern(p.pattern);
    if (!re.ok()) return Err(Failure{p.pattern, re.error()});
    out->entries_.push_back(Entry{p.name, std::move(re).value()});
  }
  return std::shared_ptr<const CompiledPatterns>(std::move(out));
}

std::shared_ptr<const CompiledPatterns> CompiledPatterns::empty() {
  static const auto* kEmpty = new std::shared_ptr<const CompiledPatterns>(
      std::make_shared<CompiledPatterns>());
  return *kEmpty;
}

}  // namespace quorvel::policy
