// Reading a result file back, its figures, and its chart.
#include "chart.h"

#include <algorithm>
#include <boost/math/special_functions/gamma.hpp>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string_view>
#include <vector>

namespace {

// printf into a string.
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
  char buffer[512];
  va_list args;
  va_start(args, pattern);
  const int n = std::vsnprintf(buffer, sizeof buffer, pattern, args);
  va_end(args);
  return n < 0 ? std::string() : std::string(buffer, std::min<std::size_t>(n, sizeof buffer - 1));
}

unsigned long long as_llu(std::uint64_t v) { return v; }

// ---------------------------------------------------------------- reading

// A count as "%llu" prints it: decimal digits, no sign, no leading zero, at most 2^64 - 1.
bool parse_count(std::string_view s, std::uint64_t& n) {
  if (s.empty() || s.size() > 20 || (s.size() > 1 && s[0] == '0')) return false;
  n = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (n > (UINT64_MAX - digit) / 10) return false;
    n = n * 10 + digit;
  }
  return true;
}

// A value as "%x" prints it: lower-case hexadecimal, no leading zero, at most 0xff.
bool parse_value(std::string_view s, unsigned& v) {
  if (s.empty() || s.size() > 2 || (s.size() > 1 && s[0] == '0')) return false;
  v = 0;
  for (const char c : s) {
    const bool digit = c >= '0' && c <= '9';
    if (!digit && (c < 'a' || c > 'f')) return false;
    v = v * 16 + static_cast<unsigned>(digit ? c - '0' : c - 'a' + 10);
  }
  return true;
}

// The lines of a result file, read one after the other.
class Lines {
 public:
  explicit Lines(const std::string& text) {
    const std::string_view all(text);
    const std::string_view line_end = all.starts_with("\r\n") ? "\r\n" : "\n";
    for (std::size_t at = 0; at < all.size();) {
      const std::size_t ends_at = all.find(line_end, at);
      if (ends_at == std::string_view::npos) {  // the last line lacks its line end
        lines_.push_back(all.substr(at));
        unended_ = true;
        break;
      }
      lines_.push_back(all.substr(at, ends_at - at));
      at = ends_at + line_end.size();
    }
  }

  bool failed() const { return !error_.expected.empty(); }
  const ReadError& error() const { return error_; }
  std::size_t number() const { return at_ + 1; }  // of the next line

  // Fails with what was expected at the current line; the first fault stands.
  bool fail(const std::string& expected, std::size_t line = 0) {
    if (!failed()) error_ = {line == 0 ? number() : line, expected};
    return false;
  }

  // The next line, or a fault if there is none or it lacks its line end.
  bool next(const std::string& expected, std::string_view& line) {
    if (failed()) return false;
    if (at_ >= lines_.size()) return fail(expected + ", found the end of the file");
    if (unended_ && at_ + 1 == lines_.size()) return fail(expected + " and its line end");
    line = lines_[at_++];
    return true;
  }

  void text(std::string_view expected) {
    std::string_view line;
    const std::string quoted = "expected \"" + std::string(expected) + "\"";
    if (next(quoted, line) && line != expected) fail(quoted, number() - 1);
  }
  void empty() { text(""); }

  // "PREFIX0xV = N SUFFIX"; v is the value it must name, or -1 for any.
  bool value_count(std::string_view prefix, int v, std::string_view suffix, unsigned& value,
                   std::uint64_t& count) {
    const std::string shown = std::string(prefix) + (v < 0 ? "0xVALUE" : format("0x%x", v)) +
                              " = COUNT" + std::string(suffix);
    std::string_view line;
    if (!next("expected \"" + shown + "\"", line)) return false;
    const std::string head = std::string(prefix) + "0x";
    const std::size_t equals = line.find(" = ");
    const bool framed = line.starts_with(head) && line.ends_with(suffix) &&
                        equals != std::string_view::npos &&
                        equals + 3 <= line.size() - suffix.size();
    if (!framed || !parse_value(line.substr(head.size(), equals - head.size()), value) ||
        (v >= 0 && value != static_cast<unsigned>(v))) {
      return fail("expected \"" + shown + "\"", number() - 1);
    }
    const std::string_view digits =
        line.substr(equals + 3, line.size() - suffix.size() - (equals + 3));
    if (!parse_count(digits, count)) {
      return fail("expected a count from 0 to 18446744073709551615 in \"" + shown + "\"",
                  number() - 1);
    }
    return true;
  }

