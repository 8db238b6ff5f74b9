#include "command_tail.h"

#include <algorithm>

namespace zebcmd {

std::wstring_view command_tail(std::wstring_view command_line) {
  if (!command_line.empty() && command_line.front() == L'"') {
    std::size_t closing = command_line.find(L'"', 1);
    return closing == std::wstring_view::npos ? std::wstring_view()
                                              : command_line.substr(closing + 1);
  }
  std::size_t blank = command_line.find_first_of(L" \t");
  return blank == std::wstring_view::npos ? std::wstring_view() : command_line.substr(blank);
}

namespace companion {

const char kUsage[] =
    "Usage: ZEBCmdCon [/timeout:SECONDS] -stop | -reset | -dump FILE | -reload FILE | -ping "
    "MaxTry TryInterval\n"
    "Runs ZEBCmd.exe from this program's folder, shows its messages on standard output and\n"
    "ends with its exit status.\n"
    "  /timeout:SECONDS  end ZEBCmd.exe after SECONDS (1 to 86400) and exit with -2\n"
    "  /?                show this text\n"
    "Exit status: ZEBCmd.exe's own (ping: 1 = the server answered, else 0); -1 = ZEBCmd.exe\n"
    "could not be run; -2 = the time limit passed; other values: see WINDOWS.txt.\n";

const char kBadTimeLimit[] =
    "ZEBCmdCon: /timeout: needs a whole number of seconds from 1 to 86400\n";

namespace {

constexpr std::uint32_t kLongestTimeLimitS = 86400;
constexpr std::wstring_view kTimeLimitSwitch = L"/timeout";

// Whether text starts with prefix, ASCII letters in either case; prefix is in lower case.
bool starts_with_any_case(std::wstring_view text, std::wstring_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    wchar_t c = text[i];
    if ((c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c) != prefix[i]) {
      return false;
    }
  }
  return true;
}

// ":SECONDS" as a number of seconds within the limits; 0 when it is anything else.
std::uint32_t parse_seconds(std::wstring_view value) {
  if (value.size() < 2 || value.front() != L':') return 0;
  std::uint32_t seconds = 0;
  for (wchar_t c : value.substr(1)) {
    if (c < L'0' || c > L'9') return 0;
    seconds = seconds * 10 + static_cast<std::uint32_t>(c - L'0');
    if (seconds > kLongestTimeLimitS) return 0;
  }
  return seconds;
}

}  // namespace

Options parse_options(std::wstring_view tail) {
  Options options;
  for (;;) {
    const std::size_t start = tail.find_first_not_of(L" \t");
    if (start == std::wstring_view::npos || tail[start] != L'/') break;
    const std::size_t end = std::min(tail.find_first_of(L" \t", start), tail.size());
    const std::wstring_view word = tail.substr(start, end - start);
    if (word == L"/?") {
      options.action = Action::kUsage;
      return options;
    }
    if (!starts_with_any_case(word, kTimeLimitSwitch)) break;
    options.time_limit_s = parse_seconds(word.substr(kTimeLimitSwitch.size()));
    if (options.time_limit_s == 0) {
      options.action = Action::kBadSwitch;
      return options;
    }
    tail = tail.substr(end);
  }
  options.tail = tail;
  return options;
}

std::wstring command_line(std::wstring_view program, std::wstring_view tail) {
  std::wstring line;
  line.reserve(program.size() + tail.size() + 2);
  return line.append(1, L'"').append(program).append(1, L'"').append(tail);
}

std::string too_long_explanation(std::size_t line_size) {
  if (line_size < kCommandLineLimit) return std::string();
  return "ZEBCmdCon: the command line would be " + std::to_string(line_size + 1) +
         " characters with ZEBCmd.exe's full path, over Windows' limit of " +
         std::to_string(kCommandLineLimit) + ": use a shorter file name or folder\n";
}

}  // namespace companion
}  // namespace zebcmd
