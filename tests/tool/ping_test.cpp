#include <algorithm>
#include <climits>
#include <cstring>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
  const char* max_try;
  const char* try_interval;
  long failures;  // version queries that fail before an answer; negative: never answered
  std::vector<std::string> events;
  int status;
};

using PingTest = fake::FakeTest<PingCase>;

TEST_P(PingTest, TriesPausesAndReports) {
  const PingCase& c = GetParam();
  fake::versions_failures = c.failures;
  const ArgumentVector arguments{
      u"ZEBCmd", u"-ping", std::u16string(c.max_try, c.max_try + strlen(c.max_try)),
      std::u16string(c.try_interval, c.try_interval + strlen(c.try_interval))};
  EXPECT_EQ(run_ping(arguments), c.status);
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

INSTANTIATE_TEST_SUITE_P(
    Loops, PingTest,
    ::testing::Values(
        PingCase{"OneTryServerDown", "1", "500", -1, tries(1, "500", kFailed), 0},
        PingCase{"AnsweredAtOnce", "3", "100", 0, tries(1, "100", kSuccess), 1},
        PingCase{"AnsweredAtSecondTry", "3", "100", 1, tries(2, "100", kSuccess), 1},
        PingCase{"ThreeTriesServerDown", "3", "100", -1, tries(3, "100", kFailed), 0},
        PingCase{"TwoTriesOnePause", "2", "250", -1, tries(2, "250", kFailed), 0},
        PingCase{"AnsweredAtLastTry", "2", "5", 1, tries(2, "5", kSuccess), 1},
        PingCase{"TrailingLetterIgnored", "3x", "+20", -1, tries(3, "20", kFailed), 0},
        PingCase{"ZeroIntervalStillPauses", "2", "-0", -1, tries(2, "0", kFailed), 0},
        PingCase{"NegativeIntervalPausesZero", "2", "-50", -1, tries(2, "0", kFailed), 0},
        PingCase{"OversizedIntervalPausesZero", "2", "2147483648", -1, tries(2, "0", kFailed), 0},
        PingCase{"LargestInterval", "2", "2147483647", -1, tries(2, "2147483647", kFailed), 0},
        PingCase{"ZeroMaxTryKeepsTrying", "0", "1", 3, tries(4, "1", kSuccess), 1},
        PingCase{"UnparsableMaxTryKeepsTrying", "many", "1", 2, tries(3, "1", kSuccess), 1},
        PingCase{"NegativeMaxTryKeepsTrying", "-1", "1", 2, tries(3, "1", kSuccess), 1}),
    [](const ::testing::TestParamInfo<PingCase>& info) { return info.param.name; });

TEST(PingServerTest, ZeroMaxTryOutlastsAnyPositiveCount) {
  fake::reset();
  fake::versions_failures = 1000;
  EXPECT_EQ(ping_server("0", "0"), 1);
  EXPECT_EQ(std::count(fake::events.begin(), fake::events.end(), kTry), 1001);
  EXPECT_EQ(std::count(fake::events.begin(), fake::events.end(), "pause|0"), 1000);
}

}  // namespace
}  // namespace zebcmd
