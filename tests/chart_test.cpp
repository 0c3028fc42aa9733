// The chart's reading of result files and its figures, against figures
// computed independently (tests/reference_figures.py: 80-digit decimal
// arithmetic, its own series and continued fraction for the chi-square tail).
#include "chart.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "expected.h"
#include "harness.h"
#include "rows.h"

namespace {

std::string sample() {
  std::ifstream in(std::string(OCTET_SOURCE_DIR) + "/examples/passwords.txt", std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// The bytes of the reference's random case: the top byte of a 64-bit LCG.
std::string lcg_bytes(std::size_t n) {
  std::string s;
  std::uint64_t x = 1;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 6364136223846793005u + 1442695040888963407u;
    s.push_back(static_cast<char>(x >> 56));
  }
  return s;
}

std::string all_values_four_times() {
  std::string s;
  for (int round = 0; round < 4; ++round) {
    for (unsigned v = 0; v < 256; ++v) s.push_back(static_cast<char>(v));
  }
  return s;
}

Tables tables_of(const std::string& bytes) {
  const Census c = census_of(bytes);
  return {c.code, c.code2};
}

struct FigureCase : Row {
  std::function<std::string()> input;
  std::uint64_t bytes;
  unsigned distinct;
  double entropy;
  std::optional<double> evenness, chi_square, p_value;
  std::uint64_t pairs, repeats, steps_of_one;
  double difference_entropy;
};

class ChartFigures : public testing::TestWithParam<FigureCase> {};

void expect_close(const std::optional<double>& got, const std::optional<double>& want,
                  const char* what) {
  ASSERT_EQ(got.has_value(), want.has_value()) << what;
  if (want) {
    EXPECT_NEAR(*got, *want, 1e-6 * std::max(1.0, std::abs(*want))) << what;
  }
}

TEST_P(ChartFigures, AgreeWithTheReference) {
  const FigureCase& c = GetParam();
  const Figures f = figures_of(tables_of(c.input()));
  EXPECT_EQ(f.bytes, c.bytes);
  EXPECT_EQ(f.distinct, c.distinct);
  expect_close(f.entropy, c.entropy, "entropy");
  expect_close(f.evenness, c.evenness, "evenness");
  expect_close(f.chi_square, c.chi_square, "chi_square");
  expect_close(f.p_value, c.p_value, "p_value");
  EXPECT_EQ(f.pairs, c.pairs);
  EXPECT_EQ(f.repeats, c.repeats);
  EXPECT_EQ(f.steps_of_one, c.steps_of_one);
  expect_close(f.difference_entropy, c.difference_entropy, "difference_entropy");
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ChartFigures,
    testing::Values(
        FigureCase{{"empty"}, [] { return ""; }, 0, 0, 0, {}, {}, {}, 0, 0, 0, 0},
        FigureCase{
            {"one_byte"}, [] { return "a"; }, 1, 1, 0, {}, 255.0, 0.48822252177040637, 0, 0, 0, 0},
        FigureCase{{"all_values_four_times"},
                   all_values_four_times,
                   1024,
                   256,
                   8.0,
                   1.0,
                   0.0,
                   1.0,
                   1023,
                   0,
                   1020,
                   0.028897963373678046},
        FigureCase{{"word_list_sample"},
                   sample,
                   365,
                   66,
                   5.440807688885355,
                   0.9001411194316425,
                   2638.9671232876713,
                   0.0,
                   364,
                   21,
                   21,
                   6.008862858592959},
        FigureCase{{"random_bytes"},
                   [] { return lcg_bytes(65536); },
                   65536,
                   256,
                   7.997366094178411,
                   0.9996707617723014,
                   238.59375,
                   0.7620727658871829,
                   65535,
                   248,
                   456,
                   7.716375076981197}),
    row_name);

// The tail itself, relative to 1e-6 down to 1e-296.
TEST(ChartFigures, ChiSquareTailMatchesTheReference) {
  const std::pair<double, double> rows[] = {{127.5, 0.999999999998596},
                                            {255, 0.48822252177040637},
                                            {300, 0.02772752205390483},
                                            {1000, 9.378477343658398e-89},
                                            {2150, 1.7151104185e-296}};
  for (const auto& [x, q] : rows) EXPECT_NEAR(chi_square_tail(x) / q, 1, 1e-6) << x;
}

// A result file edited one way or another: where reading stops, and why.
struct Edit : Row {
  std::function<void(std::string&)> edit;
  std::size_t line;  // 0: accepted
  std::string expected;
};

void replace(std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

class ReadingResults : public testing::TestWithParam<Edit> {};

TEST_P(ReadingResults, AcceptOnlyWhatTheToolWrites) {
  const Edit& c = GetParam();
  const std::string bytes = sample();
  std::string text = report_of(census_of(bytes)).file;
  c.edit(text);
  Tables t;
  ReadError error;
  const bool read = read_result(text, t, error);
  EXPECT_EQ(read, c.line == 0) << error.line << ": " << error.expected;
  if (c.line == 0) {
    EXPECT_EQ(t.code, census_of(bytes).code);
    EXPECT_EQ(t.code2, census_of(bytes).code2);
  } else {
    EXPECT_EQ(error.line, c.line);
    EXPECT_TRUE(contains(error.expected, c.expected)) << error.expected;
  }
}

std::string lf_only(std::string text) {
  for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Edits, ReadingResults,
    testing::Values(
        Edit{{"as_written"}, [](std::string&) {}, 0, ""},
        Edit{{"lf_alone"}, [](std::string& t) { t = lf_only(t); }, 0, ""},
        Edit{{"truncated"},
             [](std::string& t) { t.resize(t.find("Byte 0x64 ")); },
             104,
             "\"Byte 0x64 = COUNT \", found the end of the file"},
        Edit{{"last_line_end_missing"},
             [](std::string& t) { t.resize(t.size() - 2); },
             532,
             "and its line end"},
        Edit{{"a_heading_edited"},
             [](std::string& t) { replace(t, "Byte allocation: ", "Byte allocation:"); },
             2,
             "expected \"Byte allocation: \""},
        Edit{{"an_extra_line"},
             [](std::string& t) { t += "\r\n"; },
             533,
             "expected the end of the file"},
        Edit{{"mixed_line_ends"},
             [](std::string& t) { replace(t, "Byte 0x7 = 0 \r\n", "Byte 0x7 = 0 \n"); },
             11,
             "\"Byte 0x7 = COUNT \""},
        Edit{
            {"count_past_2_64"},
            [](std::string& t) { replace(t, "Byte 0x0 = 0 ", "Byte 0x0 = 18446744073709551616 "); },
            4,
            "a count from 0 to 18446744073709551615"},
        Edit{{"signed_count"},
             [](std::string& t) { replace(t, "Byte 0x0 = 0 ", "Byte 0x0 = +0 "); },
             4,
             "a count"},
        Edit{{"space_out_of_place"},
             [](std::string& t) { replace(t, "Byte 0x1 = 0 ", "Byte 0x1 =  0 "); },
             5,
             "a count"},
        Edit{{"upper_limit_disagrees"},
             [](std::string& t) { replace(t, "Byte 0xa = 30 times", "Byte 0xa = 31 times"); },
             261,
             "expected the upper limit 30"},
        Edit{{"limit_names_another_value"},
             [](std::string& t) { replace(t, "Byte 0xa = 30 times", "Byte 0xb = 30 times"); },
             261,
             "0xb holds 0"},
        Edit{{"average_disagrees"},
             [](std::string& t) { replace(t, "frequency = 1 \r\n\r\n", "frequency = 2 \r\n\r\n"); },
             265,
             "expected the average 1"},
        Edit{{"a_table_edited_with_its_summary"},
             [](std::string& t) {
               // One more 0x0 byte, its limits and average still true, but the
               // differences no longer add up to the bytes less one.
               replace(t, "Byte 0x0 = 0 ", "Byte 0x0 = 1 ");
               replace(t, "lower limit is Byte 0x0 = 0", "lower limit is Byte 0x1 = 0");
             },
             526,
             "add up to 365, the bytes less one; they add up to 364"}),
    row_name);

}  // namespace
