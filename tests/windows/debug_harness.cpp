// Runs a program as a debuggee and reports what a debug-output viewer would see, or, with
// --writes, runs it plainly and reports each write to its standard output.
//
// Usage: debug_harness [--writes] LIMIT_MS HEX_PROGRAM < HEX_TAIL
// LIMIT_MS bounds the program's run; the runner passes it, below its own limit on the harness.
// The program and the tail are the UTF-8 bytes of a text in hex, so that no conversion or quoting
// on the way in can touch them: the program's Windows path, and on standard input the command-line
// tail after the quoted program path (at Windows' limit, too long for a command line of its own).
// Prints one line per record on standard output:
//   message HEX       one OutputDebugStringA call, its bytes without the terminating NUL
//   wide-message HEX  one OutputDebugStringW call (UTF-16LE bytes)
//   write HEX         with --writes: one write to standard output, read from a message pipe
//   stdout HEX        without --writes: everything the program wrote to its standard output
//   stderr HEX        everything the program wrote to its standard error
//   exit CODE         the program's exit code, always the last line
// Exits with 0 when the program ran to its end, 2 on bad usage or a failure of its own.
#include "debug_relay.h"
#include "win32_text.h"

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace relay = zebcmd::relay;

DWORD g_run_limit_ms = 0;

std::string to_hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char byte : bytes) {
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 0xf]);
  }
  return out;
}

// Strict, so that bytes mangled on the way in are refused rather than replaced.
std::optional<std::wstring> from_hex_utf8(const std::wstring& hex) {
  if (hex.size() % 2 != 0 || hex.find_first_not_of(L"0123456789abcdefABCDEF") != hex.npos) {
    return std::nullopt;
  }
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return zebcmd::win32::to_wide(bytes, true);
}

// For the handles the program inherits as its standard handles.
SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};

int fail(const char* what, DWORD error = GetLastError()) {
  std::fprintf(stderr, "debug_harness: %s (error %lu)\n", what, error);
  return 2;
}

// A temporary file the child inherits as a standard handle; it disappears once closed.
HANDLE create_capture() {
  wchar_t folder[MAX_PATH];
  wchar_t name[MAX_PATH];
  if (GetTempPathW(MAX_PATH, folder) == 0 || GetTempFileNameW(folder, L"zeb", 0, name) == 0) {
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileW(name, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

// To the end of a file, or of a pipe whose writer closed it.
bool read_all(HANDLE file, std::string* bytes) {
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr)) {
    if (got == 0) return true;
    bytes->append(chunk, got);
  }
  return GetLastError() == ERROR_BROKEN_PIPE;
}

// The child shares the handle's file position, so the file is read again from its start.
bool read_capture(HANDLE file, std::string* bytes) {
  LARGE_INTEGER start{};
  return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && read_all(file, bytes);
}

struct Run {
  std::vector<std::string> lines;
  DWORD exit_code = 0;
};

int debug(const std::wstring& program, std::wstring command_line, const STARTUPINFOW& startup,
          Run* run) {
  const relay::Launch launch{program, std::move(command_line), &startup, g_run_limit_ms};
  relay::Outcome outcome = relay::run(launch, [run](const relay::Message& message) {
    run->lines.push_back((message.wide ? "wide-message " : "message ") + to_hex(message.bytes));
  });
  SetLastError(outcome.system_error);
  switch (outcome.failure) {
    case relay::Failure::kNone:
      run->exit_code = outcome.exit_code;
      return 0;
    case relay::Failure::kStart:
      return fail("cannot start the program");
    case relay::Failure::kTimeout:
      return fail("the program did not finish in time");
    case relay::Failure::kReadMessage:
      return fail("cannot read a debug string");
    default:
      return fail("cannot wait for the program");
  }
}

struct PipeReader {
  HANDLE pipe;
  std::vector<std::string> lines;
  DWORD error = 0;
};

// Each read of a message-mode pipe returns one write of the other end, so the boundaries
// between writes survive. Ends when every writing end is closed.
DWORD WINAPI read_writes(void* context) {
  auto* reader = static_cast<PipeReader*>(context);
  std::string message;
  char chunk[65536];
  for (;;) {
    DWORD got = 0;
    const bool whole = ReadFile(reader->pipe, chunk, sizeof chunk, &got, nullptr);
    const DWORD error = whole ? ERROR_SUCCESS : GetLastError();
    if (!whole && error != ERROR_MORE_DATA) {
      if (error != ERROR_BROKEN_PIPE) reader->error = error;
      return 0;
    }
    message.append(chunk, got);
    if (whole) {
      reader->lines.push_back("write " + to_hex(message));
      message.clear();
    }
  }
}

// The program's standard output as the writing end of a message pipe; the reading end is
// returned in *reading.
HANDLE create_writes_pipe(HANDLE* reading) {
  std::wstring name = L"\\\\.\\pipe\\zebcmd-harness-" + std::to_wstring(GetCurrentProcessId()) +
                      L"-" + std::to_wstring(GetTickCount64());
  *reading = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE,
                              PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0, 65536, 0,
                              nullptr);
  if (*reading == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
  return CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING, 0, nullptr);
}

