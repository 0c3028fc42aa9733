// The console dialogue: banner, the two names, the two passes, the finishing
// prompt and the common error ending.
#include "census/octetcensusmeter.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "census/analysis.h"
#include "census/names.h"
#include "platform/platform.h"

namespace {

// A frame as deep as the counters' ever are, wiped: whatever bit-planes a
// compiler kept on the stack for want of registers, below the caller's frame,
// are gone with it.
__attribute__((noinline)) void wipe_stack_below() {
  unsigned char frame[32768];
  wipe(frame, sizeof frame);
  __asm__ volatile("" : : "r"(frame) : "memory");
}

}  // namespace

void wipe_buffer(AnalysisState& s) {
  wipe_stack_below();
  wipe(s.puffer.data(), s.puffer.size());
  // The pair table tells which byte pairs the password holds, and the byte
  // held from the last block is a password byte itself.
  wipe(s.paare.data(), s.paare.size() * sizeof s.paare[0]);
  wipe(s.scheiben.data(), s.scheiben.size() * sizeof s.scheiben[0]);
  wipe(s.ebenen.data(), s.ebenen.size() * sizeof s.ebenen[0]);
  wipe(&s.ch_alt, sizeof s.ch_alt);
}

void fail_and_wait(AnalysisState& s, const char* line1, const char* line2) {
  wipe_buffer(s);
  std::fputs(line1, stdout);
  std::fputs(line2, stdout);
  std::fputs("\n\nPress ENTER to exit.", stdout);
  flush_console();
  const int c = std::getchar();
  s.wait = c == EOF ? '\0' : static_cast<char>(c);
  std::exit(1);
}

void read_line(std::FILE* in, std::string& line) {
  line.clear();
  // One byte past the longest name is enough to know that it names no file.
  while (line.size() <= longest_name) {
    const int c = std::getc(in);
    if (c == EOF || c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
}

namespace {

void print_banner() {
  std::fputs("    *********************************************\n", stdout);
  std::fputs("    *** Octetcensusmeter " OCTET_VERSION_SHORT " info@example.org ***\n", stdout);
  std::fputs("    *********************************************\n\n", stdout);
  std::fputs("    Octetcensusmeter scans password files and checks how many times\n", stdout);
  std::fputs("    each byte-value is contained in the password. The result gives you the\n",
             stdout);
  std::fputs("    information if the allocation of the byte-values is balanced.\n", stdout);
  std::fputs("    A second part checks the differences between two following bytes.\n", stdout);
  std::fputs("    The second result gives you the information how diversified\n", stdout);
  std::fputs("    the password string is.\n\n", stdout);
  std::fputs("    \n", stdout);
  std::fputs("    \n\n", stdout);
}

// The prompt stands on the screen before the user types. The line typed at
// a terminal ends the prompt's line there; a name from a pipe, or the end of
// the input, leaves it open.
void ask(const char* prompt, std::string& answer) {
  std::fputs(prompt, stdout);
  flush_console();
  read_line(stdin, answer);
  console_line_open(!is_terminal(stdin) || std::feof(stdin) != 0);
}

}  // namespace

int run_dialogue(AnalysisState& s) {
  print_banner();
  ask("\n\nType in name of the password file :", s.name_der_datei3);
  ask("\n\nType in new file name for result file (e.g. result1.txt) :", s.name_der_datei2);
  warn_about_result_folder(s.name_der_datei2);
  lese(s);
  lese_schreibe(s);
  ask("\nAnalysis finished! For details check the result file. Press ENTER to exit.\n\n",
      s.name_der_datei5);
  wipe_buffer(s);
  // A console that could not be written saw no complete run. The reason is
  // that of the first flush that failed.
  flush_console();
  if (console_failure() != 0 || std::ferror(stdout) != 0) {
    std::fprintf(stderr, "octetcensusmeter: standard output could not be written: %s\n",
                 std::strerror(console_failure() != 0 ? console_failure() : EIO));
    return 1;
  }
  return 0;
}
