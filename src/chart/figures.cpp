// The figures of a result file's two tables.
#include "chart/figures.h"

#include <algorithm>
#include <boost/math/special_functions/erf.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

bool digit(unsigned v) { return v >= 0x30 && v <= 0x39; }
bool small_letter(unsigned v) { return v >= 0x61 && v <= 0x7a; }
bool capital(unsigned v) { return v >= 0x41 && v <= 0x5a; }
bool other_printable(unsigned v) {
  return v >= 0x20 && v < 0x7f && !digit(v) && !small_letter(v) && !capital(v);
}
bool tab(unsigned v) { return v == 0x09; }
bool carriage_return(unsigned v) { return v == 0x0d; }
bool high(unsigned v) { return v >= 0x80 && v <= 0xff; }

double entropy_of(const Histogram& h, std::uint64_t total) {
  double bits = 0;
  for (const std::uint64_t n : h) {
    if (n == 0) continue;
    const double p = static_cast<double>(n) / static_cast<double>(total);
    bits -= p * std::log2(p);
  }
  return bits;
}

using Frequencies = std::array<double, 256>;

// Adds weight times the chance that a draw from p and a draw from q differ by
// each difference.
void add_differences(std::array<double, 256>& out, double weight, const Frequencies& p,
                     const Frequencies& q) {
  if (weight <= 0) return;
  for (unsigned a = 0; a < 256; ++a) {
    if (p[a] == 0) continue;
    for (unsigned b = 0; b < 256; ++b) {
      out[a > b ? a - b : b - a] += weight * p[a] * q[b];
    }
  }
}

// A byte of this one value for certain.
Frequencies certain(unsigned v) {
  Frequencies f{};
  f[v] = 1;
  return f;
}

// The usual alphabets, each as the ranges of its values: "09af" is 0-9 and a-f.
struct NamedAlphabet {
  const char* name;
  const char* ranges;
};
constexpr NamedAlphabet named_alphabets[] = {{"digits", "09"},
                                             {"hexadecimal digits", "09af"},
                                             {"hexadecimal digits", "09AF"},
                                             {"small letters", "az"},
                                             {"capitals", "AZ"},
                                             {"letters", "AZaz"},
                                             {"small letters and digits", "az09"},
                                             {"capitals and digits", "AZ09"},
                                             {"letters and digits", "AZaz09"},
                                             {"base32", "AZ27"},
                                             {"base64", "AZaz09++//"},
                                             {"base64", "AZaz09--__"},
                                             {"printable without space", "!~"},
                                             {"printable", " ~"}};

// How many continuation bytes the UTF-8 lead byte v needs; 0 for a byte that
// leads nothing (ASCII, a continuation byte), -1 for one that UTF-8 never has.
int continuations_after(unsigned v) {
  if (v == 0xc0 || v == 0xc1 || v >= 0xf5) return -1;
  if (v >= 0xf0) return 3;
  if (v >= 0xe0) return 2;
  return v >= 0xc2 ? 1 : 0;
}

// Whether a table of characters agrees with UTF-8: no byte it never has, and
// the continuation bytes exactly as many as the lead bytes call for. The
// continuation bytes are counted into continuation.
bool agrees_with_utf8(const Histogram& characters, std::uint64_t& continuation) {
  std::uint64_t needed = 0;
  continuation = 0;
  bool agrees = true;
  for (unsigned v = 0x80; v < 256; ++v) {
    const int after = continuations_after(v);
    agrees = agrees && (after >= 0 || characters[v] == 0);
    // Lead bytes may call for more continuations than 64 bits count: more
    // than there are bytes, so not UTF-8.
    std::uint64_t called = 0;
    agrees = agrees &&
             !__builtin_mul_overflow(static_cast<std::uint64_t>(std::max(after, 0)), characters[v],
                                     &called) &&
             !__builtin_add_overflow(needed, called, &needed);
    if (v < 0xc0) continuation += characters[v];
  }
  return agrees && needed == continuation;
}

