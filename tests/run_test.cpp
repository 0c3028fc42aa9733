// Complete runs of the program, compared byte for byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "expected.h"
#include "harness.h"
#include "rows.h"

namespace {

std::string bytes(std::initializer_list<unsigned> values) {
  std::string s;
  for (const unsigned v : values) s.push_back(static_cast<char>(v));
  return s;
}

struct CompleteCase : Row {
  std::string input;
  std::vector<std::string> console_lines;  // lines the summary must show, beyond the model
};

class CompleteRun : public testing::TestWithParam<CompleteCase> {};

TEST_P(CompleteRun, ConsoleAndResultFileMatchByteForByte) {
  const CompleteCase& c = GetParam();
  TempDir dir;
  dir.write("pw.txt", c.input);
  const RunResult r = run_program(dir.path(), "pw.txt\nresult.txt\n\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, complete_console(c.input));
  EXPECT_EQ(dir.read("result.txt"), report_of(census_of(c.input)).file);
  for (const auto& line : c.console_lines) EXPECT_TRUE(contains(r.out, line)) << line;
}

std::string counting_twice() {
  std::string s;
  for (int round = 0; round < 2; ++round) {
    for (unsigned v = 0; v < 256; ++v) s.push_back(static_cast<char>(v));
  }
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CompleteRun,
    testing::Values(
        CompleteCase{{"empty"},
                     "",
                     {"upper limit is Byte 0x39 = 0 times\nlower limit is Byte 0x0 = 0 times\n",
                      "upper limit is difference 0x0 = 0 times\n",
                      "lower limit is difference 0x0 = 0 times\n", "length : 0\n"}},
        CompleteCase{{"one_zero_byte"},
                     bytes({0x00}),
                     {"upper limit is Byte 0x0 = 1 times\nlower limit is Byte 0x1 = 0 times\n",
                      "upper limit is difference 0x1 = 0 times\n"}},
        CompleteCase{
            {"ties_go_to_the_smaller_value"},
            "AAC",
            {"upper limit is Byte 0x41 = 2 times\n", "upper limit is difference 0x0 = 1 times\n",
             "lower limit is difference 0x1 = 0 times\n"}},
        CompleteCase{{"widest_difference_both_ways"},
                     bytes({0x00, 0xff, 0x00}),
                     {"upper limit is difference 0xff = 2 times\n"}},
        CompleteCase{
            {"all_values_twice"},
            counting_twice(),
            {"upper limit is Byte 0x0 = 2 times\nlower limit is Byte 0x0 = 2 times\n"
             "(Other bytes with the same frequency are possible)\n"
             "calculate average frequency = 2 \n",
             "upper limit is difference 0x1 = 510 times\n", "calculate average frequency = 1 \n"}},
        CompleteCase{{"trailing_0xff_is_a_byte"}, bytes({0x41, 0xff}), {"length : 2\n"}},
        CompleteCase{{"five_bytes_no_dot"}, "abcde", {"\nlength : 5\n"}},
        CompleteCase{
            {"767_bytes_averages"},
            std::string(767, 'x'),
            {"calculate average frequency = 2 \n\n\n", "calculate average frequency = 2 \n"}},
        CompleteCase{
            {"10000_bytes_jump_to_100"}, random_bytes(10000, 1), {"completed: 0%\b\b100%\n"}},
        CompleteCase{{"10001_bytes_count_up"}, random_bytes(10001, 2), {"\b\b1%", "\b\b\b100%"}},
        CompleteCase{{"10099_bytes_stop_at_100"}, random_bytes(10099, 3), {}},
        CompleteCase{{"150000_bytes"}, random_bytes(150000, 4), {}},
        CompleteCase{{"4999999_bytes_one_dot_at_the_end"},
                     std::string(4999999, 'a'),
                     {".\nlength : 4999999\n"}},
        CompleteCase{{"5000000_bytes_one_dot"},
                     random_bytes(5000000, 5),
                     {"\n\nType in new file name for result file (e.g. result1.txt) :.\nlength"}},
        CompleteCase{{"9999999_bytes_two_dots"}, random_bytes(9999999, 6), {":..\nlength"}}),
    row_name);

// The 10,099-byte input takes a 101st step; it must not leave "1100%".
TEST(Progress, NeverShowsMoreThan100Percent) {
  TempDir dir;
  dir.write("pw", std::string(10099, 'z'));
  const RunResult r = run_program(dir.path(), "pw\nout\n\n");
  ASSERT_EQ(r.status, 0);
  const std::string line = r.out.substr(r.out.find(" Analyze "));
  const std::string tail = line.substr(0, line.find("\n\nByte allocation"));
  EXPECT_TRUE(tail.ends_with("\b\b\b100%")) << tail;
  EXPECT_FALSE(contains(tail, "100%\b"));
}

// What the console shows up to and including a failure.
struct FailureCase : Row {
  std::function<void(const TempDir&)> setup;
  std::string input;          // what is typed
  std::string after_prompts;  // the console after the two prompts
  std::function<void(const TempDir&)> check;
};

const std::string secret = "hunter2\n";

void with_password(const TempDir& d) { d.write("pw.txt", secret); }
void password_unchanged(const TempDir& d) { EXPECT_EQ(d.read("pw.txt"), secret); }
void nothing_created(const TempDir& d) {
  EXPECT_FALSE(d.exists("out.txt"));
  password_unchanged(d);
}

class Failure : public testing::TestWithParam<FailureCase> {};

TEST_P(Failure, EndsWithItsMessagesAndStatus1) {
  const FailureCase& c = GetParam();
  TempDir dir;
  c.setup(dir);
  if (IsSkipped()) return;
  const RunResult r = run_program(dir.path(), c.input);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, banner_and_prompts() + c.after_prompts);
  c.check(dir);
}

const std::string measured = length_pass(secret.size());

INSTANTIATE_TEST_SUITE_P(
    Endings, Failure,
    testing::Values(
        FailureCase{
            {"missing_input"}, with_password, "nope.txt\nout.txt\n", in_error, nothing_created},
        FailureCase{{"input_ends_before_first_name"}, with_password, "", in_error, nothing_created},
        FailureCase{{"input_ends_before_second_name"},
                    with_password,
                    "pw.txt\n",
                    measured + out_error,
                    nothing_created},
        FailureCase{{"input_ends_at_the_error_prompt"},
                    with_password,
                    "nope.txt\nout.txt",
                    in_error,
                    nothing_created},
        FailureCase{{"result_in_missing_folder"},
                    with_password,
                    "pw.txt\nnodir/out.txt\n\n",
                    measured + out_error,
                    nothing_created},
        FailureCase{{"input_is_a_folder"},
                    [](const TempDir& d) {
                      with_password(d);
                      mkdir(d.file("sub").c_str(), 0755);
                    },
                    "sub\nout.txt\n",
                    read_error,
                    nothing_created},
        FailureCase{{"result_is_the_input_by_name"},
                    with_password,
                    "pw.txt\npw.txt\n",
                    measured + same_error,
                    password_unchanged},
        FailureCase{{"result_is_a_hard_link_to_the_input"},
                    [](const TempDir& d) {
                      with_password(d);
                      ASSERT_EQ(link(d.file("pw.txt").c_str(), d.file("hard").c_str()), 0);
                    },
                    "pw.txt\nhard\n",
                    measured + same_error,
                    password_unchanged},
        FailureCase{{"result_is_a_symbolic_link_to_the_input"},
                    [](const TempDir& d) {
                      with_password(d);
                      ASSERT_EQ(symlink("pw.txt", d.file("soft").c_str()), 0);
                    },
                    "pw.txt\nsoft\n",
                    measured + same_error,
                    password_unchanged},
        FailureCase{{"input_is_a_fifo"},
                    [](const TempDir& d) {
                      with_password(d);
                      mkfifo(d.file("fifo").c_str(), 0600);
                    },
                    "fifo\nout.txt\n",
                    once_error,
                    nothing_created},
        FailureCase{{"input_is_a_terminal"},
                    [](const TempDir& d) {
                      with_password(d);
                      // The master stays open for the run, so that the terminal exists.
                      const int master = posix_openpt(O_RDWR | O_NOCTTY);
                      ASSERT_GE(master, 0);
                      ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
                      ASSERT_EQ(symlink(ptsname(master), d.file("tty").c_str()), 0);
                    },
                    "tty\nout.txt\n",
                    once_error,
                    nothing_created},
        FailureCase{{"result_belongs_to_another_user"},
                    [](const TempDir& d) {
                      with_password(d);
                      d.write("out.txt", "theirs");
                      if (chown(d.file("out.txt").c_str(), 65534, 65534) != 0) {
                        GTEST_SKIP() << "only root can give a file to another user";
                      }
                    },
                    "pw.txt\nout.txt\n",
                    measured + foreign_error,
                    [](const TempDir& d) {
                      EXPECT_EQ(d.read("out.txt"), "theirs");
                      password_unchanged(d);
                    }},
        FailureCase{{"nul_in_the_input_name_is_not_cut"},
                    with_password,
                    std::string("pw.txt\0junk\nout.txt\n", 20),
                    in_error,
                    nothing_created},
        FailureCase{{"nul_in_the_result_name_is_not_cut"},
                    with_password,
                    std::string("pw.txt\nout.txt\0junk\n", 20),
                    measured + out_error,
                    nothing_created}),
    row_name);

// A write to the result file or to the console that fails, one way or another.
struct WriteFault : Row {
  std::string result;                 // the result name; "" for out.txt in the run's folder
  std::vector<std::string> injected;  // strace's fault injection on the result file alone
  RunOptions options;
  bool console_fails;  // else the result file fails and the console tells so
};

class FailingWrite : public testing::TestWithParam<WriteFault> {};

RunOptions file_size_limit(long bytes) {
  RunOptions o;
  o.limits = {{RLIMIT_FSIZE, bytes}};
  return o;
}
RunOptions console_to(const std::string& path) {
  RunOptions o;
  o.stdout_path = path;
  return o;
}
RunOptions console_closed() {
  RunOptions o;
  o.stdout_closed = true;
  return o;
}

// The report of the test password is 8.6 KB: glibc writes it in blocks of
// 4096 bytes, two while printing and the rest at the flush.
const std::size_t report_writes = (report_of(census_of(secret)).file.size() + 4095) / 4096;

TEST_P(FailingWrite, IsAnErrorAndStatus1) {
  const WriteFault& c = GetParam();
  TempDir dir;
  dir.write("pw.txt", secret);
  const std::string result = c.result.empty() ? dir.file("out.txt") : c.result;
  RunOptions options = c.options;
  if (!c.injected.empty()) {
    if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed";
    options.wrapper = {"strace", "-o", "/dev/null", "-P", result};
    options.wrapper.insert(options.wrapper.end(), c.injected.begin(), c.injected.end());
  }
  const RunResult r = run_program(dir.path(), "pw.txt\n" + result + "\n\n", options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir.read("pw.txt"), secret);
  if (c.console_fails) {
    EXPECT_EQ(dir.read("out.txt"), report_of(census_of(secret)).file);
  } else {
    EXPECT_EQ(r.out, banner_and_prompts() + measured + progress(secret.size()) +
                         report_of(census_of(secret)).console + write_error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Writes, FailingWrite,
    testing::Values(WriteFault{{"result_on_a_full_disk"}, "/dev/full", {}, {}, false},
                    WriteFault{
                        {"result_past_the_file_size_limit"}, "", {}, file_size_limit(4096), false},
                    WriteFault{{"first_write_of_the_result"},
                               "",
                               {"-e", "trace=write", "-e", "inject=write:error=ENOSPC:when=1"},
                               {},
                               false},
                    WriteFault{{"flush_of_the_result"},
                               "",
                               {"-e", "trace=write", "-e",
                                "inject=write:error=ENOSPC:when=" + std::to_string(report_writes)},
                               {},
                               false},
                    WriteFault{{"close_of_the_result"},
                               "",
                               {"-e", "trace=close", "-e", "inject=close:error=EIO:when=1"},
                               {},
                               false},
                    WriteFault{{"console_on_a_full_disk"}, "", {}, console_to("/dev/full"), true},
                    WriteFault{{"console_pipe_closed_early"}, "", {}, console_closed(), true}),
    row_name);

// A result file is created private; one that exists keeps its mode; a device is written.
TEST(ResultFile, IsCreatedPrivateAndKeepsAnExistingMode) {
  struct Row {
    const char* name;
    int existing_mode;  // -1: the file does not exist beforehand
    int mode;
  };
  for (const Row& row : {Row{"new", -1, 0600}, Row{"own", 0644, 0644},
                         Row{"own_narrow", 0400, 0400}, Row{"device", -2, 0}}) {
    TempDir dir;
    dir.write("pw.txt", secret);
    std::string result = "out.txt";
    if (row.existing_mode >= 0) {
      dir.write(result, std::string(10000, 'o'));  // longer than the report
      chmod(dir.file(result).c_str(), static_cast<mode_t>(row.existing_mode));
    }
    if (row.existing_mode == -2) result = "/dev/null";
    const RunResult r = run_program(dir.path(), "pw.txt\n" + result + "\n\n");
    if (row.existing_mode == 0400 && geteuid() != 0) {
      EXPECT_EQ(r.status, 1) << row.name;  // not writable for its owner
      continue;
    }
    EXPECT_EQ(r.status, 0) << row.name;
    if (row.existing_mode == -2) continue;
    struct stat st {};
    ASSERT_EQ(stat(dir.file(result).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(row.mode)) << row.name;
    EXPECT_EQ(dir.read(result), report_of(census_of(secret)).file) << row.name;
  }
}

// A line without end on standard input names no file, in bounded memory.
TEST(Failure, EndlessLineEndsTheRunAtOnce) {
  TempDir dir;
  RunOptions options;
  options.stdin_path = "/dev/zero";
#if !defined(__SANITIZE_ADDRESS__)
  options.limits = {{RLIMIT_AS, 512L << 20}};  // the sanitizer reserves far more
#endif
  const RunResult r = run_program(dir.path(), "", options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, banner_and_prompts() + in_error);
}

// Names are used exactly as typed: spaces at either end, long paths, bytes above 0x7f.
TEST(Names, AreUsedAsTyped) {
  const std::vector<std::pair<std::string, std::string>> names = {
      {" pw with spaces.txt ", "  out.txt"},
      {"p\xc3\xa4ss\xff.txt", "r\xe9sultat.txt"},
      {std::string(200, 'a') + "/" + std::string(200, 'b') + "/pw",
       std::string(200, 'a') + "/" + std::string(150, 'c')},
  };
  for (const auto& [in, out] : names) {
    TempDir dir;
    const auto slash = in.rfind('/');
    if (slash != std::string::npos) {
      std::filesystem::create_directories(dir.file(in.substr(0, slash)));
    }
    dir.write(in, secret);
    std::string typed = in;
    typed += '\n' + out + "\n\n";
    const RunResult r = run_program(dir.path(), typed);
    EXPECT_EQ(r.status, 0) << in;
    EXPECT_EQ(dir.read(out), report_of(census_of(secret)).file) << out;
  }
}

}  // namespace
