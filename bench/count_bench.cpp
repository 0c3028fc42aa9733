// Throughput of the block counter on random bytes, on letters drawn at random,
// and on a word list (where pairs come back every few bytes, as in real text).
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

#include "census/analysis.h"
#include "census/sliced.h"

namespace {

std::vector<unsigned char> input(bool text) {
  std::vector<unsigned char> b(std::size_t{256} * 1024);
  std::mt19937 gen(42);
  const char* letters = "etaoinshrdlucmfwypvbgkjqxz\n";
  for (auto& c : b) c = static_cast<unsigned char>(text ? letters[gen() % 27] : gen() & 0xff);
  return b;
}

// The first 256 KiB of the system's word list, repeated if it is shorter;
// empty if there is none.
std::vector<unsigned char> word_list() {
  std::ifstream in("/usr/share/dict/words", std::ios::binary);
  const std::vector<unsigned char> words{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
  // The analyzer takes the list read for never empty; a missing file gives none.
  // cppcheck-suppress knownConditionTrueFalse
  if (words.empty()) return {};
  std::vector<unsigned char> b;
  while (b.size() < std::size_t{256} * 1024) b.insert(b.end(), words.begin(), words.end());
  b.resize(std::size_t{256} * 1024);
  return b;
}

void count(benchmark::State& state, const std::vector<unsigned char>& block, Counter counter) {
  if (block.empty()) {
    state.SkipWithError("no /usr/share/dict/words");
    return;
  }
  if (counter == Counter::bit_slices && !bit_slices_run_here()) {
    state.SkipWithError("this processor lacks AVX-512 BW, VBMI or VPOPCNTDQ or GFNI");
    return;
  }
  auto s = std::make_unique<AnalysisState>();
  s->laenge = UINT64_MAX;
  s->zaehlwerk = counter;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    count_block(*s, block.data(), block.size());
    benchmark::DoNotOptimize(s->paare.data());
  }
  fold_counts(*s);
  benchmark::DoNotOptimize(s->code.data());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * block.size()));
}

void RandomBytes(benchmark::State& state, Counter counter) { count(state, input(false), counter); }
void Text(benchmark::State& state, Counter counter) { count(state, input(true), counter); }
void WordList(benchmark::State& state, Counter counter) { count(state, word_list(), counter); }

}  // namespace

// Each counter beside the other, on the same bytes.
BENCHMARK_CAPTURE(RandomBytes, pairs, Counter::pairs);
BENCHMARK_CAPTURE(RandomBytes, bit_slices, Counter::bit_slices);
BENCHMARK_CAPTURE(Text, pairs, Counter::pairs);
BENCHMARK_CAPTURE(Text, bit_slices, Counter::bit_slices);
BENCHMARK_CAPTURE(WordList, pairs, Counter::pairs);
BENCHMARK_CAPTURE(WordList, bit_slices, Counter::bit_slices);
BENCHMARK_MAIN();
