// How long a debug channel that is not read may hold the tool up: on POSIX standard error in a
// whole run, in the companion each write to its standard output. Tests read "= VALUE;".
#ifndef ZEBCMD_CHANNEL_BOUND_H
#define ZEBCMD_CHANNEL_BOUND_H

#include <cstdint>

namespace zebcmd {

constexpr std::uint64_t kChannelBoundMs = 250;

}  // namespace zebcmd

#endif
