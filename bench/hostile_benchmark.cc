// Figures for hostile load, printed rather than asserted:
//  1. linear time: encode (and decode) time per MiB of adversarial text at
//     1 MiB and at 16 MiB for pathological patterns, and their ratio;
//  2. bounded memory: resident memory before and after 1,000,000 encode and
//     decode calls on one session, beside the vault's mapping count;
//  3. many tokens: 10,000 sessions with 100 tokens each, then one session
//     with 1,000,000 tokens, with their memory.
// Usage: hostile_benchmark [time|time-all|memory|tokens]... (time, memory and
// tokens by default). "time" skips 16 MiB where 4 MiB already costs more
// than twice as much per MiB as 1 MiB; "time-all" runs it anyway.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "enforcer/decode_flow.h"
#include "enforcer/encode_flow.h"
#include "enforcer/enforcer.h"
#include "policy/reader.h"
#include "vault/in_memory_token_vault.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kMiB = size_t{1} << 20;

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// Resident memory of the process in MiB, from /proc.
double rss_mib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  }
  return 0;
}

std::string json_string_escape(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

quorvel::policy::PolicyRef policy_with(const std::vector<std::pair<std::string, std::string>>& patterns) {
  std::string doc =
      R"({"policy_name":"hostile","quorvel_policy":{"masking":true,"mapping":true,"masking_rules":[],)"
      R"("mapping_rules":[],"pii_config":{"backend":{"type":"regex","patterns":[)";
  for (size_t i = 0; i < patterns.size(); ++i) {
    if (i > 0) doc += ",";
    doc += R"({"name":")" + patterns[i].first + R"(","pattern":")" +
           json_string_escape(patterns[i].second) + "\"}";
  }
  doc += "]}}}}";
  auto read = quorvel::policy::read_policy(doc);
  if (!read.ok()) {
    std::fprintf(stderr, "policy refused: %s\n", doc.substr(0, 200).c_str());
    std::exit(1);
  }
  return quorvel::policy::PolicyRef::adopt(std::move(read).value().release());
}

size_t vault_size(const quorvel::enforcer::Enforcer& e) {
  return dynamic_cast<const quorvel::vault::InMemoryTokenVault&>(*e.vault).size();
}

// The "rules_applied_count" of an envelope.
unsigned long applied_count(const char* envelope) {
  const char* p = std::strstr(envelope, "\"rules_applied_count\":");
  return p == nullptr ? 0 : std::strtoul(p + 22, nullptr, 10);
}

// The "payload" member of an envelope, as text: it is the first member, and
// the envelope's other members follow it.
std::string payload_of(const char* envelope, bool encode_envelope) {
  const std::string_view env(envelope);
  const std::string_view next = encode_envelope ? ",\"signature_injection_text\":" : ",\"rules_applied_count\":";
  const size_t end = env.rfind(next);
  return std::string(env.substr(11, end - 11));
}

// ---- 1. linear time

struct Workload {
  const char* name;
  std::vector<std::pair<std::string, std::string>> patterns;
  // Text of about n bytes (a whole number of repeats of its unit).
  std::function<std::string(size_t)> text;
};

std::string repeat(std::string_view unit, size_t n) {
  std::string out;
  out.reserve(n + unit.size());
  while (out.size() + unit.size() <= n) out.append(unit);
  return out;
}

// A finding roughly every `spacing` bytes, each a distinct e-mail address,
// in filler text that no pattern matches.
std::string sparse_findings(size_t n, size_t spacing) {
  std::string out;
  out.reserve(n + 64);
  size_t k = 0;
  while (out.size() < n) {
    out.append(repeat("lorem ipsum ", spacing - 24));
    char mail[32];
    std::snprintf(mail, sizeof mail, " u%07zu@example.com ", k++);
    out.append(mail);
  }
  return out;
}

struct Timing {
  double encode_s = 0;  // per MiB
  double decode_s = 0;  // per MiB
  unsigned long findings = 0;
  bool round_trip = true;
};

// Encode then decode one string of about n bytes, `runs` times on a fresh
// session after one warm-up call (which builds the engine's lazy caches);
// the fastest run counts.
Timing time_one(const Workload& w, size_t n, int runs) {
  const std::string text = w.text(n);
  const std::string payload = "\"" + text + "\"";
  auto policy = policy_with(w.patterns);
  static int session = 0;
  auto e = quorvel::enforcer::create_enforcer(policy, "time-" + std::to_string(++session));
  std::free(quorvel::enforcer::encode(*e, "\"" + w.text(64 * 1024) + "\"", false));
  Timing best;
  best.encode_s = best.decode_s = 1e300;
  const double mib = static_cast<double>(text.size()) / kMiB;
  for (int r = 0; r < runs; ++r) {
    const auto t0 = Clock::now();
    char* encoded = quorvel::enforcer::encode(*e, payload, false);
    best.encode_s = std::min(best.encode_s, seconds_since(t0) / mib);
    best.findings = applied_count(encoded);
    const std::string encoded_payload = payload_of(encoded, true);
    std::free(encoded);
    const auto t1 = Clock::now();
    char* decoded = quorvel::enforcer::decode(*e, encoded_payload, false);
    best.decode_s = std::min(best.decode_s, seconds_since(t1) / mib);
    best.round_trip = best.round_trip && payload_of(decoded, false) == payload;
    std::free(decoded);
  }
  return best;
}

