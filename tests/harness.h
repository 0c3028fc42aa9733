// Runs the built program as a user would: in a folder of its own, with
// standard input piped in, and collects what it printed and its exit status.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

struct RunResult {
  int status = -1;                  // exit status, or -1 when the program did not exit normally
  bool timed_out = false;           // it was still running at the deadline, and was killed
  std::string out;                  // everything written to standard output
  std::string err;                  // everything written to standard error
  std::vector<std::string> writes;  // with stdout_packets: one entry per write
};

struct RunOptions {
  std::vector<std::string> env;      // extra NAME=value entries
  std::string stdout_path;           // standard output to this file instead of a pipe
  bool stdout_packets = false;       // standard output keeps each write apart
  bool stdout_closed = false;        // the reading end of the console pipe is closed at once
  std::string stdin_path;            // standard input from this file instead of the typed text
  std::vector<std::string> wrapper;  // a command that runs the program, such as strace
  std::vector<std::string> args;     // the program's command line
  std::vector<std::pair<int, long>> limits;  // resource limits (RLIMIT_...) of the program
  // Runs as this user id, from copies of the program and of the fault library
  // that every user can reach: the build tree may be in a private folder.
  int user = -1;
  int deadline_seconds = 0;  // killed if still running after this long; 0: no deadline
  // Called with the program's pid and its console so far, each time more of
  // it arrives; what it returns is typed. Standard input then stays open
  // until the program ends.
  std::function<std::string(int pid, const std::string& console)> watch;
};

RunResult run_program(const std::string& dir, const std::string& input,
                      const RunOptions& options = {});

// Options that preload the tests' fault library, with these settings for it.
RunOptions preloaded(std::vector<std::string> env);

// The user the tests play beside the one who runs them, the victim or the
// one who plants things: nobody.
constexpr int nobody = 65534;

// Why the tests cannot play that user here, or "" when they can: it takes
// root, with the user mapped (not so in a user namespace that maps root
// alone) and the right to give files away.
std::string another_user_missing();

// Mounts made from here on are this process's and its children's alone, and
// go with it however it ends; false where no mount namespace can be had.
bool mounts_of_our_own();

// n bytes drawn from low to 0xff, the same for the same seed.
std::string random_bytes(std::size_t n, unsigned seed, unsigned low = 0);
bool contains(const std::string& hay, const std::string& needle);

// Where the program under test is, and the command that starts it: the
// program itself, or its emulator and the program.
std::string program_path();
std::vector<std::string> program_command();
// Where the tests' fault library is.
std::string fault_library();

// A fresh folder below the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& bytes) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string path_;
};
