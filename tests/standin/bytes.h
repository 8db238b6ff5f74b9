// The wire format's and the dump's byte forms, for building input by hand.
#pragma once

#include <cstdint>
#include <string>

namespace zeb::test {

// Big-endian, as every number on the wire and in a dump.
inline std::string U32(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
          static_cast<char>(value >> 8), static_cast<char>(value)};
}

inline std::string Text(const std::string& text) {
  return U32(static_cast<std::uint32_t>(text.size())) + text;
}

inline std::string Frame(const std::string& payload) {
  return U32(static_cast<std::uint32_t>(payload.size())) + payload;
}

}  // namespace zeb::test
