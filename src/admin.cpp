#include "admin.h"

#include <string>

#include "narrow.h"
#include "zebcli/zebcli.h"

namespace zebcmd {
namespace {

constexpr char kUser[] = "admin";
constexpr char kPassword[] = "mot47vek,raz;";

int report(const char* command_name, int outcome) {
  std::string message = command_name;
  if (outcome == 0) {
    message += " command successful\n";
  } else {
    message += " command failed (Error: " + std::to_string(outcome) + ")\n";
  }
  platform::debug_message(message);
  return 0;
}

std::string file_text(const ArgumentVector& arguments) {
  return ArgumentNarrower().narrow(arguments[2]);
}

}  // namespace

int run_stop(const ArgumentVector&) {
  return report("Stop", ZEBC_Adm_Close(kUser, kPassword));
}

int run_reset(const ArgumentVector&) {
  return report("Reset", ZEBC_Adm_Restart(kUser, kPassword));
}

int run_dump(const ArgumentVector& arguments) {
  return report("Dump", ZEBC_Adm_Dump(kUser, kPassword, file_text(arguments).c_str()));
}

int run_reload(const ArgumentVector& arguments) {
  return report("Reload", ZEBC_Adm_Reload(kUser, kPassword, file_text(arguments).c_str()));
}

}  // namespace zebcmd
