// Preloaded into the program by the tests to bring faults about for real:
//   OCTET_FAIL_READ=N      the Nth read of a file (not of the console), by read or
//                          by sendfile, fails with EIO
//   OCTET_FAIL_OPEN=N      the Nth open for reading only fails with ENOENT
//   OCTET_CHANGE_PATH=P    on the second open of P, its content is first replaced
//   OCTET_CHANGE_FROM=Q    by the content of Q
//   OCTET_REPLACE_INPUT=P  on the second open of P, another file with the same
//                          bytes is first put at its name
//   OCTET_GROW_INPUT=P     from the second open of P on, P grows without end
//   OCTET_SENDFILE_ENDS=1  sendfile finds the end at once, as on a file whose size
//                          claims less than its reads give
//   OCTET_FILE_SYSTEM=K    fstatfs says every file is on a file system whose
//                          sizes are trusted ("trusted": ext4) or not ("fuse")
//   OCTET_SIZE_PLUS_ONE=P  fstat of an open file whose path ends in P reports one
//                          byte more than it holds, as a FUSE file system may
//   OCTET_MOST_READ=N      a read of a file that asks for more than N bytes fails
//                          with EIO and says so on standard error
//   OCTET_LINK_RESULT=P    an open that may create a file first replaces that name
//                          by a symbolic link to P: the race an attacker would win
//   OCTET_FAIL_RESULT=K    once the result is open (the open that may create a
//                          file), the kernel fails a call on it: K is "write"
//                          (every write, ENOSPC), "flush" (a write shorter than
//                          a 4096-byte block: the one that empties the buffer at
//                          the end, ENOSPC), "emptying" (ftruncate, EIO) or
//                          "close" (EIO). A seccomp filter does it, which needs
//                          no privilege, and so also reaches the calls the C
//                          library makes inside itself. Where no filter can be
//                          installed (under an emulator) it says so on standard
//                          error and the run ends with status 125.
// The library defines read itself; the checked inline read must not be declared.
// It defines open and open64 (openat and openat64) apart, so neither may
// stand for the other.
#undef _FORTIFY_SOURCE
#undef _FILE_OFFSET_BITS
#undef _TIME_BITS
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