  bool number_line(std::string_view prefix, std::string_view suffix, std::uint64_t& count) {
    const std::string shown = std::string(prefix) + "COUNT" + std::string(suffix);
    std::string_view line;
    if (!next("expected \"" + shown + "\"", line)) return false;
    if (!line.starts_with(prefix) || !line.ends_with(suffix) ||
        line.size() < prefix.size() + suffix.size() ||
        !parse_count(line.substr(prefix.size(), line.size() - prefix.size() - suffix.size()),
                     count)) {
      return fail("expected \"" + shown + "\" with a count from 0 to 18446744073709551615",
                  number() - 1);
    }
    return true;
  }

  void end() {
    if (!failed() && at_ < lines_.size()) fail("expected the end of the file");
  }

 private:
  std::vector<std::string_view> lines_;
  bool unended_ = false;
  std::size_t at_ = 0;
  ReadError error_;
};

// One half of the file: a table, its limits and its average, each summary
// line checked against the table. what is "Byte" or "difference".
void read_half(Lines& in, const char* what, Histogram& h, std::uint64_t& sum) {
  for (int v = 0; v < 256; ++v) {
    unsigned value = 0;
    in.value_count(std::string(what) + " ", v, " ", value, h[static_cast<unsigned>(v)]);
  }
  const std::size_t last_row = in.number() - 1;
  in.empty();
  if (in.failed()) return;
  const std::uint64_t largest = *std::max_element(h.begin(), h.end());
  const std::uint64_t smallest = *std::min_element(h.begin(), h.end());
  for (const char* limit : {"upper", "lower"}) {
    const bool upper = limit[0] == 'u';
    const std::uint64_t expected = upper ? largest : smallest;
    unsigned value = 0;
    std::uint64_t count = 0;
    const std::string prefix = std::string(limit) + " limit is " + what + " ";
    if (!in.value_count(prefix, -1, " times", value, count)) return;
    if (count != expected) {
      in.fail(format("expected the %s limit %llu, the %s count of the table", limit,
                     as_llu(expected), upper ? "largest" : "smallest"),
              in.number() - 1);
    } else if (h[value] != count) {
      in.fail(format("expected a value that holds the count %llu; 0x%x holds %llu", as_llu(count),
                     value, as_llu(h[value])),
              in.number() - 1);
    }
  }
  in.empty();
  in.text(std::string("(Other ") + (what[0] == 'B' ? "bytes" : "differences") +
          " with the same frequency are possible)");
  sum = 0;
  for (const std::uint64_t n : h) {
    if (__builtin_add_overflow(sum, n, &sum)) {
      in.fail("expected counts that add up to at most 18446744073709551615", last_row);
      return;
    }
  }
  std::uint64_t average = 0;
  if (in.number_line("calculate average frequency = ", " ", average) && average != sum / 256) {
    in.fail(
        format("expected the average %llu, the sum of the table divided by 256", as_llu(sum / 256)),
        in.number() - 1);
  }
}

// ---------------------------------------------------------------- figures

double entropy_of(const Histogram& h, std::uint64_t total) {
  double bits = 0;
  for (const std::uint64_t n : h) {
    if (n == 0) continue;
    const double p = static_cast<double>(n) / static_cast<double>(total);
    bits -= p * std::log2(p);
  }
  return bits;
}

// A figure as JSON gives it: 6 significant digits, or null.
std::string json_number(const std::optional<double>& v, int digits = 6) {
  return v ? format("%.*g", digits, *v) : "null";
}

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      out += format("\\u%04x", u);
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string xml_escaped(const std::string& s) {
  std::string out;
  for (const char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    }
  }
  return out;
}

// ---------------------------------------------------------------- the chart

constexpr double width = 1200;
constexpr double height = 740;
constexpr double left = 80;  // the plot area of both panels
constexpr double plot_width = 1100;
constexpr double slot = plot_width / 256;

// Byte kinds, each with its colour and its legend.
struct Kind {
  const char* colour;
  const char* legend;
};
constexpr Kind kinds[] = {{"#9e9e9e", "control 0x0-0x1f, 0x7f"},
                          {"#1f77b4", "digits"},
                          {"#ff7f0e", "capitals"},
                          {"#2ca02c", "small letters"},
                          {"#9467bd", "other printable"},
                          {"#8c564b", "0x80-0xff"}};

