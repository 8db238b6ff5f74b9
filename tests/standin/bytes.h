// The wire format's and the dump's byte forms, for building input by hand.
#ifndef ZEBCMD_TESTS_BYTES_H
#define ZEBCMD_TESTS_BYTES_H

#include <cstdint>
#include <string>

namespace zeb::test {

// Big-endian, as every number on the wire and in a dump.
inline std::string u32_bytes(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
          static_cast<char>(value >> 8), static_cast<char>(value)};
}

inline std::string text_bytes(const std::string& text) {
  return u32_bytes(static_cast<std::uint32_t>(text.size())) + text;
}

// A row of the tables of malformed input: what is wrong with it, and its bytes.
struct NamedBytes {
  const char* name;
  std::string bytes;
};

inline std::string make_frame(const std::string& payload) {
  return u32_bytes(static_cast<std::uint32_t>(payload.size())) + payload;
}

}  // namespace zeb::test

#endif
