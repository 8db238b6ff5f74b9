#include <gtest/gtest.h>

#include "narrow.h"
#include "utf8.h"

namespace zebcmd {
namespace {

struct NarrowCase {
  std::u16string wide;
  std::string narrow;
};

class NarrowTest : public ::testing::TestWithParam<NarrowCase> {};

TEST_P(NarrowTest, OneByteForEachCodeUnit) {
  const std::string result = ArgumentNarrower().narrow(GetParam().wide);
  EXPECT_EQ(result, GetParam().narrow);
  EXPECT_EQ(result.size(), GetParam().wide.size());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NarrowTest,
    ::testing::Values(NarrowCase{u"", ""}, NarrowCase{u"C:\\data.bin", "C:\\data.bin"},
                      NarrowCase{u"caf\u00e9", "caf\xe9"}, NarrowCase{u"\u0080\u00ff", "\x80\xff"},
                      NarrowCase{u"\u0100\uffff", "  "}, NarrowCase{u"\\\u6587\u4ef6\\", "\\  \\"},
                      NarrowCase{u"\U0001F600", "  "},
                      NarrowCase{std::u16string(u"a\0b", 3), std::string("a\0b", 3)}));

TEST(NarrowTest, EveryLatin1UnitKeepsItsValue) {
  std::u16string wide;
  std::string expected;
  for (int unit = 1; unit <= 0xFF; ++unit) {
    wide.push_back(static_cast<char16_t>(unit));
    expected.push_back(static_cast<char>(unit));
  }
  EXPECT_EQ(ArgumentNarrower().narrow(wide), expected);
}

struct Utf8Case {
  const char* name;
  std::string utf8;
  std::u16string utf16;
};

class Utf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Test, DecodesOrReplaces) {
  EXPECT_EQ(decode_utf8(GetParam().utf8), GetParam().utf16);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8Test,
    ::testing::Values(Utf8Case{"Ascii", "-dump", u"-dump"}, Utf8Case{"Empty", "", u""},
                      Utf8Case{"TwoBytes", "caf\xc3\xa9", u"caf\u00e9"},
                      Utf8Case{"ThreeBytes", "\xe2\x82\xac", u"\u20ac"},
                      Utf8Case{"FourBytesBecomePair", "\xf0\x9f\x98\x80", u"\U0001F600"},
                      Utf8Case{"FirstBeyondBmp", "\xf0\x90\x80\x80", u"\U00010000"},
                      Utf8Case{"HighestCodePoint", "\xf4\x8f\xbf\xbf", u"\U0010FFFF"},
                      Utf8Case{"LoneContinuation", "a\x80z", u"a\ufffdz"},
                      Utf8Case{"TruncatedAtEnd", "ab\xe2\x82", u"ab\ufffd"},
                      Utf8Case{"InterruptedByAscii", "\xc3(", u"\ufffd("},
                      Utf8Case{"OverlongSlash", "\xc0\xaf", u"\ufffd\ufffd"},
                      Utf8Case{"OverlongThreeBytes", "\xe0\x80\xaf", u"\ufffd\ufffd\ufffd"},
                      Utf8Case{"EncodedSurrogate", "\xed\xa0\x80", u"\ufffd\ufffd\ufffd"},
                      Utf8Case{"BeyondUnicode", "\xf4\x90\x80\x80", u"\ufffd\ufffd\ufffd\ufffd"},
                      Utf8Case{"InvalidLeads", "\xf5\xff", u"\ufffd\ufffd"},
                      Utf8Case{"Latin1Byte", "caf\xe9.bin", u"caf\ufffd.bin"}),
    [](const ::testing::TestParamInfo<Utf8Case>& info) { return info.param.name; });

}  // namespace
}  // namespace zebcmd
