#ifndef ZEBCMD_COMMAND_TAIL_H
#define ZEBCMD_COMMAND_TAIL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zebcmd {

// What follows the program-path token of a Windows command line, split off by the rules
// CommandLineToArgvW applies to that first token: a quoted token ends at the next quote (no
// escapes), which is dropped; an unquoted one ends before the first space or tab. The rest
// comes back untouched, leading blanks included, so it splits as it would have.
std::wstring_view command_tail(std::wstring_view command_line);

namespace companion {

// ZEBCmdCon's own usage text, for standard output on /?; after a bad /timeout, standard error
// gets the line kBadTimeLimit and then the usage text.
extern const char kUsage[];
extern const char kBadTimeLimit[];

enum class Action {
  kRun,        // run ZEBCmd.exe with the rest of the tail
  kUsage,      // /?: show the usage text, start nothing
  kBadSwitch,  // /timeout: without a usable number: say so, start nothing
};

struct Options {
  Action action = Action::kRun;
  std::uint32_t time_limit_s = 0;  // 0: no limit
  // What ZEBCmd.exe gets: the tail from the blank after the last switch, untouched.
  std::wstring_view tail;
};

// The companion's own switches, recognised in any case only as the first words of the tail,
// before the command word; a later word that starts with / is ZEBCmd.exe's.
Options parse_options(std::wstring_view tail);

// ZEBCmd.exe's command line: its path in quotes, then the tail as it is.
std::wstring command_line(std::wstring_view program, std::wstring_view tail);

// Windows' longest command line, its terminating NUL included.
constexpr std::size_t kCommandLineLimit = 32767;

// The line standard error gets when a command line of this many characters (without its NUL)
// cannot be passed on whole; empty when it can.
std::string too_long_explanation(std::size_t line_size);

}  // namespace companion
}  // namespace zebcmd

#endif
