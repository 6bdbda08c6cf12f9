#include "workload.h"

#include <cstdint>
#include <vector>

namespace quorvel::bench {
namespace {

class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ULL + 1) {}
  uint64_t next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 7;
    s_ ^= s_ << 17;
    return s_;
  }
  size_t below(size_t n) { return static_cast<size_t>(next() % n); }
  template <size_t N>
  const char* pick(const char* const (&words)[N]) {
    return words[below(N)];
  }

 private:
  uint64_t s_;
};

const char* const kWords[] = {
    "the", "order", "arrived", "yesterday", "but", "the", "box", "was", "damaged", "and",
    "two", "items", "were", "missing", "could", "you", "please", "check", "what", "happened",
    "with", "my", "shipment", "I", "have", "been", "waiting", "for", "a", "refund", "since",
    "last", "week", "thanks", "for", "your", "help", "we", "apologise", "for", "the", "delay",
    "our", "team", "will", "look", "into", "this", "today", "account", "settings", "invoice",
    "delivery", "address", "update", "subscription", "support", "ticket", "number", "reference"};
const char* const kNames[] = {"Ada Lovelace", "Alan Turing", "Grace Hopper", "Edsger Dijkstra",
                              "Barbara Liskov", "Donald Knuth", "Frances Allen", "John Backus"};
const char* const kStreets[] = {"Main Street", "Oak Avenue", "Pine Road", "Elm Lane", "Cedar Court"};
const char* const kCities[] = {"Springfield", "Riverton", "Lakeside", "Hillview", "Fairfax"};

std::string digits(Rng& rng, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s.push_back(static_cast<char>('0' + rng.below(10)));
  return s;
}

std::string pii_value(Rng& rng) {
  switch (rng.below(6)) {
    case 0: {
      static const char* const kUsers[] = {"ada", "alan.t", "grace_h", "edsger", "barbara.l"};
      static const char* const kHosts[] = {"example.com", "mail.example.org", "corp.example.net"};
      return std::string(rng.pick(kUsers)) + digits(rng, 2) + "@" + rng.pick(kHosts);
    }
    case 1:
      return "(" + digits(rng, 3) + ") " + digits(rng, 3) + "-" + digits(rng, 4);
    case 2:
      return digits(rng, 3) + "-" + digits(rng, 2) + "-" + digits(rng, 4);
    case 3:
      return "4" + digits(rng, 3) + " " + digits(rng, 4) + " " + digits(rng, 4) + " " + digits(rng, 4);
    case 4:
      return std::to_string(10 + rng.below(200)) + "." + std::to_string(rng.below(256)) + "." +
             std::to_string(rng.below(256)) + "." + std::to_string(rng.below(256));
    default:
      return "DE" + digits(rng, 2) + " " + digits(rng, 4) + " " + digits(rng, 4) + " " +
             digits(rng, 4) + " " + digits(rng, 4) + " " + digits(rng, 2);
  }
}

// Natural-looking text of about `bytes` bytes, with PII at about one finding
// per 2 KiB when `budget` says so. `budget` carries the text written since
// the last finding across calls.
std::string sentence_text(Rng& rng, size_t bytes, bool pii, size_t& budget) {
  std::string s;
  bool capital = true;
  while (s.size() < bytes) {
    if (pii && budget >= 2048) {
      s += pii_value(rng);
      s += ' ';
      budget = 0;
      continue;
    }
    std::string w = rng.pick(kWords);
    if (capital && w[0] >= 'a' && w[0] <= 'z') w[0] = static_cast<char>(w[0] - 'a' + 'A');
    capital = false;
    s += w;
    budget += w.size() + 1;
    if (rng.below(12) == 0) {
      s += ". ";
      capital = true;
    } else {
      s += ' ';
    }
  }
  return s;
}

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

