// Costs of the in-memory token vault's operations at 1,000 and 1,000,000
// mappings, its memory per mapping beyond the bytes of the mapping texts, and
// how `get` scales from one reader thread to two. A summary follows the
// Google Benchmark table.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/clock.h"
#include "util/uuid.h"
#include "vault/in_memory_token_vault.h"

namespace {

using quorvel::vault::InMemoryTokenVault;
using quorvel::vault::TokenMapping;

constexpr int64_t kSmall = 1'000;
constexpr int64_t kLarge = 1'000'000;
constexpr std::string_view kTypes[] = {"EMAIL", "PHONE", "NAME"};
const quorvel::Uuid kSession = quorvel::random_uuid_v4();

// Distinct indices give distinct values: both steps are bijections of 32-bit
// words.
uint32_t value_of(uint64_t i) {
  uint32_t x = static_cast<uint32_t>(i) * 0x9E3779B1u;
  return x ^ (x >> 16);
}

// The eight-digit token value of mapping i, written into `out`.
std::string_view value_text(uint64_t i, char* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  const uint32_t v = value_of(i);
  for (int d = 0; d < 8; ++d) out[d] = kHex[(v >> (28 - 4 * d)) & 0xF];
  return {out, 8};
}

// "<TYPE:VALUE>" for mapping i, written into `out` (at least 24 bytes).
std::string_view key_text(uint64_t i, char* out) {
  const std::string_view type = kTypes[i % 3];
  size_t n = 0;
  out[n++] = '<';
  for (char c : type) out[n++] = c;
  out[n++] = ':';
  value_text(i, out + n);
  n += 8;
  out[n++] = '>';
  return {out, n};
}

TokenMapping mapping_of(uint64_t i) {
  char key[24];
  char value[8];
  TokenMapping m;
  m.token = std::string(key_text(i, key));
  m.original_value = "user" + std::string(value_text(i, value)) + "@example.com";
  m.pii_type = std::string(kTypes[i % 3]);
  m.session_id = "session-1";
  m.session_uuid = kSession;
  m.created_at = quorvel::utc_now();
  return m;
}

size_t text_bytes_of(const TokenMapping& m) {
  // The token is the key; session id and uuid are shared by the vault's
  // mappings and not counted per mapping.
  return m.token.size() + m.original_value.size() + m.pii_type.size();
}

void fill(InMemoryTokenVault& vault, uint64_t from, uint64_t to) {
  for (uint64_t i = from; i < to; ++i) {
    TokenMapping m = mapping_of(i);
    const std::string key = m.token;
    vault.insert(key, std::move(m));
  }
}

// One filled vault per (size, shard count), shared by the benchmarks that
// read it; writers remove what they add, so it keeps its size.
InMemoryTokenVault& filled_vault(int64_t size, int64_t shards) {
  static std::mutex mu;
  static std::map<std::pair<int64_t, int64_t>, std::unique_ptr<InMemoryTokenVault>> vaults;
  std::lock_guard lock(mu);
  auto& slot = vaults[{size, shards}];
  if (!slot) {
    slot = std::make_unique<InMemoryTokenVault>(static_cast<size_t>(shards));
    fill(*slot, 0, static_cast<uint64_t>(size));
  }
  return *slot;
}

// A per-thread xorshift sequence of indices below `n`.
class Picker {
 public:
  Picker(uint64_t n, uint64_t seed) : n_(n), x_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t next() {
    x_ ^= x_ << 13;
    x_ ^= x_ >> 7;
    x_ ^= x_ << 17;
    return x_ % n_;
  }

