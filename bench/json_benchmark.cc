// Reader plus writer throughput on a generated 1 MiB payload of chat
// messages: the floor under every encode and decode.
#include <benchmark/benchmark.h>

#include <string>

#include "json/reader.h"
#include "json/writer.h"

namespace {

std::string chat_payload(size_t target_bytes) {
  static const char* kWords[] = {"the", "order", "arrived", "late", "and", "I", "would", "like",
                                 "a", "refund", "please", "check", "my", "account", "thanks", "for",
                                 "your", "help", "with", "this", "\\\"quoted\\\"", "caf\xC3\xA9"};
  std::string out = "{\"messages\":[";
  uint64_t seed = 12345;
  bool first = true;
  while (out.size() < target_bytes) {
    if (!first) out += ',';
    first = false;
    out += R"({"role":")";
    out += (seed & 1) ? "user" : "assistant";
    out += R"(","content":")";
    for (int w = 0; w < 40; ++w) {
      seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
      out += kWords[(seed >> 33) % (sizeof kWords / sizeof *kWords)];
      out += ' ';
    }
    out += R"(","tokens":)" + std::to_string(seed % 1000) + R"(,"score":0.)" + std::to_string(seed % 97) + "}";
  }
  out += "]}";
  return out;
}

void BM_ReadWrite(benchmark::State& state) {
  const std::string text = chat_payload(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    quorvel::json::Arena arena;
    auto v = quorvel::json::parse(text, arena);
    quorvel::json::Writer w(text.size() + 64);
    w.value(v.value());
    benchmark::DoNotOptimize(w.view().data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ReadWrite)->Arg(1 << 20)->Arg(64 << 10)->Arg(1 << 10);

}  // namespace

BENCHMARK_MAIN();
