// What a file given as the result may be taken for.
#include "census/guard.h"

bool is_a_list(const Histogram& code) {
  if (code[0x0a] == 0 || code[0x7f] != 0) return false;
  for (unsigned v = 0; v < 0x20; ++v) {
    if (code[v] != 0 && v != 0x09 && v != 0x0a && v != 0x0d) return false;
  }
  return true;
}

std::string not_a_result_because(std::string_view head) {
  Histogram code{};
  for (const char b : head) ++code[static_cast<unsigned char>(b)];
  const std::string refused = "exists and is not a result file (it was left as it was): ";
  if (head.empty()) return refused + "it could not be read";
  if (is_a_list(code)) {
    return refused +
           "it begins with lines of text and looks like a password list; were the two names "
           "swapped? The password file comes first, then a new name for the result";
  }
  code[0x0a] = 1;  // one line of text is text too
  if (is_a_list(code)) return refused + "it begins with text that is not a result's first heading";
  return refused + "it begins with binary data";
}
