// Faults brought about for real: failing reads, an input that changes between
// the passes, progress that must reach the console as it happens, a real
// terminal, and outputs that must never carry a byte of the password file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string_view>
#include <thread>
#include <unordered_set>

#include "census/octetcensusmeter.h"
#include "expected.h"
#include "harness.h"
#include "rows.h"

namespace {

// A fault brought about by the preloaded library.
struct Fault : Row {
  std::size_t size;              // of the password file
  std::vector<std::string> env;  // what the library does
  std::string after_prompts;
  enum { none, empty, password } result;  // what the result name holds afterwards
};

// What fstatfs says of the file system the password file is on.
const std::string trusted = "OCTET_FILE_SYSTEM=trusted";
const std::string untrusted = "OCTET_FILE_SYSTEM=fuse";

class Faulty : public testing::TestWithParam<Fault> {};

TEST_P(Faulty, EndsTheRunAndLeavesThePasswordFileAlone) {
  const Fault& c = GetParam();
  TempDir dir;
  const std::string password = random_bytes(c.size, 7);
  dir.write("pw", password);
  const RunResult r = run_program(dir.path(), "pw\nout.txt\n\n", preloaded(c.env));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, banner_and_prompts() + c.after_prompts);
  EXPECT_EQ(dir.read("pw"), password);
  EXPECT_EQ(dir.exists("out.txt"), c.result != Fault::none);
  // A result file created just before stays as it was made: empty.
  if (c.result != Fault::none) {
    EXPECT_EQ(dir.read("out.txt"), c.result == Fault::empty ? "" : password);
  }
}

// 600 KiB: the length pass sends them to /dev/null in one step and meets the end with a
// second; the histogram pass reads them in blocks of 256 KiB, three and the one at the end.
constexpr std::size_t three_blocks = 614400;

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Faults, Faulty,
    testing::Values(
        // Where the file system's sizes are not trusted, the length pass reads.
        Fault{{"first_read_of_the_length_pass"}, 8, {"OCTET_FAIL_READ=1", untrusted}, read_error,
            Fault::none},
        Fault{{"read_at_the_end_of_the_length_pass"}, three_blocks, {"OCTET_FAIL_READ=2",
            untrusted}, read_error, Fault::none},
        // sendfile's end is confirmed by a read of its own.
        Fault{{"read_that_confirms_the_end_of_the_length_pass"}, 8, {"OCTET_FAIL_READ=3",
            untrusted}, read_error, Fault::none},
        Fault{{"first_read_of_the_histogram_pass"}, 8, {"OCTET_FAIL_READ=4", untrusted},
            length_pass(8) + "\n Analyze completed: 0%" + read_error, Fault::empty},
        // Where they are, the length pass reads nothing: a read error is the
        // histogram pass's.
        Fault{{"first_read_where_the_size_is_trusted"}, 8, {"OCTET_FAIL_READ=1", trusted},
            length_pass(8) + "\n Analyze completed: 0%" + read_error, Fault::empty},
        Fault{{"second_read_of_the_histogram_pass"}, three_blocks, {"OCTET_FAIL_READ=2", trusted},
            length_pass(three_blocks) + progress(three_blocks, 262144) + read_error, Fault::empty},
        Fault{{"second_open_of_the_input"}, 8, {"OCTET_FAIL_OPEN=2"},
            length_pass(8) + "\n file could not be opened", Fault::none},
        // The result name turns into a link to the password file at the last moment.
        Fault{{"result_swapped_for_a_link_to_the_input"}, 8, {"OCTET_LINK_RESULT=pw"},
            length_pass(8) + link_error, Fault::password},
        // Another file, with the same bytes, is put at the input's name.
        Fault{{"input_replaced_between_the_passes"}, 8, {"OCTET_REPLACE_INPUT=pw"},
            length_pass(8) + replaced_error, Fault::none}),
    row_name);
// clang-format on

