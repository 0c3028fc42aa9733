// The chart's reading of result files and its figures, against figures
// computed independently (tests/reference_figures.py: 80-digit decimal
// arithmetic, its own series and continued fraction for the chi-square tail).
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "chart_drawing.h"
#include "chart_text.h"
#include "chart_words.h"
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
        FigureCase{{"two_values"},
                   [] { return "aab"; },
                   3,
                   2,
                   0.9182958340544896,
                   0.9182958340544896,
                   423.6666666666667,
                   1.5899845372448275e-10,
                   2,
                   1,
                   1,
                   1.0},
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

// Lines of drawn characters, as the reference draws them: bits 33 and up of
// the same LCG choose each line's length and then each character.
std::string drawn_list(int lines, unsigned shortest, unsigned longest, const std::string& alphabet,
                       const std::string& end, std::uint64_t seed) {
  std::uint64_t x = seed;
  const auto draw = [&] {
    x = x * 6364136223846793005u + 1442695040888963407u;
    return x >> 33;
  };
  std::string s;
  for (int line = 0; line < lines; ++line) {
    const auto length = shortest + draw() % (longest - shortest + 1);
    for (std::uint64_t i = 0; i < length; ++i) s += alphabet[draw() % alphabet.size()];
    s += end;
  }
  return s;
}

std::string printable() {
  std::string s;
  for (char c = 0x20; c < 0x7f; ++c) s += c;
  return s;
}

struct ListCase : Row {
  std::function<std::string()> input;
  double expected_repeats, expected_steps_of_one;
  std::optional<ListFigures> list;  // none: not a list
};

ListFigures list_of(std::uint64_t lines, bool crlf, std::uint64_t characters, double mean_length,
                    std::vector<const char*> classes, unsigned alphabet, double entropy,
                    double ceiling, double estimate, double chi_square, double p_value) {
  ListFigures l;
  l.lines = lines;
  l.crlf = crlf;
  l.characters = characters;
  l.mean_length = mean_length;
  l.classes = std::move(classes);
  l.alphabet = alphabet;
  l.character_entropy = entropy;
  l.ceiling_bits = ceiling;
  l.estimate_bits = estimate;
  l.chi_square = chi_square;
  l.degrees_of_freedom = alphabet - 1;
  l.p_value = p_value;
  return l;
}

class ChartLists : public testing::TestWithParam<ListCase> {};

TEST_P(ChartLists, AgreeWithTheReference) {
  const ListCase& c = GetParam();
  const Figures f = figures_of(tables_of(c.input()));
  EXPECT_NEAR(f.expected_repeats, c.expected_repeats, 1e-3 * c.expected_repeats);
  EXPECT_NEAR(f.expected_steps_of_one, c.expected_steps_of_one, 1e-3 * c.expected_steps_of_one);
  ASSERT_EQ(f.list.has_value(), c.list.has_value());
  if (!c.list) return;
  const ListFigures& got = *f.list;
  const ListFigures& want = *c.list;
  EXPECT_EQ(got.lines, want.lines);
  EXPECT_EQ(got.crlf, want.crlf);
  EXPECT_EQ(got.characters, want.characters);
  EXPECT_EQ(std::vector<std::string>(got.classes.begin(), got.classes.end()),
            std::vector<std::string>(want.classes.begin(), want.classes.end()));
  EXPECT_EQ(got.alphabet, want.alphabet);
  EXPECT_EQ(got.degrees_of_freedom, want.degrees_of_freedom);
  expect_close(got.mean_length, want.mean_length, "mean_length");
  expect_close(got.character_entropy, want.character_entropy, "character_entropy");
  expect_close(got.ceiling_bits, want.ceiling_bits, "ceiling_bits");
  expect_close(got.estimate_bits, want.estimate_bits, "estimate_bits");
  expect_close(got.chi_square, want.chi_square, "chi_square");
  expect_close(got.p_value, want.p_value, "p_value");
}

