#include "companion.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "command_tail.h"
#include "debug_relay.h"
#include "explanation.h"
#include "win32_text.h"
#include "write_queue.h"

namespace zebcmd::companion {

namespace {

// Writes to one standard handle from a thread of its own, so that a reader who does not read
// never holds up the caller: the queue decides what waits and when writing is given up.
class Writer {
 public:
  // utf8: the texts are UTF-8, shown as such on a console.
  Writer(HANDLE handle, bool utf8) : handle_(handle), utf8_(utf8) {
    // Without a thread the texts are written in place: late rather than lost.
    thread_ = CreateThread(nullptr, 0, &Writer::thread_main, this, 0, nullptr);
  }

  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void push(std::string text) {
    if (text.empty()) return;
    if (thread_ == nullptr) {
      write(text);
      return;
    }
    AcquireSRWLockExclusive(&lock_);
    queue_.push(std::move(text), GetTickCount64());
    ReleaseSRWLockExclusive(&lock_);
    WakeAllConditionVariable(&changed_);
  }

  // Waits until every text is written, or one write is given up.
  void finish() {
    if (thread_ == nullptr) return;
    AcquireSRWLockExclusive(&lock_);
    while (!queue_.done(GetTickCount64())) {
      SleepConditionVariableSRW(&changed_, &lock_,
                                static_cast<DWORD>(queue_.grace_ms(GetTickCount64())), 0);
    }
    ReleaseSRWLockExclusive(&lock_);
  }

 private:
  static DWORD WINAPI thread_main(void* self) {
    static_cast<Writer*>(self)->write_queued();
    return 0;
  }

  void write_queued() {
    AcquireSRWLockExclusive(&lock_);
    for (;;) {
      std::optional<std::string> text = queue_.start_write(GetTickCount64());
      if (!text) {
        SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
        continue;
      }
      ReleaseSRWLockExclusive(&lock_);
      WakeAllConditionVariable(&changed_);
      write(*text);
      AcquireSRWLockExclusive(&lock_);
      queue_.end_write();
      WakeAllConditionVariable(&changed_);
    }
  }

  void write(const std::string& text) const {
    DWORD mode = 0;
    if (utf8_ && GetConsoleMode(handle_, &mode)) {
      std::wstring wide = win32::to_wide(text).value_or(std::wstring());
      DWORD written = 0;
      WriteConsoleW(handle_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
      return;
    }
    std::size_t done = 0;
    while (done < text.size()) {
      DWORD written = 0;
      if (!WriteFile(handle_, text.data() + done, static_cast<DWORD>(text.size() - done), &written,
                     nullptr) ||
          written == 0) {
        return;
      }
      done += written;
    }
  }

  const HANDLE handle_;
  const bool utf8_;
  HANDLE thread_ = nullptr;
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
  WriteQueue queue_;
};

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

// ZEBCmd.exe, and so the DLLs it loads, have this program's bitness.
constexpr int kBits = sizeof(void*) * 8;

// What standard error says about the run, or nothing.
std::string explain(const relay::Outcome& outcome, const std::wstring& program,
                    std::uint32_t time_limit_s) {
  switch (outcome.failure) {
    case relay::Failure::kNone:
      return status_explanation(outcome.exit_code, kBits);
    case relay::Failure::kStart:
      return win32::to_utf8(L"ZEBCmdCon: cannot start " + program + L" (" +
                            system_message(outcome.system_error) + L")\n");
    case relay::Failure::kTimeout:
      return time_limit_explanation(time_limit_s);
    default:
      return win32::to_utf8(L"ZEBCmdCon: lost track of " + program + L", which was ended (" +
                            system_message(outcome.system_error) + L")\n");
  }
}

int status_of(const relay::Outcome& outcome) {
  switch (outcome.failure) {
    case relay::Failure::kNone:
      return static_cast<int>(outcome.exit_code);
    case relay::Failure::kTimeout:
      return kTimeLimitStatus;
    default:
      return kCannotRunStatus;
  }
}

// Once every message is shown, says on standard error how the run ended and gives its status.
int end(Writer* out, Writer* err, std::string line, int status) {
  out->finish();
  err->push(std::move(line));
  err->finish();
  return status;
}

}  // namespace

int run() {
  // No dialog that waits for a click, in this program or in ZEBCmd.exe, which inherits the mode.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);

  // Never freed: a writer stuck on a reader who does not read ends with the process.
  auto* out = new Writer(GetStdHandle(STD_OUTPUT_HANDLE), false);
  auto* err = new Writer(GetStdHandle(STD_ERROR_HANDLE), true);
  const Options options = parse_options(command_tail(GetCommandLineW()));
  if (options.action == Action::kUsage) {
    out->push(kUsage);
    return end(out, err, std::string(), 0);
  }
  if (options.action == Action::kBadSwitch) {
    return end(out, err, std::string(kBadTimeLimit) + kUsage, kCannotRunStatus);
  }

  const std::wstring program = win32::own_folder() + L"ZEBCmd.exe";
  relay::Launch launch;
  launch.program = program;
  launch.command_line = command_line(program, options.tail);
  std::string too_long = too_long_explanation(launch.command_line.size());
  if (!too_long.empty()) return end(out, err, std::move(too_long), kCannotRunStatus);
  if (options.time_limit_s != 0) launch.run_limit_ms = options.time_limit_s * 1000;

  relay::Outcome outcome =
      relay::run(launch, [out](const relay::Message& message) { out->push(message.bytes); });
  return end(out, err, explain(outcome, program, options.time_limit_s), status_of(outcome));
}

}  // namespace zebcmd::companion
