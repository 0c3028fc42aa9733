// What the chart program says of a result file.
#include "chart/words.h"

#include <cmath>

#include "census/names.h"
#include "chart/text.h"

namespace {

// A figure as JSON gives it: 6 significant digits unless told, or null.
std::string json_number(const std::optional<double>& v, int digits = 6) {
  return v ? format("%.*g", digits, *v) : "null";
}

std::string json_bool(const std::optional<bool>& v) { return v ? (*v ? "true" : "false") : "null"; }

std::string json_text(const char* v) { return v != nullptr ? json_string(v) : "null"; }

std::string json_of_list(const ListFigures& l) {
  std::string classes;
  for (const char* c : l.classes) classes += (classes.empty() ? "" : ", ") + json_string(c);
  const bool fairness_tested = l.chi_square.has_value();
  const bool independence_tested = l.independence_chi_square.has_value();
  return format("{\"lines\": %llu, \"line_ends\": \"%s\", \"characters\": %llu", as_llu(l.lines),
                line_ends_word(l), as_llu(l.characters)) +
         ", \"mean_length\": " + json_number(l.mean_length, 10) + ", \"classes\": [" + classes +
         "]" + format(", \"alphabet\": %u", l.alphabet) +
         ", \"alphabet_name\": " + json_text(l.alphabet_name) +
         ", \"utf8\": " + json_bool(l.high_bytes ? std::optional<bool>(l.utf8) : std::nullopt) +
         ", \"byte_order_mark\": " + json_bool(l.byte_order_mark) +
         format(", \"left_out\": %llu", as_llu(l.left_out)) +
         ", \"character_entropy\": " + json_number(l.character_entropy, 10) +
         ", \"ceiling_bits\": " + json_number(l.ceiling_bits, 10) +
         ", \"estimate_bits\": " + json_number(l.estimate_bits, 10) +
         ", \"chi_square\": " + json_number(l.chi_square, 10) + ", \"degrees_of_freedom\": " +
         (fairness_tested ? format("%u", l.degrees_of_freedom) : "null") +
         ", \"p_value\": " + json_number(l.p_value, 7) + ", \"fair\": " + json_bool(l.fair) +
         ", \"independence_chi_square\": " + json_number(l.independence_chi_square, 10) +
         ", \"independence_degrees_of_freedom\": " +
         (independence_tested ? format("%u", l.independence_degrees_of_freedom) : "null") +
         ", \"independence_p_value\": " + json_number(l.independence_p_value, 7) +
         ", \"independent\": " + json_bool(l.independent) +
         ", \"dependence_cost_bits\": " + json_number(l.dependence_cost_bits, 6) +
         ", \"dependence\": " + json_text(l.dependence ? dependence_word(*l.dependence) : nullptr) +
         ", \"unevenness_cost_bits\": " + json_number(l.unevenness_cost_bits, 6) +
         ", \"even_share\": " + json_number(l.even_share, 6) +
         ", \"kind\": " + json_string(kind_word(l.kind)) +
         ", \"bits\": " + json_number(l.bits, 10) + ", \"strength\": " + json_text(l.strength) +
         "}";
}

// "21, about 9.2 expected by chance: 2.3 times as many"
std::string against_chance(std::uint64_t observed, double expected) {
  std::string out = format("%llu, about %s expected by chance", as_llu(observed),
                           expected_count(expected).c_str());
  if (expected > 0) out += format(": %.2f times as many", static_cast<double>(observed) / expected);
  return out;
}

// "an alphabet of 16 values (hexadecimal digits)", or "an alphabet of 59
// values among digits, small letters and other printable".
std::string alphabet_words(const ListFigures& l) {
  std::string out = format("an alphabet of %u value%s", l.alphabet, l.alphabet == 1 ? "" : "s");
  if (l.alphabet_name != nullptr) return out + " (" + l.alphabet_name + ")";
  for (std::size_t i = 0; i < l.classes.size(); ++i) {
    out += i == 0 ? " among " : i + 1 == l.classes.size() ? " and " : ", ";
    out += l.classes[i];
  }
  return out;
}

// A cost in bits a password as the words give it: never 0.000 for one that is not 0.
std::string bits_shown(double bits) {
  return bits > 0 && bits < 0.0005 ? "below 0.001 bits" : format("%.3f bits", bits);
}

// "12 code points from 0x80 left out", "a UTF-8 byte-order mark left out".
std::string left_out_words(const ListFigures& l) {
  std::string out;
  if (l.byte_order_mark)
    out += l.encoding == Encoding::utf16 ? "its byte-order mark" : "a UTF-8 byte-order mark";
  if (l.left_out > 0) {
    out += (out.empty() ? "" : " and ") +
           format("%llu code point%s from 0x80 (at most 1 %% of the characters)",
                  as_llu(l.left_out), l.left_out == 1 ? "" : "s");
  }
  return out.empty() ? out : ", " + out + " left out";
}

}  // namespace

