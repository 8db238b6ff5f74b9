// The dump-file reader on arbitrary bytes. The format is canonical, so whatever decodes
// re-encodes to the same bytes; whatever is refused leaves the records alone. With bit 0 of
// the first byte set the rest gets a correct checksum, so that the fuzzer reaches the record
// checks behind it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "check.h"
#include "dumpfile.h"
#include "status.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return -1;
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  if ((data[0] & 1) != 0 && bytes.size() >= 8) {
    const std::uint64_t sum =
        zeb::dumpfile::fnv1a64(std::string_view(bytes).substr(0, bytes.size() - 8));
    for (int i = 0; i < 8; ++i)
      bytes[bytes.size() - 8 + i] = static_cast<char>(sum >> (56 - 8 * i));
  }
  zeb::dumpfile::Records records{"untouched"};
  const std::int32_t result = zeb::dumpfile::decode(bytes, &records);
  FUZZ_CHECK(result == zeb::status::kOk || result == zeb::status::kInvalidDump);
  if (result != zeb::status::kOk) {
    FUZZ_CHECK(records == zeb::dumpfile::Records{"untouched"});
    return 0;
  }
  FUZZ_CHECK(bytes.size() <= zeb::dumpfile::kMaxFileSize);
  FUZZ_CHECK(zeb::dumpfile::encode(records) == bytes);
  return 0;
}
