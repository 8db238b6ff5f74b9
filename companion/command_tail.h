#ifndef ZEBCMD_COMMAND_TAIL_H
#define ZEBCMD_COMMAND_TAIL_H

#include <string_view>

namespace zebcmd {

// What follows the program-path token of a Windows command line, split off by the rules
// CommandLineToArgvW applies to that first token: a quoted token ends at the next quote (no
// escapes), which is dropped; an unquoted one ends before the first space or tab. The rest
// comes back untouched, leading blanks included, so it splits as it would have.
std::wstring_view command_tail(std::wstring_view command_line);

}  // namespace zebcmd

#endif
