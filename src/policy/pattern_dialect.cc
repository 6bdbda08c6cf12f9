#include "policy/pattern_dialect.h"

namespace quorvel::policy {

// Placeholder translation: passes the pattern through unchanged.
Result<std::string, std::string> translate_pattern(std::string_view pattern) {
  return std::string(pattern);
}

Result<std::unique_ptr<const re2::RE2>, std::string> compile_pattern(std::string_view pattern) {
  auto translated = translate_pattern(pattern);
  if (!translated.ok()) return Err(translated.error());
  re2::RE2::Options options;
  options.set_log_errors(false);
  options.set_max_mem(kMaxPatternProgramBytes * 2);
  auto re = std::make_unique<const re2::RE2>(translated.value(), options);
  if (!re->ok()) return Err(re->error());
  return std::unique_ptr<const re2::RE2>(std::move(re));
}

}  // namespace quorvel::policy
