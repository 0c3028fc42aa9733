// Complete runs of the program, compared byte for byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/loop.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "expected.h"
#include "harness.h"
#include "rows.h"

namespace {

std::string bytes(std::initializer_list<unsigned> values) {
  std::string s;
  for (const unsigned v : values) s.push_back(static_cast<char>(v));
  return s;
}

// A row's input, made when its test runs: every test's process builds every
// row, and large inputs made there would cost each of them a moment.
struct Input {
  std::function<std::string()> make;
};
Input given(std::string b) {
  return {[b = std::move(b)] { return b; }};
}
Input randomly(std::size_t n, unsigned seed) {
  return {[=] { return random_bytes(n, seed); }};
}
Input repeated(std::size_t n, char c) {
  return {[=] { return std::string(n, c); }};
}

struct CompleteCase : Row {
  Input input;
  std::vector<std::string> console_lines;  // lines the summary must show, beyond the model
  std::string path{};               // a file of the system that holds the input, instead of pw.txt
  std::vector<std::string> args{};  // on the command line
  // Runs the program under this emulator of the machine it was built for:
  // qemu-x86_64 with a processor that lacks AVX-512, say.
  std::vector<std::string> emulator{};
};

class CompleteRun : public testing::TestWithParam<CompleteCase> {};

TEST_P(CompleteRun, ConsoleAndResultFileMatchByteForByte) {
  const CompleteCase& c = GetParam();
  TempDir dir;
  if (!c.path.empty() && access(c.path.c_str(), R_OK) != 0)
    GTEST_SKIP() << c.path << " is not here";
  const std::string input = c.input.make();
  dir.write("pw.txt", input);
  const std::string name = c.path.empty() ? "pw.txt" : c.path;
  RunOptions options;
  options.args = c.args;
  if (!c.emulator.empty()) {
#if !defined(__x86_64__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "runs an x86-64 build without its sanitizers under qemu-x86_64";
#endif
    if (program_command().size() > 1) GTEST_SKIP() << "the program runs under an emulator already";
    if (std::system((c.emulator[0] + " -version >/dev/null 2>&1").c_str()) != 0) {
      GTEST_SKIP() << c.emulator[0] << " is not installed (qemu-user)";
    }
    options.wrapper = c.emulator;
  }
  const RunResult r = run_program(dir.path(), name + "\nresult.txt\n\n", options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, complete_console(input));
  // Only arguments, which go nowhere, are worth a word on standard error.
  EXPECT_EQ(r.err, c.args.empty() ? ""
                                  : "octetcensusmeter: takes no arguments (they are ignored); it "
                                    "asks for the two file names, see man octetcensusmeter\n");
  EXPECT_EQ(dir.read("result.txt"), report_of(census_of(input)).file);
  for (const auto& line : c.console_lines) EXPECT_TRUE(contains(r.out, line)) << line;
}

// What a file of the system holds, as this process reads it.
std::string contents(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string counting_twice() {
  std::string s;
  for (int round = 0; round < 2; ++round) {
    for (unsigned v = 0; v < 256; ++v) s.push_back(static_cast<char>(v));
  }
  return s;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Inputs, CompleteRun,
    testing::Values(
        CompleteCase{{"empty"}, given(""),
            {"upper limit is Byte 0x39 = 0 times\nlower limit is Byte 0x0 = 0 times\n",
            "upper limit is difference 0x0 = 0 times\n",
            "lower limit is difference 0x0 = 0 times\n", "length : 0\n"}},
        CompleteCase{{"one_zero_byte"}, given(bytes({0x00})),
            {"upper limit is Byte 0x0 = 1 times\nlower limit is Byte 0x1 = 0 times\n",
            "upper limit is difference 0x1 = 0 times\n"}},
        CompleteCase{{"ties_go_to_the_smaller_value"}, given("AAC"),
            {"upper limit is Byte 0x41 = 2 times\n", "upper limit is difference 0x0 = 1 times\n",
            "lower limit is difference 0x1 = 0 times\n"}},
        CompleteCase{{"widest_difference_both_ways"}, given(bytes({0x00, 0xff, 0x00})),
            {"upper limit is difference 0xff = 2 times\n"}},
        CompleteCase{{"all_values_twice"}, given(counting_twice()),
            {"upper limit is Byte 0x0 = 2 times\nlower limit is Byte 0x0 = 2 times\n"
            "(Other bytes with the same frequency are possible)\n"
            "calculate average frequency = 2 \n", "upper limit is difference 0x1 = 510 times\n",
            "calculate average frequency = 1 \n"}},
        CompleteCase{{"trailing_0xff_is_a_byte"}, given(bytes({0x41, 0xff})), {"length : 2\n"}},
        CompleteCase{{"five_bytes_no_dot"}, given("abcde"), {"\nlength : 5\n"}},
        CompleteCase{{"arguments_are_ignored"}, given("abc"), {}, "", {"--help"}},
        CompleteCase{{"767_bytes_averages"}, repeated(767, 'x'),
            {"calculate average frequency = 2 \n\n\n", "calculate average frequency = 2 \n"}},
        CompleteCase{{"10000_bytes_jump_to_100"}, randomly(10000, 1), {"completed: 0%\b\b100%\n"}},
        CompleteCase{{"10001_bytes_count_up"}, randomly(10001, 2), {"\b\b1%", "\b\b\b100%"}},
        CompleteCase{{"10099_bytes_stop_at_100"}, randomly(10099, 3), {}},
        CompleteCase{{"150000_bytes"}, randomly(150000, 4), {}},
        // A processor without the bit-sliced counter's instructions counts with the pair table.
        CompleteCase{{"processor_without_avx512"}, randomly(150000, 8), {}, "", {}, {"qemu-x86_64",
            "-cpu", "Nehalem"}},
        // The kernel will not send this file to /dev/null: the length pass reads it.
        // The program inherits this process's value.
        CompleteCase{{"file_the_kernel_cannot_send"}, {[] {
            return contents("/proc/self/oom_score_adj"); }}, {}, "/proc/self/oom_score_adj"},
        // sysfs gives every file a size of 4096, whatever it holds: it is read to be measured.
        CompleteCase{{"file_whose_size_is_not_its_length"}, {[] {
            return contents("/sys/devices/system/cpu/online"); }}, {},
            "/sys/devices/system/cpu/online"},
        CompleteCase{{"4999998_bytes_no_dot"}, repeated(4999998, 'a'), {":\nlength : 4999998\n"}},
        CompleteCase{{"4999999_bytes_one_dot_at_the_end"}, repeated(4999999, 'a'),
            {".\nlength : 4999999\n"}},
        CompleteCase{{"5000000_bytes_one_dot"}, randomly(5000000, 5),
            {"\n\nType in new file name for result file (e.g. result1.txt) :.\nlength"}},
        CompleteCase{{"9999999_bytes_two_dots"}, randomly(9999999, 6), {":..\nlength"}}),
    row_name);
// clang-format on

// What the console shows up to and including a failure.
struct FailureCase : Row {
  std::function<void(const TempDir&)> setup;
  std::string input;          // what is typed
  std::string after_prompts;  // the console after the two prompts
  std::function<void(const TempDir&)> check;
  int user = -1;  // the victim, when not the one who runs the tests
  // What standard error must say, where the row says; $HOME stands for the
  // run's home folder, which is its own folder.
  std::optional<std::string> err{};
  std::vector<std::string> faults{};  // for the fault library
};

const std::string secret = "hunter2\n";

void with_password(const TempDir& d) { d.write("pw.txt", secret); }
void password_unchanged(const TempDir& d) { EXPECT_EQ(d.read("pw.txt"), secret); }
void nothing_created(const TempDir& d) {
  EXPECT_FALSE(d.exists("out.txt"));
  password_unchanged(d);
}

// A folder of root's that everybody may write to, as /tmp is: root plays the
// one who plants things there, nobody the victim, whose password file and
// whose own file home/own.txt ("mine") are there too.
bool shared_folder(const TempDir& d) {
  chmod(d.path().c_str(), 01777);
  with_password(d);
  mkdir(d.file("home").c_str(), 0700);
  d.write("home/own.txt", "mine");
  for (const char* name : {"pw.txt", "home", "home/own.txt"}) {
    if (chown(d.file(name).c_str(), nobody, nobody) != 0) return false;
  }
  return true;
}
void own_file_unchanged(const TempDir& d) {
  EXPECT_EQ(d.read("home/own.txt"), "mine");
  password_unchanged(d);
}

// The reading end of a FIFO planted as the result, held open for the run.
int fifo_reader = -1;
void fifo_got_nothing(const TempDir& d) {
  char c = 0;
  EXPECT_EQ(read(fifo_reader, &c, 1), 0) << "the report went into the FIFO";
  close(fifo_reader);
  password_unchanged(d);
}

// The master side of a terminal given to another user as the result.
int terminal = -1;

// A loop device over a small image: a disk that a planted name can lead to,
// by a device node of its own ("disk") and by a link ("link"). The device
// clears itself when the test's hold on it ends, a kill included, and the
// folder is a file system of the test's own mount namespace.
std::string loop_device;
int loop_fd = -1;
std::string image_bytes;
void set_up_disk(const TempDir& d) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, for a loop device";
  const int control = open("/dev/loop-control", O_RDWR | O_CLOEXEC);
  if (control < 0) GTEST_SKIP() << "no loop devices here";
  const int number = ioctl(control, LOOP_CTL_GET_FREE);
  close(control);
  if (!mounts_of_our_own() || mount("tmpfs", d.path().c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "no file system of the test's own can be mounted here";
  }
  with_password(d);
  d.write("image", image_bytes);
  loop_device = "/dev/loop" + std::to_string(number);
  loop_fd = number < 0 ? -1 : open(loop_device.c_str(), O_RDWR | O_CLOEXEC);
  const int image = open(d.file("image").c_str(), O_RDWR | O_CLOEXEC);
  loop_info64 info{};
  info.lo_flags = LO_FLAGS_AUTOCLEAR;
  if (loop_fd < 0 || ioctl(loop_fd, LOOP_SET_FD, image) != 0 ||
      ioctl(loop_fd, LOOP_SET_STATUS64, &info) != 0) {
    umount2(d.path().c_str(), MNT_DETACH);
    GTEST_SKIP() << "no loop device could be set up";
  }
  close(image);
  struct stat st {};
  ASSERT_EQ(stat(loop_device.c_str(), &st), 0);
  if (mknod(d.file("disk").c_str(), S_IFBLK | 0600, st.st_rdev) != 0) {
    const int reason = errno;
    close(loop_fd);
    umount2(d.path().c_str(), MNT_DETACH);
    GTEST_SKIP() << "no device node can be made here: " << std::strerror(reason);
  }
  ASSERT_EQ(symlink(loop_device.c_str(), d.file("link").c_str()), 0);
}
void with_a_disk(const TempDir& d) {
  image_bytes = std::string(65536, 'i');
  set_up_disk(d);
}
// A disk whose image is an earlier report, padded to whole sectors: the
// device and its backing file hold the same bytes.
const std::string earlier = report_of(census_of(secret)).file;
void with_a_disk_of_a_report(const TempDir& d) {
  image_bytes = earlier + std::string(16384 - earlier.size(), ' ');
  set_up_disk(d);
}
void image_unchanged(const TempDir& d) {
  EXPECT_EQ(d.read("image"), image_bytes);
  close(loop_fd);
  password_unchanged(d);
  umount2(d.path().c_str(), MNT_DETACH);
}

class Failure : public testing::TestWithParam<FailureCase> {};

TEST_P(Failure, EndsWithItsMessagesAndStatus1) {
  const FailureCase& c = GetParam();
  if (const std::string why = c.user >= 0 ? another_user_missing() : ""; !why.empty()) {
    GTEST_SKIP() << why;
  }
  TempDir dir;
  c.setup(dir);
  if (IsSkipped() || HasFailure()) return;
  RunOptions options = c.faults.empty() ? RunOptions{} : preloaded(c.faults);
  options.user = c.user;
  options.env.push_back("HOME=" + dir.path());
  // A hang (a FIFO's open waiting for a writer, a terminal's read) says so.
  options.deadline_seconds = 30;
  const RunResult r = run_program(dir.path(), c.input, options);
  EXPECT_FALSE(r.timed_out) << "still running after 30 s";
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, banner_and_prompts() + c.after_prompts);
  if (c.err) {
    std::string err = *c.err;
    for (std::size_t at; (at = err.find("$HOME")) != std::string::npos;) {
      err.replace(at, 5, dir.path());
    }
    EXPECT_EQ(r.err, err);
  }
  c.check(dir);
}

// An earlier report, old.txt, beside the password file, or with a copy of it.
void with_report_and_password(const TempDir& d) {
  with_password(d);
  d.write("old.txt", earlier);
}
void report_and_password_unchanged(const TempDir& d) {
  EXPECT_EQ(d.read("old.txt"), earlier);
  password_unchanged(d);
}
void with_report_and_copy(const TempDir& d) {
  d.write("old.txt", earlier);
  d.write("copy", earlier);
}
void report_and_copy_unchanged(const TempDir& d) {
  EXPECT_EQ(d.read("old.txt"), earlier);
  EXPECT_EQ(d.read("copy"), earlier);
}

// One file under two identities: upper/pw.txt holding these bytes, seen as
// merged/pw.txt through an overlay. Where locked, another program holds a
// lock on it for a second and a half and appends a line before it lets go.
std::thread lock_holder;
std::function<void(const TempDir&)> over(const std::string& bytes, bool locked = false) {
  return [=](const TempDir& d) {
    for (const char* f : {"lower", "upper", "work", "merged"}) mkdir(d.file(f).c_str(), 0700);
    d.write("upper/pw.txt", bytes);
    const std::string folders = "lowerdir=" + d.file("lower") + ",upperdir=" + d.file("upper") +
                                ",workdir=" + d.file("work");
    if (geteuid() != 0 || !mounts_of_our_own() ||
        mount("overlay", d.file("merged").c_str(), "overlay", 0, folders.c_str()) != 0) {
      GTEST_SKIP() << "no overlay can be mounted here";
    }
    if (!locked) return;
    const int held = open(d.file("merged/pw.txt").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    lock_holder = std::thread([held] {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      EXPECT_EQ(write(held, "appended\n", 9), 9);
      close(held);
    });
  };
}
std::function<void(const TempDir&)> overlay_holds(const std::string& bytes) {
  return [=](const TempDir& d) {
    if (lock_holder.joinable()) lock_holder.join();
    EXPECT_EQ(d.read("upper/pw.txt"), bytes);
    umount(d.file("merged").c_str());
  };
}

// What standard error says of a name that failed, and of what it may have meant.
std::string said(const std::string& name, const std::string& reason,
                 const std::string& meant = "") {
  std::string text = "octetcensusmeter: '" + name + "': " + reason + "\n";
  if (!meant.empty()) text += "octetcensusmeter: did you mean '" + meant + "'?\n";
  return text;
}
const std::string not_found = "No such file or directory";
const std::string refused = "exists and is not a result file (it was left as it was): ";
const std::string no_folder = "the folder does not exist, so the result cannot be created";

// A password file whose name has a space in it, as file managers make them.
void with_spaced_name(const TempDir& d) {
  with_password(d);
  d.write("my passwords.txt", secret);
}
// The name of the input as a terminal or a file manager hands it over.
FailureCase typed_input(const char* name, const std::string& typed, const std::string& shown,
                        const std::string& meant) {
  return FailureCase{{name},
                     with_spaced_name,
                     typed + "\nout.txt\n",
                     in_error,
                     nothing_created,
                     -1,
                     said(shown, not_found, meant)};
}

const std::string measured = length_pass(secret.size());

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Endings, Failure,
    testing::Values(
        FailureCase{{"missing_input"}, with_password, "nope.txt\nout.txt\n", in_error,
            nothing_created, -1, said("nope.txt", not_found)},
        typed_input("dragged_into_a_terminal", "'my passwords.txt' ", "'my passwords.txt' ",
            "my passwords.txt"),
        typed_input("space_escaped_by_a_terminal", "my\\ passwords.txt", "my\\ passwords.txt",
            "my passwords.txt"),
        typed_input("home_folder_as_a_tilde", "~/pw.txt", "~/pw.txt", "$HOME/pw.txt"),
        typed_input("space_at_the_end", "pw.txt ", "pw.txt ", "pw.txt"),
        typed_input("space_after_the_colon", " pw.txt", " pw.txt", "pw.txt"),
        typed_input("line_end_of_a_windows_script", "pw.txt\r", "pw.txt\\r", "pw.txt"),
        typed_input("double_quotes_of_a_copied_path", "\"my passwords.txt\"",
            "\"my passwords.txt\"", "my passwords.txt"),
        typed_input("escape_sequence_shown_escaped", "pw\x1b]2;x\a", "pw\\x1b]2;x\\x07", ""),
        typed_input("unmatched_quotes_kept_without_a_hint", "'my passwords.txt\"",
            "'my passwords.txt\"", ""),
        typed_input("c1_control_shown_escaped", "pw\xc2\x9b" "1m", "pw\\xc2\\x9b1m", ""),
        FailureCase{{"unreadable_input"},
                    [](const TempDir& d) {
                      with_password(d);
                      chmod(d.path().c_str(), 0755);
                      chmod(d.file("pw.txt").c_str(), 0);
                    },
                    "pw.txt\nout.txt\n",
                    in_error,
                    [](const TempDir& d) {
                      chmod(d.file("pw.txt").c_str(), 0600);
                      nothing_created(d);
                    },
                    nobody,
                    said("pw.txt", "Permission denied")},
        FailureCase{{"input_ends_before_first_name"}, with_password, "", in_error, nothing_created,
            -1, "octetcensusmeter: standard input ended before the password file's name was "
            "typed\n"},
        FailureCase{{"input_ends_before_second_name"}, with_password, "pw.txt\n",
            measured + out_error, nothing_created, -1,
            "octetcensusmeter: standard input ended before the result file's name was typed\n"},
        FailureCase{{"empty_line_for_a_name"}, with_password, "\nout.txt\n", in_error,
            nothing_created, -1, said("", not_found)},
        FailureCase{{"input_ends_at_the_error_prompt"}, with_password, "nope.txt\nout.txt",
            in_error, nothing_created},
        FailureCase{{"result_in_missing_folder"}, with_password, "pw.txt\nnodir/out.txt\n\n",
            measured + out_error, nothing_created, -1, said("nodir/out.txt", no_folder)},
        FailureCase{{"result_in_the_home_folder_as_a_tilde"}, with_password,
            "pw.txt\n~/out.txt\n\n", measured + out_error, nothing_created, -1, said("~/out.txt",
            no_folder, "$HOME/out.txt")},
        FailureCase{{"result_beyond_a_folder_without_permission"},
                    [](const TempDir& d) {
                      with_password(d);
                      chmod(d.path().c_str(), 0755);
                      ASSERT_EQ(chown(d.file("pw.txt").c_str(), nobody, nobody), 0);
                      mkdir(d.file("locked").c_str(), 0700);
                      mkdir(d.file("locked/sub").c_str(), 0700);
                    },
                    "pw.txt\nlocked/sub/out.txt\n\n",
                    measured + out_error,
                    password_unchanged,
                    nobody,
                    said("locked/sub/out.txt",
                         "the folder cannot be reached (no permission), so the result cannot be "
                         "created")},
        FailureCase{{"result_in_a_file_as_its_folder"}, with_password, "pw.txt\npw.txt/out.txt\n\n",
            measured + out_error, nothing_created, -1, said("pw.txt/out.txt",
            "the folder part is not a folder, so the result cannot be created")},
        FailureCase{{"input_is_a_folder"},
                    [](const TempDir& d) {
                      with_password(d);
                      mkdir(d.file("sub").c_str(), 0755);
                    },
                    "sub\nout.txt\n",
                    read_error,
                    nothing_created,
                    -1,
                    said("sub", "Is a directory")},
        FailureCase{{"result_is_the_input_by_name"}, with_password, "pw.txt\npw.txt\n",
            measured + same_error, password_unchanged},
        FailureCase{{"result_is_a_hard_link_to_the_input"},
                    [](const TempDir& d) {
                      with_password(d);
                      ASSERT_EQ(link(d.file("pw.txt").c_str(), d.file("hard").c_str()), 0);
                    },
                    "pw.txt\nhard\n",
                    measured + same_error,
                    password_unchanged},
        // Only an earlier report is written over: the two names swapped cost nothing.
        FailureCase{{"names_swapped"}, with_report_and_password, "old.txt\npw.txt\n\n",
            length_pass(earlier.size()) + not_result_error, report_and_password_unchanged, -1,
            said("pw.txt", refused + "it begins with lines of text and looks like a "
            "password list; were the two names swapped? The password file comes "
            "first, then a new name for the result")},
        FailureCase{{"result_is_binary_data"},
                    [](const TempDir& d) { with_password(d); d.write("bin", std::string("\x7f" "ELF\0", 5)); },
                    "pw.txt\nbin\n", measured + not_result_error, password_unchanged, -1,
                    said("bin", refused + "it begins with binary data")},
        // An earlier report analysed, and its bytes at the result's name: a copy,
        // or the same file under a second identity.
        FailureCase{{"result_holds_the_inputs_bytes"}, with_report_and_copy, "old.txt\ncopy\n",
            length_pass(earlier.size()) + same_error, report_and_copy_unchanged},
        // The upper and merged names of one file, the input a password list: not a report.
        FailureCase{{"result_is_the_input_through_an_overlay"}, over(secret),
            "upper/pw.txt\nmerged/pw.txt\n", measured + not_result_error, overlay_holds(secret)},
        FailureCase{{"report_is_the_input_through_an_overlay"}, over(earlier),
            "upper/pw.txt\nmerged/pw.txt\n", length_pass(earlier.size()) + same_error,
            overlay_holds(earlier)},
        // Another program holds a lock on it and appends a line meanwhile.
        FailureCase{{"report_through_an_overlay_grown_under_a_lock"}, over(earlier, true),
            "upper/pw.txt\nmerged/pw.txt\n", length_pass(earlier.size()) + same_error,
            overlay_holds(earlier + "appended\n")},
        // The input's file system says it is a byte longer than it reads.
        FailureCase{{"report_through_an_overlay_whose_size_lies"}, over(earlier),
            "merged/pw.txt\nupper/pw.txt\n", length_pass(earlier.size()) + same_error,
            overlay_holds(earlier), -1, std::nullopt, {"OCTET_SIZE_PLUS_ONE=merged/pw.txt"}},
        FailureCase{{"result_is_the_backing_file_of_the_input_disk"}, with_a_disk_of_a_report,
            "disk\nimage\n", length_pass(16384) + same_error, image_unchanged},
        FailureCase{{"result_is_a_symbolic_link_to_the_input"},
                    [](const TempDir& d) {
                      with_password(d);
                      ASSERT_EQ(symlink("pw.txt", d.file("soft").c_str()), 0);
                    },
                    "pw.txt\nsoft\n",
                    measured + link_error,
                    password_unchanged},
        FailureCase{{"planted_link_to_an_own_file"},
                    [](const TempDir& d) {
                      ASSERT_TRUE(shared_folder(d));
                      ASSERT_EQ(symlink("home/own.txt", d.file("out.txt").c_str()), 0);
                    },
                    "pw.txt\nout.txt\n",
                    measured + link_error,
                    own_file_unchanged,
                    nobody},
        // A third user's link, which the kernel refuses to open there.
        FailureCase{{"third_users_link_in_a_sticky_folder"},
                    [](const TempDir& d) {
                      ASSERT_TRUE(shared_folder(d));
                      ASSERT_EQ(symlink("home/own.txt", d.file("out.txt").c_str()), 0);
                      ASSERT_EQ(lchown(d.file("out.txt").c_str(), 1, 1), 0);
                    },
                    "pw.txt\nout.txt\n",
                    measured + link_error,
                    own_file_unchanged,
                    nobody},
        // A team folder (setgid, no sticky bit) where a third user put a link
        // to the victim's own folder in place of a subfolder.
        FailureCase{{"another_users_link_among_the_folders"},
                    [](const TempDir& d) {
                      ASSERT_TRUE(shared_folder(d));
                      chmod(d.path().c_str(), 02770);
                      ASSERT_EQ(symlink("home", d.file("reports").c_str()), 0);
                      ASSERT_EQ(lchown(d.file("reports").c_str(), 1, 1), 0);
                    },
                    "pw.txt\nreports/own.txt\n",
                    measured + foreign_link_error,
                    own_file_unchanged,
                    nobody},
        FailureCase{{"planted_dangling_link"},
                    [](const TempDir& d) {
                      ASSERT_TRUE(shared_folder(d));
                      ASSERT_EQ(symlink("home/made.txt", d.file("out.txt").c_str()), 0);
                    },
                    "pw.txt\nout.txt\n",
                    measured + link_error,
                    [](const TempDir& d) {
                      EXPECT_FALSE(d.exists("home/made.txt"));
                      own_file_unchanged(d);
                    },
                    nobody},
        FailureCase{{"planted_hard_link_to_an_own_file"},
                    [](const TempDir& d) {
                      // Root may link any file; others where fs.protected_hardlinks is 0.
                      ASSERT_TRUE(shared_folder(d));
                      ASSERT_EQ(link(d.file("home/own.txt").c_str(), d.file("out.txt").c_str()), 0);
                    },
                    "pw.txt\nout.txt\n",
                    measured + many_names_error,
                    own_file_unchanged,
                    nobody},
        FailureCase{{"planted_fifo_with_a_reader"},
                    [](const TempDir& d) {
                      ASSERT_TRUE(shared_folder(d));
                      ASSERT_EQ(mkfifo(d.file("out.txt").c_str(), 0666), 0);
                      chmod(d.file("out.txt").c_str(), 0666);
                      fifo_reader = open(d.file("out.txt").c_str(), O_RDONLY | O_NONBLOCK);
                      ASSERT_GE(fifo_reader, 0);
                    },
                    "pw.txt\nout.txt\n",
                    measured + foreign_error,
                    fifo_got_nothing,
                    nobody},
        FailureCase{{"result_is_a_block_device"}, with_a_disk, "pw.txt\ndisk\n",
            measured + block_error, image_unchanged},
        FailureCase{{"result_is_a_link_to_a_block_device"}, with_a_disk, "pw.txt\nlink\n",
            measured + link_error, image_unchanged},
        FailureCase{{"input_is_a_character_device"}, with_password, "/dev/zero\nout.txt\n",
            character_error, nothing_created},
        FailureCase{{"input_is_the_random_device"}, with_password, "/dev/urandom\nout.txt\n",
            character_error, nothing_created},
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
        FailureCase{{"result_is_another_users_terminal"},
                    [](const TempDir& d) {
                      if (const std::string why = another_user_missing(); !why.empty()) {
                        GTEST_SKIP() << why << ", to give a terminal away";
                      }
                      with_password(d);
                      terminal = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
                      ASSERT_GE(terminal, 0);
                      ASSERT_EQ(grantpt(terminal) | unlockpt(terminal), 0);
                      // Another user's terminal, at a name in the run's folder: a
                      // node of its own would not reach it, a bind mount does.
                      ASSERT_EQ(chown(ptsname(terminal), nobody, nobody), 0);
                      d.write("tty", "");
                      if (!mounts_of_our_own() || mount(ptsname(terminal), d.file("tty").c_str(),
                                                        nullptr, MS_BIND, nullptr) != 0) {
                        const int reason = errno;
                        close(terminal);
                        ASSERT_TRUE(reason == EPERM || reason == EINVAL || reason == EACCES)
                            << std::strerror(reason);
                        GTEST_SKIP() << "no bind mount can be made here (no CAP_SYS_ADMIN): "
                                     << std::strerror(reason);
                      }
                    },
                    "pw.txt\ntty\n",
                    measured + foreign_error,
                    [](const TempDir& d) {
                      char c = 0;
                      EXPECT_EQ(read(terminal, &c, 1), -1) << "the report reached the terminal";
                      umount(d.file("tty").c_str());
                      close(terminal);
                      password_unchanged(d);
                    }},
        FailureCase{{"result_belongs_to_another_user"},
                    [](const TempDir& d) {
                      with_password(d);
                      d.write("out.txt", "theirs");
                      const uid_t other = geteuid() == nobody ? 1 : nobody;
                      if (chown(d.file("out.txt").c_str(), other, other) != 0) {
                        GTEST_SKIP() << "only root can give a file to another user";
                      }
                    },
                    "pw.txt\nout.txt\n",
                    measured + foreign_error,
                    [](const TempDir& d) {
                      EXPECT_EQ(d.read("out.txt"), "theirs");
                      password_unchanged(d);
                    }},
        FailureCase{{"nul_in_the_input_name_is_not_cut"}, with_password,
            std::string("pw.txt\0junk\nout.txt\n", 20), in_error, nothing_created},
        FailureCase{{"nul_in_the_result_name_is_not_cut"}, with_password,
            std::string("pw.txt\nout.txt\0junk\n", 20), measured + out_error, nothing_created},
        // What follows the NUL is not a folder to warn of: the name names no file.
        FailureCase{{"nul_in_the_result_name_before_a_slash"}, with_password,
            std::string("pw.txt\nout.txt\0/junk\n", 20), measured + out_error, nothing_created, -1,
            said("out.txt\\x00/junk", "the name holds a NUL character")}),
    row_name);
// clang-format on

// A write to the result file or to the console that fails, one way or another.
struct WriteFault : Row {
  std::string result;  // the result name; "" for out.txt in the run's folder
  std::string fault;   // the call on the result that fails (OCTET_FAIL_RESULT); "" for none
  RunOptions options;
  bool console_fails;    // else the result file fails and the console tells so
  std::string reason{};  // the failing console write's, as standard error gives it
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

// The same fault by strace, for a program under an emulator, where the fault
// library's filter would reach the emulator's own calls and is refused.
std::vector<std::string> strace_injection(const std::string& fault) {
  const std::string when = fault == "flush" ? std::to_string(report_writes) : "1";
  const std::string call = fault == "emptying" ? "ftruncate" : fault == "close" ? "close" : "write";
  const std::string error = call == "write" ? "ENOSPC" : "EIO";
  return {"-e", "trace=" + call, "-e", "inject=" + call + ":error=" + error + ":when=" + when};
}

TEST_P(FailingWrite, IsAnErrorAndStatus1) {
  const WriteFault& c = GetParam();
  TempDir dir;
  dir.write("pw.txt", secret);
  const std::string result = c.result.empty() ? dir.file("out.txt") : c.result;
  RunOptions options = c.options;
  if (!c.fault.empty() && program_command().size() == 1) {
    options = preloaded({"OCTET_FAIL_RESULT=" + c.fault});
  } else if (!c.fault.empty()) {
    if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed";
    if (geteuid() != 0) {
      GTEST_SKIP() << "under an emulator only strace can fail the call, and it sees into a "
                      "program that protects its memory only as root";
    }
    options.wrapper = {"strace", "-o", "/dev/null", "-P", result};
    for (const auto& word : strace_injection(c.fault)) options.wrapper.push_back(word);
  }
  const RunResult r = run_program(dir.path(), "pw.txt\n" + result + "\n\n", options);
  if (r.status == 125 && contains(r.err, "no seccomp filter")) GTEST_SKIP() << r.err;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir.read("pw.txt"), secret);
  if (c.console_fails) {
    EXPECT_EQ(dir.read("out.txt"), report_of(census_of(secret)).file);
    EXPECT_TRUE(contains(r.err, "standard output could not be written: " + c.reason + "\n"))
        << r.err;
  } else {
    EXPECT_EQ(r.out, banner_and_prompts() + measured + progress(secret.size()) +
                         report_of(census_of(secret)).console + write_error);
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Writes, FailingWrite,
    testing::Values(
        WriteFault{{"result_on_a_full_disk"}, "/dev/full", "", {}, false},
        WriteFault{{"result_past_the_file_size_limit"}, "", "", file_size_limit(4096), false},
        WriteFault{{"first_write_of_the_result"}, "", "write", {}, false},
        WriteFault{{"flush_of_the_result"}, "", "flush", {}, false},
        WriteFault{{"emptying_of_the_result"}, "", "emptying", {}, false},
        WriteFault{{"close_of_the_result"}, "", "close", {}, false},
        WriteFault{{"console_on_a_full_disk"}, "", "", console_to("/dev/full"), true,
            "No space left on device"},
        WriteFault{{"console_pipe_closed_early"}, "", "", console_closed(), true, "Broken pipe"}),
    row_name);
// clang-format on

// What a reader of a FIFO got, reading from 300 ms on until the writer is gone
// and the run has ended: a reader that is not ready at once.
class SlowReader {
 public:
  explicit SlowReader(const std::string& fifo)
      : fd_(open(fifo.c_str(), O_RDONLY | O_NONBLOCK)), thread_([this] { read_all(); }) {
    fcntl(fd_, F_SETPIPE_SZ, 4096);  // the smallest buffer: the report does not fit
  }
  ~SlowReader() { finish(); }
  SlowReader(const SlowReader&) = delete;
  SlowReader& operator=(const SlowReader&) = delete;
  const std::string& finish() {
    ended_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    return got_;
  }

