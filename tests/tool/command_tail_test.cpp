#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "command_tail.h"
#include "explanation.h"
#include "write_queue.h"

namespace zebcmd {
namespace {

using namespace companion;

struct TailCase {
  std::wstring line;
  std::wstring tail;  // what ZEBCmd.exe gets
  Action action = Action::kRun;
  std::uint32_t time_limit_s = 0;
};

class CommandTailTest : public ::testing::TestWithParam<TailCase> {};

TEST_P(CommandTailTest, DropsOnlyTheProgramTokenAndLeadingSwitches) {
  const Options options = parse_options(command_tail(GetParam().line));
  EXPECT_EQ(std::wstring(options.tail), GetParam().tail);
  EXPECT_EQ(options.action, GetParam().action);
  EXPECT_EQ(options.time_limit_s, GetParam().time_limit_s);
}

constexpr Action kRun = Action::kRun, kBad = Action::kBadSwitch;
INSTANTIATE_TEST_SUITE_P(
    Lines, CommandTailTest,
    ::testing::Values(
        TailCase{L"\"C:\\Program Files\\ZEB\\ZEBCmdCon.exe\" -ping 1 0", L" -ping 1 0"},
        TailCase{L"C:\\ZEB\\ZEBCmdCon.exe  -dump \"a b\"", L"  -dump \"a b\""},
        TailCase{L"ZEBCmdCon.exe\t-stop", L"\t-stop"},
        // No blank needed after the closing quote, and no escape inside the quotes.
        TailCase{L"\"C:\\ZEB\\ZEBCmdCon.exe\"-stop", L"-stop"},
        TailCase{L"\"C:\\ZEB\\\"-stop x", L"-stop x"}, TailCase{L"\"\" -stop", L" -stop"},
        // Quotes do not hold an unquoted token together.
        TailCase{L"C:\\Z\"E B\"\\ZEBCmdCon.exe -stop", L" B\"\\ZEBCmdCon.exe -stop"},
        // An unterminated quote makes the whole line the program.
        TailCase{L"\"C:\\ZEB\\ZEBCmdCon.exe -stop", L""}, TailCase{L"ZEBCmdCon.exe", L""},
        TailCase{L"", L""}, TailCase{L"ZEBCmdCon.exe\n-stop", L""},
        // The companion's switches come before the command word, in any case.
        TailCase{L"Z /timeout:30  -dump \"a b\"", L"  -dump \"a b\"", kRun, 30},
        TailCase{L"Z\t/TIMEOUT:1\t-stop", L"\t-stop", kRun, 1},
        TailCase{L"Z /Timeout:86400 /timeout:007", L"", kRun, 7},
        TailCase{L"Z -dump /timeout:5", L" -dump /timeout:5"},
        TailCase{L"Z /x -stop", L" /x -stop"}, TailCase{L"Z /timezone -stop", L" /timezone -stop"},
        TailCase{L"Z \"/timeout:5\" /x", L" \"/timeout:5\" /x"},
        TailCase{L"Z /? -stop", L"", Action::kUsage}, TailCase{L"Z /timeout:0", L"", kBad},
        TailCase{L"Z /timeout:86401", L"", kBad}, TailCase{L"Z /timeout:4294967297", L"", kBad},
        TailCase{L"Z /timeout /?", L"", kBad}, TailCase{L"Z /timeouts:5", L"", kBad}));

// Each way a run can end, as standard error tells it: how the line starts, if there is one.
class ExplanationTest : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(ExplanationTest, StartsAndEndsTheLine) {
  const auto& [text, start] = GetParam();
  EXPECT_EQ(text.substr(0, start.size()), start);
  EXPECT_EQ(text.empty() || text.back() == '\n', !text.empty() || start.empty());
}

const std::string kStart = "ZEBCmdCon: ZEBCmd.exe could not start (";
const std::string kEnded = "ZEBCmdCon: ZEBCmd.exe ended abnormally (";
INSTANTIATE_TEST_SUITE_P(
    Ends, ExplanationTest,
    ::testing::Values(
        std::pair(status_explanation(1, 32), ""), std::pair(status_explanation(0xBFFFFFFF, 32), ""),
        std::pair(status_explanation(0xC0000142, 64), kStart + "0xC0000142): ZEBCli.dll, or a DLL"),
        std::pair(status_explanation(0xC00000FD, 64), kEnded + "0xC00000FD, stack overflow): no"),
        std::pair(status_explanation(0xC0000000, 32), kEnded + "0xC0000000, exception): no"),
        std::pair(status_explanation(0xFFFFFFFF, 32), kEnded + "0xFFFFFFFF, exception): no"),
        std::pair(too_long_explanation(32766), ""),
        std::pair(too_long_explanation(32767),
                  "ZEBCmdCon: the command line would be 32768 characters")));

// When each text is pushed (the first one's write starts at 0 and goes on), the sizes pushed,
// which were queued, and whether a writer may then finish.
using QueueCase = std::tuple<std::uint64_t, std::vector<std::size_t>, std::vector<bool>, bool>;
class WriteQueueTest : public ::testing::TestWithParam<QueueCase> {};

TEST_P(WriteQueueTest, DropsWholeTextsPastTheCapOrOnceGivenUp) {
  const auto& [now_ms, sizes, expected, done] = GetParam();
  WriteQueue queue;
  std::vector<bool> queued;
  for (std::size_t size : sizes) {
    queued.push_back(queue.push(std::string(size, 'x'), now_ms));
    if (queued.size() == 1) queue.start_write(0);
  }
  EXPECT_EQ(queued, expected);
  EXPECT_EQ(queue.done(now_ms), done);
}

// The text being written no longer counts against the cap.
constexpr std::size_t kCap = WriteQueue::kCapBytes;
const QueueCase kQueueCases[] = {
    {0, {1, kCap, 1}, {true, true, false}, false},
    {0, {1, kCap + 1, kCap - 10, 11, 10}, {true, false, true, false, true}, false},
    {kChannelBoundMs - 1, {1, 1}, {true, true}, false},
    {kChannelBoundMs, {1, 1}, {true, false}, true}};
INSTANTIATE_TEST_SUITE_P(Pushes, WriteQueueTest, ::testing::ValuesIn(kQueueCases));

}  // namespace
}  // namespace zebcmd
