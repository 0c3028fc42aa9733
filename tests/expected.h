// What a run must print and write, built the plain way: one byte at a time,
// one iteration more than the input has bytes, from the texts of the tool.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

using Counts = std::array<std::uint64_t, 256>;

struct Census {
  Counts code{};
  Counts code2{};
};

inline Census census_of(const std::string& bytes) {
  Census c;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const unsigned b = static_cast<unsigned char>(bytes[i]);
    ++c.code[b];
    if (i > 0) {
      const unsigned a = static_cast<unsigned char>(bytes[i - 1]);
      ++c.code2[a > b ? a - b : b - a];
    }
  }
  return c;
}

inline const std::string& banner_and_prompts() {
  static const std::string text =
      "    *********************************************\n"
      "    *** Octetcensusmeter " OCTET_VERSION_SHORT
      " info@example.org ***\n"
      "    *********************************************\n\n"
      "    Octetcensusmeter scans password files and checks how many times\n"
      "    each byte-value is contained in the password. The result gives you the\n"
      "    information if the allocation of the byte-values is balanced.\n"
      "    A second part checks the differences between two following bytes.\n"
      "    The second result gives you the information how diversified\n"
      "    the password string is.\n\n"
      "    \n"
      "    \n\n"
      "\n\nType in name of the password file :"
      "\n\nType in new file name for result file (e.g. result1.txt) :";
  return text;
}

// Dots at every 5,000,000th read, the read that meets the end included.
inline std::string length_pass(std::uint64_t n) {
  return std::string((n + 1) / 5000000, '.') + "\nlength : " + std::to_string(n) + "\n";
}

// The running percentage over iterations (the bytes read and the read that
// meets the end) for an input measured at n bytes: a step after every n / 100
// of them; steps at 100 print nothing.
inline std::string progress(std::uint64_t n, std::uint64_t iterations) {
  std::string out = "\n Analyze completed: 0%";
  if (n <= 10000) return iterations == 0 ? out : out + "\b\b100%";  // at the first
  const std::uint64_t steps = iterations / (n / 100);
  for (std::uint64_t shown = 1; shown <= steps && shown <= 100; ++shown) {
    if (shown > 10) out += "\b";
    out += "\b\b" + std::to_string(shown) + "%";
  }
  return out;
}
inline std::string progress(std::uint64_t n) { return progress(n, n + 1); }

struct Limits {
  unsigned upper_value, lower_value;
  std::uint64_t upper, lower, average;
};

// The two searches share the value of the extreme found last.
inline void limits_of(const Counts& h, unsigned& carried, Limits& l) {
  l.upper = 0;
  l.lower = UINT64_MAX;
  std::uint64_t sum = 0;
  for (unsigned v = 0; v < 256; ++v) {
    if (h[v] > l.upper) l.upper = h[v], carried = v;
    sum += h[v];
  }
  l.upper_value = carried;
  for (unsigned v = 0; v < 256; ++v) {
    if (h[v] < l.lower) l.lower = h[v], carried = v;
  }
  l.lower_value = carried;
  l.average = sum / 256;
}

inline std::string hex(unsigned v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%x", v);
  return buf;
}

struct Report {
  std::string console;  // from the end of the percentage line on
  std::string file;
};

// The texts that tell the two halves of the report apart. In them, and in
// what add_half builds, @ stands for a line end: LF on the console, CR LF in
// the file.
struct Half {
  const char* title;  // the heading, with its trailing space
  const char* what;   // "Byte" or "difference", before each value
  const char* whats;  // "bytes" or "differences"
  const char* console_gap;
  const char* console_tail;
  const char* file_gap;
  const char* file_tail;
};

