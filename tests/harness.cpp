#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#if !defined(OCTET_BINARY) || !defined(OCTET_FAULT_LIBRARY) || !defined(OCTET_EMULATOR)
#error "OCTET_BINARY and OCTET_FAULT_LIBRARY must name the program and the fault library"
#endif

namespace {

// A copy of the file in a folder that every user can enter, made once and
// removed when the tests end.
std::string reachable_by_all(const std::string& path) {
  static const TempDir shared;
  std::string copy = shared.file(std::filesystem::path(path).filename().string());
  if (!std::filesystem::exists(copy)) {
    std::filesystem::copy_file(path, copy);
    chmod(shared.path().c_str(), 0755);
    chmod(copy.c_str(), 0755);
  }
  return copy;
}

// A program that runs on while the test talks to it.
struct Child {
  int pid = -1;
  int in = -1;   // its standard input
  int out = -1;  // its standard output
  int err = -1;  // its standard error
};

Child start_program(const std::string& dir, const RunOptions& options) {
  int in_pipe[2];
  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe");
  }
  // A packet socket delivers every write of the program as a message of its own.
  const int made = options.stdout_packets
                       ? socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, out_pipe)
                       : pipe2(out_pipe, O_CLOEXEC);
  if (made != 0) throw std::runtime_error("pipe");
  std::vector<std::string> env_strings;
  // An extra entry takes the place of an inherited one of the same name.
  const auto overridden = [&options](const std::string& e) {
    for (const auto& extra : options.env) {
      if (e.compare(0, extra.find('=') + 1, extra, 0, extra.find('=') + 1) == 0) return true;
    }
    return false;
  };
  for (char** e = environ; *e != nullptr; ++e) {
    if (!overridden(*e)) env_strings.emplace_back(*e);
  }
  const std::string preload = "LD_PRELOAD=" + fault_library();
  for (const auto& e : options.env) {
    const bool copied = options.user >= 0 && e == preload;
    env_strings.push_back(copied ? "LD_PRELOAD=" + reachable_by_all(fault_library()) : e);
  }
  std::vector<char*> envp;
  envp.reserve(env_strings.size() + 1);
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);

  std::vector<std::string> args = options.wrapper;
  for (const auto& word : program_command()) args.push_back(word);
  if (options.user >= 0) args.back() = reachable_by_all(program_path());
  for (const auto& a : options.args) args.push_back(a);
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    // Standard input and output: the pipes, or the files named instead.
    const auto connect = [](int target, int pipe_end, const std::string& path, int flags) {
      const int fd = path.empty() ? pipe_end : open(path.c_str(), flags);
      if (fd < 0) _exit(127);
      dup2(fd, target);
    };
    connect(0, in_pipe[0], options.stdin_path, O_RDONLY);
    connect(1, out_pipe[1], options.stdout_path, O_WRONLY);
    dup2(err_pipe[1], 2);
    if (chdir(dir.c_str()) != 0) _exit(127);
    for (const auto& [resource, value] : options.limits) {
      const rlimit limit{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
      if (setrlimit(resource, &limit) != 0) _exit(127);
    }
    if (options.user >= 0 && setuid(static_cast<uid_t>(options.user)) != 0) _exit(127);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (options.stdout_closed) {
    close(out_pipe[0]);
    out_pipe[0] = -1;
  }
  // The program may end before it has read all of its input.
  signal(SIGPIPE, SIG_IGN);
  return Child{pid, in_pipe[1], out_pipe[0], err_pipe[0]};
}

