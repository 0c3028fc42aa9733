// The fast block counter against the plain one that counts one byte at a time.
#include <gtest/gtest.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "census/analysis.h"
#include "census/sliced.h"
#include "rows.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Shape : Row {
  std::size_t length;  // the longest input; each trial draws its length up to it
  int kind;  // 0 random, 1 runs of one value, 2 only 0x00 and 0xff, 3 text, 4 two alternating
  long length_offset;     // laenge = length + offset: an input that grew or shrank
  std::uint64_t fold_at;  // pairs held before folding
};

Bytes make(const Shape& shape, std::mt19937& gen) {
  Bytes b(shape.length <= 1 ? shape.length : gen() % (shape.length + 1));
  unsigned value = gen() & 0xff;
  for (std::size_t i = 0; i < b.size(); ++i) {
    switch (shape.kind) {
      case 0:
        value = gen() & 0xff;
        break;
      case 1:
        if (gen() % 50 == 0) value = gen() & 0xff;
        break;
      case 2:
        value = (gen() & 1) != 0 ? 0xff : 0x00;
        break;
      case 3:
        value = static_cast<unsigned char>("etaoin shrdlu\n"[gen() % 14]);
        break;
      default:
        value = i % 2 == 0 ? 0x41 : 0xc3;
        break;
    }
    b[i] = static_cast<unsigned char>(value);
  }
  return b;
}

// Sanitized or emulated, the counters run many times slower.
#if defined(__SANITIZE_ADDRESS__) || defined(OCTET_EMULATED)
constexpr unsigned slowdown = 10;
#else
constexpr unsigned slowdown = 1;
#endif

// Runs the checks in a child process that must end within seconds of processor
// time: a counter that loops for ever (a fold that never comes) fails here by
// an assertion instead of hanging the suite, and a machine busy with other
// work does not fail it. The child prints its own failures.
void within_seconds(unsigned seconds, const std::function<void()>& checks) {
  std::fflush(stdout);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    itimerval limit{};
    limit.it_value.tv_sec = static_cast<time_t>(seconds) * slowdown;
    setitimer(ITIMER_PROF, &limit, nullptr);
    checks();
    std::fflush(stdout);
    _exit(testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_FALSE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPROF)
      << "the counter did not finish within " << seconds * slowdown
      << " s of processor time: it loops";
  ASSERT_TRUE(WIFEXITED(status)) << "the counter ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the checks above failed";
}

// Each counter this processor runs; the others are skipped, saying why (the
// test then returns at once).
void skip_unless_it_runs(Counter counter) {
  if (counter == Counter::bit_slices && !bit_slices_run_here()) {
    GTEST_SKIP() << "this processor lacks AVX-512 BW, VBMI or VPOPCNTDQ or GFNI: "
                    "the bit-sliced counter is not tested here";
  }
}

void count_in_blocks_as_plainly(const Shape& shape, Counter counter) {
  std::mt19937 gen(static_cast<unsigned>(shape.length * 31 + shape.kind));
  for (int trial = 0; trial < 16; ++trial) {
    const Bytes data = make(shape, gen);
    auto fast = std::make_unique<AnalysisState>();
    auto plain = std::make_unique<AnalysisState>();
    const long measured = static_cast<long>(data.size()) + shape.length_offset;
    const auto laenge = static_cast<std::uint64_t>(measured < 0 ? 0 : measured);
    fast->laenge = plain->laenge = laenge;
    fast->faltgrenze = shape.fold_at;
    fast->zaehlwerk = counter;
    count_block_plainly(*plain, data.data(), data.size());
    std::size_t at = 0;
    while (at < data.size()) {
      // Short blocks now and then, so that some block ends just past laenge;
      // long ones, so that stretches of 512 start anywhere in a block and
      // some block is long enough to be counted past its first 4 KiB.
      const std::size_t longest = std::array<std::size_t, 4>{4, 300, 3000, 12000}[gen() % 4];
      const std::size_t block = std::min<std::size_t>(data.size() - at, gen() % longest + 1);
      count_block(*fast, data.data() + at, block);
      at += block;
    }
    fold_counts(*fast);
    ASSERT_EQ(fast->code, plain->code) << "trial " << trial;
    ASSERT_EQ(fast->code2, plain->code2) << "trial " << trial;
    ASSERT_EQ(fast->laeufer, plain->laeufer);
    if (plain->laeufer > 0) {
      ASSERT_EQ(fast->ch_alt, plain->ch_alt);
    }
  }
}

