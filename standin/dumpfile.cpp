#include "dumpfile.h"

#include "status.h"

namespace zeb::dumpfile {
namespace {

constexpr std::size_t kChecksumSize = 8;
constexpr std::size_t kHeadSize = 8 + 4 + 4;

void put_big_endian(std::uint64_t value, int bytes, std::string* out) {
  for (int i = bytes - 1; i >= 0; --i) out->push_back(static_cast<char>(value >> (8 * i)));
}

std::uint64_t get_big_endian(std::string_view bytes, std::size_t at, int count) {
  std::uint64_t value = 0;
  for (int i = 0; i < count; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

}  // namespace

std::uint64_t fnv1a64(std::string_view bytes) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char byte : bytes) {
    hash ^= byte;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

std::string encode(const Records& records) {
  std::string out(kMagic);
  put_big_endian(kFormatVersion, 4, &out);
  put_big_endian(records.size(), 4, &out);
  for (const std::string& record : records) {
    put_big_endian(record.size(), 4, &out);
    out += record;
  }
  put_big_endian(fnv1a64(out), 8, &out);
  return out;
}

std::int32_t decode(std::string_view bytes, Records* records) {
  if (bytes.size() < kHeadSize + kChecksumSize || bytes.size() > kMaxFileSize) {
    return status::kInvalidDump;
  }
  std::string_view body = bytes.substr(0, bytes.size() - kChecksumSize);
  if (body.substr(0, kMagic.size()) != kMagic || get_big_endian(body, 8, 4) != kFormatVersion ||
      get_big_endian(bytes, body.size(), 8) != fnv1a64(body)) {
    return status::kInvalidDump;
  }
  std::uint64_t count = get_big_endian(body, 12, 4);
  Records decoded;
  std::size_t at = kHeadSize;
  const std::string* previous = nullptr;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (body.size() - at < 4) return status::kInvalidDump;
    std::uint64_t size = get_big_endian(body, at, 4);
    at += 4;
    if (body.size() - at < size) return status::kInvalidDump;
    std::string_view record = body.substr(at, size);
    at += size;
    // Strict order keeps the format canonical: no duplicates, one encoding per data set.
    if (previous != nullptr && !(*previous < record)) return status::kInvalidDump;
    previous = &*decoded.emplace_hint(decoded.end(), record);
  }
  if (at != body.size()) return status::kInvalidDump;
  *records = std::move(decoded);
  return status::kOk;
}

}  // namespace zeb::dumpfile