void type(const Child& child, const std::string& input) {
  std::size_t done = 0;
  while (done < input.size()) {
    const ssize_t n = write(child.in, input.data() + done, input.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
}

// One read from an output of the program into what it wrote so far: false,
// and the output closed, at its end.
bool take(int& fd, std::string& written) {
  char buf[65536];
  const ssize_t n = read(fd, buf, sizeof buf);
  if (n > 0) {
    written.append(buf, static_cast<std::size_t>(n));
    return true;
  }
  close(fd);
  fd = -1;
  return false;
}

RunResult finish_program(Child& child, const std::string& input, const RunOptions& options) {
  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + std::chrono::seconds(options.deadline_seconds);
  // Milliseconds left before the deadline, -1 for none; 0 once it has passed.
  const auto left = [&]() -> int {
    if (options.deadline_seconds == 0) return -1;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
    return ms.count() > 0 ? static_cast<int>(ms.count()) : 0;
  };
  RunResult result;
  const auto time_out = [&] {
    kill(child.pid, SIGKILL);
    result.timed_out = true;
  };
  type(child, input);
  if (!options.watch) close(child.in);
  // Both outputs are read as they come, so that neither pipe fills up.
  while (child.out >= 0 || child.err >= 0) {
    pollfd ready[2] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
    if (poll(ready, 2, left()) == 0) {
      time_out();
      break;
    }
    if (ready[1].revents != 0) take(child.err, result.err);
    if (ready[0].revents == 0) continue;
    const std::size_t before = result.out.size();
    if (!take(child.out, result.out)) continue;
    result.writes.push_back(result.out.substr(before));
    if (options.watch) type(child, options.watch(child.pid, result.out));
  }
  if (options.watch) close(child.in);
  if (child.out >= 0) close(child.out);
  if (child.err >= 0) close(child.err);
  int wstatus = 0;
  while (options.deadline_seconds > 0 && waitpid(child.pid, &wstatus, WNOHANG) == 0) {
    if (left() == 0) time_out();
    if (result.timed_out) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (options.deadline_seconds == 0 || result.timed_out) waitpid(child.pid, &wstatus, 0);
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  return result;
}

}  // namespace

RunResult run_program(const std::string& dir, const std::string& input, const RunOptions& options) {
  Child child = start_program(dir, options);
  return finish_program(child, input, options);
}

RunOptions preloaded(std::vector<std::string> env) {
  RunOptions options;
  options.env = std::move(env);
  options.env.push_back("LD_PRELOAD=" + fault_library());
  // A sanitized program must accept the library loaded before its runtime.
  options.env.push_back("ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1");
  return options;
}

std::string random_bytes(std::size_t n, unsigned seed, unsigned low) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(low + gen() % (256 - low));
  return s;
}

bool mounts_of_our_own() {
  static const bool own = unshare(CLONE_NEWNS) == 0 &&
                          mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  return own;
}

std::string another_user_missing() {
  if (geteuid() != 0) return "needs root, to play another user";
  char name[] = "/tmp/octet-owner-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return std::string("no file for the probe: ") + std::strerror(errno);
  const bool given = fchown(fd, nobody, nobody) == 0;
  const int reason = errno;
  close(fd);
  unlink(name);
  if (given) return "";
  return std::string("no file can be given to user ") + std::to_string(nobody) + " here (" +
         std::strerror(reason) + "): not root of the whole system";
}

bool contains(const std::string& hay, const std::string& needle) {
  return hay.find(needle) != std::string::npos;
}

std::string program_path() { return OCTET_BINARY; }

std::vector<std::string> program_command() {
  std::vector<std::string> words;
  std::istringstream emulator(OCTET_EMULATOR);
  for (std::string word; emulator >> word;) words.push_back(word);
  words.emplace_back(OCTET_BINARY);
  return words;
}
std::string fault_library() { return OCTET_FAULT_LIBRARY; }

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "octet-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(const std::string& name, const std::string& bytes) const {
  std::ofstream(file(name), std::ios::binary) << bytes;
}

std::string TempDir::read(const std::string& name) const {
  std::ifstream in(file(name), std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

bool TempDir::exists(const std::string& name) const {
  struct stat st {};
  return lstat(file(name).c_str(), &st) == 0;
}