// The code units of UTF-16 whose zero bytes are in this table, without them
// and without the mark (0xff 0xfe, or 0xfe 0xff), whose unit alone has none.
Histogram utf16_units(const Histogram& code, std::uint64_t bytes, bool& marked) {
  marked = code[0] * 2 != bytes;
  Histogram units = code;
  units[0] = 0;
  if (marked) --units[0xff], --units[0xfe];
  return units;
}

// The alphabet, the characters and the kinds, from the byte table alone; the
// characters' own table goes to characters.
ListFigures list_figures_of(const Histogram& code, std::uint64_t bytes, Encoding encoding,
                            Histogram& characters) {
  ListFigures l;
  l.encoding = encoding;
  characters = code;
  if (encoding == Encoding::utf16) {
    characters = utf16_units(code, bytes, l.byte_order_mark);
    bytes = bytes / 2 - (l.byte_order_mark ? 1 : 0);
  }
  l.lines = characters[0x0a];
  // A CR before an LF ends a line. Where CRs are no more than LFs, each is
  // taken as such a line end, wherever it stands; more CRs than LFs cannot all
  // end lines, and are characters.
  const bool cr_ends_lines = characters[0x0d] <= characters[0x0a];
  l.crlf_lines = cr_ends_lines ? characters[0x0d] : 0;
  l.bytes = bytes - l.lines - l.crlf_lines;
  characters[0x0a] = 0;
  if (cr_ends_lines) characters[0x0d] = 0;
  // A UTF-8 byte-order mark, as editors put before the first line: one 0xef,
  // 0xbb and 0xbf each beyond what the other characters call for.
  std::uint64_t continuation = 0;
  if (encoding == Encoding::bytes && characters[0xef] == 1 && characters[0xbb] > 0 &&
      characters[0xbf] > 0) {
    Histogram rest = characters;
    --rest[0xef], --rest[0xbb], --rest[0xbf];
    if (agrees_with_utf8(rest, continuation)) {
      characters = rest;
      l.bytes -= 3;
      l.byte_order_mark = true;
    }
  }
  for (unsigned v = 0x80; v < 256 && encoding == Encoding::bytes; ++v) {
    l.high_bytes = l.high_bytes || characters[v] > 0;
  }
  // Where UTF-8 agrees, each code point is a character. The table cannot
  // tell whether its bytes stand in the right places.
  l.characters = l.bytes;
  if (l.high_bytes) {
    l.utf8 = agrees_with_utf8(characters, continuation);
    if (l.utf8) l.characters = l.bytes - continuation;
    std::uint64_t from_0x80 = 0;
    for (unsigned v = 0x80; v < 256; ++v) from_0x80 += characters[v];
    // A few code points from 0x80 among many characters are left out, and
    // the characters below 0x80 judged.
    const std::uint64_t code_points = from_0x80 - continuation;
    if (l.utf8 &&
        static_cast<double>(code_points) <= few_code_points * static_cast<double>(l.characters)) {
      l.left_out = code_points;
      for (unsigned v = 0x80; v < 256; ++v) characters[v] = 0;
      l.bytes -= from_0x80;
      l.characters = l.bytes;
    }
  }
  for (unsigned v = 0; v < 256; ++v) {
    l.in_alphabet[v] = characters[v] > 0;
    l.alphabet += l.in_alphabet[v] ? 1 : 0;
  }
  for (const CharacterClass& k : character_classes) {
    bool occurs = false;
    for (unsigned v = 0; v < 256; ++v) occurs = occurs || (k.holds(v) && l.in_alphabet[v]);
    if (occurs) l.classes.push_back(k.name);
  }
  l.alphabet_name = alphabet_name_of(l.in_alphabet);
  l.mean_length = static_cast<double>(l.characters) / static_cast<double>(l.lines);
  l.characters_needed = characters_per_value * l.alphabet;
  if (l.bytes == 0) return l;
  l.character_entropy = entropy_of(characters, l.bytes);
  if (!l.high_bytes || l.left_out > 0) {
    l.ceiling_bits = l.mean_length * std::log2(static_cast<double>(l.alphabet));
    l.estimate_bits = l.mean_length * l.character_entropy;
    l.unevenness_cost_bits = std::max(0.0, *l.ceiling_bits - *l.estimate_bits);
  }
  return l;
}

