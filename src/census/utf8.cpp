// One reader of UTF-8 for both programs.
#include "census/utf8.h"

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
    return replacement_character;
  }
  char32_t c = b & (0x3fu >> n);
  for (unsigned i = 1; i <= n; ++i) {
    const unsigned next = byte(i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xbf)) {
      well_formed = false;
      return replacement_character;
    }
    c = (c << 6) | (next & 0x3f);
  }
  length = n + 1;
  return c == 0xfffe || c == 0xffff ? replacement_character : c;
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