int run_plainly(const std::wstring& program, std::wstring command_line, STARTUPINFOW startup,
                HANDLE reading, Run* run) {
  // Left to the process's end, not freed, if the reading thread cannot be stopped.
  auto* reader = new PipeReader{reading, {}, 0};
  HANDLE thread = CreateThread(nullptr, 0, read_writes, reader, 0, nullptr);
  if (thread == nullptr) return fail("cannot start the reading thread");
  PROCESS_INFORMATION child{};
  BOOL started = CreateProcessW(program.c_str(), &command_line[0], nullptr, nullptr, TRUE, 0,
                                nullptr, nullptr, &startup, &child);
  DWORD start_error = GetLastError();
  // Only the program's copy of the writing end is left, so the reader stops when it ends.
  CloseHandle(startup.hStdOutput);
  if (!started) return fail("cannot start the program", start_error);
  int failure = 0;
  if (WaitForSingleObject(child.hProcess, g_run_limit_ms) != WAIT_OBJECT_0) {
    TerminateProcess(child.hProcess, 3);
    WaitForSingleObject(child.hProcess, g_run_limit_ms);
    failure = fail("the program did not finish in time");
  }
  GetExitCodeProcess(child.hProcess, &run->exit_code);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  // A process the program started with its standard output keeps the pipe open.
  if (WaitForSingleObject(thread, g_run_limit_ms) != WAIT_OBJECT_0) {
    return failure != 0 ? failure : fail("the standard output stayed open");
  }
  CloseHandle(thread);
  run->lines = std::move(reader->lines);
  DWORD read_error = reader->error;
  delete reader;
  if (failure != 0 || read_error == 0) return failure;
  return fail("cannot read the standard output", read_error);
}

int run_harness(bool writes, const std::wstring& program, const std::wstring& tail) {
  std::wstring command_line = L"\"" + program + L"\"";
  if (!tail.empty()) command_line += L" " + tail;

  HANDLE reading = INVALID_HANDLE_VALUE;
  HANDLE out = writes ? create_writes_pipe(&reading) : create_capture();
  HANDLE err = create_capture();
  HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                          OPEN_EXISTING, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE || in == INVALID_HANDLE_VALUE) {
    return fail("cannot create the standard handles");
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  Run run;
  int failure = writes ? run_plainly(program, command_line, startup, reading, &run)
                       : debug(program, command_line, startup, &run);
  CloseHandle(in);
  std::string out_bytes;
  std::string err_bytes;
  bool captured = read_capture(err, &err_bytes) && (writes || read_capture(out, &out_bytes));
  CloseHandle(writes ? reading : out);
  CloseHandle(err);
  if (failure != 0) return failure;
  if (!captured) return fail("cannot read the standard output or error");
  for (const std::string& line : run.lines) std::printf("%s\n", line.c_str());
  if (!writes) std::printf("stdout %s\n", to_hex(out_bytes).c_str());
  std::printf("stderr %s\nexit %lu\n", to_hex(err_bytes).c_str(), run.exit_code);
  return std::fflush(stdout) == 0 ? 0 : 2;
}

}  // namespace

int main() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  const bool writes =
      arguments != nullptr && count > 1 && std::wstring(arguments[1]) == L"--writes";
  const int first = writes ? 2 : 1;
  wchar_t* end = nullptr;
  if (arguments != nullptr && count == first + 2) {
    g_run_limit_ms = std::wcstoul(arguments[first], &end, 10);
  }
  if (g_run_limit_ms == 0 || *end != L'\0') {
    std::fprintf(stderr, "usage: debug_harness [--writes] LIMIT_MS HEX_PROGRAM < HEX_TAIL\n");
    return 2;
  }
  std::string hex_tail;
  if (!read_all(GetStdHandle(STD_INPUT_HANDLE), &hex_tail)) return fail("cannot read the tail");
  std::optional<std::wstring> program = from_hex_utf8(arguments[first + 1]);
  std::optional<std::wstring> tail = from_hex_utf8(std::wstring(hex_tail.begin(), hex_tail.end()));
  LocalFree(arguments);
  if (!program || program->empty() || !tail) {
    std::fprintf(stderr, "debug_harness: the arguments must be UTF-8 in hex\n");
    return 2;
  }
  return run_harness(writes, *program, *tail);
}