namespace {

long reads_so_far = 0;
long opens_so_far = 0;
int opens_of_path = 0;

template <typename F>
F real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

using read_fn = ssize_t (*)(int, void*, size_t);
ssize_t real_read(int fd, void* buf, size_t count) {
  static const auto next = real<read_fn>("read");
  return next(fd, buf, count);
}

void copy_file(const char* from, const char* to) {
  using open_fn = int (*)(const char*, int, ...);
  static const auto real_open = real<open_fn>("open");
  const int in = real_open(from, O_RDONLY);
  const int out = real_open(to, O_WRONLY | O_TRUNC);
  char buf[65536];
  for (ssize_t n; (n = real_read(in, buf, sizeof buf)) > 0;) {
    if (::write(out, buf, static_cast<std::size_t>(n)) != n) break;
  }
  close(in);
  close(out);
}

void before_open(const char* path) {
  const char* watched = std::getenv("OCTET_CHANGE_PATH");
  const char* from = std::getenv("OCTET_CHANGE_FROM");
  if (watched != nullptr && from != nullptr && std::strcmp(path, watched) == 0 &&
      ++opens_of_path == 2) {
    copy_file(from, watched);
  }
  const char* grown = std::getenv("OCTET_GROW_INPUT");
  if (grown != nullptr && std::strcmp(path, grown) == 0 && ++opens_of_path == 2) {
    std::thread([path = std::string(grown)] {
      for (off64_t size = 1 << 20; size < (off64_t{1} << 40); size += 1 << 20) {
        if (truncate64(path.c_str(), size) != 0) break;
      }
    }).detach();
  }
  const char* replaced = std::getenv("OCTET_REPLACE_INPUT");
  if (replaced != nullptr && std::strcmp(path, replaced) == 0 && ++opens_of_path == 2) {
    const std::string other = std::string(replaced) + ".other";
    const int made = ::creat(other.c_str(), 0600);
    close(made);
    copy_file(replaced, other.c_str());
    if (rename(other.c_str(), replaced) != 0) std::abort();
  }
}

// The name is swapped between whatever check came before and the open.
void before_create(int folder, const char* path) {
  const char* target = std::getenv("OCTET_LINK_RESULT");
  if (target == nullptr) return;
  unlinkat(folder, path, 0);
  if (symlinkat(target, folder, path) != 0) std::abort();
}

// The numbers of the calls that empty a file: 32-bit systems with 64-bit
// offsets use the second.
#if defined(__NR_ftruncate64)
constexpr unsigned ftruncate_64 = __NR_ftruncate64;
#else
constexpr unsigned ftruncate_64 = __NR_ftruncate;
#endif

// From now on the call named by OCTET_FAIL_RESULT fails on fd.
void fail_calls_on(int fd) {
  const char* kind = std::getenv("OCTET_FAIL_RESULT");
  if (kind == nullptr || fd < 0) return;
  const std::string k = kind;
  unsigned call = __NR_write;
  unsigned error = ENOSPC;
  if (k == "emptying") call = __NR_ftruncate, error = EIO;
  if (k == "close") call = __NR_close, error = EIO;
  const unsigned short_writes_only = k == "flush" ? 1 : 0;
  const unsigned fail = SECCOMP_RET_ERRNO | error;
  const auto arg = [](std::size_t n) {  // the low 32 bits of argument n
    return static_cast<unsigned>(offsetof(seccomp_data, args) + std::size_t{8} * n +
                                 (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 4 : 0));
  };
  sock_filter program[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, call, 2, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, call == __NR_ftruncate ? ftruncate_64 : call, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, arg(0)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(fd), 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_JMP | BPF_JA, short_writes_only),  // to the length's check, or past it
      BPF_STMT(BPF_RET | BPF_K, fail),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, arg(2)),
      BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 4096, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_RET | BPF_K, fail),
  };
  const sock_fprog filter{static_cast<unsigned short>(sizeof program / sizeof program[0]), program};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0) {
    const char* why = std::strerror(errno);
    std::fprintf(stderr, "fault library: no seccomp filter could be installed: %s\n", why);
    _exit(125);
  }
}

bool this_open_fails(int flags) {
  // A folder opened only to walk a path is not read.
  if ((flags & O_ACCMODE) != O_RDONLY || (flags & O_PATH) != 0) return false;
  const char* n = std::getenv("OCTET_FAIL_OPEN");
  return n != nullptr && ++opens_so_far == std::strtol(n, nullptr, 10);
}

bool this_read_fails(int fd) {
  if (fd <= 2) return false;
  const char* n = std::getenv("OCTET_FAIL_READ");
  return n != nullptr && ++reads_so_far == std::strtol(n, nullptr, 10);
}

// The mode argument is there only when a file may be created.
bool has_mode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }
mode_t mode_of(int flags, va_list args) {
  // The analyzer takes the callers for the library's own and their lists for empty.
  return has_mode(flags) ? va_arg(args, mode_t) : 0;  // NOLINT(clang-analyzer-valist.Uninitialized)
}

int faulty_open(const char* real_name, const char* path, int flags, mode_t mode) {
  if (this_open_fails(flags)) {
    errno = ENOENT;
    return -1;
  }
  before_open(path);
  if ((flags & O_CREAT) != 0) before_create(AT_FDCWD, path);
  using open_fn = int (*)(const char*, int, ...);
  const int fd = real<open_fn>(real_name)(path, flags, mode);
  if ((flags & O_CREAT) != 0) fail_calls_on(fd);
  return fd;
}

// The result is opened in its folder, once the path to it has been walked.
int faulty_openat(const char* real_name, int folder, const char* path, int flags, mode_t mode) {
  if (this_open_fails(flags)) {
    errno = ENOENT;
    return -1;
  }
  if ((flags & O_CREAT) != 0) before_create(folder, path);
  using openat_fn = int (*)(int, const char*, int, ...);
  const int fd = real<openat_fn>(real_name)(folder, path, flags, mode);
  if ((flags & O_CREAT) != 0) fail_calls_on(fd);
  return fd;
}