 private:
  uint64_t n_;
  uint64_t x_;
};

void BM_Get(benchmark::State& state) {
  const int64_t size = state.range(0);
  InMemoryTokenVault& vault = filled_vault(size, state.range(1));
  Picker pick(static_cast<uint64_t>(size), static_cast<uint64_t>(state.thread_index()) + 7);
  char key[24];
  for (auto _ : state) {
    auto m = vault.get(key_text(pick.next(), key));
    benchmark::DoNotOptimize(m);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_FindByValue(benchmark::State& state) {
  const int64_t size = state.range(0);
  InMemoryTokenVault& vault = filled_vault(size, state.range(1));
  Picker pick(static_cast<uint64_t>(size), 11);
  char value[8];
  for (auto _ : state) {
    auto m = vault.find_by_value(value_text(pick.next(), value));
    benchmark::DoNotOptimize(m);
  }
  state.SetItemsProcessed(state.iterations());
}

// Adds new mappings in batches of a tenth of the vault (at least 100),
// prepared and later removed outside the timing, so the vault stays between
// its size and 1.1 times it.
template <bool kReserve>
void insert_batches(benchmark::State& state) {
  const int64_t size = state.range(0);
  InMemoryTokenVault& vault = filled_vault(size, state.range(1));
  const size_t batch = static_cast<size_t>(std::max<int64_t>(100, size / 10));
  const uint64_t first = static_cast<uint64_t>(size);
  std::vector<TokenMapping> mappings;
  std::vector<std::string> keys;
  std::vector<std::string> values;
  auto prepare = [&] {
    mappings.clear();
    keys.clear();
    values.clear();
    char value[8];
    for (uint64_t i = first; i < first + batch; ++i) {
      mappings.push_back(mapping_of(i));
      keys.push_back(mappings.back().token);
      values.emplace_back(value_text(i, value));
    }
  };
  auto remove_added = [&](size_t added) {
    for (size_t j = 0; j < added; ++j) vault.remove(keys[j]);
  };
  prepare();
  size_t j = 0;
  for (auto _ : state) {
    if (j == batch) {
      state.PauseTiming();
      remove_added(j);
      prepare();
      j = 0;
      state.ResumeTiming();
    }
    if constexpr (kReserve) {
      const bool stored = vault.insert_if_value_free(values[j], keys[j], std::move(mappings[j]));
      benchmark::DoNotOptimize(stored);
    } else {
      vault.insert(keys[j], std::move(mappings[j]));
    }
    ++j;
  }
  remove_added(j);
  state.SetItemsProcessed(state.iterations());
}

void BM_Insert(benchmark::State& state) { insert_batches<false>(state); }
void BM_InsertIfValueFree(benchmark::State& state) { insert_batches<true>(state); }

// Heap bytes in use, from the allocator's own count.
size_t heap_in_use() { return mallinfo2().uordblks; }

void BM_MemoryPerMapping(benchmark::State& state) {
  const int64_t size = state.range(0);
  for (auto _ : state) {
    const size_t before = heap_in_use();
    auto vault = std::make_unique<InMemoryTokenVault>();
    size_t text = 0;
    for (uint64_t i = 0; i < static_cast<uint64_t>(size); ++i) {
      TokenMapping m = mapping_of(i);
      text += text_bytes_of(m);
      const std::string key = m.token;
      vault->insert(key, std::move(m));
    }
    const size_t after = heap_in_use();
    const double n = static_cast<double>(size);
    state.counters["heap_per_mapping"] = static_cast<double>(after - before) / n;
    state.counters["text_per_mapping"] = static_cast<double>(text) / n;
    state.counters["beyond_text"] = static_cast<double>(after - before - text) / n;
    state.PauseTiming();
    vault.reset();
    state.ResumeTiming();
  }
}

// A chain of dependent reads through randomly placed 64-byte blocks: what
// one cache and TLB miss costs on this machine, the floor under any lookup
// in a table far larger than the caches.
void BM_RandomReadReference(benchmark::State& state) {
  struct alignas(64) Block {
    Block* next;
  };
  const size_t n = static_cast<size_t>(state.range(0)) / sizeof(Block);
  std::vector<Block> blocks(n);
  std::vector<size_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = i;
  Picker pick(n, 3);
  for (size_t i = n - 1; i > 0; --i) std::swap(order[i], order[pick.next() % i]);  // one cycle
  for (size_t i = 0; i < n; ++i) blocks[order[i]].next = &blocks[order[(i + 1) % n]];
  Block* p = &blocks[order[0]];
  for (auto _ : state) {
    p = p->next;
    benchmark::DoNotOptimize(p);
  }
}

constexpr int64_t kShards = InMemoryTokenVault::kDefaultShardCount;

BENCHMARK(BM_Insert)->Args({kSmall, kShards})->Args({kLarge, kShards});
BENCHMARK(BM_Get)->Args({kSmall, kShards})->Args({kLarge, kShards});
BENCHMARK(BM_FindByValue)->Args({kSmall, kShards})->Args({kLarge, kShards});
BENCHMARK(BM_InsertIfValueFree)->Args({kSmall, kShards})->Args({kLarge, kShards});
// Reader scaling: the striped vault, and a single-shard one for comparison.
BENCHMARK(BM_Get)
    ->Args({kSmall, kShards})
    ->Args({kLarge, kShards})
    ->Args({kSmall, 1})
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();
BENCHMARK(BM_MemoryPerMapping)->Arg(kLarge)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RandomReadReference)->Arg(int64_t{128} << 20);

// Keeps every run so the summary can compare them.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      if (!run.error_occurred) runs_[run.benchmark_name()] = run;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // The median over repetitions when there were several.
  const Run* find(const std::string& name) const {
    auto it = runs_.find(name + "_median");
    if (it == runs_.end()) it = runs_.find(name);
    return it == runs_.end() ? nullptr : &it->second;
  }

 private:
  std::map<std::string, Run> runs_;
};

// Time per operation of one thread. CPU time, since the machine may be
// shared and wall time then counts other programs' turns.
double cpu_ns_per_op(const benchmark::BenchmarkReporter::Run& run) {
  return run.cpu_accumulated_time * 1e9 / static_cast<double>(run.iterations);
}

double counter(const benchmark::BenchmarkReporter::Run& run, const char* name) {
  auto it = run.counters.find(name);
  return it == run.counters.end() ? 0.0 : it->second.value;
}

void print_summary(const CollectingReporter& r) {
  const std::string small = "/" + std::to_string(kSmall) + "/" + std::to_string(kShards);
  const std::string large = "/" + std::to_string(kLarge) + "/" + std::to_string(kShards);
  std::printf("\nSummary: CPU ns per operation, %lld shards\n", static_cast<long long>(kShards));
  std::printf("%-20s %12s %16s %8s\n", "operation", "1,000 maps", "1,000,000 maps", "ratio");
  for (const char* op : {"BM_Insert", "BM_Get", "BM_FindByValue", "BM_InsertIfValueFree"}) {
    const auto* a = r.find(std::string(op) + small);
    const auto* b = r.find(std::string(op) + large);
    if (a == nullptr || b == nullptr) continue;
    std::printf("%-20s %12.1f %16.1f %7.2fx\n", op + 3, cpu_ns_per_op(*a), cpu_ns_per_op(*b),
                cpu_ns_per_op(*b) / cpu_ns_per_op(*a));
  }
  if (const auto* ref = r.find("BM_RandomReadReference/" + std::to_string(int64_t{128} << 20))) {
    std::printf("one dependent random read over 128 MiB: %.1f ns\n", cpu_ns_per_op(*ref));
  }
  if (const auto* m = r.find("BM_MemoryPerMapping/" + std::to_string(kLarge) + "/iterations:1")) {
    std::printf("memory at 1,000,000 mappings: %.1f heap bytes per mapping, of which %.1f text, "
                "%.1f beyond text\n",
                counter(*m, "heap_per_mapping"), counter(*m, "text_per_mapping"),
                counter(*m, "beyond_text"));
  }
  const std::pair<const char*, std::string> scaling[] = {
      {"16 shards, 1,000 mappings", small},
      {"16 shards, 1,000,000 mappings", large},
      {"1 shard, 1,000 mappings", "/" + std::to_string(kSmall) + "/1"},
  };
  for (const auto& [label, args] : scaling) {
    const auto* one = r.find("BM_Get" + args + "/real_time/threads:1");
    const auto* two = r.find("BM_Get" + args + "/real_time/threads:2");
    if (one == nullptr || two == nullptr) continue;
    // Wall-clock throughput needs two idle cores. CPU time per get shows
    // what the threads cost each other whatever else runs; two threads
    // that do not slow each other do twice the work per unit of wall time
    // once they have the cores.
    const double cpu_one = cpu_ns_per_op(*one);
    const double cpu_two = cpu_ns_per_op(*two);
    std::printf("get, 2 threads vs 1 (%s): wall-clock throughput %.2fx; CPU ns per get %.1f vs "
                "%.1f, so %.2fx with two free cores\n",
                label, counter(*two, "items_per_second") / counter(*one, "items_per_second"), cpu_two,
                cpu_one, 2 * cpu_one / cpu_two);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  print_summary(reporter);
  return 0;
}