// The password file is replaced between the two passes.
struct Change : Row {
  std::string before;            // what the length pass measures
  std::string after;             // what the histogram pass reads
  std::string fault{};           // and what else the library does
  bool read_to_measure = false;  // on a file system whose sizes are not trusted
};

class ChangedInput : public testing::TestWithParam<Change> {};

TEST_P(ChangedInput, CountsNoMoreThanMeasuredAndEndsWhenShorter) {
  const Change& c = GetParam();
  TempDir dir;
  dir.write("pw", c.before);
  dir.write("later", c.after);
  const std::uint64_t measured = c.before.size();
  // No read asks for more than was measured, as if it may read past it.
  std::vector<std::string> faults = {"OCTET_CHANGE_PATH=pw",
                                     "OCTET_CHANGE_FROM=" + dir.file("later"),
                                     "OCTET_MOST_READ=" + std::to_string(measured)};
  if (!c.fault.empty()) faults.push_back(c.fault);
  if (c.read_to_measure) faults.push_back(untrusted);
  const RunResult r = run_program(dir.path(), "pw\nout.txt\n\n", preloaded(faults));
  const std::string counted = c.after.substr(0, measured);
  if (counted.size() < measured) {
    // A file that became shorter is not reported: every byte read advanced
    // the progress, and the new result stays empty.
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, banner_and_prompts() + length_pass(measured) +
                         progress(measured, counted.size()) + shorter_error);
    EXPECT_EQ(dir.read("out.txt"), "");
    return;
  }
  // Every byte read advances the progress, and so does the read that meets the
  // end, or stands in for it at the measured length.
  const std::string steps = progress(measured, counted.size() + 1);
  const Report report = report_of(census_of(counted));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, banner_and_prompts() + length_pass(measured) + steps + report.console + finish);
  EXPECT_EQ(dir.read("out.txt"), report.file);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Passes, ChangedInput,
    testing::Values(
        Change{{"shrank"}, "AAAAA", "AAB"},
        Change{{"grew"}, "AAB", "AAAAA"},
        Change{{"shrank_by_one_byte"}, "AAAAA", "AAAA"},
        Change{{"shrank_to_nothing"}, "AAAAA", ""},
        Change{{"grew_past_every_step"}, random_bytes(10001, 1), random_bytes(40001, 2)},
        Change{{"shrank_before_the_last_steps"}, random_bytes(20000, 3), random_bytes(15000, 4)},
        // Had it not shrunk, the read that meets the end would be the 75th
        // step; a file that became shorter ends before that read counts.
        Change{{"shrank_to_one_short_of_a_step"}, random_bytes(20000, 3), random_bytes(14999, 4)},
        // The length pass reads on where sendfile stops: more than a block of it.
        Change{{"claims_to_end_at_once"}, random_bytes(300000, 5), random_bytes(300000, 5),
            "OCTET_SENDFILE_ENDS=1", true}),
    row_name);
// clang-format on

// A file that keeps growing from the second pass on: only the measured bytes are read.
TEST(ChangedInput, GrowingWithoutEndIsReadToTheMeasuredLength) {
  TempDir dir;
  const std::string before = random_bytes(300000, 5);
  dir.write("pw", before);
  RunOptions options = preloaded({"OCTET_GROW_INPUT=pw"});
  options.deadline_seconds = 60;
  const RunResult r = run_program(dir.path(), "pw\nout.txt\n\n", options);
  EXPECT_FALSE(r.timed_out) << "still reading after 60 s";
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, complete_console(before));
  EXPECT_EQ(dir.read("out.txt"), report_of(census_of(before)).file);
}

