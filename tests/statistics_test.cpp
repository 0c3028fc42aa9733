// The three statistics procedures on made-up histograms, and the report of
// such histograms.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <tuple>

#include "census/analysis.h"
#include "census/guard.h"
#include "expected.h"
#include "rows.h"

namespace {

struct StatCase : Row {
  Histogram h;
  unsigned ch1_before;
  unsigned upper_value;
  std::uint64_t upper;
  unsigned lower_value;
  std::uint64_t lower;
  std::uint64_t average;
};

Histogram with(std::initializer_list<std::pair<unsigned, std::uint64_t>> entries,
               std::uint64_t rest = 0) {
  Histogram h;
  h.fill(rest);
  for (const auto& [v, n] : entries) h[v] = n;
  return h;
}

class Statistics : public testing::TestWithParam<StatCase> {};

TEST_P(Statistics, LimitsAndAverage) {
  const StatCase& c = GetParam();
  auto s = std::make_unique<AnalysisState>();
  s->ch1 = static_cast<std::uint8_t>(c.ch1_before);
  find_upper_limit(*s, c.h);
  EXPECT_EQ(s->ch1, c.upper_value);
  EXPECT_EQ(s->gross, c.upper);
  find_lower_limit(*s, c.h);
  EXPECT_EQ(s->ch1, c.lower_value);
  EXPECT_EQ(s->klein, c.lower);
  calculate_average(*s, c.h);
  EXPECT_EQ(s->mittel, c.average);

  // The same counts in both tables of a report: the second half starts its
  // searches afresh, whatever the counts.
  auto run = std::make_unique<AnalysisState>();
  run->code = run->code2 = c.h;
  const std::string path = testing::TempDir() + "report-" + c.name;
  run->dateizeiger2 = std::fopen(path.c_str(), "w+b");
  ASSERT_NE(run->dateizeiger2, nullptr);
  testing::internal::CaptureStdout();
  write_report(*run);
  const std::string console = testing::internal::GetCapturedStdout();
  std::ostringstream file;
  file << std::ifstream(path, std::ios::binary).rdbuf();
  unlink(path.c_str());
  const Report want = report_of(Census{c.h, c.h});
  EXPECT_EQ(first_difference(file.str(), want.file), "") << "in the result file";
  EXPECT_EQ(first_difference(console, want.console), "") << "on the console";
}

constexpr std::uint64_t big = std::uint64_t{1} << 40;

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Histograms, Statistics,
    testing::Values(
        // Nothing above 0: the upper limit keeps the value it had.
        StatCase{{"empty"}, with({}), 0x39, 0x39, 0, 0x0, 0, 0},
        StatCase{{"ties_go_to_the_smallest"}, with({{3, 5}, {7, 5}, {9, 1}}), 0x39, 3, 5, 0, 0, 0},
        StatCase{{"all_equal"}, with({}, 2), 0x39, 0, 2, 0, 2, 2},
        StatCase{{"rounds_down"}, with({{0, 255}}), 0, 0, 255, 1, 0, 0},
        // Counts past 2^32; the lowest is a count that occurs.
        StatCase{{"past_32_bits"}, with({{200, big + 1}, {17, 4294967296}}, big), 0x39, 200,
            big + 1, 17, 4294967296, (255 * big + 4294967297) / 256},
        StatCase{{"every_value_past_2_32"}, with({{5, 4294967297}}, 4294967300), 0x39, 0,
            4294967300, 5, 4294967297, 4294967299}),
    row_name);
// clang-format on

// The second search of a histogram goes on from what the first left.
TEST(Statistics, SearchesDoNotResetThemselves) {
  auto s = std::make_unique<AnalysisState>();
  s->gross = 10;
  s->klein = 1;
  s->mittel = 256;
  find_upper_limit(*s, with({{4, 9}}));
  find_lower_limit(*s, with({{4, 9}}, 3));
  calculate_average(*s, with({}, 1));
  EXPECT_EQ(s->gross, 10u);
  EXPECT_EQ(s->klein, 1u);
  EXPECT_EQ(s->ch1, 0x39);
  EXPECT_EQ(s->mittel, 2u);
}

// One file's facts, each refusal beside the one after it in the judge's order:
// the first that applies is the one said, on every system.
TEST(Judge, SaysTheFirstRefusalInItsOrder) {
  using K = ResultKind;
  using O = ResultOpen;
  const auto facts = [](K kind, Owner owner, bool link, bool device_name, bool input,
                        std::uint64_t names) {
    ResultFacts f;
    f.kind = kind, f.owner = owner, f.link = link, f.device_name = device_name;
    f.is_input = input, f.names = names;
    return f;
  };
  const Owner me = Owner::user;
  // clang-format off
  const std::tuple<ResultFacts, bool, bool, O> rows[] = {
      {facts(K::regular, Owner::other, true, false, true, 2), true, false, O::is_link},
      {facts(K::regular, Owner::other, false, false, true, 2), true, false, O::is_input},
      {facts(K::block_device, Owner::other, false, false, false, 1), true, false, O::block_device},
      {facts(K::character_device, Owner::other, false, true, false, 1), true, false, O::device},
      {facts(K::other, me, false, false, false, 1), true, false, O::device},
      {facts(K::regular, Owner::other, false, false, false, 2), false, true, O::foreign},
      {facts(K::fifo, Owner::system, false, false, false, 1), true, false, O::foreign},
      {facts(K::character_device, Owner::system, false, false, false, 1), true, false, O::opened},
      {facts(K::folder, me, false, false, false, 2), true, false, O::failed},
      {facts(K::regular, me, false, false, false, 2), false, true, O::many_names},
      {facts(K::regular, me, false, false, false, 1), false, true, O::not_own},
      {facts(K::regular, me, false, false, false, 1), true, true, O::is_input},
      {facts(K::regular, me, false, false, false, 1), true, false, O::opened},
  };
  // clang-format on
  for (const auto& [f, beginning, holds_input, said] : rows) {
    EXPECT_EQ(judge_result(f, beginning, holds_input), said) << static_cast<int>(said);
  }
}

}  // namespace
