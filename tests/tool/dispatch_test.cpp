#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dispatch.h"
#include "fake_test.h"

namespace zebcmd {
namespace {

using fake::admin_call;
using ::testing::ElementsAreArray;

const std::vector<std::string> kUsageEvents = {
    "message|Usage: ZEBCmd [-stop] [-reset] [-dump (file)] [-reload (file)] [-ping (MaxTry) "
    "(TryInterval)]...\n\n",
    "message|        -stop : stop ZEB server\n",
    "message|        -reset : reset ZEB server in its initial state\n",
    "message|        -dump : dump server data to (file)\n",
    "message|        -reload : reload (file) in server data\n",
    "message|        -ping : try to talk to the server for (MaxTry) times\n",
    "message|\t\t\t\tWait (TryInterval) ms  on error\n",
    "message|\t\t\t\tReturn 1 at first server response and else 0\n",
    "message|\n\n",
};

std::vector<std::string> opened(std::vector<std::string> inner) {
  inner.insert(inner.begin(), "ZEBC_Init");
  inner.push_back("ZEBC_Close");
  return inner;
}

struct DispatchCase {
  const char* name;
  std::optional<ArgumentVector> arguments;
  std::vector<std::string> events;
  int status;
};

using DispatchTest = fake::FakeTest<DispatchCase>;

TEST_P(DispatchTest, WritesExpectedMessagesAndCalls) {
  const DispatchCase& c = GetParam();
  EXPECT_EQ(run(c.arguments), c.status);
  EXPECT_THAT(fake::events, ElementsAreArray(c.events));
}

const std::string kDumpCountError = "message|Dump command failed: input param error\n";
const std::string kReloadCountError = "message|Reload command failed: input param error\n";
const std::string kPingCountError = "message|Ping command failed: input param error\n";
const std::string kUnknown = "message|Unknown command\n";

INSTANTIATE_TEST_SUITE_P(
    Paths, DispatchTest,
    ::testing::Values(
        DispatchCase{"UnsplittableLine", std::nullopt, kUsageEvents, 0},
        DispatchCase{"NoCommandWord", ArgumentVector{u"ZEBCmd"}, kUsageEvents, 0},
        DispatchCase{"EmptyVector", ArgumentVector{}, kUsageEvents, 0},
        DispatchCase{"UpperCaseWord", ArgumentVector{u"ZEBCmd", u"-STOP"}, opened({kUnknown}), 0},
        DispatchCase{"EmptyWord", ArgumentVector{u"ZEBCmd", u""}, opened({kUnknown}), 0},
        DispatchCase{"Abbreviation", ArgumentVector{u"ZEBCmd", u"-st"}, opened({kUnknown}), 0},
        DispatchCase{"TrailingSpace", ArgumentVector{u"ZEBCmd", u"-stop "}, opened({kUnknown}), 0},
        DispatchCase{"NoDash", ArgumentVector{u"ZEBCmd", u"stop"}, opened({kUnknown}), 0},
        DispatchCase{
            "StopIgnoresExtraWords", ArgumentVector{u"ZEBCmd", u"-stop", u"now", u"please"},
            opened({admin_call("ZEBC_Adm_Close"), "message|Stop command successful\n"}), 0},
        DispatchCase{"ResetIgnoresExtraWords", ArgumentVector{u"ZEBCmd", u"-reset", u"x"},
                     opened({admin_call("ZEBC_Adm_Restart"), "message|Reset command successful\n"}),
                     0},
        DispatchCase{"DumpAlone", ArgumentVector{u"ZEBCmd", u"-dump"}, opened({kDumpCountError}),
                     0},
        DispatchCase{"DumpTwoFiles", ArgumentVector{u"ZEBCmd", u"-dump", u"a", u"b"},
                     opened({kDumpCountError}), 0},
        DispatchCase{"ReloadAlone", ArgumentVector{u"ZEBCmd", u"-reload"},
                     opened({kReloadCountError}), 0},
        DispatchCase{"ReloadTwoFiles", ArgumentVector{u"ZEBCmd", u"-reload", u"a", u"b"},
                     opened({kReloadCountError}), 0},
        DispatchCase{"PingOneNumber", ArgumentVector{u"ZEBCmd", u"-ping", u"1"},
                     opened({kPingCountError}), 0},
        DispatchCase{"PingThreeNumbers", ArgumentVector{u"ZEBCmd", u"-ping", u"1", u"2", u"3"},
                     opened({kPingCountError}), 0},
        DispatchCase{"DumpEmptyFile", ArgumentVector{u"ZEBCmd", u"-dump", u""},
                     opened({admin_call("ZEBC_Adm_Dump", ""), "message|Dump command successful\n"}),
                     0},
        DispatchCase{"DumpFileWithSpaces",
                     ArgumentVector{u"ZEBCmd", u"-dump", u"C:\\My Backups\\data.bin"},
                     opened({admin_call("ZEBC_Adm_Dump", "C:\\My Backups\\data.bin"),
                             "message|Dump command successful\n"}),
                     0},
        DispatchCase{"PingAnswered", ArgumentVector{u"ZEBCmd", u"-ping", u"1", u"0"},
                     opened({"ZEBC_GetVersions|128|128", "message|Ping command successful\n"}), 1}),
    [](const ::testing::TestParamInfo<DispatchCase>& info) { return info.param.name; });

}  // namespace
}  // namespace zebcmd
