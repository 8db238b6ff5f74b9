#include <gtest/gtest.h>

#include <string>

#include "command_tail.h"

namespace zebcmd {
namespace {

struct TailCase {
  std::wstring line;
  std::wstring tail;
};

class CommandTailTest : public ::testing::TestWithParam<TailCase> {};

TEST_P(CommandTailTest, DropsOnlyTheProgramToken) {
  EXPECT_EQ(std::wstring(command_tail(GetParam().line)), GetParam().tail);
}

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
        TailCase{L"", L""}, TailCase{L"ZEBCmdCon.exe\n-stop", L""}));

}  // namespace
}  // namespace zebcmd