const Kind& kind_of(unsigned v) {
  if (v < 0x20 || v == 0x7f) return kinds[0];
  if (v >= '0' && v <= '9') return kinds[1];
  if (v >= 'A' && v <= 'Z') return kinds[2];
  if (v >= 'a' && v <= 'z') return kinds[3];
  return v < 0x80 ? kinds[4] : kinds[5];
}

// A count axis: the top of the scale and where a count stands on it, from 0
// (the axis) to 1 (the top).
struct Scale {
  bool log = false;
  double top = 1;
  double at(double count) const {
    if (!log) return count / top;
    return count < 1 ? 0 : std::log10(count / 0.5) / std::log10(top / 0.5);
  }
};

// Round ticks: 1, 2 or 5 times a power of ten apart, about five of them, and
// never less than 1 apart, since counts are whole; on a logarithmic axis the
// powers of ten.
Scale scale_for(std::uint64_t largest, bool log, std::vector<double>& ticks) {
  Scale s;
  s.log = log;
  const double most = std::max<double>(1, static_cast<double>(largest));
  if (log) {
    s.top = std::pow(10, std::ceil(std::log10(most)));
    if (s.top <= most) s.top *= 10;
    const int decades = static_cast<int>(std::lround(std::log10(s.top)));
    const int every = decades > 10 ? 2 : 1;
    for (int d = 0; d <= decades; d += every) ticks.push_back(std::pow(10, d));
    return s;
  }
  const double raw = most / 5;
  const double power = std::pow(10, std::floor(std::log10(raw)));
  double step = power;
  for (const double m : {1.0, 2.0, 5.0, 10.0}) {
    step = m * power;
    if (step >= raw) break;
  }
  step = std::max(step, 1.0);
  const long steps = std::lround(std::ceil(most / step));
  s.top = static_cast<double>(steps) * step;
  for (long i = 0; i <= steps; ++i) ticks.push_back(static_cast<double>(i) * step);
  return s;
}

std::string count_label(double v) {
  if (v >= 1e15) return format("%.0e", v);
  return format("%.0f", v);
}

