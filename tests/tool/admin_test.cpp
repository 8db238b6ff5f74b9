#include <climits>

#include "admin.h"
#include "fake_test.h"

namespace zebcmd {
namespace {

using fake::admin_call;
using ::testing::ElementsAre;

struct OutcomeCase {
  const char* name;
  int (*handler)(const ArgumentVector&);
  int outcome;
  std::string call;
  const char* message;
};

using AdminOutcomeTest = fake::FakeTest<OutcomeCase>;

TEST_P(AdminOutcomeTest, OneCallOneMessageStatusZero) {
  const OutcomeCase& c = GetParam();
  fake::admin_outcome = c.outcome;
  EXPECT_EQ(c.handler(ArgumentVector{u"ZEBCmd", u"-cmd", u"f"}), 0);
  EXPECT_THAT(fake::events, ElementsAre(c.call, std::string("message|") + c.message));
}

const OutcomeCase kOutcomes[] = {
    {"ResetSucceeds", run_reset, 0, admin_call("ZEBC_Adm_Restart"), "Reset command successful\n"},
    {"StopSucceeds", run_stop, 0, admin_call("ZEBC_Adm_Close"), "Stop command successful\n"},
    {"DumpSucceeds", run_dump, 0, admin_call("ZEBC_Adm_Dump", "f"), "Dump command successful\n"},
    {"ReloadSucceeds", run_reload, 0, admin_call("ZEBC_Adm_Reload", "f"),
     "Reload command successful\n"},
    {"DumpNegativeCode", run_dump, -5, admin_call("ZEBC_Adm_Dump", "f"),
     "Dump command failed (Error: -5)\n"},
    {"StopPositiveCode", run_stop, 12, admin_call("ZEBC_Adm_Close"),
     "Stop command failed (Error: 12)\n"},
    {"ResetLowestCode", run_reset, INT_MIN, admin_call("ZEBC_Adm_Restart"),
     "Reset command failed (Error: -2147483648)\n"},
    {"ReloadHighestCode", run_reload, INT_MAX, admin_call("ZEBC_Adm_Reload", "f"),
     "Reload command failed (Error: 2147483647)\n"},
};
INSTANTIATE_TEST_SUITE_P(Outcomes, AdminOutcomeTest, ::testing::ValuesIn(kOutcomes), fake::by_name);

struct FileCase {
  const char* name;
  std::u16string file;
  std::string passed;
};

using AdminFileTest = fake::FakeTest<FileCase>;

TEST_P(AdminFileTest, DumpAndReloadPassTheNarrowedName) {
  const FileCase& c = GetParam();
  run_dump(ArgumentVector{u"ZEBCmd", u"-dump", c.file});
  run_reload(ArgumentVector{u"ZEBCmd", u"-reload", c.file});
  EXPECT_THAT(
      fake::events,
      ElementsAre(admin_call("ZEBC_Adm_Dump", c.passed), "message|Dump command successful\n",
                  admin_call("ZEBC_Adm_Reload", c.passed), "message|Reload command successful\n"));
}

const FileCase kFiles[] = {{"Ascii", u"C:\\backup\\data.bin", "C:\\backup\\data.bin"},
                           {"Latin1", u"/tmp/caf\u00e9.bin", "/tmp/caf\xe9.bin"},
                           {"Cjk", u"\\\u6587\u4ef6\\", "\\  \\"},
                           {"OutsideBmp", u"a\U0001F600b", "a  b"},
                           {"Empty", u"", ""}};
INSTANTIATE_TEST_SUITE_P(Names, AdminFileTest, ::testing::ValuesIn(kFiles), fake::by_name);

}  // namespace
}  // namespace zebcmd
