// One reader of UTF-8 for both programs: a name on a terminal, in the SVG
// and in the JSON is decoded by the same rule.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// What stands for a byte that is no character's, and for U+FFFE and U+FFFF.
constexpr char32_t replacement_character = 0xfffd;

// The character that starts at s[at] and its length in bytes. A byte that does
// not start a well-formed character (an overlong form, a surrogate, anything
// past U+10FFFF, a character cut short) is one byte long and gives U+FFFD,
// with well_formed false; U+FFFE and U+FFFF give U+FFFD too.
char32_t next_character(std::string_view s, std::size_t at, std::size_t& length, bool& well_formed);

// The character as UTF-8, appended.
void append_utf8(std::string& out, char32_t c);

// Calls each(character, well_formed, at, length) for every character of s.
template <typename Each>
void for_each_character(std::string_view s, Each each) {
  for (std::size_t at = 0; at < s.size();) {
    std::size_t length = 1;
    bool well_formed = true;
    const char32_t c = next_character(s, at, length, well_formed);
    each(c, well_formed, at, length);
    at += length;
  }
}
