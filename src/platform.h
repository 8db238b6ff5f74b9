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

// Once, at start, by the POSIX entry: descriptors 0, 1 and 2 open (on the null device where
// they were closed, or on the root folder where that cannot be opened) and SIGPIPE ignored.
// A Windows GUI program has neither to prepare. Tests name a null device that fails.
void prepare_process(const char* null_device = "/dev/null");

}  // namespace platform
}  // namespace zebcmd

#endif
