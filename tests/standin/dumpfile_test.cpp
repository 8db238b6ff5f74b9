#include "dumpfile.h"

#include <gtest/gtest.h>

#include <string>

#include "bytes.h"
#include "status.h"

namespace zeb::dumpfile {
namespace {

using test::U32;

std::string WithChecksum(const std::string& body) {
  std::uint64_t sum = Fnv1a64(body);
  return body + U32(static_cast<std::uint32_t>(sum >> 32)) + U32(static_cast<std::uint32_t>(sum));
}

std::string Header(std::uint32_t count) {
  return std::string(kMagic) + U32(1) + U32(count);
}

Records EveryByteRecords() {
  Records records;
  for (int byte = 0; byte < 256; ++byte) records.insert(std::string(1 + byte % 3, char(byte)));
  return records;
}

TEST(DumpFormat, KnownChecksums) {
  EXPECT_EQ(Fnv1a64(""), 0xcbf29ce484222325ull);
  EXPECT_EQ(Fnv1a64("a"), 0xaf63dc4c8601ec8cull);
  EXPECT_EQ(Fnv1a64("foobar"), 0x85944171f73967e8ull);
}

TEST(DumpFormat, LayoutIsLengthPrefixedRecordsInOrderThenChecksum) {
  EXPECT_EQ(Encode({"b", "a"}), WithChecksum(Header(2) + U32(1) + "a" + U32(1) + "b"));
}

TEST(DumpFormat, RoundTripsToTheSameBytes) {
  const Records sets[] = {{}, {""}, {"one"}, EveryByteRecords(), {std::string(70000, 'x'), "y"}};
  for (const Records& records : sets) {
    SCOPED_TRACE(records.size());
    std::string bytes = Encode(records);
    Records decoded{"stale"};
    ASSERT_EQ(Decode(bytes, &decoded), status::kOk);
    EXPECT_EQ(decoded, records);
    EXPECT_EQ(Encode(decoded), bytes);
  }
}

TEST(DumpFormat, RefusesEveryTruncation) {
  const std::string bytes = Encode({"alpha", "bravo"});
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    Records untouched{"keep"};
    EXPECT_EQ(Decode(bytes.substr(0, size), &untouched), status::kInvalidDump) << size;
    EXPECT_EQ(untouched, Records{"keep"});
  }
}

TEST(DumpFormat, RefusesEverySingleByteChange) {
  const std::string bytes = Encode({"alpha", "bravo"});
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    for (char flip : {'\x01', '\x80'}) {
      std::string damaged = bytes;
      damaged[at] ^= flip;
      Records records;
      EXPECT_EQ(Decode(damaged, &records), status::kInvalidDump) << at;
    }
  }
}

TEST(DumpFormat, RefusesBadStructureEvenWithAMatchingChecksum) {
  const std::string a = U32(1) + "a";
  const std::string b = U32(1) + "b";
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"bad marker", WithChecksum("ZEBDUMPX" + U32(1) + U32(0))},
      {"format version 2", WithChecksum(std::string(kMagic) + U32(2) + U32(0))},
      {"count too large", WithChecksum(Header(3) + a + b)},
      {"count too small", WithChecksum(Header(1) + a + b)},
      {"record length beyond the body", WithChecksum(Header(1) + U32(9) + "a")},
      {"records out of order", WithChecksum(Header(2) + b + a)},
      {"duplicate record", WithChecksum(Header(2) + a + a)},
      {"beyond the size bound", Encode({std::string(kMaxFileSize, 'x')})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Records records;
    EXPECT_EQ(Decode(c.bytes, &records), status::kInvalidDump);
  }
}

}  // namespace
}  // namespace zeb::dumpfile
