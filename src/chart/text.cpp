// Text shared by everything the chart program says.
#include "chart/text.h"

#include <cstdarg>
#include <cstdio>

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

namespace {

constexpr char32_t replacement = 0xfffd;

// The character that starts at s[at] and its length in bytes; a byte that does
// not start a well-formed character is one byte long and gives U+FFFD, with
// well_formed false.
char32_t next_character(std::string_view s, std::size_t at, std::size_t& length,
                        bool& well_formed) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[at + i]); };
  const unsigned b = byte(0);
  length = 1;
  well_formed = true;
  if (b < 0x80) return b;
  // The second byte's range depends on the first: it rules out overlong
  // forms, surrogates (ED A0 to ED BF) and anything past U+10FFFF.
  unsigned n = 0;
  unsigned low = 0x80;
  unsigned high = 0xbf;
  if (b >= 0xc2 && b <= 0xdf) {
    n = 1;
  } else if (b >= 0xe0 && b <= 0xef) {
    n = 2;
    if (b == 0xe0) low = 0xa0;
    if (b == 0xed) high = 0x9f;
  } else if (b >= 0xf0 && b <= 0xf4) {
    n = 3;
    if (b == 0xf0) low = 0x90;
    if (b == 0xf4) high = 0x8f;
  }
  if (n == 0 || at + n >= s.size()) {
    well_formed = false;
    return replacement;
  }
  char32_t c = b & (0x3fu >> n);
  for (unsigned i = 1; i <= n; ++i) {
    const unsigned next = byte(i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xbf)) {
      well_formed = false;
      return replacement;
    }
    c = (c << 6) | (next & 0x3f);
  }
  length = n + 1;
  return c == 0xfffe || c == 0xffff ? replacement : c;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xc0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xe0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  }
}

// Calls each(character, well_formed, first byte) for every character of s.
template <typename Each>
void for_each_character(std::string_view s, Each each) {
  for (std::size_t at = 0; at < s.size();) {
    std::size_t length = 1;
    bool well_formed = true;
    const char32_t c = next_character(s, at, length, well_formed);
    each(c, well_formed, static_cast<unsigned char>(s[at]));
    at += length;
  }
}

}  // namespace

std::string clean_utf8(std::string_view s) {
  std::string out;
  for_each_character(s, [&](char32_t c, bool, unsigned) { append_utf8(out, c); });
  return out;
}

std::string xml_escaped(std::string_view s) {
  std::string out;
  for_each_character(s, [&](char32_t c, bool, unsigned) {
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
        append_utf8(out, c < 0x20 ? replacement : c);
    }
  });
  return out;
}

std::string json_string(std::string_view s) {
  std::string out = "\"";
  for_each_character(s, [&](char32_t c, bool, unsigned) {
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

std::string console_text(std::string_view s) {
  std::string out;
  for_each_character(s, [&](char32_t c, bool well_formed, unsigned first) {
    if (!well_formed) {
      out += format("\\x%02x", first);
    } else if (c < 0x20 || c == 0x7f) {
      out += format("\\x%02x", static_cast<unsigned>(c));
    } else if (c >= 0x80 && c < 0xa0) {
      out += format("\\u%04x", static_cast<unsigned>(c));
    } else {
      append_utf8(out, c);
    }
  });
  return out;
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
