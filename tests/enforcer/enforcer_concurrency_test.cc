// Concurrent first creations of enforcers for one new session id must end
// with every enforcer on the same vault and uuid.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "enforcer/enforcer.h"
#include "enforcer/session_registry.h"
#include "policy/model.h"

#include "start_line.h"

namespace quorvel::enforcer {
namespace {

using quorvel::testing::StartLine;
using quorvel::testing::racing_threads;

const int kThreads = racing_threads();
constexpr int kRounds = 50;
constexpr int kIdsPerRound = 16;
constexpr size_t kIds = kRounds * kIdsPerRound;

// Runs `make(thread, id index)` on every thread for every id, all threads
// walking a round's ids in the same order so that they keep colliding on one
// id.
template <class Make>
void race_over_ids(Make make) {
  StartLine start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int r = 0; r < kRounds; ++r) {
        start.arrive_and_wait(r, t);
        for (size_t i = static_cast<size_t>(r) * kIdsPerRound; i < static_cast<size_t>(r + 1) * kIdsPerRound; ++i) {
          make(static_cast<size_t>(t), i);
        }
      }
    });
  }
  for (auto& th : threads) th.join();
}

TEST(EnforcerRaceTest, FirstCreationsOfOneSessionShareOneVault) {
  const auto config = policy::PolicyRef::adopt(policy::default_policy().release());
  const std::string prefix = "race/" + format_uuid(random_uuid_v4()) + "/";
  std::vector<std::string> ids;
  for (size_t i = 0; i < kIds; ++i) ids.push_back(prefix + std::to_string(i));
  std::vector<std::vector<std::unique_ptr<Enforcer>>> made(kIds);
  for (auto& row : made) row.resize(static_cast<size_t>(kThreads));

  race_over_ids([&](size_t t, size_t i) { made[i][t] = create_enforcer(config, ids[i]); });

  for (size_t i = 0; i < kIds; ++i) {
    SCOPED_TRACE(ids[i]);
    const auto& row = made[i];
    for (const auto& e : row) {
      ASSERT_NE(e, nullptr);
      ASSERT_EQ(e->vault, row[0]->vault);
      ASSERT_EQ(e->session_uuid, row[0]->session_uuid);
    }
    // A later enforcer joins the same session; the registry and this id's
    // enforcers are the only holders of its vault.
    auto later = create_enforcer(config, ids[i]);
    EXPECT_EQ(later->vault, row[0]->vault);
    EXPECT_EQ(later->session_uuid, row[0]->session_uuid);
    EXPECT_EQ(row[0]->vault.use_count(), kThreads + 2);
  }
}

TEST(EnforcerRaceTest, RegistryHoldsOneEntryPerRacedId) {
  SessionRegistry registry;
  std::vector<std::string> ids;
  for (size_t i = 0; i < kIds; ++i) ids.push_back("id-" + std::to_string(i));
  std::vector<std::vector<SessionState>> got(kIds, std::vector<SessionState>(static_cast<size_t>(kThreads)));

  race_over_ids([&](size_t t, size_t i) { got[i][t] = registry.get_or_create(ids[i]); });

  EXPECT_EQ(registry.size(), kIds);
  for (size_t i = 0; i < kIds; ++i) {
    SCOPED_TRACE(ids[i]);
    const SessionState now = registry.get_or_create(ids[i]);
    for (const auto& state : got[i]) {
      ASSERT_EQ(state.vault, now.vault);
      ASSERT_EQ(state.session_uuid, now.session_uuid);
    }
  }
}

}  // namespace
}  // namespace quorvel::enforcer
