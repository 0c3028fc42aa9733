// The companion program: reads a result file back, strictly, and turns its two
// tables into figures (entropy, evenness, a chi-square test), words and a chart.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "octetcensusmeter.h"

// The two tables of a result file.
struct Tables {
  Histogram code{};   // byte allocation
  Histogram code2{};  // byte diversification
};

// Why a text is not a result file: the line (counted from 1) and what was expected there.
struct ReadError {
  std::size_t line = 0;
  std::string expected;
};

// Reads the text of a result file, its lines ended by CR LF or all by LF alone.
// Every line must stand as the tool writes it and the summaries must agree with
// the tables. True with the tables filled in; false with the first fault.
bool read_result(const std::string& text, Tables& tables, ReadError& error);

struct Figures {
  std::uint64_t bytes = 0;           // the sum of the byte allocation
  unsigned distinct = 0;             // byte values that occur
  double entropy = 0;                // bits per byte
  std::optional<double> evenness;    // entropy / log2(distinct); none below two values
  std::optional<double> chi_square;  // against an even spread over 256 values; none when empty
  std::optional<double> p_value;     // of chi_square with 255 degrees of freedom
  std::uint64_t pairs = 0;           // the sum of the diversification
  std::uint64_t repeats = 0;         // difference 0: a byte followed by itself
  std::uint64_t steps_of_one = 0;    // difference 1: as in abc or 123
  double difference_entropy = 0;     // bits per pair
};

Figures figures_of(const Tables& tables);

// The probability that a chi-square variable with 255 degrees of freedom
// exceeds x: the regularized upper incomplete gamma function Q(255/2, x/2).
double chi_square_tail(double x);

// The figures as one JSON object, and as a few lines for a person, the last
// of which answers how even the spread is. name is the result file's.
std::string json_of(const Figures& f, const std::string& name);
std::string words_of(const Figures& f, const std::string& name);

// The chart: one SVG with the byte allocation above and the diversification
// below, counts drawn on a logarithmic axis if log is set.
std::string svg_of(const Tables& tables, const Figures& f, const std::string& name, bool log);