 private:
  void read_all() {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    char block[4096];
    for (;;) {
      const ssize_t n = read(fd_, block, sizeof block);
      if (n > 0) got_.append(block, static_cast<std::size_t>(n));
      if (n == 0 && ended_) return;
      if (n <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  int fd_;
  std::atomic<bool> ended_{false};
  std::string got_;
  std::thread thread_;
};

// Two file systems of their own, a and b, whose first files have the same
// inode number; false where they cannot be mounted.
bool two_file_systems(const TempDir& d) {
  if (!mounts_of_our_own()) return false;
  for (const char* name : {"a", "b"}) {
    mkdir(d.file(name).c_str(), 0700);
    if (mount("tmpfs", d.file(name).c_str(), "tmpfs", 0, "size=1m") != 0) return false;
  }
  return true;
}
void unmount_both(const TempDir& d) {
  for (const char* name : {"a", "b"}) umount(d.file(name).c_str());
}

// A result file is created private; one that exists keeps its mode and loses
// all it held, even when longer than the report; /dev/null and the user's own
// FIFO, read by a reader that is slow to start, are written; a result on
// another file system is not the input for having its inode number.
TEST(ResultFile, IsCreatedPrivateAndAnEarlierOneMadePrivate) {
  enum Kind {
    created,
    existing,
    empty,
    device,
    fifo,
    other_file_system,
    through_own_link,
    through_absolute_link,
    through_roots_link,
    of_the_inputs_length,
    shared,
    others_sticky
  };
  struct Row {
    const char* name;
    Kind kind;
    mode_t mode;  // beforehand when existing, afterwards
  };
  const std::string long_report = earlier + std::string(70000, 'x');
  for (const Row& row :
       {Row{"new", created, 0600}, Row{"earlier_report", existing, 0644},
        Row{"earlier_report_narrow", existing, 0400}, Row{"empty_file", empty, 0664},
        Row{"device", device, 0}, Row{"own_fifo_with_a_slow_reader", fifo, 0600},
        Row{"same_inode_on_another_file_system", other_file_system, 0644},
        // A folder reached through the user's own link (root's, when root runs the tests).
        Row{"through_an_own_link_among_the_folders", through_own_link, 0600},
        Row{"through_an_own_link_to_an_absolute_name", through_absolute_link, 0600},
        // Run by another user, through a link of root's, as the system's own links are.
        Row{"through_a_link_of_roots_as_another_user", through_roots_link, 0600},
        // Another file of the user's renamed to the result's name, in a team
        // folder: made private before the report goes in.
        Row{"own_file_in_a_folder_others_may_rename_in", shared, 0644},
        // The same in a sticky folder of another user's, who may rename anything there.
        Row{"own_file_in_another_users_sticky_folder", others_sticky, 0644},
        // An earlier report analysed, and another of its length at the result's
        // name, which differs only in its last byte, past the first 64 KiB.
        Row{"earlier_report_of_the_inputs_length", of_the_inputs_length, 0600}}) {
    TempDir dir;
    const std::string password = row.kind == of_the_inputs_length ? long_report : secret;
    const std::string report = report_of(census_of(password)).file;
    std::string input = "pw.txt";
    std::string result = row.kind == device ? "/dev/null" : "out.txt";
    if (row.kind == other_file_system) {
      if (geteuid() != 0 || !two_file_systems(dir)) {
        std::printf("-- %s skipped: no file system can be mounted here\n", row.name);
        unmount_both(dir);
        continue;
      }
      input = "a/pw.txt";
      result = "b/out.txt";
    }
    RunOptions options;
    if ((row.kind == through_roots_link || row.kind == others_sticky) &&
        !another_user_missing().empty()) {
      std::printf("-- %s skipped: %s\n", row.name, another_user_missing().c_str());
      continue;
    }
    if (row.kind == through_own_link || row.kind == through_absolute_link ||
        row.kind == through_roots_link) {
      mkdir(dir.file("real").c_str(), 0700);
      ASSERT_EQ(symlink(row.kind == through_absolute_link ? dir.file("real").c_str() : "real",
                        dir.file("via").c_str()),
                0);
      result = "via/out.txt";
    }
    if (row.kind == through_roots_link) {
      chmod(dir.path().c_str(), 0755);
      ASSERT_EQ(chown(dir.file("real").c_str(), nobody, nobody), 0);
      options.user = nobody;
    }
    if (row.kind == shared) chmod(dir.path().c_str(), 02770);
    dir.write(input, password);
    if (row.kind == of_the_inputs_length) dir.write(result, long_report.substr(0, long_report.size() - 1) + "y");
    if (row.kind == others_sticky) {
      ASSERT_EQ(chown(dir.path().c_str(), nobody, nobody), 0);
      chmod(dir.path().c_str(), 01777);
    }
    if (row.kind == existing || row.kind == empty || row.kind == other_file_system ||
        row.kind >= shared) {
      dir.write(result, row.kind == empty ? "" : report + report);
      chmod(dir.file(result).c_str(), row.mode);
    }
    if (row.kind == other_file_system) {
      struct stat in {
      }, out{};
      stat(dir.file(input).c_str(), &in);
      stat(dir.file(result).c_str(), &out);
      EXPECT_EQ(in.st_ino, out.st_ino) << row.name << ": the row needs one inode number";
    }
    std::optional<SlowReader> reader;
    if (row.kind == fifo) {
      ASSERT_EQ(mkfifo(dir.file(result).c_str(), row.mode), 0);
      reader.emplace(dir.file(result));
    }
    if (row.kind == through_roots_link) {
      ASSERT_EQ(chown(dir.file(input).c_str(), nobody, nobody), 0);
    }
    const RunResult r =
        run_program(dir.path(), input.append("\n").append(result) + "\n\n", options);
    const std::string got = reader ? reader->finish() : dir.read(result);
    if (row.mode == 0400 && geteuid() != 0) {
      EXPECT_EQ(r.status, 1) << row.name;  // not writable for its owner
      continue;
    }
    EXPECT_EQ(r.status, 0) << row.name;
    if (row.kind != device) {
      struct stat st {};
      ASSERT_EQ(stat(dir.file(result).c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, row.mode & 0700) << row.name;
      EXPECT_EQ(got, report) << row.name;
    }
    if (row.kind == other_file_system) unmount_both(dir);
  }
}

// Anyone who may read the result may hold a lock on it: the wait is told,
// and the run goes on once the lock is let go. Standard error goes to a file,
// so that the lock is let go when the tool has said so.
TEST(ResultFile, AnotherProgramsLockIsToldAndWaitedFor) {
  TempDir dir;
  dir.write("pw.txt", secret);
  dir.write("out.txt", "");
  const int held = open(dir.file("out.txt").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(held, LOCK_SH), 0);
  // The wait is told after about a second: well before five, even under load.
  const auto start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration told{};
  std::thread holder([&] {
    for (int i = 0; i < 600 && !contains(dir.read("err"), "another program holds"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    told = std::chrono::steady_clock::now() - start;
    close(held);
  });
  RunOptions options;
  options.wrapper = {"sh", "-c", "exec \"$@\" 2>" + dir.file("err"), "sh"};
  const RunResult r = run_program(dir.path(), "pw.txt\nout.txt\n\n", options);
  holder.join();
  EXPECT_LT(told, std::chrono::seconds(5));
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(dir.read("err"),
                       "octetcensusmeter: 'out.txt': another program holds this "
                       "file; the run waits until it lets go (Ctrl-C stops it)\n"));
  EXPECT_EQ(dir.read("out.txt"), report_of(census_of(secret)).file);
}

// Two runs started together on one result name, on different inputs: the
// result is one of the two reports, whole, and both end as they would alone.
TEST(ResultFile, TwoRunsOnOneNameLeaveOneWholeReport) {
  TempDir dir;
  const std::string a = random_bytes(5000, 1);
  const std::string b = random_bytes(5000, 2, 0x30);
  dir.write("a", a);
  dir.write("b", b);
  const std::string report_a = report_of(census_of(a)).file;
  const std::string report_b = report_of(census_of(b)).file;
  int mixed = 0;
  for (int round = 0; round < 40; ++round) {
    RunResult ra;
    RunResult rb;
    std::thread other([&] { rb = run_program(dir.path(), "b\nout.txt\n\n"); });
    ra = run_program(dir.path(), "a\nout.txt\n\n");
    other.join();
    EXPECT_EQ(ra.status, 0);
    EXPECT_EQ(rb.status, 0);
    const std::string got = dir.read("out.txt");
    if (got != report_a && got != report_b) ++mixed;
  }
  EXPECT_EQ(mixed, 0) << "rounds that left neither report whole";
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
      {"sub/pw", "sub//out.txt"},
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
