// The figures of a result file's two tables: entropy, evenness and a
// chi-square test over all 256 values for any file, the repeats and steps of
// one against what chance gives, and for a password list what its characters
// say about the passwords.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "census/guard.h"
#include "chart/reader.h"

// The kinds of character a password list may use, each with all its values.
struct CharacterClass {
  const char* name;
  unsigned size;
  bool (*holds)(unsigned value);
};
extern const std::array<CharacterClass, 7> character_classes;

// What a password list's tables say of how its passwords were made, decided in
// this order: too few characters for the tests, bytes from 0x80 (whose tests
// would judge bytes, not the generator's characters), then the characters'
// use of their alphabet and their independence within the lines.
enum class ListKind { too_few, multi_byte, utf16, drawn_evenly, drawn_unevenly, chosen };
const char* kind_word(ListKind kind);

// Below this many characters for each value of the alphabet, a value's count
// is too small for the chi-square tests.
constexpr std::uint64_t characters_per_value = 5;
// The tests' bound: a p below it rules the generator out.
constexpr double test_bound = 0.01;
// How much dependence between neighbours a drawn list may show, in bits a
// password, once the independence test has seen some. Rules such as "at least
// one digit" cost 0.0003 to 0.026 bits on the lists measured, words,
// syllables, groups and fixed suffixes 0.57 bits and more: the bound sits about
// three times below the one and eight times above the other.
constexpr double slight_dependence_bits = 0.2;

// Code points from 0x80 that are at most this share of a UTF-8 list's
// characters are left out, and the rest judged: a few accented letters do not
// keep a verdict from the rest.
constexpr double few_code_points = 0.01;

// How a list's characters are written: bytes (ASCII, UTF-8 or unknown), or
// UTF-16 code units of either byte order, whose tables hold a zero byte for
// each character.
enum class Encoding { bytes, utf16 };

// What the dependence between neighbours comes to: none that the test sees,
// slight (a drawn list with rules), or strong (a chosen or structured list).
enum class Dependence { none_seen, slight, strong };
const char* dependence_word(Dependence dependence);

// A password list: one password a line, ended by LF or CR LF. The fields go
// by size, the largest first, so that the record holds no padding.
struct ListFigures {
  std::uint64_t lines = 0;       // line feeds
  std::uint64_t crlf_lines = 0;  // lines ended CR LF: every CR, where there are no more than LFs
  std::uint64_t bytes = 0;       // every byte but the line ends
  std::uint64_t characters = 0;  // those bytes, or the code points they make where they are UTF-8
  std::uint64_t left_out = 0;    // code points from 0x80 left out of the characters judged
  double mean_length = 0;        // characters a line
  std::vector<const char*> classes;     // the kinds that occur, in the order of character_classes
  const char* alphabet_name = nullptr;  // where the alphabet is exactly one of the usual sets
  std::uint64_t characters_needed = 0;  // characters_per_value for each value of the alphabet
  double character_entropy = 0;         // bits a byte of the characters
  // mean_length * log2(alphabet) and mean_length * character_entropy; none
  // for bytes from 0x80, whose values are not the characters'.
  std::optional<double> ceiling_bits, estimate_bits;
  // Against an even use of the alphabet, with alphabet - 1 degrees of freedom.
  std::optional<double> chi_square, p_value;
  // The differences against characters independent within the lines, those
  // expected fewer than 5 times pooled into one cell.
  std::optional<double> independence_chi_square, independence_p_value;
  // A lower bound on the bits a password that the dependence between
  // neighbours takes: the divergence of the observed differences from the
  // expected ones, less what chance alone gives it, times the pairs a line.
  std::optional<double> dependence_cost_bits;
  // What an uneven use of the alphabet costs a password: the ceiling less the estimate.
  std::optional<double> unevenness_cost_bits;
  // For a list drawn unevenly or slightly dependent: the largest share of its
  // characters that an even draw over the alphabet can explain, the alphabet
  // times an upper bound on the smallest count, over the characters; the rest
  // may be chosen passwords mixed in.
  std::optional<double> even_share;
  std::optional<double> bits;  // drawn lists only: what their generator gives a password
  const char* strength = nullptr;
  unsigned alphabet = 0;  // the values that occur among the characters
  unsigned degrees_of_freedom = 0;
  unsigned independence_degrees_of_freedom = 0;
  ListKind kind = ListKind::too_few;
  std::optional<Dependence> dependence;  // where the independence test ran
  bool high_bytes = false;               // a byte from 0x80 occurs
  bool utf8 = false;                     // ... and the table agrees with UTF-8
  bool byte_order_mark = false;          // one was left out of the characters
  Encoding encoding = Encoding::bytes;
  std::optional<bool> fair, independent;  // the tests' answers at test_bound
  std::array<bool, 256> in_alphabet{};
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

// Which chance the expected differences follow: characters drawn
// independently within a list's lines, or, for any other file and for UTF-16
// (whose differences are its bytes'), bytes drawn with the byte table's
// frequencies. The words for it: "characters independent within the lines"
// or "bytes independent".
bool chance_of_characters(const Figures& f);
const char* chance_word(const Figures& f);

// How the lines end: "LF", "CR LF", or "CR LF and LF" where some lines have each.
const char* line_ends_word(const ListFigures& list);

// How the tables' characters are written where they are a password list's:
// bytes, where is_a_list holds, or UTF-16; none for any other file.
std::optional<Encoding> list_encoding(const Histogram& code, std::uint64_t bytes);

Figures figures_of(const Tables& tables);

// The probability that a chi-square variable with this many degrees of freedom
// exceeds x: the regularized upper incomplete gamma function Q(df / 2, x / 2).
double chi_square_tail(double x, unsigned degrees_of_freedom);

// The strength of a password of this many bits against offline guessing, in a
// word: "weak" below 40 bits, "fair" below 64, else "strong"; judged on the
// bits as they are shown, to a tenth, so that 63.99 shown as 64.0 is strong.
const char* strength_of(double bits);

// The name of the alphabet that holds exactly these values, or nullptr.
const char* alphabet_name_of(const std::array<bool, 256>& values);
