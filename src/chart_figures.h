// The figures of a result file's two tables: entropy, evenness and a
// chi-square test over all 256 values for any file, the repeats and steps of
// one against what chance gives, and for a password list what its characters
// say about the passwords.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "chart_reader.h"

// The kinds of character a password list may use, each with all its values.
struct CharacterClass {
  const char* name;
  unsigned size;
  bool (*holds)(unsigned value);
};
extern const std::array<CharacterClass, 6> character_classes;

// A password list: one password a line, ended by LF or CR LF.
struct ListFigures {
  std::uint64_t lines = 0;           // line feeds
  bool crlf = false;                 // a carriage return before every line feed
  std::uint64_t characters = 0;      // every byte but the line feeds and carriage returns
  double mean_length = 0;            // characters a line
  std::vector<const char*> classes;  // the kinds that occur, in the order of character_classes
  unsigned alphabet = 0;             // the values of those kinds together
  std::array<bool, 256> in_alphabet{};
  double character_entropy = 0;  // bits a character
  double ceiling_bits = 0;       // mean_length * log2(alphabet): a uniform draw's strength
  double estimate_bits = 0;      // mean_length * character_entropy
  // Against an even use of the alphabet; none below two values in it.
  std::optional<double> chi_square;
  unsigned degrees_of_freedom = 0;
  std::optional<double> p_value;
};

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
  // How many pairs of each difference independent bytes would give: for a
  // list, characters drawn independently within the lines, its line ends as
  // they are; for any other file, bytes drawn with the byte table's frequencies.
  std::array<double, 256> expected_differences{};
  double expected_repeats = 0;
  double expected_steps_of_one = 0;
  std::optional<ListFigures> list;  // set when the tables are a password list's
};

// The tables are a list's when the byte 0x0a occurs and no byte below 0x20
// other than 0x09, 0x0a and 0x0d occurs, nor 0x7f.
bool is_a_list(const Histogram& code);

Figures figures_of(const Tables& tables);

// The probability that a chi-square variable with this many degrees of freedom
// exceeds x: the regularized upper incomplete gamma function Q(df / 2, x / 2).
double chi_square_tail(double x, unsigned degrees_of_freedom);

// The strength of a password of this many bits against offline guessing, in a
// word: "weak" below 40 bits, "fair" below 64, else "strong".
const char* strength_of(double bits);
