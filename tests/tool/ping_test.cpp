#include <algorithm>
#include <climits>

#include "fake_test.h"
#include "ping.h"

namespace zebcmd {
namespace {

using ::testing::ElementsAreArray;

struct ParseCase {
  const char* text;
  std::int32_t value;
};

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, ReadsLikeFormattedExtraction) {
  EXPECT_EQ(parse_int32(GetParam().text), GetParam().value) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseTest,
    ::testing::Values(ParseCase{"5", 5}, ParseCase{"5x", 5}, ParseCase{"+20", 20},
                      ParseCase{"-0", 0}, ParseCase{"-17", -17}, ParseCase{"007", 7},
                      ParseCase{" \t\n\v\f\r42", 42}, ParseCase{"12 34", 12}, ParseCase{"0x10", 0},
                      ParseCase{"", 0}, ParseCase{"   ", 0}, ParseCase{"abc", 0}, ParseCase{"-", 0},
                      ParseCase{"+-1", 0}, ParseCase{"- 5", 0}, ParseCase{"2147483647", INT_MAX},
                      ParseCase{"2147483648", 0}, ParseCase{"-2147483648", INT_MIN},
                      ParseCase{"-2147483649", 0}, ParseCase{"4294967296", 0},
                      ParseCase{"99999999999999999999999", 0},
                      ParseCase{"000000000000000000002147483647", INT_MAX},
                      ParseCase{"\xa0"
                                "5",
                                0}));

struct PingCase {
  const char* name;
  const char16_t* max_try;
  const char16_t* try_interval;
  long failures;  // version queries that fail before an answer; negative: never answered
  std::vector<std::string> events;
  int status;
};

using PingTest = fake::FakeTest<PingCase>;

TEST_P(PingTest, TriesPausesAndReports) {
  const PingCase& c = GetParam();
  fake::versions_failures = c.failures;
  EXPECT_EQ(run_ping(ArgumentVector{u"ZEBCmd", u"-ping", c.max_try, c.try_interval}), c.status);
  EXPECT_THAT(fake::events, ElementsAreArray(c.events));
}

const std::string kTry = "ZEBC_GetVersions|128|128";
const std::string kFailure = "message|Ping failure\n";
const std::string kSuccess = "message|Ping command successful\n";
const std::string kFailed = "message|Ping command failed\n";

// The log of count tries: each but the last followed by a failure and a pause, the last by
// its outcome.
std::vector<std::string> tries(int count, const std::string& pause, const std::string& last) {
  std::vector<std::string> events;
  for (int i = 1; i < count; ++i) events.insert(events.end(), {kTry, kFailure, "pause|" + pause});
  events.insert(events.end(), {kTry, last});
  return events;
}

const PingCase kPings[] = {
    {"OneTryServerDown", u"1", u"500", -1, tries(1, "500", kFailed), 0},
    {"AnsweredAtOnce", u"3", u"100", 0, tries(1, "100", kSuccess), 1},
    {"AnsweredAtSecondTry", u"3", u"100", 1, tries(2, "100", kSuccess), 1},
    {"ThreeTriesServerDown", u"3", u"100", -1, tries(3, "100", kFailed), 0},
    {"TwoTriesOnePause", u"2", u"250", -1, tries(2, "250", kFailed), 0},
    {"AnsweredAtLastTry", u"2", u"5", 1, tries(2, "5", kSuccess), 1},
    {"TrailingLetterIgnored", u"3x", u"+20", -1, tries(3, "20", kFailed), 0},
    {"ZeroIntervalStillPauses", u"2", u"-0", -1, tries(2, "0", kFailed), 0},
    {"NegativeIntervalPausesZero", u"2", u"-50", -1, tries(2, "0", kFailed), 0},
    {"OversizedIntervalPausesZero", u"2", u"2147483648", -1, tries(2, "0", kFailed), 0},
    {"LargestInterval", u"2", u"2147483647", -1, tries(2, "2147483647", kFailed), 0},
    {"ZeroMaxTryKeepsTrying", u"0", u"1", 3, tries(4, "1", kSuccess), 1},
    {"UnparsableMaxTryKeepsTrying", u"many", u"1", 2, tries(3, "1", kSuccess), 1},
    {"NegativeMaxTryKeepsTrying", u"-1", u"1", 2, tries(3, "1", kSuccess), 1},
};
INSTANTIATE_TEST_SUITE_P(Loops, PingTest, ::testing::ValuesIn(kPings), fake::by_name);

TEST(PingServerTest, ZeroMaxTryOutlastsAnyPositiveCount) {
  fake::reset();
  fake::versions_failures = 1000;
  EXPECT_EQ(ping_server("0", "0"), 1);
  EXPECT_EQ(std::count(fake::events.begin(), fake::events.end(), kTry), 1001);
  EXPECT_EQ(std::count(fake::events.begin(), fake::events.end(), "pause|0"), 1000);
}

}  // namespace
}  // namespace zebcmd
