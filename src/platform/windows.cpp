// The platform layer on Windows. Names arrive as UTF-8 and are opened through
// the wide-character calls; files are read and written in binary mode, so the
// result carries exactly the CR LF pairs written into it.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#include <winioctl.h>

// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

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

// Windows' wide characters as UTF-8.
std::string utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string s(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                      nullptr);
  return s;
}

HANDLE handle_of(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

FileIdentity identity_of(const BY_HANDLE_FILE_INFORMATION& info) {
  return {info.dwVolumeSerialNumber,
          (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

// A drive or a volume (\\.\PhysicalDrive0, \\.\C:) answers a disk's question.
bool is_disk(HANDLE h) {
  GET_LENGTH_INFORMATION length{};
  DWORD returned = 0;
  return GetFileType(h) == FILE_TYPE_DISK &&
         DeviceIoControl(h, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length,
                         &returned, nullptr);
}

// A SID of this process's token: its user, or the owner it gives new files
// (for an elevated administrator, the Administrators group).
std::vector<unsigned char> token_sid(TOKEN_INFORMATION_CLASS which) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, which, nullptr, 0, &size);
  std::vector<unsigned char> data(size);
  const bool got = size > 0 && GetTokenInformation(token, which, data.data(), size, &size);
  CloseHandle(token);
  if (!got) return {};
  const PSID sid = which == TokenUser ? reinterpret_cast<TOKEN_USER*>(data.data())->User.Sid
                                      : reinterpret_cast<TOKEN_OWNER*>(data.data())->Owner;
  const auto* bytes = static_cast<const unsigned char*>(sid);
  return std::vector<unsigned char>(bytes, bytes + GetLengthSid(sid));
}

const std::vector<unsigned char>& user_sid() {
  static const std::vector<unsigned char> sid = token_sid(TokenUser);
  return sid;
}

bool is_sid(const std::vector<unsigned char>& sid, PSID other) {
  return !sid.empty() && EqualSid(const_cast<unsigned char*>(sid.data()), other);
}

// Whose an open file is: the user's own (or the owner the user gives new
// files), the system's (SYSTEM, Administrators), or another user's. A file
// system that keeps no owner (FAT) makes every file the user's.
Owner owner_of(HANDLE h) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &descriptor) != ERROR_SUCCESS ||
      owner == nullptr) {
    return Owner::user;
  }
  static const std::vector<unsigned char> default_owner = token_sid(TokenOwner);
  Owner whose = Owner::other;
  if (is_sid(user_sid(), owner) || is_sid(default_owner, owner)) {
    whose = Owner::user;
  } else if (IsWellKnownSid(owner, WinLocalSystemSid) ||
             IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) {
    whose = Owner::system;
  }
  LocalFree(descriptor);
  return whose;
}

// The access list of a new result: the user alone may do anything with it,
// and nothing is inherited from the folder (the Windows 0600).
struct PrivateFile {
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  PrivateFile() {
    LPWSTR sid = nullptr;
    if (user_sid().empty() ||
        !ConvertSidToStringSidW(const_cast<unsigned char*>(user_sid().data()), &sid)) {
      return;
    }
    const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
    LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                             &descriptor, nullptr)) {
      attributes.lpSecurityDescriptor = descriptor;
    }
  }
  ~PrivateFile() {
    if (attributes.lpSecurityDescriptor != nullptr) LocalFree(attributes.lpSecurityDescriptor);
  }
  PrivateFile(const PrivateFile&) = delete;
  PrivateFile& operator=(const PrivateFile&) = delete;
};

// Where the folders of a name start: after its drive (C:), its share
// (\\server\share) or its device prefix (\\?\C:); 0 for a relative name.
std::size_t root_length(const std::wstring& w) {
  const auto separator = [&](std::size_t i) {
    return i < w.size() && (w[i] == L'\\' || w[i] == L'/');
  };
  std::size_t at = 0;
  if (separator(0) && separator(1)) {  // \\server\share, \\?\C:, \\.\C:
    int parts = 2;                     // server and share, or ? and the drive
    at = 2;
    while (parts > 0 && at < w.size()) {
      while (at < w.size() && !separator(at)) ++at;
      if (--parts > 0 && at < w.size()) ++at;
    }
    return at;
  }
  if (w.size() >= 2 && w[1] == L':') at = 2;
  return at;
}

