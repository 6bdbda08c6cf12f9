// Call sequences through the C header: configurations made, cloned, queried
// and dropped, enforcers created and dropped over a few sessions, payloads
// encoded and decoded, and returned strings freed, all in the order the
// input gives, null handles included. Every envelope must read as JSON, and
// a payload encoded under the mapping policy must decode, through any
// enforcer of the same session under that policy, to what was encoded.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "json/arena.h"
#include "json/reader.h"
#include "json/writer.h"
#include "quorvel/quorvel.h"

namespace {

constexpr size_t kSlots = 4;
constexpr size_t kMaxOps = 64;
constexpr size_t kMaxHeld = 8;

// Policy kinds; kMapping is the one whose round trips are checked.
enum PolicyKind : uint8_t { kDefault, kMapping, kMaskingOnly, kInactive, kRuleList, kLlm, kBroken, kInput };
constexpr size_t kPolicyKinds = 8;

const char* const kPolicies[] = {
    nullptr,
    R"({"policy_name":"mapping","quorvel_policy":{"masking":true,"mapping":true,"masking_rules":[],)"
    R"("mapping_rules":[{"source_field":"tool.card","pii_category":"CARD","strategy":["partial_mask",0,4]}],)"
    R"("pii_config":{"backend":{"type":"regex","patterns":[{"name":"EMAIL","pattern":"[a-z.]+@[a-z]+\\.com"},)"
    R"({"name":"PHONE","pattern":"\\b555-\\d{4}\\b"}]}}}})",
    R"({"policy_name":"masking","quorvel_policy":{"masking":true,"mapping":false,"masking_rules":[],)"
    R"("mapping_rules":[],"pii_config":{"backend":["regex",[["EMAIL","[a-z.]+@[a-z]+\\.com"]]]}}})",
    R"({"policy_name":"inactive","active":false,"quorvel_policy":{"masking":true,"mapping":true,)"
    R"("masking_rules":[],"mapping_rules":[],"pii_config":{"backend":{"type":"regex","patterns":[]}}}})",
    R"({"policy_name":"rules","quorvel_policy":{"mapping":true,"pii_rules":[)"
    R"({"type":"regex","name":"EMAIL","pattern":"[a-z.]+@[a-z]+\\.com"}]}})",
    R"({"policy_name":"llm","quorvel_policy":{"masking":true,"mapping":true,"masking_rules":[],)"
    R"("mapping_rules":[],"pii_config":{"backend":{"type":"llm","llm_url":"http://localhost",)"
    R"("llm_config":{"model":"m","system_prompt":"p","timeout_ms":1}}}}})",
    R"({"schema_version":"2.0","policy_name":"broken"})",
};

// Session ids as the host passes them; the last three all mean "".
struct SessionArg {
  const char* id;
  size_t len;
  int session;  // the session it selects
};
const SessionArg kSessions[] = {
    {"alpha", 5, 1}, {"beta", 4, 2}, {"al\0pha", 6, 3}, {"", 0, 0}, {"\xff\xfe", 2, 0}, {nullptr, 5, 0},
};
constexpr size_t kSessionArgs = sizeof kSessions / sizeof kSessions[0];

// Payloads; all but the last hold no "<", no bare token value and no field
// of a mapping rule, so they round-trip.
const char* const kPayloads[] = {
    R"({"content":"mail ada@math.com or call 555-0100","card":"4111111111111111"})",
    R"(["ada@math.com",{"b":"555-0199 ada@math.com","a":[1,-2,3.5,true,null]}])",
    R"("nothing to see")",
    R"({"k":"x\u0000y","e":"","n":{"deep":["bob@web.com"]}})",
    R"({"tool":{"card":"4111111111111111","to":"ada@math.com"},"seen":"<EMAIL:0a1b2c3d>"})",
};
constexpr size_t kPayloadCount = sizeof kPayloads / sizeof kPayloads[0];
constexpr size_t kRoundTripPayloads = kPayloadCount - 1;

class Input {
 public:
  Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  bool empty() const { return p_ == end_; }
  uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
  size_t pick(size_t n) { return byte() % n; }
  // Up to `most` raw bytes, their count given by the next byte.
  std::string_view bytes(size_t most) {
    const size_t n = std::min<size_t>(pick(most + 1), static_cast<size_t>(end_ - p_));
    const std::string_view out(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    return out;
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

struct EnforcerSlot {
  Enforcer* e = nullptr;
  PolicyKind kind = kDefault;
  int session = 0;
};

struct ConfigSlot {
  ConfigHandle* h = nullptr;
  PolicyKind kind = kDefault;
};

// What an encode under the mapping policy produced, for a later decode.
struct Encoded {
  std::string payload;   // the encoded payload
  std::string original;  // the payload as read and written back
  bool signed_tokens = false;
  int session = -1;
};

// The "payload" member of an envelope as compact text; the envelope must
// read as a JSON object that starts with it.
std::string payload_of(const char* envelope) {
  FUZZ_CHECK(std::strncmp(envelope, "{\"payload\":", 11) == 0);
  quorvel::json::Arena arena;
  auto read = quorvel::json::parse(envelope, arena);
  FUZZ_CHECK(read.ok());
  const quorvel::json::Value* payload = read.value().find("payload");
  FUZZ_CHECK(payload != nullptr);
  return quorvel::json::to_json(*payload);
}

std::string rewritten(std::string_view text) {
  quorvel::json::Arena arena;
  auto read = quorvel::json::parse(text, arena);
  FUZZ_CHECK(read.ok());
  return quorvel::json::to_json(read.value());
}

class Run {
 public:
  explicit Run(Input& in) : in_(in) {}
  ~Run() {
    // Whatever is left goes in an order the input chose too.
    const bool configs_first = (in_.byte() & 1) != 0;
    if (configs_first) drop_configs();
    for (EnforcerSlot& s : enforcers_) quorvel_enforcer_drop(s.e);
    if (!configs_first) drop_configs();
    for (char* s : held_) quorvel_free(s);
  }

  void step() {
    switch (in_.pick(9)) {
      case 0: make_config(); break;
      case 1: clone_config(); break;
      case 2: drop_config(); break;
      case 3: query_config(); break;
      case 4: create_enforcer(); break;
      case 5: drop_enforcer(); break;
      case 6: encode(); break;
      case 7: decode(); break;
      default: free_one(); break;
    }
  }

 private:
  void drop_configs() {
    for (ConfigSlot& s : configs_) quorvel_config_drop(s.h);
  }

  void hold(char* s) {
    if (s == nullptr) return;
    if (held_.size() == kMaxHeld) {
      quorvel_free(held_.front());
      held_.erase(held_.begin());
    }
    held_.push_back(s);
  }

  void make_config() {
    ConfigSlot& s = configs_[in_.pick(kSlots)];
    quorvel_config_drop(s.h);
    s.kind = static_cast<PolicyKind>(in_.pick(kPolicyKinds));
    if (s.kind == kDefault) {
      s.h = quorvel_config_default();
      FUZZ_CHECK(s.h != nullptr);
    } else if (s.kind == kInput) {
      const std::string_view text = in_.bytes(96);
      s.h = quorvel_config_from_json(text.data(), text.size());
    } else {
      s.h = quorvel_config_from_json(kPolicies[s.kind], std::strlen(kPolicies[s.kind]));
      FUZZ_CHECK((s.h == nullptr) == (s.kind == kBroken));
    }
  }

  void clone_config() {
    const ConfigSlot& from = configs_[in_.pick(kSlots)];
    ConfigSlot& to = configs_[in_.pick(kSlots)];
    ConfigHandle* h = quorvel_config_clone(from.h);
    FUZZ_CHECK((h == nullptr) == (from.h == nullptr));
    quorvel_config_drop(to.h);  // `to` may be `from`: its clone holds on
    to.h = h;
    to.kind = from.kind;
  }

  void drop_config() {
    ConfigSlot& s = configs_[in_.pick(kSlots)];
    quorvel_config_drop(s.h);
    s.h = nullptr;
  }

  void query_config() {
    const ConfigSlot& s = configs_[in_.pick(kSlots)];
    const bool active = quorvel_config_active(s.h);
    char* name = quorvel_config_policy_name(s.h);
    char* version = quorvel_config_policy_version(s.h);
    FUZZ_CHECK((name == nullptr) == (s.h == nullptr));
    FUZZ_CHECK((version == nullptr) == (s.h == nullptr));
    if (s.h == nullptr) FUZZ_CHECK(!active);
    if (s.h != nullptr && s.kind == kDefault) {
      FUZZ_CHECK(!active && std::strcmp(name, "default") == 0 && std::strcmp(version, "0.0.0") == 0);
    }
    if (s.h != nullptr && s.kind == kMapping) FUZZ_CHECK(active && std::strcmp(name, "mapping") == 0);
    hold(name);
    hold(version);
  }

  void create_enforcer() {
    const ConfigSlot& c = configs_[in_.pick(kSlots)];
    EnforcerSlot& s = enforcers_[in_.pick(kSlots)];
    const SessionArg& arg = kSessions[in_.pick(kSessionArgs)];
    quorvel_enforcer_drop(s.e);
    s.e = quorvel_enforcer_create(c.h, arg.id, arg.len);
    FUZZ_CHECK((s.e == nullptr) == (c.h == nullptr));
    s.kind = c.kind;
    s.session = arg.session;
  }

  void drop_enforcer() {
    EnforcerSlot& s = enforcers_[in_.pick(kSlots)];
    quorvel_enforcer_drop(s.e);
    s.e = nullptr;
  }

  int32_t flag() {
    static constexpr int32_t kFlags[] = {0, 1, 2, -1};
    return kFlags[in_.pick(4)];
  }

  void encode() {
    const EnforcerSlot& s = enforcers_[in_.pick(kSlots)];
    const int32_t with_signature = flag();
    const size_t which = in_.pick(kPayloadCount + 1);
    const std::string_view text =
        which < kPayloadCount ? std::string_view(kPayloads[which]) : in_.bytes(64);
    char* out = quorvel_encode(s.e, text.data(), text.size(), with_signature);
    if (s.e == nullptr || which < kPayloadCount) FUZZ_CHECK((out == nullptr) == (s.e == nullptr));
    if (out == nullptr) return;
    const std::string payload = payload_of(out);
    if (s.kind == kMapping && which < kRoundTripPayloads) {
      last_ = Encoded{payload, rewritten(text), with_signature == 1, s.session};
    }
    hold(out);
  }

  void decode() {
    const EnforcerSlot& s = enforcers_[in_.pick(kSlots)];
    const int32_t mode = flag();
    const bool replay = (in_.byte() & 1) != 0 && last_.session >= 0;
    const std::string text = replay ? last_.payload : std::string(in_.bytes(64));
    char* out = quorvel_decode(s.e, text.data(), text.size(), mode);
    if (s.e == nullptr || replay) FUZZ_CHECK((out == nullptr) == (s.e == nullptr));
    if (out == nullptr) return;
    const std::string payload = payload_of(out);
    if (replay && s.kind == kMapping && s.session == last_.session &&
        (mode == 1 || !last_.signed_tokens)) {
      FUZZ_CHECK(payload == last_.original);
    }
    hold(out);
  }

  void free_one() {
    if (held_.empty()) return;
    const size_t i = in_.pick(held_.size());
    quorvel_free(held_[i]);
    held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(i));
  }

  Input& in_;
  ConfigSlot configs_[kSlots];
  EnforcerSlot enforcers_[kSlots];
  std::vector<char*> held_;
  Encoded last_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  Run run(in);
  for (size_t ops = 0; ops < kMaxOps && !in.empty(); ++ops) run.step();
  return 0;
}
