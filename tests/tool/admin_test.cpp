#include <climits>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "admin.h"
#include "fakes.h"

namespace zebcmd {
namespace {

using ::testing::ElementsAre;

struct OutcomeCase {
  const char* name;
  int (*handler)(const ArgumentVector&);
  int outcome;
  const char* call;
  const char* message;
};

class AdminOutcomeTest : public ::testing::TestWithParam<OutcomeCase> {
 protected:
  void SetUp() override { fake::reset(); }
};

TEST_P(AdminOutcomeTest, OneCallOneMessageStatusZero) {
  const OutcomeCase& c = GetParam();
  fake::admin_outcome = c.outcome;
  EXPECT_EQ(c.handler(ArgumentVector{u"ZEBCmd", u"-cmd", u"f"}), 0);
  EXPECT_THAT(fake::events, ElementsAre(c.call, std::string("message|") + c.message));
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, AdminOutcomeTest,
    ::testing::Values(
        OutcomeCase{"ResetSucceeds", run_reset, 0, "ZEBC_Adm_Restart|admin|mot47vek,raz;",
                    "Reset command successful\n"},
        OutcomeCase{"StopSucceeds", run_stop, 0, "ZEBC_Adm_Close|admin|mot47vek,raz;",
                    "Stop command successful\n"},
        OutcomeCase{"DumpSucceeds", run_dump, 0, "ZEBC_Adm_Dump|admin|mot47vek,raz;|f",
                    "Dump command successful\n"},
        OutcomeCase{"ReloadSucceeds", run_reload, 0, "ZEBC_Adm_Reload|admin|mot47vek,raz;|f",
                    "Reload command successful\n"},
        OutcomeCase{"DumpNegativeCode", run_dump, -5, "ZEBC_Adm_Dump|admin|mot47vek,raz;|f",
                    "Dump command failed (Error: -5)\n"},
        OutcomeCase{"StopPositiveCode", run_stop, 12, "ZEBC_Adm_Close|admin|mot47vek,raz;",
                    "Stop command failed (Error: 12)\n"},
        OutcomeCase{"ResetLowestCode", run_reset, INT_MIN, "ZEBC_Adm_Restart|admin|mot47vek,raz;",
                    "Reset command failed (Error: -2147483648)\n"},
        OutcomeCase{"ReloadHighestCode", run_reload, INT_MAX,
                    "ZEBC_Adm_Reload|admin|mot47vek,raz;|f",
                    "Reload command failed (Error: 2147483647)\n"}),
    [](const ::testing::TestParamInfo<OutcomeCase>& info) { return info.param.name; });

struct FileCase {
  const char* name;
  std::u16string file;
  std::string passed;
};

class AdminFileTest : public ::testing::TestWithParam<FileCase> {
 protected:
  void SetUp() override { fake::reset(); }
};

TEST_P(AdminFileTest, DumpAndReloadPassTheNarrowedName) {
  const FileCase& c = GetParam();
  run_dump(ArgumentVector{u"ZEBCmd", u"-dump", c.file});
  run_reload(ArgumentVector{u"ZEBCmd", u"-reload", c.file});
  EXPECT_THAT(fake::events, ElementsAre("ZEBC_Adm_Dump|admin|mot47vek,raz;|" + c.passed,
                                        "message|Dump command successful\n",
                                        "ZEBC_Adm_Reload|admin|mot47vek,raz;|" + c.passed,
                                        "message|Reload command successful\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Names, AdminFileTest,
    ::testing::Values(FileCase{"Ascii", u"C:\\backup\\data.bin", "C:\\backup\\data.bin"},
                      FileCase{"Latin1", u"/tmp/caf\u00e9.bin", "/tmp/caf\xe9.bin"},
                      FileCase{"Cjk", u"\\\u6587\u4ef6\\", "\\  \\"},
                      FileCase{"OutsideBmp", u"a\U0001F600b", "a  b"}, FileCase{"Empty", u"", ""}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return info.param.name; });

}  // namespace
}  // namespace zebcmd