std::string list_line(const ListFigures& l) {
  std::string list =
      format("list of %llu password%s, %s characters on average, alphabet %u", as_llu(l.lines),
             l.lines == 1 ? "" : "s", exact_ratio(l.characters, l.lines, 1).c_str(), l.alphabet);
  if (l.alphabet_name != nullptr) list += std::string(" (") + l.alphabet_name + ")";
  list += std::string(": ") + kind_word(l.kind);
  if (l.dependence == Dependence::slight) list += " (slightly dependent)";
  if (l.bits) {
    list += format(", %.1f bits per password (%s)", *l.bits, l.strength);
  } else if (l.kind == ListKind::chosen) {
    list +=
        format(", below %.1f bits per password; check it against known passwords", *l.ceiling_bits);
  } else if (l.kind == ListKind::utf16) {
    list += format(", ceiling %.1f bits; its independence cannot be judged", *l.ceiling_bits);
  } else if (l.kind == ListKind::too_few) {
    list += l.alphabet < 2
                ? std::string(" (the tests need two values)")
                : format(" (the tests need %llu characters)", as_llu(l.characters_needed));
  } else {
    list += l.utf8 ? " (UTF-8), not judged" : " (not UTF-8), not judged";
  }
  return list;
}

namespace {

// The verdict's first sentence, "drawn evenly, 95.3 bits a password, strong:
// the characters are used evenly and independently.", and its details, a line each.
struct Verdict {
  std::string first;
  std::string details;
};

Verdict verdict_of(const ListFigures& l) {
  Verdict v;
  const std::string kind = kind_word(l.kind);
  const std::string none = kind + ", no bits given: ";
  switch (l.kind) {
    case ListKind::too_few:
      v.first = none + (l.alphabet < 2 ? "the tests need two values."
                        : l.characters < l.characters_needed
                            ? format("the tests need at least %llu characters.",
                                     as_llu(l.characters_needed))
                            : "the differences give no test.");
      return v;
    case ListKind::multi_byte:
      v.first = none + (l.utf8 ? "more than 1 % of the characters are UTF-8 code points from "
                                 "0x80, which these counts cannot judge."
                               : "bytes from 0x80 that are not UTF-8, an encoding these counts "
                                 "cannot judge.");
      return v;
    case ListKind::utf16:
      v.first = none + "the independence of its characters cannot be judged.";
      v.details = format(
          "In UTF-16 each difference is a character's with a zero byte: no difference is "
          "between two characters. The characters are used %s; the ceiling is %.1f bits a "
          "password. Save the list as UTF-8 to have it judged.\n",
          *l.fair ? "evenly" : "unevenly", *l.ceiling_bits);
      return v;
    case ListKind::chosen:
      v.first = none + "the characters depend on each other.";
      v.details = format(
          "Two causes give such counts, and these counts cannot tell them apart: people's "
          "choices (words, names, dates, keyboard runs) and generators of words or syllables. "
          "The strength lies below the ceiling of %.1f bits. For a generator, its own figure "
          "gives the bits: log2 of its word list's size times the number of words. Check a "
          "list of people's passwords against lists of known passwords.\n",
          *l.ceiling_bits);
      return v;
    case ListKind::drawn_evenly:
    case ListKind::drawn_unevenly:
      break;
  }
  v.first = kind + format(", %.1f bits a password, %s: ", *l.bits, l.strength) +
            (l.kind == ListKind::drawn_evenly
                 ? (l.dependence == Dependence::slight
                        ? "the characters are used evenly, and depend on each other slightly."
                        : "the characters are used evenly and independently.")
                 : "some characters are used more often than others.");
  if (l.kind == ListKind::drawn_unevenly) {
    v.details += "The uneven use costs " + bits_shown(*l.unevenness_cost_bits) +
                 format(
                     " a password against an even draw over the alphabet (%.1f bits); rules "
                     "such as \"at least one digit\" make it, and so does a generator that "
                     "favours some characters.\n",
                     *l.ceiling_bits);
  }
  if (l.dependence == Dependence::slight) {
    v.details +=
        "The characters depend on each other slightly, as rules such as \"at least one "
        "digit\" make them: " +
        bits_shown(*l.dependence_cost_bits) +
        " a password are counted off. Such rules take bits that these counts cannot "
        "see, for short passwords with several rules up to a few percent.\n";
  }
  if (l.even_share) {
    v.details +=
        "A mix of drawn and chosen passwords gives such counts too: an even draw over the "
        "alphabet can explain " +
        (*l.even_share >= 0.9995
             ? std::string("all of the characters.\n")
             : format("at most %.1f %% of the characters; the rest, if chosen, may be far "
                      "weaker than the figure.\n",
                      100 * *l.even_share));
  }
  return v;
}

// The lines after the figures of every file, and the verdict, for a list.
std::string list_words(const ListFigures& l, Verdict& verdict) {
  std::string out = format(
      "Password list: %llu line%s ended by %s%s, %s characters a line on average", as_llu(l.lines),
      l.lines == 1 ? "" : "s", line_ends_word(l), l.encoding == Encoding::utf16 ? " in UTF-16" : "",
      exact_ratio(l.characters, l.lines, 2).c_str());
  if (l.bytes == 0) {
    verdict.first = "every line is empty; there are no passwords to judge.";
    return out + left_out_words(l) + ".\n";
  }
  out += ", from " + alphabet_words(l) + left_out_words(l) + ".\n";
  verdict = verdict_of(l);
  switch (l.kind) {
    case ListKind::too_few:
      if (l.alphabet < 2) {
        out += "Too few to judge: one value makes up every character; the tests need two.\n";
      } else if (l.characters < l.characters_needed) {
        out += format(
            "Too few to judge: %llu characters, and the tests need %llu, %llu for each of "
            "the %u values.\n",
            as_llu(l.characters), as_llu(l.characters_needed), as_llu(characters_per_value),
            l.alphabet);
      } else {
        out +=
            "Too few to judge: the differences fall into fewer than two cells that chance "
            "fills 5 times.\n";
      }
      return out;
    case ListKind::multi_byte:
      if (l.utf8) {
        out += format(
            "Multi-byte characters: the bytes from 0x80 agree with UTF-8, so the %llu "
            "characters are code points, %llu bytes; the tests would judge bytes, not the "
            "generator's characters, and are not run.\n",
            as_llu(l.characters), as_llu(l.bytes));
      } else {
        out +=
            "Multi-byte characters: bytes from 0x80 that do not agree with UTF-8, counted "
            "as characters one by one; the encoding is not known, and the tests are not "
            "run.\n";
      }
      return out;
    case ListKind::utf16:
    case ListKind::drawn_evenly:
    case ListKind::drawn_unevenly:
    case ListKind::chosen:
      break;
  }
  out += format(
      "Characters: %.4g bits of entropy each (%.4g for an even use of the alphabet); "
      "chi-square against an even use: %.2f (%u degrees of freedom), p %s: used %s.\n",
      l.character_entropy, std::log2(static_cast<double>(l.alphabet)), *l.chi_square,
      l.degrees_of_freedom, p_shown(*l.p_value).c_str(),
      *l.fair ? "evenly (p >= 0.01)" : "unevenly (p < 0.01)");
  if (l.kind == ListKind::utf16) return out;
  out += format(
      "Independence: chi-square of the differences against characters independent within "
      "the lines: %.2f (%u degrees of freedom), p %s: %s.\n",
      *l.independence_chi_square, l.independence_degrees_of_freedom,
      p_shown(*l.independence_p_value).c_str(),
      *l.independent ? "independent (p >= 0.01)"
                     : format("the characters depend on each other%s (p < 0.01); the "
                              "dependence costs %s%s a password",
                              *l.dependence == Dependence::slight ? " slightly" : "",
                              *l.dependence_cost_bits >= 0.0005 ? "at least " : "",
                              bits_shown(*l.dependence_cost_bits).c_str())
                           .c_str());
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
                           shown_name(name).c_str(), as_llu(f.bytes), f.distinct);
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
  out += std::string("Against chance (") + chance_word(f) + "): repeats " +
         against_chance(f.repeats, f.expected_repeats) + "; steps of one " +
         against_chance(f.steps_of_one, f.expected_steps_of_one) + ".\n";
  if (f.list) {
    Verdict verdict;
    out += list_words(*f.list, verdict);
    return out + "Verdict: " + verdict.first + "\n" + verdict.details;
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