void linear_time(bool always_16) {
  const std::vector<Workload> workloads = {
      {"counted a{1000}b / a*", {{"REP", "a{1000}b"}}, [](size_t n) { return repeat("a", n); }},
      {"counted [a-z]{1,1000}@ / letters",
       {{"REP", "[a-z]{1,1000}@[a-z]+"}},
       [](size_t n) { return repeat("abcdefghij", n); }},
      {"counted \\w{200}x / words", {{"REP", "\\w{200}x"}}, [](size_t n) { return repeat("wörd", n); }},
      {"nested (((a+)+)+)+b / a*", {{"NEST", "(((a+)+)+)+b"}}, [](size_t n) { return repeat("a", n); }},
      {"nested 250 levels / a*",
       {{"DEEP", std::string(249, '(') + "a+b" + std::string(249, ')')}},
       [](size_t n) { return repeat("a", n); }},
      {"alternation 2000 words / near misses",
       {{"ALT",
         [] {
           std::string p;
           for (int i = 0; i < 2000; ++i) p += (i ? "|" : "") + std::string("w") + std::to_string(i) + "q";
           return p;
         }()}},
       [](size_t n) { return repeat("w1 w12 w123 w1999 ", n); }},
      {"alternation a|aa|..|a{50}c / a*",
       {{"ALT",
         [] {
           std::string p;
           for (int i = 1; i <= 50; ++i) p += (i > 1 ? "|" : "") + std::string(static_cast<size_t>(i), 'a');
           return "(?:" + p + ")c";
         }()}},
       [](size_t n) { return repeat("a", n); }},
      {"email, a finding per 64 KiB",
       {{"EMAIL", "[a-z0-9.]+@[a-z]+\\.com"}},
       [](size_t n) { return sparse_findings(n, 64 * 1024); }},
      {"email, a finding per 1 KiB",
       {{"EMAIL", "[a-z0-9.]+@[a-z]+\\.com"}},
       [](size_t n) { return sparse_findings(n, 1024); }},
  };
  std::printf("== linear time: seconds per MiB of one string (best of 3 at 1 and 4 MiB, of 2 at 16 MiB)\n");
  std::printf("%-38s %8s | %8s %8s %8s %7s | %8s %8s %8s %7s | %s\n", "workload", "findings", "enc 1", "enc 4",
              "enc 16", "16 / 1", "dec 1", "dec 4", "dec 16", "16 / 1", "round trip");
  for (const Workload& w : workloads) {
    const Timing t1 = time_one(w, kMiB, 3);
    const Timing t4 = time_one(w, 4 * kMiB, 3);
    // 16 MiB runs only when 4 MiB costs at most twice as much per MiB as
    // 1 MiB; a step that grows faster than the text would take minutes.
    const double growth = std::max(t4.encode_s / t1.encode_s, t4.decode_s / t1.decode_s);
    if (growth <= 2.0 || always_16) {
      const Timing t16 = time_one(w, 16 * kMiB, 2);
      std::printf("%-38s %8lu | %8.4f %8.4f %8.4f %6.2fx | %8.4f %8.4f %8.4f %6.2fx | %s\n", w.name,
                  t16.findings, t1.encode_s, t4.encode_s, t16.encode_s, t16.encode_s / t1.encode_s,
                  t1.decode_s, t4.decode_s, t16.decode_s, t16.decode_s / t1.decode_s,
                  t1.round_trip && t4.round_trip && t16.round_trip ? "yes" : "NO");
    } else {
      std::printf("%-38s %8lu | %8.4f %8.4f %8s %6.2fx | %8.4f %8.4f %8s %6.2fx | %s  "
                  "(16 MiB not run: 4 MiB costs %.1fx per MiB)\n",
                  w.name, t4.findings, t1.encode_s, t4.encode_s, "-", t4.encode_s / t1.encode_s, t1.decode_s,
                  t4.decode_s, "-", t4.decode_s / t1.decode_s, t1.round_trip && t4.round_trip ? "yes" : "NO",
                  growth);
    }
    std::fflush(stdout);
  }
}

// ---- 2. memory of one long session