// The observed against the expected counts over the cells expected at least
// 5 times, the others pooled into one cell of their own, which is left out if
// it is still expected fewer than 5 times.
struct PooledTest {
  double chi_square = 0;
  unsigned cells = 0;
  double observed = 0;    // the count in the cells used
  double divergence = 0;  // bits a pair: the observed shares against the expected ones
};

PooledTest pooled_test(const Histogram& observed, const std::array<double, 256>& expected) {
  std::array<double, 257> o{};
  std::array<double, 257> e{};
  unsigned used = 0;
  double pool_observed = 0;
  double pool_expected = 0;
  for (unsigned d = 0; d < 256; ++d) {
    if (expected[d] >= 5) {
      o[used] = static_cast<double>(observed[d]);
      e[used++] = expected[d];
    } else {
      pool_observed += static_cast<double>(observed[d]);
      pool_expected += expected[d];
    }
  }
  if (pool_expected >= 5) {
    o[used] = pool_observed;
    e[used++] = pool_expected;
  }
  PooledTest t;
  t.cells = used;
  double expected_sum = 0;
  for (unsigned i = 0; i < used; ++i) {
    t.chi_square += (o[i] - e[i]) * (o[i] - e[i]) / e[i];
    t.observed += o[i];
    expected_sum += e[i];
  }
  // Shares within the cells used, so that a pool left out moves neither side.
  for (unsigned i = 0; i < used && t.observed > 0; ++i) {
    if (o[i] == 0) continue;
    const double share = o[i] / t.observed;
    t.divergence += share * std::log2(share / (e[i] / expected_sum));
  }
  return t;
}

// An upper bound on a count of n that holds for the smallest of this many
// counts at once: a normal one at 0.01 shared among them.
double upper_bound_of_count(double n, unsigned counts) {
  const double z = std::sqrt(2.0) * boost::math::erfc_inv(2 * test_bound / counts);
  return n + z * z / 2 + z * std::sqrt(n + z * z / 4);
}

// The tests, the kind and the bits, in the order of ListKind; characters is
// the characters' own table and pairs the sum of code2.
void judge_list(ListFigures& l, const Histogram& characters, const Histogram& code2,
                const std::array<double, 256>& expected_differences, std::uint64_t pairs) {
  if (l.alphabet < 2 || l.characters < l.characters_needed) {
    l.kind = ListKind::too_few;
    return;
  }
  if (l.high_bytes && l.left_out == 0) {
    l.kind = ListKind::multi_byte;
    return;
  }
  const PooledTest independence =
      l.encoding == Encoding::bytes ? pooled_test(code2, expected_differences) : PooledTest{};
  const unsigned cells = independence.cells;
  if (l.encoding == Encoding::bytes && cells < 2) {
    // enough characters, but their differences fall in one cell
    l.kind = ListKind::too_few;
    return;
  }
  const double expected = static_cast<double>(l.bytes) / l.alphabet;
  double chi = 0;
  std::uint64_t fewest = UINT64_MAX;
  for (unsigned v = 0; v < 256; ++v) {
    if (!l.in_alphabet[v]) continue;
    const double d = static_cast<double>(characters[v]) - expected;
    chi += d * d / expected;
    fewest = std::min(fewest, characters[v]);
  }
  l.chi_square = chi;
  l.degrees_of_freedom = l.alphabet - 1;
  l.p_value = chi_square_tail(chi, l.degrees_of_freedom);
  l.fair = *l.p_value >= test_bound;
  // In UTF-16 each difference is a character's with a zero byte: no
  // difference is between two characters, and their independence cannot be judged.
  if (l.encoding == Encoding::utf16) {
    l.kind = ListKind::utf16;
    return;
  }
  l.independence_chi_square = independence.chi_square;
  l.independence_degrees_of_freedom = cells - 1;
  l.independence_p_value = chi_square_tail(independence.chi_square, cells - 1);
  l.independent = *l.independence_p_value >= test_bound;
  // Independent pairs still diverge from what is expected, by (cells - 1) /
  // (2 pairs ln 2) bits a pair on average; only the rest is dependence. The
  // pairs' mutual information is at least the divergence of their difference.
  const double by_chance = (cells - 1) / (2 * independence.observed * std::log(2.0));
  l.dependence_cost_bits = std::max(0.0, independence.divergence - by_chance) *
                           static_cast<double>(pairs) / static_cast<double>(l.lines);
  l.dependence = *l.independent                                      ? Dependence::none_seen
                 : *l.dependence_cost_bits <= slight_dependence_bits ? Dependence::slight
                                                                     : Dependence::strong;
  if (l.dependence == Dependence::strong) {
    l.kind = ListKind::chosen;
    return;
  }
  l.kind = *l.fair ? ListKind::drawn_evenly : ListKind::drawn_unevenly;
  l.bits = *l.fair ? l.ceiling_bits : l.estimate_bits;
  if (l.dependence == Dependence::slight) *l.bits -= *l.dependence_cost_bits;
  l.strength = strength_of(*l.bits);
  // An even draw over the alphabet gives every value at least the smallest
  // count: the alphabet times that, at most, of the characters are its.
  if (!*l.fair || l.dependence == Dependence::slight) {
    const double bound = upper_bound_of_count(static_cast<double>(fewest), l.alphabet);
    l.even_share = std::min(1.0, l.alphabet * bound / static_cast<double>(l.bytes));
  }
}

}  // namespace

