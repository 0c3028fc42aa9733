#include "harness.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#if !defined(OCTET_BINARY) || !defined(OCTET_FAULT_LIBRARY) || !defined(OCTET_EMULATOR)
#error "OCTET_BINARY and OCTET_FAULT_LIBRARY must name the program and the fault library"
#endif

namespace {

// A program that runs on while the test talks to it.
struct Child {
  int pid = -1;
  int in = -1;   // its standard input
  int out = -1;  // its standard output
};

Child start_program(const std::string& dir, const RunOptions& options) {
  int in_pipe[2];
  int out_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
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
  for (const auto& e : options.env) env_strings.push_back(e);
  std::vector<char*> envp;
  envp.reserve(env_strings.size() + 1);
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);

  std::vector<std::string> args = options.wrapper;
  for (const auto& word : program_command()) args.push_back(word);
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
  if (options.stdout_closed) {
    close(out_pipe[0]);
    out_pipe[0] = -1;
  }
  // The program may end before it has read all of its input.
  signal(SIGPIPE, SIG_IGN);
  return Child{pid, in_pipe[1], out_pipe[0]};
}

void type(const Child& child, const std::string& input) {
  std::size_t done = 0;
  while (done < input.size()) {
    const ssize_t n = write(child.in, input.data() + done, input.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
}

RunResult finish_program(Child& child, const std::string& input, const RunOptions& options) {
  type(child, input);
  if (!options.watch) close(child.in);
  RunResult result;
  char buf[65536];
  for (ssize_t n; child.out >= 0 && (n = read(child.out, buf, sizeof buf)) > 0;) {
    result.out.append(buf, static_cast<std::size_t>(n));
    result.writes.emplace_back(buf, static_cast<std::size_t>(n));
    if (options.watch) type(child, options.watch(child.pid, result.out));
  }
  if (options.watch) close(child.in);
  if (child.out >= 0) close(child.out);
  int wstatus = 0;
  waitpid(child.pid, &wstatus, 0);
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  return result;
}

}  // namespace

RunResult run_program(const std::string& dir, const std::string& input, const RunOptions& options) {
  Child child = start_program(dir, options);
  return finish_program(child, input, options);
}

std::string random_bytes(std::size_t n, unsigned seed, unsigned low) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(low + gen() % (256 - low));
  return s;
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
