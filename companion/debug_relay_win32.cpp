#include "debug_relay.h"

namespace zebcmd::relay {

namespace {

constexpr UINT kTerminatedExitCode = 3;

bool read_message(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info, Message* message) {
  message->wide = info.fUnicode != 0;
  message->bytes.assign(info.nDebugStringLength * (message->wide ? 2u : 1u), '\0');
  SIZE_T got = 0;
  if (!message->bytes.empty() &&
      (!ReadProcessMemory(process, info.lpDebugStringData, &message->bytes[0],
                          message->bytes.size(), &got) ||
       got != message->bytes.size())) {
    return false;
  }
  // The length counts the terminating NUL, which is not part of the message.
  const std::size_t nul_size = message->wide ? 2 : 1;
  std::string& bytes = message->bytes;
  if (bytes.size() >= nul_size &&
      bytes.find_first_not_of('\0', bytes.size() - nul_size) == std::string::npos) {
    bytes.resize(bytes.size() - nul_size);
  }
  return true;
}

// How long the run may still wait for its next debug event.
DWORD time_left(ULONGLONG started, DWORD run_limit_ms) {
  if (run_limit_ms == INFINITE) return INFINITE;
  const ULONGLONG spent = GetTickCount64() - started;
  return spent < run_limit_ms ? static_cast<DWORD>(run_limit_ms - spent) : 0;
}

Outcome debug(const PROCESS_INFORMATION& child, DWORD run_limit_ms,
              const std::function<void(const Message&)>& on_message) {
  const ULONGLONG started = GetTickCount64();
  bool loader_breakpoint_seen = false;
  for (;;) {
    DEBUG_EVENT event{};
    // Checked before each wait too, so that a flood of events cannot outrun the limit.
    const DWORD wait = time_left(started, run_limit_ms);
    if (wait == 0 || !WaitForDebugEvent(&event, wait)) {
      DWORD error = wait == 0 ? ERROR_SEM_TIMEOUT : GetLastError();
      TerminateProcess(child.hProcess, kTerminatedExitCode);
      return {error == ERROR_SEM_TIMEOUT ? Failure::kTimeout : Failure::kWait, error, 0};
    }
    DWORD continuation = DBG_CONTINUE;
    switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        if (event.u.CreateProcessInfo.hFile != nullptr) {
          CloseHandle(event.u.CreateProcessInfo.hFile);
        }
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile != nullptr) CloseHandle(event.u.LoadDll.hFile);
        break;
      case OUTPUT_DEBUG_STRING_EVENT: {
        Message message;
        if (!read_message(child.hProcess, event.u.DebugString, &message)) {
          DWORD error = GetLastError();
          TerminateProcess(child.hProcess, kTerminatedExitCode);
          ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
          return {Failure::kReadMessage, error, 0};
        }
        // The program goes on while the message is handled, however long that takes.
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
        on_message(message);
        continue;
      }
      case EXCEPTION_DEBUG_EVENT: {
        // The loader's initial breakpoint is the debugger's to swallow; any other exception,
        // a later breakpoint included, is the program's own business.
        bool breakpoint = event.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT;
        if (!breakpoint || loader_breakpoint_seen) continuation = DBG_EXCEPTION_NOT_HANDLED;
        loader_breakpoint_seen = loader_breakpoint_seen || breakpoint;
        break;
      }
      case EXIT_PROCESS_DEBUG_EVENT:
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
        return {Failure::kNone, 0, event.u.ExitProcess.dwExitCode};
      default:
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continuation);
  }
}

}  // namespace

Outcome run(const Launch& launch, const std::function<void(const Message&)>& on_message) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (launch.startup != nullptr) startup = *launch.startup;
  // CreateProcessW may write to the command line it is given.
  std::wstring command_line = launch.command_line;
  PROCESS_INFORMATION child{};
  if (!CreateProcessW(launch.program.c_str(), &command_line[0], nullptr, nullptr,
                      launch.startup != nullptr, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr,
                      &startup, &child)) {
    return {Failure::kStart, GetLastError(), 0};
  }
  Outcome outcome = debug(child, launch.run_limit_ms, on_message);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return outcome;
}

}  // namespace zebcmd::relay
