// Explains a policy document in the words of its author: the verdict of the
// policy reader with the error's data, what was taken from the document,
// where the body and the tracing policy came from, and every pattern.
#pragma once

#include <string>
#include <string_view>

namespace quorvel::tools {

struct PolicyExplanation {
  bool accepted = false;
  // One line: "rejected (InvalidPattern): a pattern does not compile" or
  // "accepted".
  std::string verdict;
  // The verdict's data and everything found, several lines, each ending in a
  // line feed.
  std::string details;
};

// `text` is the document as read from its file.
PolicyExplanation explain_policy(std::string_view text);

// The reason a document is rejected, in one line (empty when it loads).
std::string rejection_reason(std::string_view text);

}  // namespace quorvel::tools