// The offset is handed on as it came, whatever its width.
using sendfile_fn = ssize_t (*)(int, int, void*, size_t);
ssize_t faulty_sendfile(const char* real_name, int out_fd, int in_fd, void* offset, size_t count) {
  if (this_read_fails(in_fd)) {
    errno = EIO;
    return -1;
  }
  if (std::getenv("OCTET_SENDFILE_ENDS") != nullptr) return 0;
  return real<sendfile_fn>(real_name)(out_fd, in_fd, offset, count);
}

// The file system's type as the row wants it seen.
template <typename Statfs>
int as_told(int result, Statfs* fs) {
  const char* kind = std::getenv("OCTET_FILE_SYSTEM");
  if (result == 0 && kind != nullptr) {
    fs->f_type = std::strcmp(kind, "trusted") == 0 ? 0xef53 : 0x65735546;
  }
  return result;
}

// One byte more for a file whose path ends in OCTET_SIZE_PLUS_ONE.
template <typename Stat>
int as_sized(int result, int fd, Stat* st) {
  const char* grown = std::getenv("OCTET_SIZE_PLUS_ONE");
  if (result != 0 || grown == nullptr) return result;
  char path[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = readlink(link.c_str(), path, sizeof path - 1);
  if (n > 0 && std::string_view(path, static_cast<std::size_t>(n)).ends_with(grown)) ++st->st_size;
  return result;
}

}  // namespace

// Each call under both of its names: a program built with 64-bit file offsets
// on a 32-bit system calls open64 and sendfile64; elsewhere the two are one.
extern "C" {

// The mode, taken from the call's variable arguments: the same in all four.
#define MODE_OF(flags)                     \
  va_list args;                            \
  va_start(args, flags);                   \
  const mode_t mode = mode_of(flags, args); \
  va_end(args)

// clang-format off
int open(const char* path, int flags, ...) { MODE_OF(flags); return faulty_open("open", path, flags, mode); }
int open64(const char* path, int flags, ...) { MODE_OF(flags); return faulty_open("open64", path, flags, mode); }
int openat(int folder, const char* path, int flags, ...) {
  MODE_OF(flags); return faulty_openat("openat", folder, path, flags, mode); }
int openat64(int folder, const char* path, int flags, ...) {
  MODE_OF(flags); return faulty_openat("openat64", folder, path, flags, mode); }
// clang-format on

int fstatfs(int fd, struct statfs* fs) {
  using fstatfs_fn = int (*)(int, struct statfs*);
  return as_told(real<fstatfs_fn>("fstatfs")(fd, fs), fs);
}

int fstatfs64(int fd, struct statfs64* fs) {
  using fstatfs64_fn = int (*)(int, struct statfs64*);
  return as_told(real<fstatfs64_fn>("fstatfs64")(fd, fs), fs);
}

int fstat(int fd, struct stat* st) {
  using fstat_fn = int (*)(int, struct stat*);
  return as_sized(real<fstat_fn>("fstat")(fd, st), fd, st);
}

int fstat64(int fd, struct stat64* st) {
  using fstat64_fn = int (*)(int, struct stat64*);
  return as_sized(real<fstat64_fn>("fstat64")(fd, st), fd, st);
}

ssize_t read(int fd, void* buf, size_t count) {
  const char* most = std::getenv("OCTET_MOST_READ");
  if (fd > 2 && most != nullptr && count > std::strtoul(most, nullptr, 10)) {
    std::fprintf(stderr, "fault library: a read asked for %zu bytes, more than %s\n", count, most);
    errno = EIO;
    return -1;
  }
  if (this_read_fails(fd)) {
    errno = EIO;
    return -1;
  }
  return real_read(fd, buf, count);
}

// The length pass reads by sending the file to /dev/null.
ssize_t sendfile(int out_fd, int in_fd, off_t* offset, size_t count) {
  return faulty_sendfile("sendfile", out_fd, in_fd, offset, count);
}
ssize_t sendfile64(int out_fd, int in_fd, off64_t* offset, size_t count) {
  return faulty_sendfile("sendfile64", out_fd, in_fd, offset, count);
}

// The same read, when the program is built with checked library calls.
// NOLINTNEXTLINE(bugprone-reserved-identifier): the library's own name for it
ssize_t __read_chk(int fd, void* buf, size_t count, size_t /*buflen*/) {
  return read(fd, buf, count);
}

}  // extern "C"