// A link or junction among the folders of the name that another user made:
// following it would let that user choose where the result goes.
bool reached_through_another_users_link(const std::wstring& w) {
  const std::size_t root = root_length(w);
  for (std::size_t at = root + 1; at < w.size(); ++at) {
    if (w[at] != L'\\' && w[at] != L'/') continue;
    const std::wstring folder = w.substr(0, at);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      continue;
    }
    const HANDLE link = CreateFileW(
        folder.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (link == INVALID_HANDLE_VALUE) return true;
    const bool foreign = owner_of(link) == Owner::other;
    CloseHandle(link);
    if (foreign) return true;
  }
  return false;
}

// The last part of a name, without its folders.
std::wstring last_part(const std::wstring& w) {
  const std::size_t slash = w.find_last_of(L"\\/");
  return slash == std::wstring::npos ? w : w.substr(slash + 1);
}

// Whether the name is the null device's own, NUL alone: Windows gives NUL,
// CON, AUX, COM1 and the like to a device in every folder and with any
// extension (nul.txt), where a user means a file.
bool names_the_null_device(const std::wstring& name) {
  return _wcsicmp(last_part(name).c_str(), L"NUL") == 0 && last_part(name) == name;
}

}  // namespace

bool identify(int file, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle_of(file), &info)) return false;
  identity = identity_of(info);
  return true;
}

int open_input(const std::string& name, InputOpen& how, bool once_is_enough) {
  how = InputOpen::failed;
  const std::wstring w = wide(name);
  if (w.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return -1;
  }
  const int fd = _wopen(w.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) return -1;
  const DWORD type = GetFileType(handle_of(fd));
  DWORD console_mode = 0;
  const bool once_only = type == FILE_TYPE_PIPE ||
                         (type == FILE_TYPE_CHAR && GetConsoleMode(handle_of(fd), &console_mode));
  if (once_only && once_is_enough) {
    how = InputOpen::opened;
    return fd;
  }
  if (once_only) {
    _close(fd);
    how = InputOpen::once_only;
    return -1;
  }
  if (type == FILE_TYPE_CHAR) {  // NUL, a serial line: no end, or no fixed one
    _close(fd);
    how = InputOpen::character_device;
    return -1;
  }
  how = InputOpen::opened;
  return fd;
}

int standard_input() {
  _setmode(0, _O_BINARY);
  return _dup(0);
}

long read_block(int input, unsigned char* buffer, std::size_t size) {
  const unsigned n = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
  return _read(input, buffer, n);
}

long skip_block(int input, unsigned char* buffer, std::size_t size) {
  return read_block(input, buffer, size);
}

bool trusted_length(int input, std::uint64_t& length) {
  const HANDLE h = handle_of(input);
  wchar_t file_system[MAX_PATH + 1] = L"";
  LARGE_INTEGER size{};
  if (GetFileType(h) != FILE_TYPE_DISK ||
      !GetVolumeInformationByHandleW(h, nullptr, 0, nullptr, nullptr, nullptr, file_system,
                                     MAX_PATH + 1) ||
      !GetFileSizeEx(h, &size) || size.QuadPart < 0) {
    return false;
  }
  for (const wchar_t* trusted : {L"NTFS", L"ReFS", L"FAT", L"FAT32", L"exFAT"}) {
    if (_wcsicmp(file_system, trusted) == 0) {
      length = static_cast<std::uint64_t>(size.QuadPart);
      return true;
    }
  }
  return false;
}

void close_input(int input) { _close(input); }