void bounded_memory() {
  std::printf("== memory: 1,000,000 encode+decode calls on one session\n");
  auto policy = policy_with({{"EMAIL", "[a-z0-9.]+@[a-z]+\\.com"}, {"PHONE", "\\b555-\\d{4}\\b"}});
  auto e = quorvel::enforcer::create_enforcer(policy, "memory");
  const std::string quiet =
      R"({"messages":[{"role":"user","content":"Where is my order? It was due on Monday."},)"
      R"({"role":"assistant","content":"Let me look that up for you."}],"n":3})";
  auto call = [&](size_t i) {
    std::string payload = quiet;
    // One call in a thousand carries an address, so the vault grows slowly.
    if (i % 1000 == 0) payload = R"({"content":"mail u)" + std::to_string(i) + R"(@example.com"})";
    char* out = quorvel::enforcer::encode(*e, payload, i % 2 == 0);
    const std::string encoded = payload_of(out, true);
    std::free(out);
    std::free(quorvel::enforcer::decode(*e, encoded, i % 2 == 0));
  };
  for (size_t i = 1; i <= 10000; ++i) call(i);  // warm-up: allocator, caches
  const double before = rss_mib();
  const size_t mappings_before = vault_size(*e);
  const auto t0 = Clock::now();
  constexpr size_t kCalls = 1000000;
  for (size_t i = 1; i <= kCalls; ++i) call(i);
  const double elapsed = seconds_since(t0);
  const double after = rss_mib();
  const size_t mappings = vault_size(*e) - mappings_before;
  std::printf("calls: %zu in %.1f s (%.1f us per encode+decode)\n", kCalls, elapsed, elapsed * 1e6 / kCalls);
  std::printf("RSS before: %.1f MiB, after: %.1f MiB, growth: %.2f MiB\n", before, after, after - before);
  std::printf("vault mappings added: %zu (%.0f bytes of RSS growth per mapping)\n", mappings,
              mappings ? (after - before) * kMiB / static_cast<double>(mappings) : 0.0);
}

// ---- 3. many tokens

std::string hundred_addresses(size_t base) {
  std::string payload = "[";
  for (size_t k = 0; k < 100; ++k) {
    payload += (k ? ",\"" : "\"") + std::string("mail u") + std::to_string(base + k) + "@example.com\"";
  }
  return payload + "]";
}

void many_tokens() {
  auto policy = policy_with({{"EMAIL", "[a-z0-9.]+@[a-z]+\\.com"}});

  std::printf("== tokens: 10,000 sessions x 100 tokens\n");
  double before = rss_mib();
  auto t0 = Clock::now();
  size_t tokens = 0;
  std::string check_payload, check_original;
  for (size_t s = 0; s < 10000; ++s) {
    auto e = quorvel::enforcer::create_enforcer(policy, "many-" + std::to_string(s));
    const std::string payload = hundred_addresses(s * 100);
    char* out = quorvel::enforcer::encode(*e, payload, false);
    tokens += applied_count(out);
    if (s == 4321) {
      check_payload = payload_of(out, true);
      check_original = payload;
    }
    std::free(out);
  }
  double elapsed = seconds_since(t0);
  double after = rss_mib();
  {
    auto e = quorvel::enforcer::create_enforcer(policy, "many-4321");
    char* out = quorvel::enforcer::decode(*e, check_payload, false);
    const bool restored = payload_of(out, false) == check_original;
    std::free(out);
    std::printf("tokens: %zu in %.1f s; RSS %.1f -> %.1f MiB (+%.1f MiB, %.0f bytes per token); "
                "a session's tokens restore through a new enforcer: %s\n",
                tokens, elapsed, before, after, after - before,
                (after - before) * kMiB / static_cast<double>(tokens), restored ? "yes" : "NO");
  }

  std::printf("== tokens: 1 session x 1,000,000 tokens\n");
  before = rss_mib();
  t0 = Clock::now();
  tokens = 0;
  auto e = quorvel::enforcer::create_enforcer(policy, "one-big-session");
  for (size_t c = 0; c < 10000; ++c) {
    const std::string payload = hundred_addresses(c * 100);
    char* out = quorvel::enforcer::encode(*e, payload, false);
    tokens += applied_count(out);
    if (c == 1234) {
      check_payload = payload_of(out, true);
      check_original = payload;
    }
    std::free(out);
  }
  elapsed = seconds_since(t0);
  after = rss_mib();
  char* out = quorvel::enforcer::decode(*e, check_payload, false);
  const bool restored = payload_of(out, false) == check_original;
  std::free(out);
  std::printf("tokens: %zu (vault holds %zu) in %.1f s; RSS %.1f -> %.1f MiB (+%.1f MiB, %.0f bytes per "
              "token); early tokens still restore: %s\n",
              tokens, vault_size(*e), elapsed, before, after, after - before,
              (after - before) * kMiB / static_cast<double>(tokens), restored ? "yes" : "NO");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> parts(argv + 1, argv + argc);
  if (parts.empty()) parts = {"time", "memory", "tokens"};
  for (const std::string& p : parts) {
    if (p == "time" || p == "time-all") {
      linear_time(p == "time-all");
    } else if (p == "memory") {
      bounded_memory();
    } else if (p == "tokens") {
      many_tokens();
    } else {
      std::fprintf(stderr, "usage: %s [time|time-all|memory|tokens]...\n", argv[0]);
      return 2;
    }
  }
  return 0;
}