// With the console on a packet socket every write arrives as a message of its
// own: each dot and each percentage step must be one, not part of a later one.
// Measured from the file system's size or by reading, the console is the same.
TEST(Progress, EveryDotAndEveryStepIsWrittenAtOnce) {
  TempDir dir;
  constexpr std::size_t n = 10000000;
  dir.write("pw", std::string(n, 'p'));
  for (const std::string& file_system : {trusted, untrusted}) {
    RunOptions options = preloaded({file_system});
    options.stdout_packets = true;
    const RunResult r = run_program(dir.path(), "pw\nout\n\n", options);
    ASSERT_EQ(r.status, 0) << file_system;
    ASSERT_EQ(r.out, complete_console(std::string(n, 'p'))) << file_system;
    std::vector<std::string> expected = {".", "."};
    for (int p = 1; p <= 100; ++p)
      expected.push_back((p > 10 ? "\b\b\b" : "\b\b") + std::to_string(p) + "%");
    std::vector<std::string> seen;
    for (const auto& w : r.writes) {
      if (w == "." || w.starts_with("\b")) seen.push_back(w);
    }
    EXPECT_EQ(seen, expected) << file_system;
  }
}

// What a look at the memory of a waiting program found.
struct MemoryLook {
  std::string mem_owner, core_limits;
  std::size_t scanned = 0, pieces = 0;  // bytes read; 16-byte pieces of the password found
  std::size_t pair_pieces = 0;          // 64-byte pieces of the first block's pair table
  std::size_t plane_words = 0;          // 8-byte words of the bit-sliced counter's planes
  int held_byte = -1;                   // the byte held from the input, beside the byte table
};

// The words of the bit-planes the bit-sliced counter makes of the password and
// of its differences: for each row of 64 bytes, where the stretches of the
// first block (from its second byte) and of the next may have put one, word j
// holds bit j of each of its bytes, in either order within each byte of the
// word. Words with few bits or few bits clear are left out: other memory holds
// them too.
std::unordered_set<std::uint64_t> plane_words_of(std::string_view password) {
  std::string differences(password.size(), '\0');
  for (std::size_t i = 1; i < password.size(); ++i) {
    const int d =
        static_cast<unsigned char>(password[i]) - static_cast<unsigned char>(password[i - 1]);
    differences[i] = static_cast<char>(d < 0 ? -d : d);
  }
  std::unordered_set<std::uint64_t> words;
  for (const std::string_view bytes : {password, std::string_view(differences)}) {
    for (std::size_t start = 0; start + 64 <= bytes.size(); start += 32) {
      const std::size_t row = start % 64 == 0 ? start : start - 31;  // rows from 0 and from 1
      for (unsigned j = 0; j < 8; ++j) {
        std::uint64_t natural = 0;
        std::uint64_t reversed = 0;
        for (unsigned i = 0; i < 64; ++i) {
          const std::uint64_t bit = (static_cast<unsigned char>(bytes[row + i]) >> j) & 1;
          natural |= bit << i;
          reversed |= bit << ((i & ~7u) | (7 - (i & 7)));
        }
        for (const std::uint64_t w : {natural, reversed}) {
          const int set = __builtin_popcountll(w);
          if (set >= 12 && set <= 52) words.insert(w);
        }
      }
    }
  }
  return words;
}

// The pair counts of a block, as the program keeps them: table[(b << 8) | a]
// counts the consecutive bytes a, b.
std::vector<std::uint32_t> pair_table(std::string_view block) {
  std::vector<std::uint32_t> table(65536);
  for (std::size_t i = 1; i < block.size(); ++i) {
    ++table[(unsigned{static_cast<unsigned char>(block[i])} << 8) |
            static_cast<unsigned char>(block[i - 1])];
  }
  return table;
}

