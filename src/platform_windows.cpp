// The platform layer on Windows. Names arrive as UTF-8 and are opened through
// the wide-character calls; files are read and written in binary mode, so the
// result carries exactly the CR LF pairs written into it.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "platform.h"

namespace {

// The UTF-8 name as Windows' own wide characters; empty if it is not UTF-8.
std::wstring wide(const std::string& name) {
  if (name.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(),
                                    static_cast<int>(name.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), static_cast<int>(name.size()),
                      w.data(), n);
  return w;
}

HANDLE handle_of(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// A file is the same file by its volume and its index on that volume,
// whatever name, case or link led to it.
bool same_file(int a, int b) {
  BY_HANDLE_FILE_INFORMATION x{};
  BY_HANDLE_FILE_INFORMATION y{};
  if (!GetFileInformationByHandle(handle_of(a), &x)) return false;
  if (!GetFileInformationByHandle(handle_of(b), &y)) return false;
  return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

}  // namespace

int open_input(const std::string& name, InputOpen& how) {
  how = InputOpen::failed;
  const std::wstring w = wide(name);
  if (w.empty()) return -1;
  const int fd = _wopen(w.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) return -1;
  const DWORD type = GetFileType(handle_of(fd));
  DWORD console_mode = 0;
  if (type == FILE_TYPE_PIPE ||
      (type == FILE_TYPE_CHAR && GetConsoleMode(handle_of(fd), &console_mode))) {
    _close(fd);
    how = InputOpen::once_only;
    return -1;
  }
  how = InputOpen::opened;
  return fd;
}

long read_block(int input, unsigned char* buffer, std::size_t size) {
  const unsigned n = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
  return _read(input, buffer, n);
}

long skip_block(int input, unsigned char* buffer, std::size_t size) {
  return read_block(input, buffer, size);
}

void close_input(int input) { _close(input); }

std::FILE* open_result(const std::string& name, int input, ResultOpen& how) {
  how = ResultOpen::failed;
  const std::wstring w = wide(name);
  if (w.empty()) return nullptr;
  // No _O_TRUNC: what the file holds stays until the report is written.
  const int fd =
      _wopen(w.c_str(), _O_RDWR | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  if (same_file(fd, input)) {
    how = ResultOpen::is_input;
  } else if (std::FILE* stream = _fdopen(fd, "wb")) {
    how = ResultOpen::opened;
    return stream;
  }
  _close(fd);
  return nullptr;
}

bool empty_result(std::FILE* result) {
  const int fd = _fileno(result);
  return GetFileType(handle_of(fd)) != FILE_TYPE_DISK || _chsize_s(fd, 0) == 0;
}

void wipe(void* memory, std::size_t size) { SecureZeroMemory(memory, size); }

void protect_process() {
  // Names typed on the console arrive as UTF-8, and leave that way.
  SetConsoleCP(CP_UTF8);
  SetConsoleOutputCP(CP_UTF8);
  // No crash dialog and no crash report that could carry password bytes.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  // The console stays text: its line ends are the system's own.
  _setmode(_fileno(stdout), _O_TEXT);
  _setmode(_fileno(stdin), _O_TEXT);
}
