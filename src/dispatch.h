#ifndef ZEBCMD_DISPATCH_H
#define ZEBCMD_DISPATCH_H

#include <optional>

#include "platform.h"

namespace zebcmd {

// One run of the tool: selects the command by its word, checks the argument count, runs the
// handler between ZEBC_Init and ZEBC_Close and returns the exit status. Without a command line
// or a command word it writes the usage text and leaves the library closed.
int run(const std::optional<ArgumentVector>& arguments);

// Writes the usage text, one message per line group.
void write_usage();

}  // namespace zebcmd

#endif