int open_result_file(const std::string& name, int input, bool /*no FIFOs in Windows' folders*/,
                     void (*waiting)(const std::string& name), ResultOpen& how,
                     ResultFacts& facts) {
  how = ResultOpen::failed;
  const std::wstring w = wide(name);
  if (w.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return -1;
  }
  if (reached_through_another_users_link(w)) {
    how = ResultOpen::foreign_link;
    return -1;
  }
  // OPEN_ALWAYS, not CREATE_ALWAYS: what the file holds stays until the
  // report is written; a new file gets the user's access alone. A symbolic
  // link or junction is opened itself, not followed, so that it can be
  // refused; folders open too, to be refused. No one else may write the file
  // while it is open: a second run on the same name waits for it. The right
  // to change the access list is its owner's: another user's file is opened
  // without it, to be refused.
  PrivateFile private_file;
  HANDLE h = INVALID_HANDLE_VALUE;
  DWORD access = GENERIC_READ | GENERIC_WRITE | READ_CONTROL | WRITE_DAC;
  for (int tries = 1;; ++tries) {
    h = CreateFileW(
        w.c_str(), access, FILE_SHARE_READ, &private_file.attributes, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED &&
        (access & WRITE_DAC) != 0) {
      access &= ~static_cast<DWORD>(WRITE_DAC);
      continue;
    }
    if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) break;
    if (tries == 10 && waiting != nullptr) waiting(name);
    Sleep(100);
  }
  if (h == INVALID_HANDLE_VALUE) return -1;
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  const DWORD type = GetFileType(h);
  BY_HANDLE_FILE_INFORMATION info{};
  FileIdentity in;
  const bool volume = is_disk(h);
  const bool disk_file = type == FILE_TYPE_DISK && !volume;
  if ((disk_file && !GetFileInformationByHandle(h, &info)) || !identify(input, in)) {
    CloseHandle(h);
    return -1;
  }
  const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  facts.kind = volume                   ? ResultKind::block_device
               : type == FILE_TYPE_CHAR ? ResultKind::character_device
               : type == FILE_TYPE_PIPE ? ResultKind::fifo
               : !disk_file             ? ResultKind::other
               : folder                 ? ResultKind::folder
                                        : ResultKind::regular;
  // A device is the system's; a pipe or a file has an owner of its own.
  facts.owner = type == FILE_TYPE_CHAR ? Owner::system : owner_of(h);
  facts.link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  facts.device_name = type == FILE_TYPE_CHAR && !names_the_null_device(w);
  // A file is the same file by its volume and its index on that volume,
  // whatever name, case or link led to it.
  facts.is_input = disk_file && identity_of(info) == in;
  facts.names = disk_file ? info.nNumberOfLinks : 1;
  // A new file got the user's access list as it was created.
  facts.may_be_shared = disk_file && existed;
  facts.input_rereadable = GetFileType(handle_of(input)) == FILE_TYPE_DISK;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    return -1;
  }
  // What Windows itself says of a folder opened as a file, for the reason
  // told when the folder is refused.
  if (folder) SetLastError(ERROR_ACCESS_DENIED);
  how = ResultOpen::opened;
  return fd;
}

// The open itself keeps others from writing: a regular result needs no lock besides.
bool lock_result(int, const std::string&, void (*)(const std::string&)) { return true; }

// A read at an offset moves a file's pointer: it is put back after.
long read_at(int file, char* buffer, std::size_t size, std::uint64_t at) {
  const HANDLE h = handle_of(file);
  LARGE_INTEGER none{};
  LARGE_INTEGER was{};
  if (!SetFilePointerEx(h, none, &was, FILE_CURRENT)) return -1;
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(at);
  where.OffsetHigh = static_cast<DWORD>(at >> 32);
  DWORD got = 0;
  const DWORD n = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
  const bool read = ReadFile(h, buffer, n, &got, &where) != 0;
  const bool ended = !read && GetLastError() == ERROR_HANDLE_EOF;
  SetFilePointerEx(h, was, nullptr, FILE_BEGIN);
  return read ? static_cast<long>(got) : ended ? 0 : -1;
}

bool make_private(int result) {
  PrivateFile private_file;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL list = nullptr;
  const auto descriptor = private_file.attributes.lpSecurityDescriptor;
  return descriptor != nullptr &&
         GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted) && present &&
         SetSecurityInfo(handle_of(result), SE_FILE_OBJECT,
                         DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                         nullptr, list, nullptr) == ERROR_SUCCESS;
}

std::FILE* result_stream(int result) { return _fdopen(result, "wb"); }

void close_result_file(int result) {
  const DWORD reason = GetLastError();
  _close(result);
  SetLastError(reason);
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

bool is_terminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

std::string failure_reason() {
  const DWORD code = GetLastError();
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::string reason = n > 0 ? utf8(std::wstring(text, n)) : "error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  // The system's text ends with a line end of its own.
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
  return reason;
}

bool name_exists(const std::string& name) {
  const std::wstring w = wide(name);
  return !w.empty() && GetFileAttributesW(w.c_str()) != INVALID_FILE_ATTRIBUTES;
}

FolderState folder_state(const std::string& folder) {
  const std::wstring w = wide(folder);
  const DWORD attributes = w.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(w.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    if (code == ERROR_ACCESS_DENIED) return FolderState::unreachable;
    return code == ERROR_DIRECTORY ? FolderState::not_a_folder : FolderState::missing;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FolderState::folder
                                                      : FolderState::not_a_folder;
}

std::string home_folder() {
  const wchar_t* home = _wgetenv(L"USERPROFILE");
  return home != nullptr ? utf8(home) : "";
}

const bool backslash_separates_folders = true;

std::vector<std::string> program_arguments(int argc, char** argv) {
  // argv is in the ANSI code page, which cannot hold every name: the wide
  // command line can.
  int n = 0;
  LPWSTR* wide_args = CommandLineToArgvW(GetCommandLineW(), &n);
  if (wide_args == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < n; ++i) args.push_back(utf8(wide_args[i]));
  LocalFree(wide_args);
  return args;
}
