#include "ping.h"

#include <limits>

#include "narrow.h"
#include "zebcli_call.h"

namespace zebcmd {
namespace {

constexpr int kProbeBufferSize = 128;

bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// A negative interval means no pause: handed to the sleep as an unsigned count it would
// wait for weeks or forever.
std::uint32_t pause_length(std::int32_t try_interval) {
  return try_interval < 0 ? 0 : static_cast<std::uint32_t>(try_interval);
}

}  // namespace

std::int32_t parse_int32(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size() || !is_digit(text[i])) return 0;
  // Accumulate the magnitude in 64 bits, stopping as soon as it cannot fit.
  const std::int64_t limit =
      negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
               : std::numeric_limits<std::int32_t>::max();
  std::int64_t magnitude = 0;
  for (; i < text.size() && is_digit(text[i]); ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > limit) return 0;
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

int ping_server(const std::string& max_try_text, const std::string& try_interval_text) {
  // Unsigned so that MaxTry 0 or below wraps round instead of overflowing: it keeps trying.
  std::uint32_t tries_left = static_cast<std::uint32_t>(parse_int32(max_try_text));
  const std::uint32_t pause_ms = pause_length(parse_int32(try_interval_text));
  char server_version[kProbeBufferSize];
  char protocol_version[kProbeBufferSize];
  for (;;) {
    if (zebcli::get_versions(server_version, kProbeBufferSize, protocol_version,
                             kProbeBufferSize) == 0) {
      return 1;
    }
    if (--tries_left == 0) return 0;
    platform::debug_message("Ping failure\n");
    platform::pause(pause_ms);
  }
}

int run_ping(const ArgumentVector& arguments) {
  const ArgumentNarrower narrower;
  const int answered = ping_server(narrower.narrow(arguments[2]), narrower.narrow(arguments[3]));
  platform::debug_message(answered == 1 ? "Ping command successful\n" : "Ping command failed\n");
  return answered;
}

}  // namespace zebcmd
