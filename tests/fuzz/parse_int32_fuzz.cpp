// parse_int32 against strtoll with a range check: both read leading white space, an optional
// sign and decimal digits; no digit, or a value outside 32 bits, reads 0.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "check.h"
#include "ping.h"

namespace {

std::int32_t reference_parse(const std::string& text) {
  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(start, &end, 10);
  if (end == start || errno == ERANGE || value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    return 0;
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::int32_t parsed = zebcmd::parse_int32(text);
  // strtoll stops at a NUL, where parse_int32 stops too: it is not a digit.
  FUZZ_CHECK(parsed == reference_parse(text));
  return 0;
}
