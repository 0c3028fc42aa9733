// The platform layer on POSIX systems (Linux, macOS, the BSDs).
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "platform/platform.h"

#if defined(__linux__)
#include <sys/prctl.h>
#include <sys/sendfile.h>
#include <sys/vfs.h>
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
  // No read-ahead advice: a larger window read pages that were dropped again
  // before their turn came, when the file was larger than memory.
  how = InputOpen::opened;
  return fd;
}

bool trusted_length(int input, std::uint64_t& length) {
#if defined(__linux__)
  // File systems whose sizes are their files' own: ext2/3/4, XFS, Btrfs,
  // tmpfs, F2FS. Not /proc, /sys, FUSE or a network file system, whose sizes
  // may be a guess, stale, or 0 for a file that gives bytes.
  constexpr unsigned long trusted_types[] = {0xef53, 0x58465342, 0x9123683e, 0x01021994,
                                             0xf2f52010};
  struct statfs fs {};
  struct stat st {};
  if (fstatfs(input, &fs) != 0 || fstat(input, &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size < 0) {
    return false;
  }
  const auto type = static_cast<unsigned long>(fs.f_type) & 0xffffffffUL;
  for (const unsigned long trusted : trusted_types) {
    if (type == trusted) {
      length = static_cast<std::uint64_t>(st.st_size);
      return true;
    }
  }
#else
  (void)input;
  (void)length;
#endif
  return false;
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
    // sendfile stops at the size the file claims; a file of generated
    // content may claim less than it holds. A read of one byte says whether
    // it ended: if it gives one, the rest is read too.
    if (n == 0) return read_block(input, buffer, 1);
    if (reason != EINVAL && reason != ENOSYS) {
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

// Closes a file and keeps errno as it was.
void close_quietly(int fd) {
  const int reason = errno;
  close(fd);
  errno = reason;
}

// A symbolic link that the user may trust: the user's own, or root's, as a
// system's own links are.
bool trusted(const struct stat& link) { return link.st_uid == geteuid() || link.st_uid == 0; }

// The root folder, which the walk names by absolute names instead of holding
// open: an emulator that lays a system root of its own over "/" (qemu-user's
// -L) redirects a plain "/", but not a name below it that its root lacks.
constexpr int root_folder = -2;

// A part of a path opened or looked at in a folder.
int open_in(int folder, const std::string& part, int flags, mode_t mode = 0) {
  if (folder == root_folder) return open(("/" + part).c_str(), flags, mode);
  return openat(folder, part.c_str(), flags, mode);
}
int stat_in(int folder, const std::string& part, struct stat& st) {
  if (folder == root_folder) return lstat(("/" + part).c_str(), &st);
  return fstatat(folder, part.c_str(), &st, AT_SYMLINK_NOFOLLOW);
}
int copy_of(int folder) { return folder == root_folder ? root_folder : dup(folder); }
void release(int folder) {
  if (folder >= 0) close_quietly(folder);
}

// Where a folder's symbolic link leads; false with errno.
bool link_target(int folder, const std::string& part, int link, std::string& target) {
  std::vector<char> text(4096);
#if defined(O_PATH)
  (void)folder;
  (void)part;
  const ssize_t n = readlinkat(link, "", text.data(), text.size());
#else
  (void)link;
  const ssize_t n = folder == root_folder
                        ? readlink(("/" + part).c_str(), text.data(), text.size())
                        : readlinkat(folder, part.c_str(), text.data(), text.size());
#endif
  if (n < 0) return false;
  if (static_cast<std::size_t>(n) == text.size()) {
    errno = ENAMETOOLONG;
    return false;
  }
  target.assign(text.data(), static_cast<std::size_t>(n));
  return true;
}

void add_parts(std::deque<std::string>& parts, const std::string& path) {
  std::deque<std::string> added;
  for (std::size_t at = 0; at <= path.size();) {
    const std::size_t slash = std::min(path.find('/', at), path.size());
    if (slash > at) added.push_back(path.substr(at, slash - at));
    at = slash + 1;
  }
  parts.insert(parts.begin(), added.begin(), added.end());
}

// Opens the folder that holds the last part of name, walking its folders one
// at a time as the kernel would, but following a symbolic link among them
// only where it is trusted. The folder (root_folder for the root), or -1 with
// errno, or -1 with foreign_link set. last is what to open in it.
int open_folder_of(const std::string& name, std::string& last, bool& foreign_link) {
#if defined(O_PATH)
  constexpr int walk = O_PATH | O_CLOEXEC;
#else
  constexpr int walk = O_RDONLY | O_CLOEXEC;
#endif
  foreign_link = false;
  if (name.empty()) {
    errno = ENOENT;
    return -1;
  }
  std::deque<std::string> parts;
  add_parts(parts, name);
  // A name that ends in a folder opens that folder, and fails as the kernel's open does.
  last = parts.empty() || name.back() == '/' ? "." : parts.back();
  if (!parts.empty() && name.back() != '/') parts.pop_back();
  int folder = name[0] == '/' ? root_folder : open(".", walk | O_DIRECTORY);
  int links = 0;
  while (folder != -1 && !parts.empty()) {
    const std::string part = parts.front();
    parts.pop_front();
    if (part == ".") continue;
    struct stat st {};
#if defined(O_PATH)
    const int next = open_in(folder, part, walk | O_NOFOLLOW);
    const bool seen = next >= 0 && fstat(next, &st) == 0;
#else
    const bool seen = stat_in(folder, part, st) == 0;
    const int next =
        seen && S_ISDIR(st.st_mode) ? open_in(folder, part, walk | O_DIRECTORY | O_NOFOLLOW) : -1;
#endif
    int leads_to = -1;
    if (!seen) {
      // errno from the open or the fstat
    } else if (S_ISLNK(st.st_mode)) {
      std::string target;
      if (!trusted(st)) {
        foreign_link = true;
      } else if (++links > 40) {
        errno = ELOOP;
      } else if (link_target(folder, part, next, target) && !target.empty()) {
        add_parts(parts, target);
        leads_to = target[0] == '/' ? root_folder : copy_of(folder);
      } else if (target.empty()) {
        errno = ENOENT;
      }
    } else if (S_ISDIR(st.st_mode) && next >= 0) {
      leads_to = dup(next);
    } else {
      errno = ENOTDIR;
    }
    if (next >= 0) close_quietly(next);
    release(folder);
    folder = leads_to;
    if (foreign_link) return -1;
  }
  return folder;
}

}  // namespace

// Another program's hold shows at the lock, not at the open: waiting is not needed here.
int open_result_file(const std::string& name, int input, bool fifo_reader_needed,
                     void (* /*waiting*/)(const std::string&), ResultOpen& how,
                     ResultFacts& facts) {
  how = ResultOpen::failed;
  std::string last;
  bool foreign_link = false;
  const int folder = open_folder_of(name, last, foreign_link);
  if (folder == -1) {
    if (foreign_link) how = ResultOpen::foreign_link;
    return -1;
  }
  // No O_TRUNC: what the file holds stays until the report is written. No
  // link is followed at the end of the name, dangling or not, and nothing is
  // created through one. O_NONBLOCK: opening a serial line does not wait for
  // its carrier, nor a FIFO for its reader. Where a FIFO needs a reader, it is
  // opened for writing alone, which without a reader fails at once: an open
  // for reading too would count as a reader itself, and a reader that came
  // meanwhile would meet the end when it closed.
  struct stat named {};
  const bool fifo =
      fifo_reader_needed && stat_in(folder, last, named) == 0 && S_ISFIFO(named.st_mode);
  const int fd = open_in(
      folder, last,
      (fifo ? O_WRONLY : O_RDWR | O_CREAT) | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0600);
  const int reason = errno;
  if (fd < 0) {
    // The open itself says so. Where the kernel refused the name instead
    // (another user's link in a sticky folder), the name is asked again for
    // the message alone: the run ends either way.
    struct stat st {};
    if (reason == ELOOP || (stat_in(folder, last, st) == 0 && S_ISLNK(st.st_mode))) {
      how = ResultOpen::is_link;
    }
    if (fifo && reason == ENXIO) how = ResultOpen::no_reader;
  }
  release(folder);
  errno = reason;
  if (fd < 0) return -1;
  // What was a FIFO a moment ago and is not now was swapped: refused.
  struct stat st {};
  struct stat in {};
  if (fstat(fd, &st) != 0 || fstat(input, &in) != 0 || (fifo && !S_ISFIFO(st.st_mode))) {
    close_quietly(fd);
    return -1;
  }
  const mode_t type = st.st_mode & S_IFMT;
  facts.kind = type == S_IFREG   ? ResultKind::regular
               : type == S_IFDIR ? ResultKind::folder
               : type == S_IFIFO ? ResultKind::fifo
               : type == S_IFCHR ? ResultKind::character_device
               : type == S_IFBLK ? ResultKind::block_device
                                 : ResultKind::other;
  facts.owner = st.st_uid == geteuid() ? Owner::user
                : st.st_uid == 0       ? Owner::system
                                       : Owner::other;
  facts.link = false;         // O_NOFOLLOW refused one
  facts.device_name = false;  // no name gives a device in every folder here
  facts.is_input = identity_of(st) == identity_of(in);
  facts.names = static_cast<std::uint64_t>(st.st_nlink);
  facts.may_be_shared = (st.st_mode & 077) != 0;
  facts.input_rereadable = S_ISREG(in.st_mode) || S_ISBLK(in.st_mode);
  how = ResultOpen::opened;
  return fd;
}

bool lock_result(int fd, const std::string& name, void (*waiting)(const std::string&)) {
  for (int tries = 0; tries < 20; ++tries) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    const timespec pause{0, 50000000};
    nanosleep(&pause, nullptr);
  }
  if (waiting != nullptr) waiting(name);
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

long read_at(int file, char* buffer, std::size_t size, std::uint64_t at) {
  for (;;) {
    const ssize_t n = pread(file, buffer, size, static_cast<off_t>(at));
    if (n >= 0 || errno != EINTR) return n;
  }
}

bool make_private(int result) {
  struct stat st {};
  return fstat(result, &st) == 0 &&
         ((st.st_mode & 077) == 0 || fchmod(result, st.st_mode & 0700) == 0);
}

std::FILE* result_stream(int result) {
  // Writes wait again, as they do on every ordinary file.
  const int flags = fcntl(result, F_GETFL);
  if (flags < 0 || fcntl(result, F_SETFL, flags & ~O_NONBLOCK) != 0) return nullptr;
  return fdopen(result, "wb");
}

void close_result_file(int result) { close_quietly(result); }

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

bool is_terminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

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