// The figures printed by tests/reference_figures.py.
INSTANTIATE_TEST_SUITE_P(
    Inputs, ChartLists,
    testing::Values(ListCase{{"word_list_sample"},
                             sample,
                             9.194163510804188,
                             10.805791935843173,
                             list_of(30, false, 335, 11.166666666666666,
                                     {"digits", "small letters", "capitals", "other printable"}, 95,
                                     5.481485362020707, 73.36338762636225, 61.20991987589789,
                                     624.3582089552239, 3.113827242173174e-79)},
                    ListCase{{"uniform_printable"},
                             [] { return drawn_list(2000, 12, 12, printable(), "\n", 7); },
                             232.3716388888889,
                             458.0764375,
                             list_of(2000, false, 24000, 12.0,
                                     {"digits", "small letters", "capitals", "other printable"}, 95,
                                     6.567380850104802, 78.83826729997138, 78.80857020125762,
                                     82.15166666666667, 0.8034992083688902)},
                    ListCase{{"pins_lf"},
                             [] { return drawn_list(3000, 4, 4, "0123456789", "\n", 11); },
                             901.29875,
                             1625.000625,
                             list_of(3000, false, 12000, 4.0, {"digits"}, 10, 3.3208853593104064,
                                     13.287712379549449, 13.283541437241626, 17.316666666666666,
                                     0.04398186294939384)},
                    ListCase{{"pins_crlf"},
                             [] { return drawn_list(3000, 4, 4, "0123456789", "\r\n", 11); },
                             901.29875,
                             1625.000625,
                             list_of(3000, true, 12000, 4.0, {"digits"}, 10, 3.3208853593104064,
                                     13.287712379549449, 13.283541437241626, 17.316666666666666,
                                     0.04398186294939384)},
                    ListCase{{"mixed_lengths_tab_and_high_bytes"},
                             [] {
                               return drawn_list(1000, 1, 20,
                                                 "abcdefghijklmnopqrstuvwxyz0123456789\t\xc3", "\n",
                                                 5);
                             },
                             248.64206762423623,
                             493.9520649163027,
                             list_of(1000, false, 10411, 10.411,
                                     {"digits", "small letters", "tab", "0x80 and above"}, 165,
                                     5.245055289146005, 76.69078057251319, 54.60627061529905,
                                     34974.301604072614, 0.0)},
                    ListCase{{"random_bytes_not_a_list"},
                             [] { return lcg_bytes(65536); },
                             256.9280863646418,
                             510.0042722770013,
                             {}}),
    row_name);

// The tail itself, relative to 1e-6 down to 1e-296.
TEST(ChartFigures, ChiSquareTailMatchesTheReference) {
  const std::pair<double, double> rows[] = {{127.5, 0.999999999998596},
                                            {255, 0.48822252177040637},
                                            {300, 0.02772752205390483},
                                            {1000, 9.378477343658398e-89},
                                            {2150, 1.7151104185e-296}};
  for (const auto& [x, q] : rows) EXPECT_NEAR(chi_square_tail(x, 255) / q, 1, 1e-6) << x;
}

// A result file edited one way or another: where reading stops, and why.
struct Edit : Row {
  std::function<void(std::string&)> edit;
  std::size_t line;  // 0: accepted
  std::string expected;
  std::optional<Census> tables{};  // the result of these tables instead of the sample's
};

// The tables of n bytes of 0x0; of two values, n of each, one after the other.
Census zeros(std::uint64_t n) {
  Census c;
  c.code[0] = n;
  c.code2[0] = n - 1;
  return c;
}
Census two_runs(std::uint64_t n) {
  Census c = zeros(n);
  c.code[1] = n;
  c.code2[0] = 2 * (n - 1);  // past 2^64 for large n: the sums are refused before
  c.code2[1] = 1;
  return c;
}

