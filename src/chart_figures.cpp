// The figures of a result file's two tables.
#include "chart_figures.h"

#include <boost/math/special_functions/gamma.hpp>
#include <cmath>

namespace {

bool digit(unsigned v) { return v >= 0x30 && v <= 0x39; }
bool small_letter(unsigned v) { return v >= 0x61 && v <= 0x7a; }
bool capital(unsigned v) { return v >= 0x41 && v <= 0x5a; }
bool other_printable(unsigned v) {
  return v >= 0x20 && v < 0x7f && !digit(v) && !small_letter(v) && !capital(v);
}
bool tab(unsigned v) { return v == 0x09; }
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

ListFigures list_figures_of(const Histogram& code, std::uint64_t bytes, Frequencies& q) {
  ListFigures l;
  l.lines = code[0x0a];
  l.crlf = code[0x0d] == code[0x0a];
  l.characters = bytes - code[0x0a] - code[0x0d];
  l.mean_length = static_cast<double>(l.characters) / static_cast<double>(l.lines);
  Histogram characters = code;
  characters[0x0a] = 0;
  characters[0x0d] = 0;
  std::array<bool, 256>& in_alphabet = l.in_alphabet;
  for (const CharacterClass& k : character_classes) {
    bool occurs = false;
    for (unsigned v = 0; v < 256; ++v) occurs = occurs || (k.holds(v) && characters[v] > 0);
    if (!occurs) continue;
    l.classes.push_back(k.name);
    l.alphabet += k.size;
    for (unsigned v = 0; v < 256; ++v) in_alphabet[v] = in_alphabet[v] || k.holds(v);
  }
  if (l.characters == 0) return l;
  for (unsigned v = 0; v < 256; ++v) {
    q[v] = static_cast<double>(characters[v]) / static_cast<double>(l.characters);
  }
  l.character_entropy = entropy_of(characters, l.characters);
  l.ceiling_bits = l.mean_length * std::log2(static_cast<double>(l.alphabet));
  l.estimate_bits = l.mean_length * l.character_entropy;
  if (l.alphabet >= 2) {
    const double expected = static_cast<double>(l.characters) / l.alphabet;
    double chi = 0;
    for (unsigned v = 0; v < 256; ++v) {
      if (!in_alphabet[v]) continue;
      const double d = static_cast<double>(characters[v]) - expected;
      chi += d * d / expected;
    }
    l.chi_square = chi;
    l.degrees_of_freedom = l.alphabet - 1;
    l.p_value = chi_square_tail(chi, l.degrees_of_freedom);
  }
  return l;
}

}  // namespace

const std::array<CharacterClass, 6> character_classes = {{{"digits", 10, digit},
                                                          {"small letters", 26, small_letter},
                                                          {"capitals", 26, capital},
                                                          {"other printable", 33, other_printable},
                                                          {"tab", 1, tab},
                                                          {"0x80 and above", 128, high}}};

bool is_a_list(const Histogram& code) {
  if (code[0x0a] == 0 || code[0x7f] != 0) return false;
  for (unsigned v = 0; v < 0x20; ++v) {
    if (code[v] != 0 && v != 0x09 && v != 0x0a && v != 0x0d) return false;
  }
  return true;
}

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
  if (bits < 40) return "weak";
  return bits < 64 ? "fair" : "strong";
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

  if (is_a_list(t.code)) {
    Frequencies q{};
    f.list = list_figures_of(t.code, f.bytes, q);
    const ListFigures& l = *f.list;
    const auto lines = static_cast<double>(l.lines);
    const Frequencies line_end = certain(l.crlf ? 0x0d : 0x0a);
    const Frequencies line_feed = certain(0x0a);
    if (l.characters > 0) {
      // Pairs inside the lines, the last character to the line end, and the
      // line feed to the next line's first character.
      add_differences(f.expected_differences, static_cast<double>(l.characters) - lines, q, q);
      add_differences(f.expected_differences, lines, q, line_end);
      add_differences(f.expected_differences, lines - 1, line_feed, q);
    }
    if (l.crlf) f.expected_differences[0x0d - 0x0a] += lines;  // CR to LF
  } else if (f.bytes > 1) {
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