std::optional<Encoding> list_encoding(const Histogram& code, std::uint64_t bytes) {
  if (is_a_list(code)) return Encoding::bytes;
  // UTF-16 of characters up to U+00FF: a zero byte in every code unit but
  // the mark's, and the rest a list's.
  const bool even = bytes % 2 == 0 && code[0] * 2 == bytes;
  const bool marked =
      bytes % 2 == 0 && code[0] * 2 + 2 == bytes && code[0xff] > 0 && code[0xfe] > 0;
  if (code[0] == 0 || (!even && !marked)) return std::nullopt;
  bool mark = false;
  if (!is_a_list(utf16_units(code, bytes, mark))) return std::nullopt;
  return Encoding::utf16;
}

// A CR is a character only where there are more CRs than LFs.
const std::array<CharacterClass, 7> character_classes = {{{"digits", 10, digit},
                                                          {"small letters", 26, small_letter},
                                                          {"capitals", 26, capital},
                                                          {"other printable", 33, other_printable},
                                                          {"tab", 1, tab},
                                                          {"CR", 1, carriage_return},
                                                          {"0x80 and above", 128, high}}};

// Errors become a quiet NaN and a value too small for a double becomes 0,
// instead of exceptions.
double chi_square_tail(double x, unsigned degrees_of_freedom) {
  using namespace boost::math::policies;
  using quiet = policy<domain_error<errno_on_error>, pole_error<errno_on_error>,
                       overflow_error<errno_on_error>, underflow_error<ignore_error>,
                       evaluation_error<errno_on_error>>;
  return boost::math::gamma_q(degrees_of_freedom / 2.0, x / 2, quiet());
}

const char* strength_of(double bits) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", bits);
  const double shown = std::strtod(text, nullptr);
  if (shown < 40) return "weak";
  return shown < 64 ? "fair" : "strong";
}

const char* dependence_word(Dependence dependence) {
  switch (dependence) {
    case Dependence::none_seen:
      return "none seen";
    case Dependence::slight:
      return "slight";
    case Dependence::strong:
      return "strong";
  }
  return "";
}

bool chance_of_characters(const Figures& f) {
  return f.list && f.list->encoding == Encoding::bytes;
}

const char* chance_word(const Figures& f) {
  return chance_of_characters(f) ? "characters independent within the lines" : "bytes independent";
}

