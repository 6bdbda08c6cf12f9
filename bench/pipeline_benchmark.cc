// Encode and decode throughput through the C interface, per workload, and
// the figures that watch per-token cost, thread scaling and memory. Prints
// Google Benchmark's lines, then one summary table.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "quorvel/quorvel.h"
#include "workload.h"

namespace {

using quorvel::bench::Shape;

struct Handles {
  ConfigHandle* config;
  Enforcer* enforcer;
};

Handles make_handles(bool active, const std::string& session) {
  const std::string policy = quorvel::bench::benchmark_policy(active);
  ConfigHandle* c = quorvel_config_from_json(policy.data(), policy.size());
  if (c == nullptr) std::abort();
  return {c, quorvel_enforcer_create(c, session.data(), session.size())};
}

// The payload member of an encode envelope.
std::string payload_of(const char* envelope) {
  const std::string s(envelope);
  const size_t start = std::string("{\"payload\":").size();
  return s.substr(start, s.rfind(",\"signature_injection_text\":") - start);
}

enum class Mode { kPassThrough, kEncode, kEncodeSigned, kDecode };
const char* const kModeNames[] = {"pass-through", "encode", "encode+sig", "decode"};

void BM_Workload(benchmark::State& state, Shape shape, size_t bytes, bool pii, Mode mode) {
  static int session = 0;
  const std::string payload = quorvel::bench::make_payload(shape, bytes, pii);
  Handles h = make_handles(mode != Mode::kPassThrough, "bench-" + std::to_string(++session));
  std::string input = payload;
  if (mode == Mode::kDecode) {
    char* enc = quorvel_encode(h.enforcer, payload.data(), payload.size(), 0);
    input = payload_of(enc);
    quorvel_free(enc);
  }
  for (auto _ : state) {
    char* out = mode == Mode::kDecode
                    ? quorvel_decode(h.enforcer, input.data(), input.size(), 1)
                    : quorvel_encode(h.enforcer, input.data(), input.size(), mode == Mode::kEncodeSigned);
    benchmark::DoNotOptimize(out);
    quorvel_free(out);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(payload.size()));
  quorvel_enforcer_drop(h.enforcer);
  quorvel_config_drop(h.config);
}

// Cost of one token in a session that already holds `state.range(0)`
// mappings.
void BM_TokenCost(benchmark::State& state) {
  static int session = 0;
  Handles h = make_handles(true, "tokens-" + std::to_string(++session));
  const auto prefill = static_cast<size_t>(state.range(0));
  std::string batch = "[";
  for (int i = 0; i < 1000; ++i) batch += std::string(i ? "," : "") + "\"call 123-45-" + std::to_string(1000 + i) + "\"";
  batch += "]";
  for (size_t done = 0; done < prefill; done += 1000) quorvel_free(quorvel_encode(h.enforcer, batch.data(), batch.size(), 0));
  const std::string one = "[\"123-45-6789\",\"987-65-4321\",\"555-12-3456\",\"111-22-3333\"]";
  for (auto _ : state) quorvel_free(quorvel_encode(h.enforcer, one.data(), one.size(), 0));
  state.SetItemsProcessed(state.iterations() * 4);
  quorvel_enforcer_drop(h.enforcer);
  quorvel_config_drop(h.config);
}
BENCHMARK(BM_TokenCost)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// Encoding from two threads through two enforcers, or one shared enforcer.
Handles g_shared;
void BM_Threads(benchmark::State& state, bool shared) {
  const std::string payload = quorvel::bench::make_payload(Shape::kChat, 64 << 10, true);
  Handles own{};
  if (!shared) own = make_handles(true, "threads-" + std::to_string(state.thread_index()));
  Enforcer* e = shared ? g_shared.enforcer : own.enforcer;
  for (auto _ : state) quorvel_free(quorvel_encode(e, payload.data(), payload.size(), 0));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(payload.size()));
  if (!shared) {
    quorvel_enforcer_drop(own.enforcer);
    quorvel_config_drop(own.config);
  }
}

std::string cpu_model() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown CPU";
}

// Peak resident memory of a fresh child process across one 1 MiB encode,
// beyond what it held after loading the library and building the payload.
long peak_rss_growth_kib(size_t bytes) {
  const pid_t pid = fork();
  if (pid == 0) {
    const std::string payload = quorvel::bench::make_payload(Shape::kChat, bytes, true);
    Handles h = make_handles(true, "memory");
    quorvel_free(quorvel_encode(h.enforcer, "[\"warm 123-45-6789\"]", 20, 0));
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    char* out = quorvel_encode(h.enforcer, payload.data(), payload.size(), 0);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    quorvel_free(out);
    _exit(static_cast<int>(std::min<long>(after.ru_maxrss - before.ru_maxrss, 100000) / 64));
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) * 64L : -1;
}

class TableReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      const std::string name = without_min_time(r.benchmark_name());
      auto it = r.counters.find("bytes_per_second");
      if (it != r.counters.end()) rate_[name] = it->second.value / 1e6;
      auto items = r.counters.find("items_per_second");
      if (items != r.counters.end()) per_item_ns_[name] = 1e9 / items->second.value;
    }
  }
  static std::string without_min_time(std::string name) {
    const size_t at = name.find("/min_time:");
    if (at == std::string::npos) return name;
    const size_t end = name.find('/', at + 1);
    return name.erase(at, end == std::string::npos ? std::string::npos : end - at);
  }
  std::map<std::string, double> rate_;
  std::map<std::string, double> per_item_ns_;
};

std::string workload_name(Shape shape, size_t bytes, bool pii) {
  const std::string size = bytes >= (1 << 20) ? "1MiB" : bytes >= (64 << 10) ? "64KiB" : "1KiB";
  return std::string(quorvel::bench::shape_name(shape)) + "/" + size + (pii ? "" : "/no-pii");
}

}  // namespace

int main(int argc, char** argv) {
  const size_t sizes[] = {1 << 10, 64 << 10, 1 << 20};
  for (Shape shape : {Shape::kChat, Shape::kToolCall}) {
    for (size_t bytes : sizes) {
      for (bool pii : {true, false}) {
        for (Mode mode : {Mode::kPassThrough, Mode::kEncode, Mode::kEncodeSigned, Mode::kDecode}) {
          const std::string name = workload_name(shape, bytes, pii) + "/" + kModeNames[static_cast<int>(mode)];
          benchmark::RegisterBenchmark(name.c_str(), BM_Workload, shape, bytes, pii, mode)->MinTime(0.2);
        }
      }
    }
  }
  g_shared = make_handles(true, "threads-shared");
  for (bool shared : {false, true}) {
    benchmark::RegisterBenchmark(shared ? "threads/one-enforcer" : "threads/own-enforcers", BM_Threads, shared)
        ->Threads(1)
        ->Threads(2)
        ->UseRealTime()
        ->MinTime(0.5);
  }

  benchmark::Initialize(&argc, argv);
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nCPU: %s, %u hardware threads\n", cpu_model().c_str(), std::thread::hardware_concurrency());
  std::printf("\n%-26s %14s %14s %14s %14s\n", "MB/s (payload bytes)", "pass-through", "encode", "encode+sig", "decode");
  for (Shape shape : {Shape::kChat, Shape::kToolCall}) {
    for (size_t bytes : sizes) {
      for (bool pii : {true, false}) {
        const std::string w = workload_name(shape, bytes, pii);
        std::printf("%-26s", w.c_str());
        for (const char* m : kModeNames) std::printf(" %14.1f", reporter.rate_[w + "/" + m]);
        std::printf("\n");
      }
    }
  }
  const double t1k = reporter.per_item_ns_["BM_TokenCost/1000"];
  const double t1m = reporter.per_item_ns_["BM_TokenCost/1000000"];
  if (t1k > 0) {
    std::printf("\ntoken cost: %.0f ns at 1,000 mappings, %.0f ns at 1,000,000 (ratio %.2f)\n", t1k, t1m, t1m / t1k);
  }
  auto rate = [&](const char* name) { return reporter.rate_[name]; };
  const double own1 = rate("threads/own-enforcers/real_time/threads:1");
  const double own2 = rate("threads/own-enforcers/real_time/threads:2");
  const double one1 = rate("threads/one-enforcer/real_time/threads:1");
  const double one2 = rate("threads/one-enforcer/real_time/threads:2");
  if (own1 > 0 && one1 > 0) {
    std::printf("threads: two enforcers %.2fx one thread, one shared enforcer %.2fx\n", own2 / own1, one2 / one1);
  }
  const long grew = peak_rss_growth_kib(1 << 20);
  std::printf("memory: peak resident growth during a 1 MiB encode: %ld KiB (%.1fx the payload)\n", grew,
              static_cast<double>(grew) / 1024.0);
  benchmark::Shutdown();
  return 0;
}
