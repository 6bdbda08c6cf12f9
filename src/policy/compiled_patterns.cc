#include "policy/compiled_patterns.h"

#include <algorithm>

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
  if (!out->entries_.empty()) {
    // The filter is an optimisation only: if it cannot be built, every
    // pattern runs on every string.
    auto filter = std::make_unique<re2::RE2::Set>(out->entries_.front().re->options(),
                                                  re2::RE2::UNANCHORED);
    bool ok = true;
    for (const PiiPattern& p : patterns) {
      auto translated = translate_pattern(p.pattern);
      if (!translated.ok() || filter->Add(translated.value(), nullptr) < 0) {
        ok = false;
        break;
      }
    }
    if (ok && filter->Compile()) out->filter_ = std::move(filter);
  }
  return std::shared_ptr<const CompiledPatterns>(std::move(out));
}

std::shared_ptr<const CompiledPatterns> CompiledPatterns::empty() {
  static const auto* kEmpty =
      new std::shared_ptr<const CompiledPatterns>(std::make_shared<CompiledPatterns>());
  return *kEmpty;
}

void CompiledPatterns::candidates(std::string_view text, std::vector<int>* out) const {
  out->clear();
  if (filter_ != nullptr) {
    re2::RE2::Set::ErrorInfo info{};
    if (filter_->Match(re2::StringPiece(text.data(), text.size()), out, &info)) {
      std::sort(out->begin(), out->end());
      return;
    }
    if (info.kind == re2::RE2::Set::kNoError) return;  // nothing matches
    out->clear();
  }
  for (size_t i = 0; i < entries_.size(); ++i) out->push_back(static_cast<int>(i));
}

}  // namespace quorvel::policy