void replace(std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

class ReadingResults : public testing::TestWithParam<Edit> {};

TEST_P(ReadingResults, AcceptOnlyWhatTheToolWrites) {
  const Edit& c = GetParam();
  const Census tables = c.tables ? *c.tables : census_of(sample());
  std::string text = report_of(tables).file;
  c.edit(text);
  Tables t;
  ReadError error;
  const bool read = read_result(text, t, error);
  EXPECT_EQ(read, c.line == 0) << error.line << ": " << error.expected;
  if (c.line == 0) {
    EXPECT_EQ(t.code, tables.code);
    EXPECT_EQ(t.code2, tables.code2);
  } else {
    EXPECT_EQ(error.line, c.line);
    EXPECT_EQ(error.beginning, c.line <= 3);
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
        Edit{{"count_with_a_leading_zero"},
             [](std::string& t) { replace(t, "Byte 0x0 = 0 ", "Byte 0x0 = 00 "); },
             4,
             "a count"},
        Edit{{"value_with_a_leading_zero"},
             [](std::string& t) { replace(t, "Byte 0xa = 30 \r\n", "Byte 0x0a = 30 \r\n"); },
             14,
             "\"Byte 0xa = COUNT \""},
        Edit{{"count_of_20_digits"}, [](std::string&) {}, 0, "", zeros(10000000000000000000u)},
        Edit{{"of_an_empty_file"}, [](std::string&) {}, 0, "", Census{}},
        Edit{{"counts_adding_up_past_2_64"},
             [](std::string&) {},
             259,
             "add up to at most 18446744073709551615",
             two_runs(std::uint64_t{1} << 63)},
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
             "to name 0xa, the first value with the count 30"},
        Edit{{"limit_names_a_later_value_of_its_count"},
             [](std::string& t) {
               replace(t, "lower limit is Byte 0x0 ", "lower limit is Byte 0x1 ");
             },
             262,
             "to name 0x0, the first value with the count 0"},
        Edit{{"empty_file_upper_limit_not_the_carried_value"},
             [](std::string& t) {
               replace(t, "upper limit is Byte 0x39 ", "upper limit is Byte 0x0 ");
             },
             261,
             "to name 0x39, which the tool names when no count is above 0",
             Census{}},
        Edit{{"differences_of_one_byte_carry_the_bytes_lower_limit"},
             [](std::string& t) {
               replace(t, "upper limit is difference 0x0 ", "upper limit is difference 0x1 ");
             },
             528,
             "to name 0x0",
             census_of("a")},
        Edit{{"a_password_list_instead"},
             [](std::string& t) { t = "Secr3t!pw\n"; },
             1,
             "expected \"\""},
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

// What the chart program says of a file: its JSON whole, where the row gives
// it, and the verdict's line.
struct Said : Row {
  std::function<Figures()> figures;
  std::string file;  // the result file's name
  std::string json;  // "" where the row does not check it
  std::string verdict;
};

Figures of_bytes(const std::string& bytes) { return figures_of(tables_of(bytes)); }

std::string verdict_line(const std::string& words) {
  const std::size_t at = words.find("\nVerdict: ");
  return at == std::string::npos ? "" : words.substr(at + 1, words.find('\n', at + 1) - at - 1);
}

class ChartWords : public testing::TestWithParam<Said> {};

TEST_P(ChartWords, SayWhatTheFiguresMean) {
  const Said& c = GetParam();
  const Figures f = c.figures();
  if (!c.json.empty()) {
    EXPECT_EQ(json_of(f, c.file), c.json);
  }
  EXPECT_EQ(verdict_line(words_of(f, c.file)), c.verdict);
}

const std::string uniform = "; a uniform draw over all 256 byte values is ";
const std::string plausible = uniform + "plausible (p >= 0.01).";
const std::string implausible = uniform + "not plausible (p < 0.01).";
// A row at a bound of the verdict: figures of ten values made up with this
// evenness and this p-value, and the verdict they must get.
Said at_bound(const char* name, double evenness, double p, const char* how, const char* shown,
              bool is_plausible) {
  const auto figures = [=] {
    Figures f;
    f.bytes = 1000;
    f.distinct = 10;
    f.entropy = evenness * std::log2(10.0);
    f.evenness = evenness;
    f.chi_square = 1;
    f.p_value = p;
    return f;
  };
  return {{name},
          figures,
          "r",
          "",
          std::string("Verdict: the 10 values that occur are used ") + how + " (evenness " + shown +
              ")" + (is_plausible ? plausible : implausible)};
}

INSTANTIATE_TEST_SUITE_P(
    Figures, ChartWords,
    testing::Values(
        Said{{"one_value_with_a_tab_in_the_name"},
             [] { return of_bytes("a"); },
             "one\tbyte.txt",
             "{\"file\": \"one\\u0009byte.txt\", \"bytes\": 1, \"distinct\": 1, \"entropy\": 0, "
             "\"evenness\": null, \"chi_square\": 255, \"p_value\": 0.4882225, \"pairs\": 0, "
             "\"repeats\": 0, \"steps_of_one\": 0, \"difference_entropy\": 0, "
             "\"expected_repeats\": 0, "
             "\"expected_steps_of_one\": 0, \"list\": null}\n",
             "Verdict: a single byte value makes up the whole file: no spread at all" + plausible},
        Said{{"two_values"},
             [] { return of_bytes("aab"); },
             "aab",
             "{\"file\": \"aab\", \"bytes\": 3, \"distinct\": 2, \"entropy\": 0.918296, "
             "\"evenness\": 0.918296, \"chi_square\": 423.6666667, \"p_value\": 1.589985e-10, "
             "\"pairs\": 2, \"repeats\": 1, \"steps_of_one\": 1, \"difference_entropy\": 1, "
             "\"expected_repeats\": 1.111111111, \"expected_steps_of_one\": 0.8888888889, "
             "\"list\": null}\n",
             "Verdict: the 2 values that occur are used fairly evenly (evenness 0.918)" +
                 implausible},
        Said{{"word_list_sample"},
             [] { return of_bytes(sample()); },
             "passwords-result.txt",
             "",
             "Verdict: 30 passwords of 11.2 characters on average from 95 values, not used as a "
             "fair generator would use them (p < 0.01): at most 73.4 bits per password, strong "
             "at best; chosen rather than drawn, they are weaker."},
        at_bound("evenly_from_0_99", 0.99, 0.5, "evenly", "0.990", true),
        at_bound("fairly_evenly_below_0_99", 0.989, 0.5, "fairly evenly", "0.989", true),
        at_bound("fairly_evenly_from_0_9", 0.9, 0.5, "fairly evenly", "0.900", true),
        at_bound("unevenly_below_0_9", 0.899, 0.5, "unevenly", "0.899", true),
        at_bound("unevenly_from_0_75", 0.75, 0.5, "unevenly", "0.750", true),
        at_bound("very_unevenly_below_0_75", 0.749, 0.5, "very unevenly", "0.749", true),
        at_bound("plausible_from_p_0_01", 0.99, 0.01, "evenly", "0.990", true),
        at_bound("implausible_below_p_0_01", 0.99, 0.0099, "evenly", "0.990", false)),
    row_name);

// A file's name as each output shows it: valid UTF-8 whole, anything else
// made harmless, and never cut.
struct Name : Row {
  std::string file, in_json, in_svg, on_console;
};

class ChartNames : public testing::TestWithParam<Name> {};

TEST_P(ChartNames, ReachEveryOutputSafely) {
  const Name& c = GetParam();
  const Figures f = of_bytes("ab\n");
  EXPECT_EQ(json_string(c.file), "\"" + c.in_json + "\"");
  EXPECT_EQ(xml_escaped(c.file), c.in_svg);
  EXPECT_EQ(console_text(c.file), c.on_console);
  EXPECT_TRUE(contains(json_of(f, c.file), "{\"file\": \"" + c.in_json + "\", "));
  EXPECT_TRUE(contains(words_of(f, c.file), "Census of " + c.on_console + ": 3 bytes"));
  EXPECT_TRUE(contains(svg_of(tables_of("ab\n"), f, c.file, false), ": " + c.in_svg + "</text>"));
}

const std::string fffd = "\xef\xbf\xbd";
const std::string long_name = std::string(700, 'n') + ".txt";

INSTANTIATE_TEST_SUITE_P(
    Odd, ChartNames,
    testing::Values(
        Name{{"well_formed"},
             "\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e",
             "\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e",
             "\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e",
             "\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e"},
        Name{{"specials"}, "a\"&<\\b", "a\\\"&<\\\\b", "a&quot;&amp;&lt;\\b", "a\"&<\\b"},
        Name{{"invalid_byte"},
             "a\xff"
             "b",
             "a" + fffd + "b",
             "a" + fffd + "b",
             "a\\xffb"},
        Name{{"surrogate"},
             "\xed\xa0\x80",
             fffd + fffd + fffd,
             fffd + fffd + fffd,
             "\\xed\\xa0\\x80"},
        Name{{"overlong"}, "\xc0\xaf", fffd + fffd, fffd + fffd, "\\xc0\\xaf"},
        Name{{"past_u10ffff"},
             "\xf4\x90\x80\x80",
             fffd + fffd + fffd + fffd,
             fffd + fffd + fffd + fffd,
             "\\xf4\\x90\\x80\\x80"},
        Name{{"cut_short_at_the_end"},
             "ab\xe2\x82",
             "ab" + fffd + fffd,
             "ab" + fffd + fffd,
             "ab\\xe2\\x82"},
        Name{{"noncharacters"}, "\xef\xbf\xbe\xef\xbf\xbf", fffd + fffd, fffd + fffd, fffd + fffd},
        Name{{"escape_sequence"},
             "esc\x1b]2;x\x07",
             "esc\\u001b]2;x\\u0007",
             "esc" + fffd + "]2;x" + fffd,
             "esc\\x1b]2;x\\x07"},
        Name{{"c1_control_and_delete"},
             "a\xc2\x9b"
             "b\x7f",
             "a\xc2\x9b"
             "b\x7f",
             "a\xc2\x9b"
             "b\x7f",
             "a\\u009bb\\x7f"},
        Name{{"longer_than_any_buffer"}, long_name, long_name, long_name, long_name}),
    row_name);

// The byte allocation's panel of a chart: its count labels, the height of one
// value's bar, and a text it must hold.
struct Drawing : Row {
  std::function<Tables()> tables;
  bool log;
  std::vector<std::string> count_labels;
  std::string bar_title;  // the tooltip of the bar looked at
  double min_height, max_height;
  std::string holds{};
};

class ChartDrawing : public testing::TestWithParam<Drawing> {};

TEST_P(ChartDrawing, DrawsTheCountsToScale) {
  const Drawing& c = GetParam();
  const Tables t = c.tables();
  const std::string svg = svg_of(t, figures_of(t), "r", c.log);
  const std::string panel = svg.substr(0, svg.find("Byte diversification:"));
  std::vector<std::string> labels;
  const std::string open = "class=\"count\">";
  for (std::size_t at = 0; (at = panel.find(open, at)) != std::string::npos;) {
    at += open.size();
    labels.push_back(panel.substr(at, panel.find('<', at) - at));
  }
  EXPECT_EQ(labels, c.count_labels);
  const std::size_t title = panel.find("<title>" + c.bar_title + "</title>");
  ASSERT_NE(title, std::string::npos) << c.bar_title;
  const std::size_t height = panel.rfind("height=\"", title);
  ASSERT_NE(height, std::string::npos);
  const double h = std::stod(panel.substr(height + 8));
  EXPECT_GE(h, c.min_height);
  EXPECT_LE(h, c.max_height);
  EXPECT_TRUE(contains(svg, c.holds)) << c.holds;
}

// One value of count n; its differences all 0.
Tables one_value(unsigned v, std::uint64_t n) {
  Tables t;
  t.code[v] = n;
  t.code2[0] = n - 1;
  return t;
}
std::function<Tables()> of(const std::string& bytes) {
  return [=] { return tables_of(bytes); };
}

INSTANTIATE_TEST_SUITE_P(
    Charts, ChartDrawing,
    testing::Values(
        Drawing{{"one_byte"}, of("a"), false, {"0", "1"}, "0x61 'a' = 1", 230, 230},
        Drawing{{"one_byte_on_a_log_axis"}, of("a"), true, {"1", "10"}, "0x61 'a' = 1", 1, 229},
        Drawing{{"absent_value_on_a_log_axis"}, of("a"), true, {"1", "10"}, "0x62 'b' = 0", 0, 0},
        Drawing{{"empty_file_limits_as_the_result_names_them"},
                of(""),
                false,
                {"0", "1"},
                "0x39 '9' = 0",
                0,
                0,
                "upper limit is Byte 0x39 = 0 times"},
        Drawing{{"counts_near_1_5e10"},
                [] { return one_value(0xff, 15000000000u); },
                false,
                {"0", "5G", "10G", "15G"},
                "0xff = 15000000000",
                230,
                230,
                "upper limit is Byte 0xff = 15000000000 times"},
        Drawing{{"counts_near_6_3e11"},
                [] { return one_value(0x30, 630000000000u); },
                false,
                {"0", "200G", "400G", "600G", "800G"},
                "0x30 '0' = 630000000000",
                181,
                182},
        Drawing{{"counts_up_to_2_64"},
                [] { return one_value(0x7a, UINT64_MAX); },
                false,
                {"0", "5E", "10E", "15E", "20E"},
                "0x7a 'z' = 18446744073709551615",
                212,
                213},
        Drawing{{"counts_up_to_2_64_on_a_log_axis"},
                [] { return one_value(0x7a, UINT64_MAX); },
                true,
                {"1", "100", "10k", "1M", "100M", "10G", "1T", "100T", "10P", "1E", "100E"},
                "0x7a 'z' = 18446744073709551615",
                210,
                230}),
    row_name);

}  // namespace