std::string chat(Rng& rng, size_t bytes, bool pii) {
  std::string out = R"({"model":"support-agent","messages":[)";
  out += R"({"role":"system","content":"You are a helpful customer support agent."})";
  size_t budget = 0;
  bool user = true;
  while (out.size() + 64 < bytes) {
    const size_t len = std::min<size_t>(80 + rng.below(600), bytes - out.size());
    out += R"(,{"role":)" + quoted(user ? "user" : "assistant") + R"(,"content":)" +
           quoted(sentence_text(rng, len, pii, budget)) + "}";
    user = !user;
  }
  out += "]}";
  return out;
}

std::string customer(Rng& rng, bool pii, size_t& budget) {
  const std::string email = pii ? pii_value(rng) : "on file";
  std::string out = R"({"name":)" + quoted(rng.pick(kNames)) + R"(,"email":)" +
                    quoted(pii && budget >= 2048 ? email : "see account") + R"(,"address":{"street":)" +
                    quoted(std::to_string(1 + rng.below(999)) + " " + rng.pick(kStreets)) +
                    R"(,"city":)" + quoted(rng.pick(kCities)) + R"(,"zip":)" + quoted(digits(rng, 5)) +
                    R"(},"notes":)" + quoted(sentence_text(rng, 200 + rng.below(300), pii, budget)) +
                    R"(,"orders":[)";
  if (pii && budget >= 2048) budget = 0;
  const size_t orders = 1 + rng.below(4);
  for (size_t i = 0; i < orders; ++i) {
    if (i != 0) out += ',';
    out += R"({"id":)" + quoted("ORD-" + digits(rng, 6)) + R"(,"quantity":)" +
           std::to_string(1 + rng.below(5)) + R"(,"price":)" + std::to_string(rng.below(500)) + "." +
           digits(rng, 2) + R"(,"status":)" + quoted(rng.below(2) ? "shipped" : "pending") + "}";
  }
  out += "]}";
  return out;
}

std::string tool_call(Rng& rng, size_t bytes, bool pii) {
  std::string out = R"({"tool":"update_customers","arguments":{"customers":[)";
  size_t budget = 0;
  bool first = true;
  while (out.size() + 64 < bytes) {
    if (!first) out += ',';
    first = false;
    out += customer(rng, pii, budget);
  }
  out += R"(],"requested_by":{"agent":"support-bot","ticket":)" + quoted("T-" + digits(rng, 7)) + "}}}";
  return out;
}

}  // namespace

std::string make_payload(Shape shape, size_t bytes, bool pii, unsigned seed) {
  Rng rng(seed + (shape == Shape::kChat ? 0 : 1000));
  return shape == Shape::kChat ? chat(rng, bytes, pii) : tool_call(rng, bytes, pii);
}

std::string benchmark_policy(bool active) {
  return std::string(R"({"policy_name":"bench","active":)") + (active ? "true" : "false") + R"(,
  "quorvel_policy":{"masking":true,"mapping":true,"masking_rules":[],
  "mapping_rules":[
    {"source_field":"arguments.requested_by.ticket","pii_category":"TICKET","strategy":{"type":"partial_mask","preserve_prefix":2,"preserve_suffix":2}},
    {"source_field":"tool","pii_category":"TOOL","strategy":{"type":"replace","with":"tool"}}],
  "pii_config":{"backend":{"type":"regex","patterns":[
    {"name":"EMAIL","pattern":"[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}"},
    {"name":"PHONE","pattern":"\\(\\d{3}\\) \\d{3}-\\d{4}"},
    {"name":"SSN","pattern":"\\b\\d{3}-\\d{2}-\\d{4}\\b"},
    {"name":"CARD","pattern":"\\b\\d{4}(?: \\d{4}){3}\\b"},
    {"name":"IPV4","pattern":"\\b(?:\\d{1,3}\\.){3}\\d{1,3}\\b"},
    {"name":"IBAN","pattern":"\\b[A-Z]{2}\\d{2}(?: \\d{4}){4} \\d{2}\\b"}]}}}})";
}

const char* shape_name(Shape shape) { return shape == Shape::kChat ? "chat" : "tool-call"; }

}  // namespace quorvel::bench
