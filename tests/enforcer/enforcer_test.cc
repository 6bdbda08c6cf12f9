// create_enforcer and the session registry: which enforcers share a session,
// and what each enforcer owns.
#include "enforcer/enforcer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "enforcer/session_registry.h"
#include "policy/model.h"
#include "vault/in_memory_token_vault.h"

namespace quorvel::enforcer {
namespace {

policy::PolicyRef make_config() { return policy::PolicyRef::adopt(policy::default_policy().release()); }

// Session ids unique to this process run, so tests do not see each other's
// sessions in the process-wide registry.
std::string fresh_id(std::string_view name) { return std::string(name) + "/" + format_uuid(random_uuid_v4()); }

vault::TokenMapping mapping(std::string token, std::string original) {
  vault::TokenMapping m;
  m.token = std::move(token);
  m.original_value = std::move(original);
  m.pii_type = "EMAIL";
  return m;
}

TEST(CreateEnforcerTest, NullConfigGivesNoEnforcer) {
  EXPECT_EQ(create_enforcer(policy::PolicyRef(), "abc"), nullptr);
}

TEST(CreateEnforcerTest, FieldsComeFromTheArgumentsAndTheSession) {
  auto config = make_config();
  const std::string id = fresh_id("fields");
  auto e = create_enforcer(config, id);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->session_id, id);
  EXPECT_EQ(e->config.get(), config.get());
  ASSERT_NE(e->policy_cell, nullptr);
  EXPECT_EQ(e->policy_cell->snapshot().get(), config.get());
  EXPECT_EQ(e->token_counter.load(), 0u);
  EXPECT_NE(dynamic_cast<vault::InMemoryTokenVault*>(e->vault.get()), nullptr);
  // A version-4 uuid.
  EXPECT_EQ(e->session_uuid[6] >> 4, 4);
  EXPECT_EQ(e->session_uuid[8] >> 6, 2);
  // The registry holds the same state.
  const SessionState state = SessionRegistry::instance().get_or_create(id);
  EXPECT_EQ(state.vault, e->vault);
  EXPECT_EQ(state.session_uuid, e->session_uuid);
}

TEST(CreateEnforcerTest, SessionIdsAreComparedByteForByte) {
  auto config = make_config();
  auto abc = create_enforcer(config, "abc");
  auto abc_again = create_enforcer(config, "abc");
  EXPECT_EQ(abc->vault, abc_again->vault);
  EXPECT_EQ(abc->session_uuid, abc_again->session_uuid);

  abc->vault->insert("<EMAIL:1a2b3c4d>", mapping("<EMAIL:1a2b3c4d>", "a@example.com"));
  auto seen = abc_again->vault->get("<EMAIL:1a2b3c4d>");
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->original_value, "a@example.com");

  const std::string others[] = {"abd", "ABC", "abc ", " abc", "ab", std::string("abc\0", 4), ""};
  for (const auto& other : others) {
    SCOPED_TRACE(other);
    auto e = create_enforcer(config, other);
    EXPECT_NE(e->vault, abc->vault);
    EXPECT_NE(e->session_uuid, abc->session_uuid);
    EXPECT_FALSE(e->vault->get("<EMAIL:1a2b3c4d>"));
  }
}

TEST(CreateEnforcerTest, EmptySessionIdIsOneSharedSession) {
  auto config = make_config();
  auto a = create_enforcer(config, "");
  auto b = create_enforcer(config, std::string_view());
  EXPECT_EQ(a->vault, b->vault);
  EXPECT_EQ(a->session_uuid, b->session_uuid);
  EXPECT_EQ(a->session_id, "");
}

TEST(CreateEnforcerTest, SessionOutlivesItsEnforcers) {
  auto config = make_config();
  const std::string id = fresh_id("outlive");
  const std::string token = "<EMAIL:" + id + ">";
  Uuid uuid{};
  {
    auto first = create_enforcer(config, id);
    uuid = first->session_uuid;
    first->vault->insert(token, mapping(token, "kept"));
  }
  auto later = create_enforcer(config, id);
  EXPECT_EQ(later->session_uuid, uuid);
  auto got = later->vault->get(token);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->original_value, "kept");
}

TEST(CreateEnforcerTest, NewEnforcerOfAnExistingSessionCountsFromZero) {
  auto config = make_config();
  const std::string id = fresh_id("counter");
  auto first = create_enforcer(config, id);
  first->token_counter.fetch_add(5);
  auto second = create_enforcer(config, id);
  EXPECT_EQ(second->vault, first->vault);
  EXPECT_EQ(second->token_counter.load(), 0u);
  EXPECT_EQ(first->token_counter.load(), 5u);
}

TEST(CreateEnforcerTest, EnforcerKeepsItsConfigAfterTheCallerLetsGo) {
  auto config = make_config();
  const policy::PolicyConfig* const address = config.get();
  const std::string name = config->policy_name;
  auto e = create_enforcer(config, fresh_id("config"));
  config.reset();
  // One reference for `config`, one for the policy cell.
  EXPECT_EQ(e->config->ref_count_for_testing(), 2u);
  const policy::PolicyRef current = e->policy_cell->snapshot();
  EXPECT_EQ(current.get(), address);
  EXPECT_EQ(current->policy_name, name);
  EXPECT_EQ(e->config->policy_name, name);
}

TEST(CreateEnforcerTest, DroppingTheEnforcerReleasesBothConfigReferences) {
  auto config = make_config();
  auto e = create_enforcer(config, fresh_id("release"));
  EXPECT_EQ(config->ref_count_for_testing(), 3u);
  e.reset();
  EXPECT_EQ(config->ref_count_for_testing(), 1u);
}

TEST(SessionRegistryTest, OneStatePerIdAndACountOfIds) {
  SessionRegistry registry;
  EXPECT_EQ(registry.size(), 0u);
  const SessionState a = registry.get_or_create("a");
  const SessionState a2 = registry.get_or_create("a");
  const SessionState b = registry.get_or_create("b");
  EXPECT_EQ(a.vault, a2.vault);
  EXPECT_EQ(a.session_uuid, a2.session_uuid);
  EXPECT_NE(a.vault, b.vault);
  EXPECT_NE(a.session_uuid, b.session_uuid);
  EXPECT_EQ(registry.size(), 2u);
  // Distinct registries are independent.
  SessionRegistry other;
  EXPECT_NE(other.get_or_create("a").vault, a.vault);
}

}  // namespace
}  // namespace quorvel::enforcer
