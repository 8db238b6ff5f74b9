// Dump-file format of the stand-in server's data: a canonical byte image of an ordered set of
// records, so that dumping the same data twice gives identical files.
#ifndef ZEB_STANDIN_DUMPFILE_H
#define ZEB_STANDIN_DUMPFILE_H

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace zeb::dumpfile {

using Records = std::set<std::string>;

constexpr std::string_view kMagic{"ZEBDUMP\0", 8};
constexpr std::uint32_t kFormatVersion = 1;
constexpr std::size_t kMaxFileSize = 16u << 20;

std::string encode(const Records& records);
// status::kOk, or status::kInvalidDump for anything that is not exactly what encode produces
// (within the size bound); *records is only written on success.
std::int32_t decode(std::string_view bytes, Records* records);

// FNV-1a, 64 bits: the dump checksum.
std::uint64_t fnv1a64(std::string_view bytes);

}  // namespace zeb::dumpfile

#endif
