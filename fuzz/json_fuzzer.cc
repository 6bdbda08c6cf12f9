// The JSON reader and writer: any bytes are read; what reads is written,
// read again and written again, and the two written texts are equal.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "json/arena.h"
#include "json/reader.h"
#include "json/writer.h"
#include "util/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  quorvel::json::Arena arena;
  auto first = quorvel::json::parse(text, arena);
  if (!first.ok()) {
    FUZZ_CHECK(first.error().offset <= size);
    return 0;
  }
  // Only well-formed UTF-8 reads.
  FUZZ_CHECK(quorvel::is_valid_utf8(text));

  const std::string written = quorvel::json::to_json(first.value());
  FUZZ_CHECK(quorvel::is_valid_utf8(written));
  FUZZ_CHECK(written.find('\0') == std::string::npos);

  quorvel::json::Arena arena2;
  auto second = quorvel::json::parse(written, arena2);
  FUZZ_CHECK(second.ok());
  FUZZ_CHECK(quorvel::json::equal(first.value(), second.value()));
  const std::string rewritten = quorvel::json::to_json(second.value());
  FUZZ_CHECK(rewritten == written);
  return 0;
}