class BlockCounter : public testing::TestWithParam<std::tuple<Shape, Counter>> {};

TEST_P(BlockCounter, EqualsPlainCountingForAnyCutIntoBlocks) {
  const Shape shape = std::get<0>(GetParam());
  const Counter counter = std::get<1>(GetParam());
  skip_unless_it_runs(counter);
  if (IsSkipped()) return;
  within_seconds(10, [&] { count_in_blocks_as_plainly(shape, counter); });
}

std::string counter_name(Counter counter) {
  return counter == Counter::pairs ? "pairs" : "bit_slices";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Inputs, BlockCounter,
    testing::Combine(testing::Values(
        Shape{{"one_byte"}, 1, 0, 0, UINT32_MAX},
        Shape{{"random"}, 30000, 0, 0, UINT32_MAX},
        Shape{{"runs"}, 30000, 1, 0, UINT32_MAX},
        Shape{{"zeros_and_ffs"}, 30000, 2, 0, UINT32_MAX},
        Shape{{"text"}, 30000, 3, 0, UINT32_MAX},
        Shape{{"alternating"}, 30000, 4, 0, UINT32_MAX},
        Shape{{"grew_after_measuring"}, 3000, 0, -1200, UINT32_MAX},
        Shape{{"grew_past_everything"}, 300, 1, -300, UINT32_MAX},
        Shape{{"shrank_after_measuring"}, 3000, 1, 500, UINT32_MAX},
        Shape{{"folds_often"}, 5000, 0, 0, 7},
        Shape{{"folds_in_runs"}, 1000, 1, 0, 1},
        Shape{{"folds_with_guard"}, 5000, 2, -77, 13}),
                     testing::Values(
        Counter::pairs,
        Counter::bit_slices)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_" +
             counter_name(std::get<1>(info.param));
    });
// clang-format on

// After a pass nothing of the password stays behind: not in the buffer, the
// pair table, the bit-planes or their counts, nor the byte held.
class Wiping : public testing::TestWithParam<Counter> {};

TEST_P(Wiping, LeavesNoBitOfThePassword) {
  skip_unless_it_runs(GetParam());
  if (IsSkipped()) return;
  auto s = std::make_unique<AnalysisState>();
  std::mt19937 gen(7);
  for (auto& b : s->puffer) b = static_cast<unsigned char>(gen() % 255 + 1);
  s->laenge = s->puffer.size();
  s->zaehlwerk = GetParam();
  count_block(*s, s->puffer.data(), s->puffer.size());
  const auto zero = [](const auto& a) {
    return std::all_of(a.begin(), a.end(), [](auto v) { return v == 0; });
  };
  // What the counter left, so that the wipe has something to wipe.
  if (GetParam() == Counter::bit_slices) {
    ASSERT_FALSE(zero(s->ebenen));
    ASSERT_FALSE(zero(s->scheiben));
  }
  ASSERT_FALSE(zero(s->paare));
  wipe_buffer(*s);
  EXPECT_TRUE(zero(s->puffer));
  EXPECT_TRUE(zero(s->paare));
  EXPECT_TRUE(zero(s->scheiben));
  EXPECT_TRUE(zero(s->ebenen));
  EXPECT_EQ(s->ch_alt, 0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Counters, Wiping, testing::Values(
        Counter::pairs,
        Counter::bit_slices),
                         [](const auto& info) { return counter_name(info.param); });
// clang-format on

// Pair counters are 32 bits wide: more than 2^32 pairs of one kind stay exact.
void count_past_32_bits() {
  auto s = std::make_unique<AnalysisState>();
  const std::size_t block = 1 << 20;
  const Bytes zeros(block, 0);
  const std::uint64_t blocks = (std::uint64_t{1} << 32) / block + 2;
  s->laenge = blocks * block;
  for (std::uint64_t i = 0; i < blocks; ++i) count_block(*s, zeros.data(), block);
  fold_counts(*s);
  EXPECT_EQ(s->code[0], s->laenge);
  EXPECT_EQ(s->code2[0], s->laenge - 1);
}

TEST(BlockCounter, CountsPast32BitsExactly) { within_seconds(10, count_past_32_bits); }

}  // namespace