// One half of the report: a histogram and its statistics.
inline void add_half(Report& r, const Counts& h, const Limits& l, const Half& t) {
  const auto s = [](std::uint64_t v) { return std::to_string(v); };
  const std::string what = t.what;
  const std::string limits = "upper limit is " + what + " 0x" + hex(l.upper_value) + " = " +
                             s(l.upper) + " times@lower limit is " + what + " 0x" +
                             hex(l.lower_value) + " = " + s(l.lower) + " times@";
  const std::string other =
      std::string("(Other ") + t.whats + " with the same frequency are possible)";
  const std::string average = "calculate average frequency = " + s(l.average) + " @";
  const auto ends = [](std::string text, const char* end) {
    for (std::size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, end);
    return text;
  };
  r.console += ends(
      t.console_gap + (t.title + ("@@" + limits)) + other + "@" + average + t.console_tail, "\n");
  std::string table;
  for (unsigned v = 0; v < 256; ++v) table += what + " 0x" + hex(v) + " = " + s(h[v]) + " @";
  r.file += ends(t.file_gap + (t.title + ("@@" + table)) + "@" + limits + "@" + other + "@" +
                     average + t.file_tail,
                 "\r\n");
}

inline Report report_of(const Census& c) {
  unsigned carried = 0x39;
  Limits b{};
  Limits d{};
  limits_of(c.code, carried, b);
  limits_of(c.code2, carried, d);
  Report r;
  add_half(r, c.code, b, {"Byte allocation: ", "Byte", "bytes", "@@", "@@", "@", "@"});
  add_half(r, c.code2, d,
           {"Byte diversification (differences of two following bytes): ", "difference",
            "differences", "@", "", "@@", ""});
  return r;
}

inline const std::string finish =
    "\nAnalysis finished! For details check the result file. Press ENTER to exit.\n\n";
inline const std::string press_enter = "\n\nPress ENTER to exit.";
// An error ending: its message, the line that says what to check, the prompt.
inline std::string ending(const std::string& message, const char* check) {
  return "\n error message: " + message + "\n\n\nCheck " + check + press_enter;
}
inline std::string in_ending(const std::string& message) {
  return ending(message, "filename and suffix (e.g. input.txt) ");
}
inline std::string out_ending(const std::string& message) {
  return ending(message, "filename and suffix (e.g. output.txt) ");
}
inline const std::string in_error = in_ending("inputfile could not be opened or not found");
inline const std::string out_error = out_ending("outputfile could not be opened");
inline const std::string same_error = out_ending("outputfile must not be the inputfile");
inline const std::string not_result_error =
    out_ending("outputfile exists and is not a result file");
inline const std::string foreign_error = out_ending("outputfile belongs to another user");
inline const std::string link_error = out_ending("outputfile is a symbolic link");
inline const std::string block_error = out_ending("outputfile is a block device");
inline const std::string many_names_error =
    out_ending("outputfile has more than one name (a hard link)");
inline const std::string foreign_link_error =
    out_ending("outputfile is reached through another user's link");
inline const std::string shorter_error = in_ending("inputfile became shorter during the analysis");
inline const std::string once_error =
    in_ending("inputfile cannot be read twice (a pipe or a terminal)");
inline const std::string character_error = in_ending("inputfile is a character device");
inline const std::string replaced_error = in_ending("inputfile was replaced between the passes");
inline const std::string write_error =
    ending("result file could not be written completely", "free disk space ");
inline const std::string read_error = in_ending("inputfile could not be read");

// The console of a complete run over these bytes.
inline std::string complete_console(const std::string& bytes) {
  return banner_and_prompts() + length_pass(bytes.size()) + progress(bytes.size()) +
         report_of(census_of(bytes)).console + finish;
}

// Where two texts part, as the line of each there; "" when they are the same.
inline std::string first_difference(const std::string& got, const std::string& want) {
  if (got == want) return "";
  std::size_t at = 0, line = 1;
  while (at < got.size() && at < want.size() && got[at] == want[at]) line += got[at++] == '\n';
  const std::size_t start = got.rfind('\n', at == 0 ? 0 : at - 1);
  const std::size_t from = start == std::string::npos || at == 0 ? 0 : start + 1;
  const auto line_of = [from](const std::string& s) {
    return s.substr(from, s.find('\n', from) - from);
  };
  return "line " + std::to_string(line) + ": \"" + line_of(got) + "\" where \"" + line_of(want) +
         "\" was expected";
}
