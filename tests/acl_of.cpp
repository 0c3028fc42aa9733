// For the Windows tests: prints the access list of a file as SDDL, then the
// SID of the user running this, so that a test can see who may open the file.
// Usage: acl_of FILE
#include <windows.h>

// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(argv[1], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return 1;
  }
  LPWSTR text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return 1;
  }
  wprintf(L"%ls\n", text);
  HANDLE token = nullptr;
  DWORD size = 0;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  auto* user = static_cast<TOKEN_USER*>(LocalAlloc(LPTR, size));
  LPWSTR sid = nullptr;
  if (user == nullptr || !GetTokenInformation(token, TokenUser, user, size, &size) ||
      !ConvertSidToStringSidW(user->User.Sid, &sid)) {
    return 1;
  }
  wprintf(L"%ls\n", sid);
  return 0;
}
