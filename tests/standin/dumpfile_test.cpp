#include "dumpfile.h"

#include <gtest/gtest.h>

#include <string>

#include "bytes.h"
#include "status.h"

namespace zeb::dumpfile {
namespace {

using test::u32_bytes;

std::string with_checksum(const std::string& body) {
  std::uint64_t sum = fnv1a64(body);
  return body + u32_bytes(static_cast<std::uint32_t>(sum >> 32)) +
         u32_bytes(static_cast<std::uint32_t>(sum));
}

std::string header(std::uint32_t count) {
  return std::string(kMagic) + u32_bytes(1) + u32_bytes(count);
}

Records every_byte_records() {
  Records records;
  for (int byte = 0; byte < 256; ++byte) records.insert(std::string(1 + byte % 3, char(byte)));
  return records;
}

TEST(DumpFormat, KnownChecksums) {
  EXPECT_EQ(fnv1a64(""), 0xcbf29ce484222325ull);
  EXPECT_EQ(fnv1a64("a"), 0xaf63dc4c8601ec8cull);
  EXPECT_EQ(fnv1a64("foobar"), 0x85944171f73967e8ull);
}

TEST(DumpFormat, LayoutIsLengthPrefixedRecordsInOrderThenChecksum) {
  EXPECT_EQ(encode({"b", "a"}), with_checksum(header(2) + u32_bytes(1) + "a" + u32_bytes(1) + "b"));
}

TEST(DumpFormat, RoundTripsToTheSameBytes) {
  const Records sets[] = {{}, {""}, {"one"}, every_byte_records(), {std::string(70000, 'x'), "y"}};
  for (const Records& records : sets) {
    SCOPED_TRACE(records.size());
    std::string bytes = encode(records);
    Records decoded{"stale"};
    ASSERT_EQ(decode(bytes, &decoded), status::kOk);
    EXPECT_EQ(decoded, records);
    EXPECT_EQ(encode(decoded), bytes);
  }
}

TEST(DumpFormat, RefusesEveryTruncation) {
  const std::string bytes = encode({"alpha", "bravo"});
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    Records untouched{"keep"};
    EXPECT_EQ(decode(bytes.substr(0, size), &untouched), status::kInvalidDump) << size;
    EXPECT_EQ(untouched, Records{"keep"});
  }
}

TEST(DumpFormat, RefusesEverySingleByteChange) {
  const std::string bytes = encode({"alpha", "bravo"});
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    for (char flip : {'\x01', '\x80'}) {
      std::string damaged = bytes;
      damaged[at] ^= flip;
      Records records;
      EXPECT_EQ(decode(damaged, &records), status::kInvalidDump) << at;
    }
  }
}

TEST(DumpFormat, RefusesBadStructureEvenWithAMatchingChecksum) {
  const std::string a = u32_bytes(1) + "a";
  const std::string b = u32_bytes(1) + "b";
  const test::NamedBytes cases[] = {
      {"bad marker", with_checksum("ZEBDUMPX" + u32_bytes(1) + u32_bytes(0))},
      {"format version 2", with_checksum(std::string(kMagic) + u32_bytes(2) + u32_bytes(0))},
      {"count too large", with_checksum(header(3) + a + b)},
      {"count too small", with_checksum(header(1) + a + b)},
      {"record length beyond the body", with_checksum(header(1) + u32_bytes(9) + "a")},
      {"records out of order", with_checksum(header(2) + b + a)},
      {"duplicate record", with_checksum(header(2) + a + a)},
      {"beyond the size bound", encode({std::string(kMaxFileSize, 'x')})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Records records;
    EXPECT_EQ(decode(c.bytes, &records), status::kInvalidDump);
  }
}

}  // namespace
}  // namespace zeb::dumpfile
