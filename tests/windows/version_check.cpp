// Reads ZEBCmd.exe's version resource through the version API, the way Explorer and
// installers do, and compares it with the released values.
//
// Usage: version_check [PROGRAM]   (default: the ZEBCmd.exe beside this program)
// Prints each difference and exits with 1 if there is any, 2 if the resource cannot be read.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr DWORD kVersionHigh = MAKELONG(2, 3);  // 3.2
constexpr DWORD kVersionLow = MAKELONG(0, 2);   // .2.0
constexpr WORD kFrench = 0x040c;
constexpr WORD kUnicode = 1200;

struct StringEntry {
  const wchar_t* name;
  const wchar_t* value;
};

constexpr StringEntry kStrings[] = {
    {L"FileVersion", L"3, 2, 2, 0"},
    {L"ProductVersion", L"3, 2, 2, 0"},
    {L"FileDescription", L"ZEBCmd"},
    {L"InternalName", L"ZEBCmd"},
    {L"OriginalFilename", L"ZEBCmd.exe"},
    {L"CompanyName", L"ZEBCmd developers"},
    {L"ProductName", L"ZEBCmd"},
    {L"LegalCopyright", L"Copyright (C) 2026 ZEBCmd developers"},
};

std::string to_utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
  }
  return out;
}

std::wstring default_program() {
  wchar_t self[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"ZEBCmd.exe";
}

class Checker {
 public:
  explicit Checker(const std::vector<char>& block) : block_(block) {}

  void check_fixed() {
    VS_FIXEDFILEINFO* info = nullptr;
    UINT size = 0;
    if (!query_value(L"\\", reinterpret_cast<void**>(&info), &size) || size < sizeof *info) {
      differ("no fixed file information");
      return;
    }
    expect("signature", info->dwSignature, VS_FFI_SIGNATURE);
    expect("file version (high)", info->dwFileVersionMS, kVersionHigh);
    expect("file version (low)", info->dwFileVersionLS, kVersionLow);
    expect("product version (high)", info->dwProductVersionMS, kVersionHigh);
    expect("product version (low)", info->dwProductVersionLS, kVersionLow);
    expect("file type", info->dwFileType, VFT_APP);
  }

  void check_translation() {
    WORD* pairs = nullptr;
    UINT size = 0;
    if (!query_value(L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pairs), &size)) {
      differ("no Translation entry");
      return;
    }
    expect("Translation size", size, 2 * sizeof(WORD));
    if (size >= 2 * sizeof(WORD)) {
      expect("Translation language", pairs[0], kFrench);
      expect("Translation code page", pairs[1], kUnicode);
    }
  }

  void check_strings() {
    for (const StringEntry& entry : kStrings) {
      std::wstring path = std::wstring(L"\\StringFileInfo\\040c04b0\\") + entry.name;
      wchar_t* value = nullptr;
      UINT length = 0;
      if (!query_value(path.c_str(), reinterpret_cast<void**>(&value), &length)) {
        differ("no string " + to_utf8(entry.name));
        continue;
      }
      // The length may or may not count the terminating NUL; the text ends at the first one.
      std::wstring actual(value, length);
      actual = actual.substr(0, actual.find(L'\0'));
      if (actual != entry.value) {
        differ(to_utf8(entry.name) + " is \"" + to_utf8(actual) + "\", expected \"" +
               to_utf8(entry.value) + "\"");
      }
    }
  }

  int differences() const { return differences_; }

 private:
  bool query_value(const wchar_t* path, void** value, UINT* size) {
    return VerQueryValueW(block_.data(), path, value, size) && *value != nullptr;
  }

  void expect(const char* what, unsigned long actual, unsigned long expected) {
    if (actual != expected) {
      char text[160];
      std::snprintf(text, sizeof text, "%s is 0x%08lx, expected 0x%08lx", what, actual, expected);
      differ(text);
    }
  }

  void differ(const std::string& text) {
    std::printf("%s\n", text.c_str());
    ++differences_;
  }

  const std::vector<char>& block_;
  int differences_ = 0;
};

}  // namespace

int main() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::wstring program = arguments != nullptr && count > 1 ? arguments[1] : default_program();
  if (arguments != nullptr) LocalFree(arguments);

  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(program.c_str(), &ignored);
  std::vector<char> block(size);
  if (size == 0 || !GetFileVersionInfoW(program.c_str(), 0, size, block.data())) {
    std::printf("cannot read the version resource of %s (error %lu)\n", to_utf8(program).c_str(),
                GetLastError());
    return 2;
  }
  Checker checker(block);
  checker.check_fixed();
  checker.check_translation();
  checker.check_strings();
  if (checker.differences() != 0) return 1;
  std::printf("version resource of %s as expected\n", to_utf8(program).c_str());
  return 0;
}