// One panel: axes, ticks, 256 bars with their tooltips, the average line and
// the two limits. total is the sum of the table.
void draw_panel(std::string& svg, const Histogram& h, std::uint64_t total, bool bytes, double top,
                double plot_height, bool log) {
  std::vector<double> ticks;
  const auto most = std::max_element(h.begin(), h.end());
  const Scale scale = scale_for(*most, log, ticks);
  const double base = top + plot_height;
  const char* what = bytes ? "Byte allocation: how often each byte value occurs"
                           : "Byte diversification: how often each difference of two "
                             "following bytes occurs";
  svg += format("<text x=\"%g\" y=\"%g\" class=\"panel\">%s</text>\n", left, top - 30, what);
  // The count axis and its grid.
  for (const double t : ticks) {
    const double y = base - scale.at(t) * plot_height;
    svg += format("<line x1=\"%g\" y1=\"%.1f\" x2=\"%g\" y2=\"%.1f\" class=\"grid\"/>", left, y,
                  left + plot_width, y);
    svg += format("<text x=\"%g\" y=\"%.1f\" class=\"count\">%s</text>\n", left - 6, y + 4,
                  count_label(t).c_str());
  }
  // The value axis, a tick every 0x10.
  svg += format("<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" class=\"axis\"/>\n", left, base,
                left + plot_width, base);
  for (unsigned v = 0; v <= 0x100; v += 0x10) {
    const unsigned shown = std::min(v, 0xffu);
    const double x = left + (shown + 0.5) * slot;
    svg += format("<line x1=\"%.1f\" y1=\"%g\" x2=\"%.1f\" y2=\"%g\" class=\"axis\"/>", x, base, x,
                  base + 5);
    svg += format("<text x=\"%.1f\" y=\"%g\" class=\"value\">0x%x</text>\n", x, base + 18, shown);
  }
  // The bars.
  for (unsigned v = 0; v < 256; ++v) {
    const double bar = scale.at(static_cast<double>(h[v])) * plot_height;
    std::string tip = bytes ? format("0x%x", v) : format("difference 0x%x", v);
    if (bytes && v >= 0x20 && v < 0x7f) tip += " '" + xml_escaped(std::string(1, char(v))) + "'";
    tip += " = " + format("%llu", as_llu(h[v]));
    svg += format("<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"%s\">",
                  left + v * slot + 0.4, base - bar, slot - 0.8, bar,
                  bytes ? kind_of(v).colour : "#138d90");
    svg += "<title>" + tip + "</title></rect>\n";
  }
  // The average, as the result file gives it.
  const std::uint64_t average_count = total / 256;  // rounded down, as in the file
  const auto average = static_cast<double>(average_count);
  if (average > 0 || !log) {
    const double y = base - scale.at(average) * plot_height;
    svg += format("<line x1=\"%g\" y1=\"%.1f\" x2=\"%g\" y2=\"%.1f\" class=\"average\"/>", left, y,
                  left + plot_width, y);
    svg += format("<text x=\"%g\" y=\"%.1f\" class=\"average\">average %llu</text>\n",
                  left + plot_width, y - 4, as_llu(average_count));
  }
  // The limits: the first value with the largest count and with the smallest.
  const auto upper = static_cast<unsigned>(most - h.begin());
  const auto lower = static_cast<unsigned>(std::min_element(h.begin(), h.end()) - h.begin());
  const char* noun = bytes ? "Byte" : "difference";
  for (const bool is_upper : {true, false}) {
    const unsigned v = is_upper ? upper : lower;
    const double x = left + (v + 0.5) * slot;
    const double y = top - (is_upper ? 4 : 16);
    const bool right_side = v > 200;
    svg += format("<path d=\"M%.1f %.1f l-4 -7 h8 z\" class=\"%s\"/>", x, y,
                  is_upper ? "upper" : "lower");
    svg += format(
        "<text x=\"%.1f\" y=\"%.1f\" class=\"%s\" text-anchor=\"%s\">%s limit is %s 0x%x = %llu "
        "times</text>\n",
        right_side ? x - 8 : x + 8, y, is_upper ? "upper" : "lower", right_side ? "end" : "start",
        is_upper ? "upper" : "lower", noun, v, as_llu(h[v]));
  }
}

}  // namespace

// Errors become a quiet NaN and a value too small for a double becomes 0,
// instead of exceptions.
double chi_square_tail(double x) {
  using namespace boost::math::policies;
  using quiet = policy<domain_error<errno_on_error>, pole_error<errno_on_error>,
                       overflow_error<errno_on_error>, underflow_error<ignore_error>,
                       evaluation_error<errno_on_error>>;
  return boost::math::gamma_q(127.5, x / 2, quiet());
}

bool read_result(const std::string& text, Tables& tables, ReadError& error) {
  Lines in(text);
  std::uint64_t bytes = 0;
  std::uint64_t pairs = 0;
  in.empty();
  in.text("Byte allocation: ");
  in.empty();
  read_half(in, "Byte", tables.code, bytes);
  in.empty();
  in.empty();
  in.empty();
  in.text("Byte diversification (differences of two following bytes): ");
  in.empty();
  const std::size_t first_difference = in.number();
  read_half(in, "difference", tables.code2, pairs);
  in.end();
  const std::uint64_t expected = bytes == 0 ? 0 : bytes - 1;
  if (!in.failed() && pairs != expected) {
    in.fail(format("expected differences that add up to %llu, the bytes less one; they add up "
                   "to %llu",
                   as_llu(expected), as_llu(pairs)),
            first_difference + 255);
  }
  error = in.error();
  return !in.failed();
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
    f.p_value = chi_square_tail(chi);
  }
  f.repeats = t.code2[0];
  f.steps_of_one = t.code2[1];
  return f;
}

std::string json_of(const Figures& f, const std::string& name) {
  return "{\"file\": " + json_string(name) + format(", \"bytes\": %llu", as_llu(f.bytes)) +
         format(", \"distinct\": %u", f.distinct) + ", \"entropy\": " + json_number(f.entropy) +
         ", \"evenness\": " + json_number(f.evenness) +
         ", \"chi_square\": " + json_number(f.chi_square, 10) +
         ", \"p_value\": " + json_number(f.p_value, 7) +
         format(", \"pairs\": %llu, \"repeats\": %llu, \"steps_of_one\": %llu", as_llu(f.pairs),
                as_llu(f.repeats), as_llu(f.steps_of_one)) +
         ", \"difference_entropy\": " + json_number(f.difference_entropy) + "}\n";
}

