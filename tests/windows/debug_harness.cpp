// Runs a program as a debuggee and reports what a debug-output viewer would see.
//
// Usage: debug_harness HEX_PROGRAM [HEX_TAIL]
// Both arguments are the UTF-8 bytes of a text in hex, so that no conversion or quoting on
// the way in can touch them: the program's Windows path, and the command-line tail that
// follows the quoted program path. Prints one line per record on standard output:
//   message HEX       one OutputDebugStringA call, its bytes without the terminating NUL
//   wide-message HEX  one OutputDebugStringW call (UTF-16LE bytes)
//   stdout HEX        everything the program wrote to its standard output
//   stderr HEX        everything the program wrote to its standard error
//   exit CODE         the program's exit code, always the last line
// Exits with 0 when the program ran to its end, 2 on bad usage or a failure of its own.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr DWORD kRunTimeoutMs = 25000;

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char byte : bytes) {
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 0xf]);
  }
  return out;
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

std::optional<std::wstring> FromHexUtf8(const std::wstring& hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    int high = HexDigit(hex[i]);
    int low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  if (bytes.empty()) return std::wstring();
  int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                 static_cast<int>(bytes.size()), nullptr, 0);
  if (size <= 0) return std::nullopt;
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                      &text[0], size);
  return text;
}

int Fail(const char* what) {
  std::fprintf(stderr, "debug_harness: %s (error %lu)\n", what, GetLastError());
  return 2;
}

// A temporary file the child inherits as a standard handle; it disappears once closed.
HANDLE CreateCapture() {
  wchar_t folder[MAX_PATH];
  wchar_t name[MAX_PATH];
  if (GetTempPathW(MAX_PATH, folder) == 0 || GetTempFileNameW(folder, L"zeb", 0, name) == 0) {
    return INVALID_HANDLE_VALUE;
  }
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  return CreateFileW(name, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

// The child shares the handle's file position, so the file is read again from its start.
bool ReadCapture(HANDLE file, std::string* bytes) {
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
  char chunk[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) return false;
    if (got == 0) return true;
    bytes->append(chunk, got);
  }
}

struct Run {
  std::vector<std::string> lines;
  DWORD exit_code = 0;
};

bool RecordDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info, Run* run) {
  std::string bytes(info.nDebugStringLength * (info.fUnicode ? 2u : 1u), '\0');
  SIZE_T got = 0;
  if (!bytes.empty() &&
      (!ReadProcessMemory(process, info.lpDebugStringData, &bytes[0], bytes.size(), &got) ||
       got != bytes.size())) {
    return false;
  }
  // The length counts the terminating NUL, which is not part of the message.
  const std::size_t nul_size = info.fUnicode ? 2 : 1;
  if (bytes.size() >= nul_size &&
      bytes.find_first_not_of('\0', bytes.size() - nul_size) == std::string::npos) {
    bytes.resize(bytes.size() - nul_size);
  }
  run->lines.push_back((info.fUnicode ? "wide-message " : "message ") + Hex(bytes));
  return true;
}

int Debug(const PROCESS_INFORMATION& child, Run* run) {
  for (;;) {
    DEBUG_EVENT event{};
    if (!WaitForDebugEvent(&event, kRunTimeoutMs)) {
      TerminateProcess(child.hProcess, 3);
      return Fail("the program did not finish in time");
    }
    DWORD continuation = DBG_CONTINUE;
    bool finished = false;
    switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        if (event.u.CreateProcessInfo.hFile != nullptr) {
          CloseHandle(event.u.CreateProcessInfo.hFile);
        }
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile != nullptr) CloseHandle(event.u.LoadDll.hFile);
        break;
      case OUTPUT_DEBUG_STRING_EVENT:
        if (!RecordDebugString(child.hProcess, event.u.DebugString, run)) {
          TerminateProcess(child.hProcess, 3);
          return Fail("cannot read a debug string");
        }
        break;
      case EXCEPTION_DEBUG_EVENT:
        // The loader's initial breakpoint is the debugger's to swallow; anything else is the
        // program's own business.
        if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
          continuation = DBG_EXCEPTION_NOT_HANDLED;
        }
        break;
      case EXIT_PROCESS_DEBUG_EVENT:
        run->exit_code = event.u.ExitProcess.dwExitCode;
        finished = true;
        break;
      default:
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continuation);
    if (finished) return 0;
  }
}

int RunHarness(const std::wstring& program, const std::wstring& tail) {
  std::wstring command_line = L"\"" + program + L"\"";
  if (!tail.empty()) command_line += L" " + tail;

  HANDLE out = CreateCapture();
  HANDLE err = CreateCapture();
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                          OPEN_EXISTING, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE || in == INVALID_HANDLE_VALUE) {
    return Fail("cannot create the standard handles");
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION child{};
  if (!CreateProcessW(program.c_str(), &command_line[0], nullptr, nullptr, TRUE,
                      DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr, &startup, &child)) {
    return Fail("cannot start the program");
  }
  CloseHandle(in);
  Run run;
  int failure = Debug(child, &run);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  std::string out_bytes;
  std::string err_bytes;
  bool captured = ReadCapture(out, &out_bytes) && ReadCapture(err, &err_bytes);
  CloseHandle(out);
  CloseHandle(err);
  if (failure != 0) return failure;
  if (!captured) return Fail("cannot read the standard output or error");
  for (const std::string& line : run.lines) std::printf("%s\n", line.c_str());
  std::printf("stdout %s\nstderr %s\nexit %lu\n", Hex(out_bytes).c_str(), Hex(err_bytes).c_str(),
              run.exit_code);
  return std::fflush(stdout) == 0 ? 0 : 2;
}

}  // namespace

int main() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr || count < 2 || count > 3) {
    std::fprintf(stderr, "usage: debug_harness HEX_PROGRAM [HEX_TAIL]\n");
    return 2;
  }
  std::optional<std::wstring> program = FromHexUtf8(arguments[1]);
  std::optional<std::wstring> tail = FromHexUtf8(count == 3 ? arguments[2] : L"");
  LocalFree(arguments);
  if (!program || program->empty() || !tail) {
    std::fprintf(stderr, "debug_harness: the arguments must be UTF-8 in hex\n");
    return 2;
  }
  return RunHarness(*program, *tail);
}