MemoryLook look_at_memory(int pid, const std::string& password) {
  MemoryLook look;
  const std::string proc = "/proc/" + std::to_string(pid);
  struct stat st {};
  if (stat((proc + "/mem").c_str(), &st) == 0) look.mem_owner = std::to_string(st.st_uid);
  std::ifstream limits(proc + "/limits");
  for (std::string line; std::getline(limits, line);) {
    if (line.starts_with("Max core file size")) look.core_limits = line.substr(18, 42);
  }
  std::unordered_set<std::string_view> pieces;
  for (std::size_t at = 0; at + 16 <= password.size(); at += 16) {
    pieces.insert(std::string_view(password).substr(at, 16));
  }
  // Sixteen counters of each row of the pair table of the first block read,
  // and the byte table of the whole file with the offset of the held byte.
  const std::vector<std::uint32_t> pairs = pair_table(std::string_view(password).substr(0, 262144));
  std::unordered_set<std::string_view> pair_pieces;
  for (unsigned b = 0x21; b < 256; ++b) {
    const std::uint32_t* row = pairs.data() + ((b << 8) | 0x40);
    pair_pieces.emplace(reinterpret_cast<const char*>(row), 16 * sizeof *row);
  }
  Histogram code{};
  for (const char c : password) ++code[static_cast<unsigned char>(c)];
  const std::string_view code_bytes(reinterpret_cast<const char*>(code.data()), sizeof code);
  const auto layout = std::make_unique<AnalysisState>();
  const std::ptrdiff_t held_at = reinterpret_cast<const char*>(&layout->ch_alt) -
                                 reinterpret_cast<const char*>(layout->code.data());
  const std::unordered_set<std::uint64_t> planes = plane_words_of(password);
  std::unordered_set<std::uint64_t> planes_found;
  std::unordered_set<std::string_view> found, pairs_found;
  // Every readable mapping, looked at from every byte.
  std::ifstream maps(proc + "/maps");
  std::ifstream mem(proc + "/mem", std::ios::binary);
  for (std::string line; std::getline(maps, line);) {
    unsigned long from = 0, to = 0;
    char dash = 0;
    std::string perms;
    if (!(std::istringstream(line) >> std::hex >> from >> dash >> to >> perms)) continue;
    if (perms[0] != 'r' || to - from > (256UL << 20) || contains(line, "[vvar]")) continue;
    std::string bytes(to - from, '\0');
    mem.clear();
    mem.seekg(static_cast<std::streamoff>(from));
    if (!mem.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) continue;
    look.scanned += bytes.size();
    const std::string_view all(bytes);
    for (std::size_t at = 0; at + 16 <= all.size(); ++at) {
      const auto piece = pieces.find(all.substr(at, 16));
      if (piece != pieces.end()) found.insert(*piece);
      if (at % 4 == 0 && at + 64 <= all.size()) {
        const auto pair_piece = pair_pieces.find(all.substr(at, 64));
        if (pair_piece != pair_pieces.end()) pairs_found.insert(*pair_piece);
      }
      if (at % 8 == 0) {
        std::uint64_t word = 0;
        std::memcpy(&word, all.data() + at, 8);
        if (planes.contains(word)) planes_found.insert(word);
      }
    }
    const std::size_t table = all.find(code_bytes);
    if (table != std::string_view::npos && static_cast<std::ptrdiff_t>(table) + held_at >= 0) {
      look.held_byte = static_cast<unsigned char>(all[table + held_at]);
    }
  }
  look.pieces = found.size();
  look.pair_pieces = pairs_found.size();
  look.plane_words = planes_found.size();
  return look;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

struct Waiting : Row {
  std::string fault;   // for the fault library; "" for none
  std::string prompt;  // the console ends in it while the program waits
  bool counted;        // the byte table holds the whole file by then
  // An earlier report of the password's length at the result's name, which
  // is compared with the password before it is written over.
  bool earlier_result = false;
};

class Secrecy : public testing::TestWithParam<Waiting> {};

// Waiting at a prompt, run by an ordinary user, the program holds no piece of
// the password in its memory, and nobody but root may look. The password is
// longer than the read buffer, so that each half of it held password bytes.
TEST_P(Secrecy, MemoryAtAPromptHoldsNoPieceOfThePassword) {
  if (const std::string why = another_user_missing(); !why.empty()) GTEST_SKIP() << why;
  if (program_command().size() > 1)
    GTEST_SKIP() << "under an emulator its memory is the emulator's";
  const Waiting& c = GetParam();
  TempDir dir;
  chmod(dir.path().c_str(), 0777);
  const std::string password = random_bytes(300 << 10, 12, 0x21);
  dir.write("pw", password);
  chmod(dir.file("pw").c_str(), 0644);
  if (c.earlier_result) {
    const std::string beginning = "\r\nByte allocation: \r\n";
    dir.write("out", beginning + password.substr(beginning.size()));
    ASSERT_EQ(chown(dir.file("out").c_str(), nobody, nobody), 0);
  }
  MemoryLook look;
  RunOptions options = c.fault.empty() ? RunOptions{} : preloaded({c.fault, trusted});
  options.user = nobody;
  options.watch = [&](int pid, const std::string& console) -> std::string {
    if (!console.ends_with(c.prompt)) return "";
    look = look_at_memory(pid, password);
    return "\n";
  };
  const RunResult r = run_program(dir.path(), "pw\nout\n", options);
  EXPECT_EQ(r.status, c.fault.empty() ? 0 : 1);
  EXPECT_EQ(look.mem_owner, "0");
  // Soft and hard limit, as /proc lays them out.
  EXPECT_EQ(look.core_limits,
            std::string(8, ' ') + "0" + std::string(20, ' ') + "0" + std::string(12, ' '));
  EXPECT_GT(look.scanned, 0u);
  EXPECT_EQ(look.pieces, 0u);
  EXPECT_EQ(look.pair_pieces, 0u) << "the pair table of the first block is still there";
  EXPECT_EQ(look.plane_words, 0u) << "bit-planes of the password are still there";
  // Sanitized, the program's byte table was not found where this looks.
  if (c.counted && !sanitized) {
    EXPECT_EQ(look.held_byte, 0) << "-1: the byte table was not found";
  }
}

// The reads of a file: the length pass sends it in one step and meets the end
// with a second; the fourth is the histogram pass's second block.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Prompts, Secrecy,
    testing::Values(
        Waiting{{"last_prompt_of_a_complete_run"}, "", finish, true},
        Waiting{{"last_prompt_after_an_earlier_result_was_compared"}, "", finish, true, true},
        Waiting{{"error_prompt_after_a_failed_read"}, "OCTET_FAIL_READ=2", press_enter, false}),
    row_name);