std::string words_of(const Figures& f, const std::string& name) {
  std::string out = format("Census of %s: %llu bytes, %u of the 256 byte values occur.\n",
                           name.c_str(), as_llu(f.bytes), f.distinct);
  if (f.bytes == 0) return out + "Verdict: the file was empty; there is nothing to judge.\n";
  out += format("Entropy: %.6g bits per byte (8 at most)", f.entropy);
  out += f.evenness ? format("; evenness of the values that occur: %.3f.\n", *f.evenness) : ".\n";
  const std::string p = *f.p_value < 1e-300 ? "< 1e-300" : "= " + format("%.3g", *f.p_value);
  out += format(
      "Chi-square against an even spread over all 256 values: %.2f "
      "(255 degrees of freedom), p %s.\n",
      *f.chi_square, p.c_str());
  out += format(
      "Pairs: %llu; repeats (a byte followed by itself): %llu; steps of one (as in abc "
      "or 123): %llu; difference entropy: %.6g bits.\n",
      as_llu(f.pairs), as_llu(f.repeats), as_llu(f.steps_of_one), f.difference_entropy);
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

std::string svg_of(const Tables& t, const Figures& f, const std::string& name, bool log) {
  std::string svg = format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%g\" height=\"%g\" "
      "viewBox=\"0 0 %g %g\" font-family=\"sans-serif\">\n",
      width, height, width, height);
  svg +=
      "<style>\n"
      "@page { size: landscape; margin: 10mm; }\n"
      "@media print { svg { width: 100%; height: auto; } }\n"
      ".title { font-size: 20px; font-weight: bold; }\n"
      ".facts, .panel { font-size: 14px; }\n"
      ".panel { font-weight: bold; }\n"
      ".count { font-size: 11px; text-anchor: end; }\n"
      ".value { font-size: 11px; text-anchor: middle; }\n"
      ".legend { font-size: 12px; }\n"
      ".grid { stroke: #e0e0e0; }\n"
      ".axis { stroke: #333; }\n"
      "line.average { stroke: #d62728; stroke-dasharray: 6 4; }\n"
      "text.average { font-size: 11px; fill: #d62728; text-anchor: end; }\n"
      "path.upper { fill: #7b1fa2; } text.upper { font-size: 11px; fill: #7b1fa2; }\n"
      "path.lower { fill: #00695c; } text.lower { font-size: 11px; fill: #00695c; }\n"
      "</style>\n"
      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += "<text x=\"20\" y=\"30\" class=\"title\">Octetcensusmeter: " + xml_escaped(name) +
         "</text>\n";
  std::string facts = format("%llu bytes, %u distinct values, entropy %.3f bits per byte",
                             as_llu(f.bytes), f.distinct, f.entropy);
  facts += f.evenness ? format(", evenness %.3f", *f.evenness) : ", evenness -";
  if (f.p_value) {
    const std::string p = *f.p_value < 1e-300 ? "< 1e-300" : "= " + format("%.3g", *f.p_value);
    facts += format(", chi-square %.1f, p %s", *f.chi_square, p.c_str());
  }
  if (log) facts += "; counts on a logarithmic axis";
  svg += "<text x=\"20\" y=\"54\" class=\"facts\">" + xml_escaped(facts) + "</text>\n";
  // The legend of the byte kinds, to the right of the first panel's title.
  double x = 500;
  for (const Kind& k : kinds) {
    svg +=
        format("<rect x=\"%g\" y=\"%d\" width=\"10\" height=\"10\" fill=\"%s\"/>", x, 91, k.colour);
    svg += format("<text x=\"%g\" y=\"%d\" class=\"legend\">%s</text>\n", x + 14, 100, k.legend);
    x += 14 + 6.5 * static_cast<double>(std::string_view(k.legend).size()) + 14;
  }
  draw_panel(svg, t.code, f.bytes, true, 130, 230, log);
  draw_panel(svg, t.code2, f.pairs, false, 470, 230, log);
  return svg + "</svg>\n";
}
