#ifndef ZEBCMD_DEBUG_RELAY_H
#define ZEBCMD_DEBUG_RELAY_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <functional>
#include <string>

namespace zebcmd::relay {

// One debug-output message, without its terminating NUL.
struct Message {
  bool wide = false;  // from OutputDebugStringW: the bytes are UTF-16LE
  std::string bytes;
};

enum class Failure {
  kNone,
  kStart,        // the program could not be started
  kReadMessage,  // a message could not be read from the program's memory
  kWait,         // waiting for the next debug event failed
  kTimeout,      // the program was still running at the launch's limit
};

struct Outcome {
  Failure failure = Failure::kNone;
  DWORD system_error = 0;  // GetLastError() at the failure
  DWORD exit_code = 0;     // the program's, when it ran to its end
};

struct Launch {
  std::wstring program;       // the executable's path
  std::wstring command_line;  // the whole command line, program token included
  // Standard handles for the program to inherit; null: it inherits no handle.
  const STARTUPINFOW* startup = nullptr;
  DWORD run_limit_ms = INFINITE;  // longest the whole run may take
};

// Runs the program as a debuggee and hands each debug-output message to on_message as it
// arrives, once the program has been let go on. After a failure past the start, the limit
// included, the program is terminated (exit code 3).
Outcome run(const Launch& launch, const std::function<void(const Message&)>& on_message);

}  // namespace zebcmd::relay

#endif
