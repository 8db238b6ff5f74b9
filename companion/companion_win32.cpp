#include "companion.h"

#include <deque>
#include <string>

#include "command_tail.h"
#include "debug_relay.h"
#include "win32_text.h"

namespace zebcmd::companion {

namespace {

// What the native tool allows its debug channel: a write not done by then is given up.
constexpr ULONGLONG kWriteLimitMs = 250;

// An explanation of an exit status that says the loader could not start ZEBCmd.exe.
struct LoaderFailure {
  DWORD status;
  const wchar_t* explanation;
};

// ZEBCmd.exe, and so the DLLs it loads, have this program's bitness.
#ifdef _WIN64
constexpr wchar_t kNotOurBitness[] =
    L"ZEBCli.dll is not a 64-bit DLL, or is damaged: put the vendor's 64-bit ZEBCli.dll beside "
    L"ZEBCmd.exe";
#else
constexpr wchar_t kNotOurBitness[] =
    L"ZEBCli.dll is not a 32-bit DLL, or is damaged: put the vendor's 32-bit ZEBCli.dll beside "
    L"ZEBCmd.exe";
#endif

constexpr LoaderFailure kLoaderFailures[] = {
    {0xC0000135,
     L"ZEBCli.dll, or a DLL it needs, is missing: put the vendor's ZEBCli.dll and the DLLs it "
     L"needs beside ZEBCmd.exe"},
    {0xC000007B, kNotOurBitness},
    {0xC0000139,
     L"ZEBCli.dll lacks a function ZEBCmd.exe imports, so it is of another version or calling "
     L"convention: put the ZEBCli.dll of the server ZEBCmd.exe was built for beside it, or "
     L"use a ZEBCmd.exe built from this DLL"},
};

// Writes to one standard handle from a thread of its own, so that a reader who does not read
// never holds up the caller: a write not done within kWriteLimitMs is given up, and so is
// every text after it, at once.
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
    if (!given_up()) queue_.push_back(std::move(text));
    ReleaseSRWLockExclusive(&lock_);
    WakeAllConditionVariable(&changed_);
  }

  // Waits until every text is written, or one write is given up.
  void finish() {
    if (thread_ == nullptr) return;
    AcquireSRWLockExclusive(&lock_);
    while (!given_up() && (writing_ || !queue_.empty())) {
      ULONGLONG waited = writing_ ? GetTickCount64() - write_started_ : 0;
      DWORD wait = waited < kWriteLimitMs ? static_cast<DWORD>(kWriteLimitMs - waited) : 0;
      SleepConditionVariableSRW(&changed_, &lock_, wait, 0);
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
      while (queue_.empty()) SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
      std::string text = std::move(queue_.front());
      queue_.pop_front();
      writing_ = true;
      write_started_ = GetTickCount64();
      ReleaseSRWLockExclusive(&lock_);
      write(text);
      AcquireSRWLockExclusive(&lock_);
      writing_ = false;
      WakeAllConditionVariable(&changed_);
    }
  }

  // Called with the lock held.
  bool given_up() {
    if (!given_up_ && writing_ && GetTickCount64() - write_started_ >= kWriteLimitMs) {
      given_up_ = true;
      queue_.clear();
    }
    return given_up_;
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
  std::deque<std::string> queue_;
  bool writing_ = false;
  ULONGLONG write_started_ = 0;
  bool given_up_ = false;
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

std::wstring hex_status(DWORD status) {
  std::wstring text = L"0x";
  for (int shift = 28; shift >= 0; shift -= 4) text += L"0123456789ABCDEF"[(status >> shift) & 0xf];
  return text;
}

// What standard error says about the run, or nothing.
std::wstring explain(const relay::Outcome& outcome, const std::wstring& program) {
  switch (outcome.failure) {
    case relay::Failure::kNone:
      break;
    case relay::Failure::kStart:
      return L"ZEBCmdCon: cannot start " + program + L" (" + system_message(outcome.system_error) +
             L")\n";
    default:
      return L"ZEBCmdCon: lost track of " + program + L", which was ended (" +
             system_message(outcome.system_error) + L")\n";
  }
  for (const LoaderFailure& failure : kLoaderFailures) {
    if (outcome.exit_code == failure.status) {
      return L"ZEBCmdCon: ZEBCmd.exe could not start (" + hex_status(failure.status) + L"): " +
             failure.explanation + L"\n";
    }
  }
  return std::wstring();
}

}  // namespace

int run() {
  // No dialog that waits for a click, in this program or in ZEBCmd.exe, which inherits the mode.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);

  const std::wstring program = win32::own_folder() + L"ZEBCmd.exe";
  relay::Launch launch;
  launch.program = program;
  launch.command_line = L"\"" + program + L"\"" + std::wstring(command_tail(GetCommandLineW()));

  // Never freed: a writer stuck on a reader who does not read ends with the process.
  auto* out = new Writer(GetStdHandle(STD_OUTPUT_HANDLE), false);
  auto* err = new Writer(GetStdHandle(STD_ERROR_HANDLE), true);
  relay::Outcome outcome =
      relay::run(launch, [out](const relay::Message& message) { out->push(message.bytes); });
  out->finish();
  err->push(win32::to_utf8(explain(outcome, program)));
  err->finish();
  return outcome.failure == relay::Failure::kNone ? static_cast<int>(outcome.exit_code)
                                                  : kCannotRunStatus;
}

}  // namespace zebcmd::companion