// clang-format on

// Ctrl-C while the counting pass runs leaves an existing result as it was.
TEST(Interrupt, DuringTheCountLeavesAnExistingResultAsItWas) {
  TempDir dir;
  dir.write("pw", "");
  ASSERT_EQ(truncate(dir.file("pw").c_str(), off_t{1} << 30), 0);
  const std::string earlier = "\r\nByte allocation: \r\nof an earlier run";
  dir.write("out.txt", earlier);
  RunOptions options;
  options.watch = [](int pid, const std::string& console) -> std::string {
    if (contains(console, "completed: ")) kill(pid, SIGINT);
    return "";
  };
  const RunResult r = run_program(dir.path(), "pw\nout.txt\n\n", options);
  EXPECT_EQ(r.status, -1);  // ended by the signal
  EXPECT_FALSE(contains(r.out, "Byte allocation"));
  EXPECT_EQ(dir.read("out.txt"), earlier);
}

// A real terminal, run inside tmux on a server of its own, whose socket is in
// the test's own folder. Its shell is /bin/sh, whatever the user's login shell
// (nobody's does not run commands), and its pane stays when the program ends.
class Terminal {
 public:
  explicit Terminal(const std::string& dir) : socket_(dir + "/tmux.socket") {
    std::string command;
    for (const auto& word : program_command()) command += " \"" + word + "\"";
    run("start-server \\; set-option -g default-shell /bin/sh \\; set-option -g remain-on-exit on "
        "\\; new-session -d -x 160 -y 60 -s t 'cd \"" +
        dir + "\" && exec" + command + "'");
  }
  ~Terminal() { run("kill-server"); }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  static bool available() { return std::system("tmux -V >/dev/null 2>&1") == 0; }
  // A line and Enter; "C-d" alone is the key that ends the input.
  void type_line(const std::string& text) {
    if (text == "C-d") {
      run("send-keys -t t C-d");
      return;
    }
    if (!text.empty()) run("send-keys -t t -l '" + text + "'");
    run("send-keys -t t Enter");
  }

