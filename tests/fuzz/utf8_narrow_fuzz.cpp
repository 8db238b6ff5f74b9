// UTF-8 decoding then narrowing, checked against properties any correct decoder has.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "narrow.h"
#include "utf8.h"

namespace {

std::string encode_utf8(std::u16string_view units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    }
    // A lead byte that tells how many continuation bytes follow, then six bits in each.
    const int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    const unsigned lead[] = {0x00, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(lead[extra] | (c >> (6 * extra)));
    for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6) {
      out += static_cast<char>(0x80 | ((c >> shift) & 0x3F));
    }
  }
  return out;
}

template <typename Text>
std::size_t count_ascii(const Text& text) {
  std::size_t count = 0;
  for (auto unit : text) count += static_cast<std::uint32_t>(unit) < 0x80;
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::u16string decoded = zebcmd::decode_utf8(input);

  // At most one unit per byte; an ASCII byte is never swallowed nor replaced.
  FUZZ_CHECK(decoded.size() <= input.size());
  FUZZ_CHECK(count_ascii(decoded) == count_ascii(input));
  bool replaced = false;
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    const char16_t unit = decoded[i];
    replaced = replaced || unit == 0xFFFD;
    // Surrogates only come as a high-low pair.
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      FUZZ_CHECK(i + 1 < decoded.size() && decoded[i + 1] >= 0xDC00 && decoded[i + 1] <= 0xDFFF);
      ++i;
    } else {
      FUZZ_CHECK(unit < 0xDC00 || unit > 0xDFFF);
    }
  }
  // Whatever was decoded re-encodes to valid UTF-8 that decodes to the same units, and input
  // decoded without a replacement was valid, so it comes back byte for byte.
  const std::string reencoded = encode_utf8(decoded);
  FUZZ_CHECK(zebcmd::decode_utf8(reencoded) == decoded);
  if (!replaced) FUZZ_CHECK(reencoded == input);

  const std::string narrowed = zebcmd::ArgumentNarrower().narrow(decoded);
  FUZZ_CHECK(narrowed.size() == decoded.size());
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    const char expected = decoded[i] <= 0xFF ? static_cast<char>(decoded[i]) : ' ';
    FUZZ_CHECK(narrowed[i] == expected);
  }
  return 0;
}
