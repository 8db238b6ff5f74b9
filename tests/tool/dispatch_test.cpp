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
  int status = 0;
};

using DispatchTest = fake::FakeTest<DispatchCase>;

TEST_P(DispatchTest, WritesExpectedMessagesAndCalls) {
  const DispatchCase& c = GetParam();
  EXPECT_EQ(run(c.arguments), c.status);
  EXPECT_THAT(fake::events, ElementsAreArray(c.events));
}

// The program's own name, then the words given.
template <typename... Words>
ArgumentVector cmd(Words... words) {
  return {u"ZEBCmd", words...};
}

const std::string kDumpCountError = "message|Dump command failed: input param error\n";
const std::string kReloadCountError = "message|Reload command failed: input param error\n";
const std::string kPingCountError = "message|Ping command failed: input param error\n";
const std::string kUnknown = "message|Unknown command\n";
const std::string kDumped = "message|Dump command successful\n";

const DispatchCase kDispatchCases[] = {
    {"UnsplittableLine", std::nullopt, kUsageEvents},
    {"NoCommandWord", cmd(), kUsageEvents},
    {"EmptyVector", ArgumentVector{}, kUsageEvents},
    {"UpperCaseWord", cmd(u"-STOP"), opened({kUnknown})},
    {"EmptyWord", cmd(u""), opened({kUnknown})},
    {"Abbreviation", cmd(u"-st"), opened({kUnknown})},
    {"TrailingSpace", cmd(u"-stop "), opened({kUnknown})},
    {"NoDash", cmd(u"stop"), opened({kUnknown})},
    {"StopIgnoresExtraWords", cmd(u"-stop", u"now", u"please"),
     opened({admin_call("ZEBC_Adm_Close"), "message|Stop command successful\n"})},
    {"ResetIgnoresExtraWords", cmd(u"-reset", u"x"),
     opened({admin_call("ZEBC_Adm_Restart"), "message|Reset command successful\n"})},
    {"DumpAlone", cmd(u"-dump"), opened({kDumpCountError})},
    {"DumpTwoFiles", cmd(u"-dump", u"a", u"b"), opened({kDumpCountError})},
    {"ReloadAlone", cmd(u"-reload"), opened({kReloadCountError})},
    {"ReloadTwoFiles", cmd(u"-reload", u"a", u"b"), opened({kReloadCountError})},
    {"PingOneNumber", cmd(u"-ping", u"1"), opened({kPingCountError})},
    {"PingThreeNumbers", cmd(u"-ping", u"1", u"2", u"3"), opened({kPingCountError})},
    {"DumpEmptyFile", cmd(u"-dump", u""), opened({admin_call("ZEBC_Adm_Dump", ""), kDumped})},
    {"DumpFileWithSpaces", cmd(u"-dump", u"C:\\My Backups\\data.bin"),
     opened({admin_call("ZEBC_Adm_Dump", "C:\\My Backups\\data.bin"), kDumped})},
    {"PingAnswered", cmd(u"-ping", u"1", u"0"),
     opened({"ZEBC_GetVersions|128|128", "message|Ping command successful\n"}), 1},
};
INSTANTIATE_TEST_SUITE_P(Paths, DispatchTest, ::testing::ValuesIn(kDispatchCases), fake::by_name);

}  // namespace
}  // namespace zebcmd
