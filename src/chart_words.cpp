// What the chart program says of a result file.
#include "chart_words.h"

#include <cmath>

#include "chart_text.h"

namespace {

// A figure as JSON gives it: 6 significant digits unless told, or null.
std::string json_number(const std::optional<double>& v, int digits = 6) {
  return v ? format("%.*g", digits, *v) : "null";
}

std::string json_of_list(const ListFigures& l) {
  std::string classes;
  for (const char* c : l.classes) classes += (classes.empty() ? "" : ", ") + json_string(c);
  return format("{\"lines\": %llu, \"line_ends\": \"%s\", \"characters\": %llu", as_llu(l.lines),
                l.crlf ? "CR LF" : "LF", as_llu(l.characters)) +
         ", \"mean_length\": " + json_number(l.mean_length, 10) + ", \"classes\": [" + classes +
         "]" + format(", \"alphabet\": %u", l.alphabet) +
         ", \"character_entropy\": " + json_number(l.character_entropy, 10) +
         ", \"ceiling_bits\": " + json_number(l.ceiling_bits, 10) +
         ", \"estimate_bits\": " + json_number(l.estimate_bits, 10) +
         ", \"chi_square\": " + json_number(l.chi_square, 10) + ", \"degrees_of_freedom\": " +
         (l.chi_square ? format("%u", l.degrees_of_freedom) : "null") +
         ", \"p_value\": " + json_number(l.p_value, 7) + "}";
}

// "21, about 9.2 expected by chance: 2.3 times as many"
std::string against_chance(std::uint64_t observed, double expected) {
  std::string out = format("%llu, about %s expected by chance", as_llu(observed),
                           expected_count(expected).c_str());
  if (expected > 0) out += format(": %.2f times as many", static_cast<double>(observed) / expected);
  return out;
}

std::string list_words(const ListFigures& l, std::string& verdict) {
  std::string classes;
  for (const char* c : l.classes) classes += (classes.empty() ? "" : ", ") + std::string(c);
  std::string out = format(
      "Password list: %llu lines ended by %s, %.2f characters a line on "
      "average",
      as_llu(l.lines), l.crlf ? "CR LF" : "LF", l.mean_length);
  if (l.characters == 0) {
    verdict = "every line is empty; there are no passwords to judge.";
    return out + ".\n";
  }
  out += format(", from an alphabet of %u values (%s).\n", l.alphabet, classes.c_str());
  out += format("Characters: %.4g bits of entropy each (%.4g for an even use of the alphabet)",
                l.character_entropy, std::log2(static_cast<double>(l.alphabet)));
  if (l.chi_square) {
    out += format("; chi-square against an even use: %.2f (%u degrees of freedom), p %s",
                  *l.chi_square, l.degrees_of_freedom, p_shown(*l.p_value).c_str());
  }
  out += ".\n";
  out += format(
      "Strength: at most %.1f bits per password, what a uniform draw of %.2f "
      "characters from %u values gives; the characters' use gives at most %.1f, and "
      "passwords that people chose have far less, their characters depending on each "
      "other.\n",
      l.ceiling_bits, l.mean_length, l.alphabet, l.estimate_bits);
  verdict = format("%llu passwords of %.1f characters on average from %u values", as_llu(l.lines),
                   l.mean_length, l.alphabet);
  if (l.p_value) {
    verdict += *l.p_value >= 0.01 ? ", used as a fair generator would use them (p >= 0.01)"
                                  : ", not used as a fair generator would use them (p < 0.01)";
  }
  verdict +=
      format(": at most %.1f bits per password, %s", l.ceiling_bits, strength_of(l.ceiling_bits));
  verdict +=
      l.p_value && *l.p_value < 0.01 ? " at best; chosen rather than drawn, they are weaker." : ".";
  return out;
}

}  // namespace

std::string json_of(const Figures& f, const std::string& name) {
  return "{\"file\": " + json_string(name) + format(", \"bytes\": %llu", as_llu(f.bytes)) +
         format(", \"distinct\": %u", f.distinct) + ", \"entropy\": " + json_number(f.entropy) +
         ", \"evenness\": " + json_number(f.evenness) +
         ", \"chi_square\": " + json_number(f.chi_square, 10) +
         ", \"p_value\": " + json_number(f.p_value, 7) +
         format(", \"pairs\": %llu, \"repeats\": %llu, \"steps_of_one\": %llu", as_llu(f.pairs),
                as_llu(f.repeats), as_llu(f.steps_of_one)) +
         ", \"difference_entropy\": " + json_number(f.difference_entropy) +
         ", \"expected_repeats\": " + json_number(f.expected_repeats, 10) +
         ", \"expected_steps_of_one\": " + json_number(f.expected_steps_of_one, 10) +
         ", \"list\": " + (f.list ? json_of_list(*f.list) : "null") + "}\n";
}

std::string words_of(const Figures& f, const std::string& name) {
  std::string out = format("Census of %s: %llu bytes, %u of the 256 byte values occur.\n",
                           console_text(name).c_str(), as_llu(f.bytes), f.distinct);
  if (f.bytes == 0) return out + "Verdict: the file was empty; there is nothing to judge.\n";
  out += format("Entropy: %.6g bits per byte (8 at most)", f.entropy);
  out += f.evenness ? format("; evenness of the values that occur: %.3f.\n", *f.evenness) : ".\n";
  out += format(
      "Chi-square against an even spread over all 256 values: %.2f "
      "(255 degrees of freedom), p %s.\n",
      *f.chi_square, p_shown(*f.p_value).c_str());
  out += format(
      "Pairs: %llu; repeats (a byte followed by itself): %llu; steps of one (as in abc "
      "or 123): %llu; difference entropy: %.6g bits.\n",
      as_llu(f.pairs), as_llu(f.repeats), as_llu(f.steps_of_one), f.difference_entropy);
  out += std::string("Against chance (") +
         (f.list ? "characters independent within the lines" : "bytes independent") +
         "): repeats " + against_chance(f.repeats, f.expected_repeats) + "; steps of one " +
         against_chance(f.steps_of_one, f.expected_steps_of_one) + ".\n";
  if (f.list) {
    std::string verdict;
    out += list_words(*f.list, verdict);
    return out + "Verdict: " + verdict + "\n";
  }
  std::string how;
  if (!f.evenness) {
    how = "a single byte value makes up the whole file: no spread at all";
  } else {
    const double e = *f.evenness;
    const char* word = e >= 0.99   ? "evenly"
                       : e >= 0.9  ? "fairly evenly"
                       : e >= 0.75 ? "unevenly"
                                   : "very unevenly";
    how = format("the %u values that occur are used %s (evenness %.3f)", f.distinct, word, e);
  }
  const bool plausible = *f.p_value >= 0.01;
  return out + "Verdict: " + how + "; a uniform draw over all 256 byte values is " +
         (plausible ? "plausible (p >= 0.01).\n" : "not plausible (p < 0.01).\n");
}
