// The platform layer on POSIX systems (Linux, macOS, the BSDs).
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform.h"

#if defined(__linux__)
#include <sys/prctl.h>
#include <sys/sendfile.h>
#endif

int open_input(const std::string& name, InputOpen& how, bool once_is_enough) {
  how = InputOpen::failed;
  // Without O_NONBLOCK the open of a FIFO would wait for a writer.
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    close(fd);
    return -1;
  }
  const bool once_only = S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || isatty(fd) != 0;
  if (once_only && !once_is_enough) {
    close(fd);
    how = InputOpen::once_only;
    return -1;
  }
  // /dev/zero never ends, /dev/urandom neither, and reading /dev/kmsg takes
  // the kernel's messages away from everyone else.
  if (S_ISCHR(st.st_mode) && !once_only) {
    close(fd);
    how = InputOpen::character_device;
    return -1;
  }
  // Reads wait again, as they do on every ordinary file.
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return -1;
  }
  // Opened without waiting, a named pipe reads as ended until a writer comes:
  // wait for the writer's first bytes, or its close.
  if (S_ISFIFO(st.st_mode)) {
    pollfd writer{fd, POLLIN, 0};
    while (poll(&writer, 1, -1) < 0 && errno == EINTR) {
    }
  }
#if defined(POSIX_FADV_SEQUENTIAL)
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  how = InputOpen::opened;
  return fd;
}

int standard_input() { return fcntl(0, F_DUPFD_CLOEXEC, 0); }

long read_block(int input, unsigned char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = read(input, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

long skip_block(int input, unsigned char* buffer, std::size_t size) {
#if defined(__linux__)
  // The kernel reads the pages and hands them to /dev/null: a read error still
  // surfaces, at a quarter of the cost of copying. Some files (a /proc file,
  // a directory) cannot be sent: that is known before a byte moves, and they
  // are read as usual. /dev/null stays open until the end of the file. Steps
  // of 4 MiB: nothing is copied, so the buffer's size does not bound them, and
  // fewer calls cost less.
  constexpr std::size_t send_step = std::size_t{4} << 20;
  static int sink = -2;  // -2: not yet tried; -1: the file is read instead
  if (sink == -2) sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (sink >= 0) {
    ssize_t n;
    do {
      n = sendfile(sink, input, nullptr, send_step);
    } while (n < 0 && errno == EINTR);
    if (n > 0) return n;
    const int reason = errno;
    close(sink);
    sink = -1;
    if (n == 0 || (reason != EINVAL && reason != ENOSYS)) {
      errno = reason;
      return n;
    }
  }
#endif
  return read_block(input, buffer, size);
}

void close_input(int input) { close(input); }

namespace {

FileIdentity identity_of(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace

bool identify(int file, FileIdentity& identity) {
  struct stat st {};
  if (fstat(file, &st) != 0) return false;
  identity = identity_of(st);
  return true;
}

namespace {

// Why an open result may not be written, or opened if it may.
ResultOpen judge_result(const struct stat& result, int input) {
  FileIdentity in;
  if (!identify(input, in)) return ResultOpen::failed;
  if (identity_of(result) == in) return ResultOpen::is_input;
  if (S_ISBLK(result.st_mode)) return ResultOpen::block_device;
  // Its owner would read the tables. /dev/null, /dev/full and /dev/tty belong
  // to root and reach nobody; a terminal belongs to whoever opened it.
  const bool roots_device = S_ISCHR(result.st_mode) && result.st_uid == 0;
  if (result.st_uid != geteuid() && !roots_device) return ResultOpen::foreign;
  // Another name of the file may be in someone else's folder, or be the
  // user's own file planted there.
  if (S_ISREG(result.st_mode) && result.st_nlink > 1) return ResultOpen::many_names;
  return ResultOpen::opened;
}

}  // namespace

std::FILE* open_result(const std::string& name, int input, ResultOpen& how) {
  how = ResultOpen::failed;
  // No O_TRUNC: what the file holds stays until the report is written. No
  // link is followed at the end of the name, dangling or not, and nothing is
  // created through one. O_NONBLOCK: opening a serial line does not wait for
  // its carrier, nor a FIFO for its reader.
  const int fd =
      open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) {
    // The open itself says so: asking the name again could find another file.
    if (errno == ELOOP) how = ResultOpen::is_link;
    return nullptr;
  }
  struct stat result {};
  if (fstat(fd, &result) == 0) how = judge_result(result, input);
  if (how == ResultOpen::opened) {
    const int flags = fcntl(fd, F_GETFL);
    std::FILE* stream =
        flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ? nullptr : fdopen(fd, "wb");
    if (stream != nullptr) return stream;
    how = ResultOpen::failed;
  }
  close(fd);
  return nullptr;
}

bool empty_result(std::FILE* result) {
  const int fd = fileno(result);
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  return !S_ISREG(st.st_mode) || ftruncate(fd, 0) == 0;
}

void wipe(void* memory, std::size_t size) {
  std::memset(memory, 0, size);
  // The compiler must assume the zeros are read, so it cannot drop them.
  __asm__ __volatile__("" : : "r"(memory) : "memory");
}

void protect_process() {
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
#if defined(__linux__)
  // Not dumpable: no core reaches a core handler either, and other processes
  // of the same user cannot read this one's memory.
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

std::string failure_reason() { return std::strerror(errno); }

bool name_exists(const std::string& name) {
  struct stat st {};
  return lstat(name.c_str(), &st) == 0;
}

FolderState folder_state(const std::string& folder) {
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0) {
    if (errno == ENOTDIR) return FolderState::not_a_folder;
    return errno == EACCES ? FolderState::unreachable : FolderState::missing;
  }
  return S_ISDIR(st.st_mode) ? FolderState::folder : FolderState::not_a_folder;
}

std::string home_folder() {
  // As the shell expands ~: HOME first, else the user's entry.
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> text(16384);
  const bool known = getpwuid_r(geteuid(), &entry, text.data(), text.size(), &found) == 0 &&
                     found != nullptr && entry.pw_dir != nullptr;
  return known ? entry.pw_dir : "";
}

const bool backslash_separates_folders = false;

std::vector<std::string> program_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}
