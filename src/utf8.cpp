#include "utf8.h"

#include <cstdint>

namespace zebcmd {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

struct LeadByte {
  int continuation_count;  // -1: not a valid lead byte
  std::uint32_t initial_bits;
  unsigned char second_min;  // the second byte's range excludes overlongs and surrogates
  unsigned char second_max;
};

LeadByte classify(unsigned char lead) {
  if (lead < 0x80) return {0, lead, 0, 0};
  if (lead >= 0xC2 && lead <= 0xDF) return {1, lead & 0x1Fu, 0x80, 0xBF};
  if (lead == 0xE0) return {2, lead & 0x0Fu, 0xA0, 0xBF};
  if (lead == 0xED) return {2, lead & 0x0Fu, 0x80, 0x9F};
  if (lead >= 0xE1 && lead <= 0xEF) return {2, lead & 0x0Fu, 0x80, 0xBF};
  if (lead == 0xF0) return {3, lead & 0x07u, 0x90, 0xBF};
  if (lead == 0xF4) return {3, lead & 0x07u, 0x80, 0x8F};
  if (lead >= 0xF1 && lead <= 0xF3) return {3, lead & 0x07u, 0x80, 0xBF};
  return {-1, 0, 0, 0};
}

void append_code_point(std::u16string& out, std::uint32_t code_point) {
  if (code_point < 0x10000) {
    out.push_back(static_cast<char16_t>(code_point));
    return;
  }
  code_point -= 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (code_point >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (code_point & 0x3FF)));
}

}  // namespace

std::u16string decode_utf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const LeadByte lead = classify(static_cast<unsigned char>(text[i++]));
    if (lead.continuation_count < 0) {
      out.push_back(kReplacement);
      continue;
    }
    std::uint32_t code_point = lead.initial_bits;
    int taken = 0;
    for (; taken < lead.continuation_count && i < text.size(); ++taken) {
      const auto byte = static_cast<unsigned char>(text[i]);
      const unsigned char min = taken == 0 ? lead.second_min : 0x80;
      const unsigned char max = taken == 0 ? lead.second_max : 0xBF;
      if (byte < min || byte > max) break;
      code_point = (code_point << 6) | (byte & 0x3Fu);
      ++i;
    }
    if (taken == lead.continuation_count) {
      append_code_point(out, code_point);
    } else {
      out.push_back(kReplacement);
    }
  }
  return out;
}

}  // namespace zebcmd
