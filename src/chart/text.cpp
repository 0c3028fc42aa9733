// Text shared by everything the chart program says.
#include "chart/text.h"

#include <cstdarg>
#include <cstdio>

#include "census/utf8.h"

std::string format(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, pattern, args);
  va_end(args);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), pattern, again);
    out.resize(static_cast<std::size_t>(n));
  }
  va_end(again);
  return out;
}

std::string clean_utf8(std::string_view s) {
  std::string out;
  for_each_character(s, [&](char32_t c, bool, std::size_t, std::size_t) { append_utf8(out, c); });
  return out;
}

std::string xml_escaped(std::string_view s) {
  std::string out;
  for_each_character(s, [&](char32_t c, bool, std::size_t, std::size_t) {
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
        append_utf8(out, c < 0x20 ? replacement_character : c);
    }
  });
  return out;
}

std::string json_string(std::string_view s) {
  std::string out = "\"";
  for_each_character(s, [&](char32_t c, bool, std::size_t, std::size_t) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      out += format("\\u%04x", static_cast<unsigned>(c));
    } else {
      append_utf8(out, c);
    }
  });
  return out + "\"";
}

std::string short_count(double v) {
  static const char* const suffixes[] = {"", "k", "M", "G", "T", "P", "E", "Z"};
  unsigned k = 0;
  double scaled = v;
  while (scaled >= 1000 && k + 1 < sizeof suffixes / sizeof suffixes[0]) {
    scaled /= 1000;
    ++k;
  }
  return format("%.4g%s", scaled, suffixes[k]);
}

std::string p_shown(double p) { return p < 1e-300 ? "< 1e-300" : "= " + format("%.3g", p); }

std::string expected_count(double v) {
  if (v < 100) return format("%.3g", v);
  return format(v < 1e7 ? "%.0f" : "%.4g", v);
}

std::string exact_ratio(std::uint64_t a, std::uint64_t b, int decimals) {
  // Long division, one digit past the last shown for the rounding. r * 10
  // would overflow: r is added ten times, each wrap past b one more.
  std::uint64_t whole = a / b;
  std::uint64_t r = a % b;
  std::string fraction;
  for (int place = 0; place <= decimals; ++place) {
    char digit = '0';
    std::uint64_t next = 0;
    for (int i = 0; i < 10; ++i) {
      if (next >= b - r) {
        next -= b - r;
        ++digit;
      } else {
        next += r;
      }
    }
    fraction.push_back(digit);
    r = next;
  }
  // Rounded half up. A carry past the point cannot overflow: with a
  // remainder, b is at least 2.
  bool carry = fraction.back() >= '5';
  fraction.pop_back();
  for (auto at = fraction.rbegin(); carry && at != fraction.rend(); ++at) {
    carry = *at == '9';
    *at = carry ? '0' : static_cast<char>(*at + 1);
  }
  if (carry) ++whole;
  return decimals > 0 ? std::to_string(whole) + "." + fraction : std::to_string(whole);
}
