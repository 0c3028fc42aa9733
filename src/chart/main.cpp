// octetcensusmeter-chart: the figures and the chart of a result file.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "census/guard.h"
#include "census/names.h"
#include "chart/drawing.h"
#include "chart/reader.h"
#include "chart/text.h"
#include "chart/words.h"
#include "platform/platform.h"

namespace {

const char* const usage = "usage: octetcensusmeter-chart [--log] [--json] RESULT [CHART]\n";
const char* const program = "octetcensusmeter-chart";

const char* const help =
    "Reads RESULT, a result file of octetcensusmeter (- for standard input; a pipe\n"
    "is read too), and prints its figures: how many bytes and distinct byte values,\n"
    "the entropy in bits per byte, how evenly the values that occur are used, a\n"
    "chi-square test against an even spread over all 256 values, and the repeats\n"
    "and steps of one among the differences beside what chance would give. When\n"
    "the tables are a password list's (line feeds, and no other control bytes but\n"
    "tab and carriage return), it judges the passwords: their number, their mean\n"
    "length, the alphabet of the values that occur, and whether the characters\n"
    "were drawn evenly, drawn unevenly or chosen or structured (words, names,\n"
    "dates), by a test of their use of the alphabet and one of their differences;\n"
    "too few characters, or bytes from 0x80, are not judged. A drawn list gets its\n"
    "bits per password: weak below 40, fair below 64, strong from 64.\n"
    "Draws both tables as an SVG chart into CHART (RESULT with .svg for its\n"
    "extension; - for standard output, the figures then going to standard error;\n"
    "needed when RESULT is -).\n"
    "\n"
    "  --log      draw the counts on a logarithmic axis\n"
    "  --json     print the figures as one JSON object\n"
    "  --help     print this and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "An existing CHART is replaced only when it is a chart of this program.\n"
    "\n"
    "Exit status: 0 done; 1 RESULT unreadable or not a result file, the chart\n"
    "not written, or standard output not written; 2 a wrong command line.\n";

struct Command {
  bool log = false;
  bool json = false;
  std::string result;
  std::string chart;
};

int wrong_command(const std::string& what) {
  std::fprintf(stderr, "%s: %s\n%s", program, shown_name(what).c_str(), usage);
  return 2;
}

// That another program holds the chart, and the run waits for it.
void tell_waiting_for(const std::string& name) {
  std::fprintf(stderr, "%s: %s: %s\n", program, shown_name(name).c_str(), held_by_another);
}

// Names and what is said of them reach the terminal with their control characters escaped.
int fail(const std::string& name, const std::string& what) {
  std::fprintf(stderr, "%s: %s: %s\n", program, shown_name(name).c_str(), shown_name(what).c_str());
  return 1;
}

// Writes text whole and flushes it; false with errno when that failed.
bool write_whole(std::FILE* out, const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0;
}

// Writes text to standard output; 1 with a message when that failed.
int print(const std::string& text) {
  if (write_whole(stdout, text)) return 0;
  return fail("standard output", std::string("cannot be written: ") + std::strerror(errno));
}

// result1.txt gives result1.svg; a name without an extension gets one, and
// so does a name such as .result whose only dot starts it.
std::string chart_name_for(const std::string& result) {
  const std::size_t slash = result.find_last_of("/\\");
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = result.rfind('.');
  const bool has_extension = dot != std::string::npos && dot > start;
  return (has_extension ? result.substr(0, dot) : result) + ".svg";
}

// Reads at most limit bytes; false with errno when reading failed.
bool read_all(int file, std::string& text, std::size_t limit) {
  std::vector<unsigned char> block(65536);
  while (text.size() <= limit) {
    const long n = read_block(file, block.data(), block.size());
    if (n < 0) return false;
    if (n == 0) break;
    text.append(reinterpret_cast<const char*>(block.data()), static_cast<std::size_t>(n));
  }
  return true;
}

int run(const Command& c) {
  InputOpen how_in = InputOpen::failed;
  const bool from_standard_input = c.result == "-";
  // The result is read once, so a pipe will do.
  const int in = from_standard_input ? standard_input() : open_input(c.result, how_in, true);
  const std::string shown = from_standard_input ? "standard input" : c.result;
  if (in < 0) {
    if (how_in == InputOpen::character_device) return fail(shown, "is a character device");
    // The system's own reason: Windows' calls report theirs apart from errno.
    return fail(shown, "cannot be opened: " + failure_reason());
  }
  std::string text;
  // A result file is 10 to 20 KB; more than this cannot be one, and is not read.
  if (!read_all(in, text, std::size_t{1} << 20)) {
    const int reason = errno;
    close_input(in);
    return fail(shown, std::string("cannot be read: ") + std::strerror(reason));
  }
  Tables tables;
  ReadError error;
  if (!read_result(text, tables, error)) {
    close_input(in);
    if (!error.beginning) return fail(shown + ":" + std::to_string(error.line), error.expected);
    fail(shown, "not a result file of octetcensusmeter (line " + std::to_string(error.line) + ": " +
                    error.expected + ")");
    // A text whose bytes would make a list's tables is a password list itself,
    // unless it holds a result's headings: then it is a damaged result, or
    // one that an editor gave a byte-order mark.
    Histogram bytes{};
    for (const char b : text) ++bytes[static_cast<unsigned char>(b)];
    const bool marked = text.rfind("\xef\xbb\xbf", 0) == 0;
    const bool result_like = text.find("Byte allocation: ") != std::string::npos ||
                             text.find("calculate average frequency = ") != std::string::npos;
    if (marked) {
      std::fprintf(stderr, "%s: %s begins with a byte-order mark, which no result file has\n",
                   program, shown_name(shown).c_str());
    } else if (is_a_list(bytes) && !result_like) {
      std::fprintf(stderr,
                   "%s: %s looks like a password list: give the result file, not the "
                   "password file\n",
                   program, shown_name(shown).c_str());
    }
    return 1;
  }
  const Figures figures = figures_of(tables);
  const std::string name =
      from_standard_input ? "-" : c.result.substr(c.result.find_last_of("/\\") + 1);
  const std::string svg = svg_of(tables, figures, name, c.log);
  const std::string said = c.json ? json_of(figures, name) : words_of(figures, name);

  if (c.chart == "-") {
    close_input(in);
    const bool written = write_whole(stdout, svg);
    const int reason = errno;
    std::fputs(said.c_str(), stderr);
    return written ? 0 : fail("-", std::string("cannot be written: ") + std::strerror(reason));
  }
  // The chart shows the same tables as the result: it is made as privately.
  ResultOpen how = ResultOpen::failed;
  // An existing file is replaced only when it is a chart already: the two
  // names given the wrong way round would otherwise put the chart in place of
  // the password list.
  std::FILE* chart = open_result(c.chart, in, how, chart_beginning(), tell_waiting_for, true);
  const std::string reason = failure_reason();
  close_input(in);
  if (chart == nullptr) {
    const char* refused = refusal_words(how, Output::chart);
    if (refused != nullptr) return fail(c.chart, refused);
    return fail(c.chart, "cannot be created: " + reason);
  }
  // The reason of the first step that failed: a FIFO whose reader left
  // early says "Broken pipe".
  int why = 0;
  const auto step = [&why](bool done) {
    if (!done && why == 0) why = errno != 0 ? errno : EIO;
    return done;
  };
  errno = 0;
  bool written = step(empty_result(chart));
  written = written && step(std::fwrite(svg.data(), 1, svg.size(), chart) == svg.size());
  written = step(std::fflush(chart) == 0) && written;
  written = step(std::fclose(chart) == 0) && written;
  if (!written)
    return fail(c.chart, std::string("could not be written completely: ") + std::strerror(why));
  return print(said);
}

}  // namespace