  // The screen's lines once it shows this text, or what it shows after 20
  // seconds, told as a failure; nothing at once when the terminal's server is
  // gone. The waits of a row stay within the test's time limit, and say what hung.
  std::vector<std::string> screen_when(const std::string& text) {
    std::string screen;
    for (int tries = 0;; ++tries) {
      if (!capture(screen)) {
        ADD_FAILURE() << "the terminal's server is gone";
        return {};
      }
      if (screen.find(text) != std::string::npos) break;
      if (tries == 200) {
        ADD_FAILURE() << "the screen did not show '" << text << "' within 20 s; it shows:\n"
                      << screen;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = screen.find('\n', start)) != std::string::npos; start = end + 1) {
      lines.push_back(screen.substr(start, end - start));
    }
    return lines;
  }

 private:
  // Each tmux command has 10 seconds: one that hangs is told, not waited for.
  int run(const std::string& command) const {
    const int status = std::system(("TERM=xterm timeout 10 tmux -f /dev/null -S '" + socket_ +
                                    "' " + command + " >/dev/null 2>&1")
                                       .c_str());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 124) {
      ADD_FAILURE() << "tmux " << command << " hung for 10 s";
    }
    return status;
  }
  bool capture(std::string& out) const {
    out.clear();
    FILE* p = popen(
        ("timeout 10 tmux -S '" + socket_ + "' capture-pane -p -t t 2>/dev/null").c_str(), "r");
    if (p == nullptr) return false;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    return pclose(p) == 0;
  }
  std::string socket_;
};

struct Screen : Row {
  std::size_t size;
  std::vector<std::string>
      lines;  // consecutive lines the screen must show, without their trailing blanks
  std::vector<std::string> typed{"pw", "out.txt"};  // at the two prompts
};

class RealTerminal : public testing::TestWithParam<Screen> {};

TEST_P(RealTerminal, ShowsWhatAPersonExpects) {
  if (!Terminal::available()) GTEST_SKIP() << "tmux is not installed; the terminal is not tested";
  const Screen& c = GetParam();
  TempDir dir;
  dir.write("pw", random_bytes(c.size, 11));
  Terminal term(dir.path());
  term.screen_when("password file :");
  term.type_line(c.typed[0]);
  term.screen_when("result1.txt) :");
  if (c.typed.size() > 1) term.type_line(c.typed[1]);
  const std::vector<std::string> lines = term.screen_when("Press ENTER to exit.");
  bool found = false;
  for (std::size_t i = 0; i + c.lines.size() <= lines.size() && !found; ++i) {
    found = std::equal(c.lines.begin(), c.lines.end(), lines.begin() + static_cast<long>(i));
  }
  std::string shown;
  for (const auto& l : lines) shown += l + "\n";
  EXPECT_TRUE(found) << shown;
  term.type_line("");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Screens, RealTerminal,
    testing::Values(
        Screen{{"percentage_counts_up_to_100"}, 150000, {"length : 150000", "",
            " Analyze completed: 100%", "", "Byte allocation:"}},
        Screen{{"a_step_past_100_leaves_100"}, 10099, {" Analyze completed: 100%"}},
        Screen{{"dot_below_the_name_then_the_length"}, 5000000,
            {"Type in new file name for result file (e.g. result1.txt) :out.txt", ".",
            "length : 5000000"}},
        // The message on a line of its own, not after the prompt.
        Screen{{"end_of_input_at_a_prompt_told_on_a_line_of_its_own"}, 5,
            {"Type in new file name for result file (e.g. result1.txt) :",
            "octetcensusmeter: standard input ended before the password file's name was typed"},
            {"C-d"}}),
    row_name);
// clang-format on

}  // namespace
