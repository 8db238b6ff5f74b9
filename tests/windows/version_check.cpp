// Reads the version resource of ZEBCmd.exe and ZEBCmdCon.exe through the version API, the way
// Explorer and installers do, and their manifests the way the loader finds them, and compares
// them with the released values.
//
// Usage: version_check [PROGRAM ...]   (default: both programs beside this one)
// Each program is known by its file name. Prints each difference and exits with 1 if there is
// any, 2 if a resource cannot be read.
#include "win32_text.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using zebcmd::win32::to_utf8;

constexpr DWORD kVersionHigh = MAKELONG(2, 3);  // 3.2
constexpr DWORD kVersionLow = MAKELONG(0, 2);   // .2.0
constexpr WORD kFrench = 0x040c;
constexpr WORD kUnicode = 1200;
constexpr WORD kManifestType = 24;  // RT_MANIFEST, which windows.h spells for the ANSI calls

struct StringEntry {
  const wchar_t* name;
  const wchar_t* value;
};

// The strings both programs share.
constexpr StringEntry kStrings[] = {
    {L"FileVersion", L"3, 2, 2, 0"},
    {L"ProductVersion", L"3, 2, 2, 0"},
    {L"CompanyName", L"ZEBCmd developers"},
    {L"ProductName", L"ZEBCmd"},
    {L"LegalCopyright", L"Copyright (C) 2026 ZEBCmd developers"},
};

// Each program's own strings; OriginalFilename is its file name.
struct Program {
  const wchar_t* file;
  const wchar_t* description;
  const wchar_t* internal_name;
};

constexpr Program kPrograms[] = {
    {L"ZEBCmd.exe", L"ZEBCmd", L"ZEBCmd"},
    {L"ZEBCmdCon.exe", L"ZEBCmd console companion", L"ZEBCmdCon"},
};

// What each manifest must say: never elevated, and written for Windows 7, 8, 8.1 and 10/11.
constexpr const char* kManifestParts[] = {
    "level=\"asInvoker\"",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
};

const Program* known_program(const std::wstring& path) {
  std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
  auto known = std::find_if(
      std::begin(kPrograms), std::end(kPrograms),
      [&](const Program& program) { return _wcsicmp(name.c_str(), program.file) == 0; });
  return known != std::end(kPrograms) ? known : nullptr;
}

class Checker {
 public:
  Checker(const std::vector<char>& block, const std::string& program)
      : block_(block), program_(program) {}

  void check_fixed() {
    VS_FIXEDFILEINFO* info = nullptr;
    UINT size = 0;
    if (!query(L"\\", sizeof *info, &info, &size, "no fixed file information")) return;
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
    if (!query(L"\\VarFileInfo\\Translation", 0, &pairs, &size, "no Translation entry")) return;
    expect("Translation size", size, 2 * sizeof(WORD));
    if (size >= 2 * sizeof(WORD)) {
      expect("Translation language", pairs[0], kFrench);
      expect("Translation code page", pairs[1], kUnicode);
    }
  }

  void check_strings(const Program& program) {
    for (const StringEntry& entry : kStrings) check_string(entry);
    check_string({L"FileDescription", program.description});
    check_string({L"InternalName", program.internal_name});
    check_string({L"OriginalFilename", program.file});
  }

  // The manifest as the loader finds it: resource 1 of type RT_MANIFEST.
  void check_manifest(const std::wstring& program) {
    HMODULE image = LoadLibraryExW(program.c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    HRSRC found = image != nullptr
                      ? FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(kManifestType))
                      : nullptr;
    HGLOBAL loaded = found != nullptr ? LoadResource(image, found) : nullptr;
    const char* bytes =
        loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (bytes == nullptr) {
      differ("no manifest (error " + std::to_string(GetLastError()) + ")");
    } else {
      std::string manifest(bytes, SizeofResource(image, found));
      for (const char* part : kManifestParts) {
        if (manifest.find(part) == std::string::npos) {
          differ(std::string("the manifest lacks ") + part);
        }
      }
    }
    if (image != nullptr) FreeLibrary(image);
  }

  int differences() const { return differences_; }

 private:
  void check_string(const StringEntry& entry) {
    std::wstring path = std::wstring(L"\\StringFileInfo\\040c04b0\\") + entry.name;
    wchar_t* value = nullptr;
    UINT length = 0;
    if (!query(path.c_str(), 0, &value, &length, "no string " + to_utf8(entry.name))) return;
    // The length may or may not count the terminating NUL; the text ends at the first one.
    std::wstring actual(value, length);
    actual = actual.substr(0, actual.find(L'\0'));
    if (actual != entry.value) {
      differ(to_utf8(entry.name) + " is \"" + to_utf8(actual) + "\", expected \"" +
             to_utf8(entry.value) + "\"");
    }
  }

  // Points *value at the entry at path, of at least min_size bytes, or reports it missing.
  template <typename T>
  bool query(const wchar_t* path, UINT min_size, T** value, UINT* size,
             const std::string& missing) {
    void* found = nullptr;
    if (VerQueryValueW(block_.data(), path, &found, size) && found != nullptr &&
        *size >= min_size) {
      *value = static_cast<T*>(found);
      return true;
    }
    differ(missing);
    return false;
  }

  void expect(const char* what, unsigned long actual, unsigned long expected) {
    if (actual != expected) {
      char text[160];
      std::snprintf(text, sizeof text, "%s is 0x%08lx, expected 0x%08lx", what, actual, expected);
      differ(text);
    }
  }

  void differ(const std::string& text) {
    std::printf("%s: %s\n", program_.c_str(), text.c_str());
    ++differences_;
  }

  const std::vector<char>& block_;
  const std::string program_;
  int differences_ = 0;
};

// 0: as expected, 1: differences, 2: the version resource cannot be read.
int check_program(const std::wstring& program) {
  const std::string name = to_utf8(program);
  const Program* known = known_program(program);
  if (known == nullptr) {
    std::printf("%s: not a program this check knows\n", name.c_str());
    return 2;
  }
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(program.c_str(), &ignored);
  std::vector<char> block(size);
  if (size == 0 || !GetFileVersionInfoW(program.c_str(), 0, size, block.data())) {
    std::printf("cannot read the version resource of %s (error %lu)\n", name.c_str(),
                GetLastError());
    return 2;
  }
  Checker checker(block, name);
  checker.check_fixed();
  checker.check_translation();
  checker.check_strings(*known);
  checker.check_manifest(program);
  if (checker.differences() != 0) return 1;
  std::printf("version resource and manifest of %s as expected\n", name.c_str());
  return 0;
}

}  // namespace

int main() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> programs;
  for (int i = 1; arguments != nullptr && i < count; ++i) programs.push_back(arguments[i]);
  if (arguments != nullptr) LocalFree(arguments);
  if (programs.empty()) {
    for (const Program& program : kPrograms)
      programs.push_back(zebcmd::win32::own_folder() + program.file);
  }
  int status = 0;
  for (const std::wstring& program : programs) status = std::max(status, check_program(program));
  return status;
}
