#ifndef ZEBCMD_PING_H
#define ZEBCMD_PING_H

#include <cstdint>
#include <string>
#include <string_view>

#include "platform.h"

namespace zebcmd {

// Reads a decimal integer the way formatted extraction does: leading white space, an
// optional sign, digits up to the first non-digit. No digit, or a value outside 32 bits,
// gives 0.
std::int32_t parse_int32(std::string_view text);

// Parses MaxTry and TryInterval and probes the server until it answers or the tries run out.
// Returns 1 when the server answered, else 0.
int ping_server(const std::string& max_try_text, const std::string& try_interval_text);

// Handler of "-ping MaxTry TryInterval": reports the outcome and returns it as exit status.
int run_ping(const ArgumentVector& arguments);

}  // namespace zebcmd

#endif
