// Throughput of the block counter on random bytes and on text.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "analysis.h"

namespace {

std::vector<unsigned char> input(bool text) {
  std::vector<unsigned char> b(std::size_t{256} * 1024);
  std::mt19937 gen(42);
  const char* letters = "etaoinshrdlucmfwypvbgkjqxz\n";
  for (auto& c : b) c = static_cast<unsigned char>(text ? letters[gen() % 27] : gen() & 0xff);
  return b;
}

void run(benchmark::State& state, bool text) {
  const auto block = input(text);
  auto s = std::make_unique<AnalysisState>();
  s->laenge = UINT64_MAX;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    count_block(*s, block.data(), block.size());
    benchmark::DoNotOptimize(s->paare.data());
  }
  fold_pairs(*s);
  benchmark::DoNotOptimize(s->code.data());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * block.size()));
}

void RandomBytes(benchmark::State& state) { run(state, false); }
void Text(benchmark::State& state) { run(state, true); }

}  // namespace

BENCHMARK(RandomBytes);
BENCHMARK(Text);
BENCHMARK_MAIN();