const char* line_ends_word(const ListFigures& list) {
  if (list.crlf_lines == 0) return "LF";
  return list.crlf_lines == list.lines ? "CR LF" : "CR LF and LF";
}

const char* kind_word(ListKind kind) {
  switch (kind) {
    case ListKind::too_few:
      return "too few to judge";
    case ListKind::multi_byte:
      return "multi-byte characters";
    case ListKind::utf16:
      return "UTF-16";
    case ListKind::drawn_evenly:
      return "drawn evenly";
    case ListKind::drawn_unevenly:
      return "drawn unevenly";
    case ListKind::chosen:
      return "chosen or structured";
  }
  return "";
}

const char* alphabet_name_of(const std::array<bool, 256>& values) {
  for (const NamedAlphabet& a : named_alphabets) {
    std::array<bool, 256> members{};
    for (const char* r = a.ranges; *r != 0; r += 2) {
      for (auto v = static_cast<unsigned char>(r[0]); v <= static_cast<unsigned char>(r[1]); ++v) {
        members[v] = true;
      }
    }
    if (members == values) return a.name;
  }
  return nullptr;
}

Figures figures_of(const Tables& t) {
  Figures f;
  for (unsigned v = 0; v < 256; ++v) {
    f.bytes += t.code[v];
    f.pairs += t.code2[v];
    f.distinct += t.code[v] > 0 ? 1 : 0;
  }
  if (f.bytes > 0) f.entropy = entropy_of(t.code, f.bytes);
  if (f.pairs > 0) f.difference_entropy = entropy_of(t.code2, f.pairs);
  if (f.distinct >= 2) f.evenness = f.entropy / std::log2(f.distinct);
  if (f.bytes > 0) {
    const double expected = static_cast<double>(f.bytes) / 256;
    double chi = 0;
    for (const std::uint64_t n : t.code) {
      const double d = static_cast<double>(n) - expected;
      chi += d * d / expected;
    }
    f.chi_square = chi;
    f.p_value = chi_square_tail(chi, 255);
  }
  f.repeats = t.code2[0];
  f.steps_of_one = t.code2[1];

  const std::optional<Encoding> encoding = list_encoding(t.code, f.bytes);
  if (encoding) {
    Histogram characters;
    f.list = list_figures_of(t.code, f.bytes, *encoding, characters);
    ListFigures& l = *f.list;
    Frequencies q{};
    for (unsigned v = 0; v < 256; ++v) {
      if (l.in_alphabet[v]) {
        q[v] = static_cast<double>(characters[v]) / static_cast<double>(l.bytes);
      }
    }
    const auto lines = static_cast<double>(l.lines);
    const auto crlf_lines = static_cast<double>(l.crlf_lines);
    const Frequencies line_feed = certain(0x0a);
    if (l.bytes > 0 && l.encoding == Encoding::bytes) {
      // Pairs inside the lines, the last character to the line end (a CR or
      // the LF), and the line feed to the next line's first character.
      add_differences(f.expected_differences, static_cast<double>(l.bytes) - lines, q, q);
      add_differences(f.expected_differences, crlf_lines, q, certain(0x0d));
      add_differences(f.expected_differences, lines - crlf_lines, q, line_feed);
      add_differences(f.expected_differences, lines - 1, line_feed, q);
      f.expected_differences[0x0d - 0x0a] += crlf_lines;  // CR to LF
    }
    judge_list(l, characters, t.code2, f.expected_differences, f.pairs);
  }
  if (!chance_of_characters(f) && f.bytes > 1) {
    Frequencies p{};
    for (unsigned v = 0; v < 256; ++v) {
      p[v] = static_cast<double>(t.code[v]) / static_cast<double>(f.bytes);
    }
    add_differences(f.expected_differences, static_cast<double>(f.bytes - 1), p, p);
  }
  f.expected_repeats = f.expected_differences[0];
  f.expected_steps_of_one = f.expected_differences[1];
  return f;
}
