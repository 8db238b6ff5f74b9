#include "companion.h"

#include <string>

#include "command_tail.h"
#include "debug_relay.h"

namespace zebcmd::companion {

namespace {

constexpr DWORD kDllNotFound = 0xC0000135;

// A console shows wide text as it is; a file or pipe gets UTF-8.
void write_error(const std::wstring& text) {
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(err, &mode)) {
    WriteConsoleW(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                 nullptr, nullptr);
  if (size <= 0) return;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size,
                      nullptr, nullptr);
  WriteFile(err, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring system_message(DWORD error) {
  wchar_t* buffer = nullptr;
  DWORD size = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text(buffer != nullptr ? buffer : L"", size);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                           text.back() == L'.')) {
    text.pop_back();
  }
  return L"error " + std::to_wstring(error) + (text.empty() ? L"" : L": " + text);
}

// This program's folder with its trailing separator, or nothing when its path is unknown.
std::wstring own_folder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD size = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (size == 0) return std::wstring();
    if (size < path.size()) {
      path.resize(size);
      break;
    }
    path.resize(path.size() * 2);
  }
  std::size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

}  // namespace

int run() {
  const std::wstring program = own_folder() + L"ZEBCmd.exe";
  relay::Launch launch;
  launch.program = program;
  launch.command_line = L"\"" + program + L"\"" + std::wstring(command_tail(GetCommandLineW()));

  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  // Unbuffered, one write per message; a reader that went away does not stop the run.
  relay::Outcome outcome = relay::run(launch, [out](const relay::Message& message) {
    DWORD written = 0;
    if (!message.bytes.empty()) {
      WriteFile(out, message.bytes.data(), static_cast<DWORD>(message.bytes.size()), &written,
                nullptr);
    }
  });

  switch (outcome.failure) {
    case relay::Failure::kNone:
      break;
    case relay::Failure::kStart:
      write_error(L"ZEBCmdCon: cannot start " + program + L" (" +
                  system_message(outcome.system_error) + L")\n");
      return kCannotRunStatus;
    default:
      write_error(L"ZEBCmdCon: lost track of " + program + L", which was ended (" +
                  system_message(outcome.system_error) + L")\n");
      return kCannotRunStatus;
  }
  if (outcome.exit_code == kDllNotFound) {
    write_error(
        L"ZEBCmdCon: ZEBCmd.exe could not start: ZEBCli.dll must be beside the program "
        L"or on the DLL search path\n");
  }
  return static_cast<int>(outcome.exit_code);
}

}  // namespace zebcmd::companion
