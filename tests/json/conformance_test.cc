// Runs the reader over the public JSON parser test suite. File names carry
// the verdict: y_ accepted, n_ refused, i_ decided by the table below.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "json/reader.h"
#include "json/writer.h"

namespace quorvel::json {
namespace {

namespace fs = std::filesystem;

// Outcomes of the implementation-defined cases, by the reader's rules.
const std::map<std::string, bool>& implementation_defined() {
  static const std::map<std::string, bool> kAccept = {
      // Underflow rounds to zero; only numbers too large for a double fail.
      {"i_number_double_huge_neg_exp.json", true},
      {"i_number_real_underflow.json", true},
      {"i_number_huge_exp.json", false},
      {"i_number_neg_int_huge_exp.json", false},
      {"i_number_pos_double_huge_exp.json", false},
      {"i_number_real_neg_overflow.json", false},
      {"i_number_real_pos_overflow.json", false},
      // Integers beyond 64 bits are held as doubles.
      {"i_number_too_big_neg_int.json", true},
      {"i_number_too_big_pos_int.json", true},
      {"i_number_very_big_negative_int.json", true},
      // A \u escape that leaves a surrogate unpaired fails.
      {"i_object_key_lone_2nd_surrogate.json", false},
      {"i_string_1st_surrogate_but_2nd_missing.json", false},
      {"i_string_1st_valid_surrogate_2nd_invalid.json", false},
      {"i_string_incomplete_surrogate_and_escape_valid.json", false},
      {"i_string_incomplete_surrogate_pair.json", false},
      {"i_string_incomplete_surrogates_escape_valid.json", false},
      {"i_string_invalid_lonely_surrogate.json", false},
      {"i_string_invalid_surrogate.json", false},
      {"i_string_inverted_surrogates_U+1D11E.json", false},
      {"i_string_lone_second_surrogate.json", false},
      // Text must be well-formed UTF-8; a byte order mark is not whitespace.
      {"i_string_UTF-16LE_with_BOM.json", false},
      {"i_string_UTF-8_invalid_sequence.json", false},
      {"i_string_UTF8_surrogate_U+D800.json", false},
      {"i_string_invalid_utf-8.json", false},
      {"i_string_iso_latin_1.json", false},
      {"i_string_lone_utf8_continuation_byte.json", false},
      {"i_string_not_in_unicode_range.json", false},
      {"i_string_overlong_sequence_2_bytes.json", false},
      {"i_string_overlong_sequence_6_bytes.json", false},
      {"i_string_overlong_sequence_6_bytes_null.json", false},
      {"i_string_truncated-utf-8.json", false},
      {"i_string_utf16BE_no_BOM.json", false},
      {"i_string_utf16LE_no_BOM.json", false},
      {"i_structure_UTF-8_BOM_empty_object.json", false},
      // Nesting stops at 127 levels.
      {"i_structure_500_nested_arrays.json", false},
  };
  return kAccept;
}

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Conformance, JsonTestSuite) {
  const char* shared = std::getenv("QUORVEL_SHARED_DIR");
  const fs::path dir = fs::path(shared ? shared : "../shared") / "conformance/JSONTestSuite/test_parsing";
  if (!fs::is_directory(dir)) {
    const char* ci = std::getenv("CI");
    if (ci != nullptr && std::string(ci) == "true") FAIL() << "missing test suite at " << dir;
    GTEST_SKIP() << "JSON test suite not found at " << dir;
  }
  size_t files = 0;
  size_t decided = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".json") continue;
    const std::string text = read_file(entry.path());
    Arena arena;
    auto v = parse(text, arena);
    ++files;
    switch (name[0]) {
      case 'y':
        EXPECT_TRUE(v.ok()) << name << ": " << (v.ok() ? "" : v.error().message);
        if (v.ok()) {
          // What the writer produces reads back to the same text.
          const std::string once = to_json(*v);
          Arena again;
          auto w = parse(once, again);
          ASSERT_TRUE(w.ok()) << name;
          EXPECT_EQ(to_json(*w), once) << name;
        }
        break;
      case 'n':
        EXPECT_FALSE(v.ok()) << name;
        break;
      case 'i': {
        auto it = implementation_defined().find(name);
        ASSERT_NE(it, implementation_defined().end()) << "undecided case " << name;
        EXPECT_EQ(v.ok(), it->second) << name;
        ++decided;
        break;
      }
      default:
        break;
    }
  }
  EXPECT_GT(files, 300u);
  EXPECT_EQ(decided, implementation_defined().size());
}

}  // namespace
}  // namespace quorvel::json
