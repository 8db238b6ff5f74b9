#ifndef ZEBCMD_NARROW_H
#define ZEBCMD_NARROW_H

#include <string>
#include <string_view>

namespace zebcmd {

// Converts a command argument to the 8-bit text that the client library and the number
// parser take: one byte per UTF-16 code unit, 0x00-0xFF kept as the byte of that value,
// every other unit a space. The mapping is written out rather than taken from the classic
// locale's ctype<wchar_t> facet, which on some standard libraries turns 0x80-0xFF into the
// default character instead.
class ArgumentNarrower {
 public:
  std::string narrow(std::u16string_view wide) const;
};

}  // namespace zebcmd

#endif