int main(int argc, char** argv) {
  protect_process();
  const std::vector<std::string> args = program_arguments(argc, argv);
  Command c;
  std::vector<std::string> names;
  bool options_end = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_end || a == "-" || !a.starts_with("-")) {
      names.push_back(a);
    } else if (a == "--") {
      options_end = true;
    } else if (a == "--log") {
      c.log = true;
    } else if (a == "--json") {
      c.json = true;
    } else if (a == "--help") {
      return print(std::string(usage) + "\n" + help);
    } else if (a == "--version") {
      return print(std::string(program) + " " + OCTET_VERSION +
                   "\nCopyright (c) 2026 Octetcensusmeter developers.\n"
                   "License MIT <https://opensource.org/licenses/MIT>.\n"
                   "This is free software: you are free to change and redistribute it.\n"
                   "There is NO WARRANTY, to the extent permitted by law.\n");
    } else {
      return wrong_command("unknown option '" + a + "'");
    }
  }
  if (names.empty()) return wrong_command("no RESULT given");
  if (names.size() > 2) return wrong_command("more than RESULT and CHART given");
  c.result = names[0];
  if (c.result == "-" && names.size() == 1) return wrong_command("give CHART when RESULT is -");
  c.chart = names.size() == 2 ? names[1] : chart_name_for(c.result);
  return run(c);
}
