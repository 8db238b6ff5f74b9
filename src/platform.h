#ifndef ZEBCMD_PLATFORM_H
#define ZEBCMD_PLATFORM_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zebcmd {

// Program path first, then the command word and its arguments, as UTF-16 texts.
using ArgumentVector = std::vector<std::u16string>;

namespace platform {

// The process's argument vector, or nothing when the command line cannot be split.
// POSIX decodes argc/argv from UTF-8; Windows ignores them and splits the full UTF-16
// command line, which the 8-bit arguments of the C runtime cannot represent.
std::optional<ArgumentVector> argument_vector(int argc, char** argv);

// Writes one message to the debug-output channel in a single call, adding nothing.
void debug_message(const std::string& text);

// Pauses the calling thread; 0 only gives up the rest of its time slice.
void pause(std::uint32_t milliseconds);

}  // namespace platform
}  // namespace zebcmd

#endif
