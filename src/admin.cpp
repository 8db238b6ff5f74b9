#include "admin.h"

#include <string>

#include "narrow.h"
#include "zebcli_call.h"

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
  return report("Stop", zebcli::adm_close(kUser, kPassword));
}

int run_reset(const ArgumentVector&) {
  return report("Reset", zebcli::adm_restart(kUser, kPassword));
}

int run_dump(const ArgumentVector& arguments) {
  return report("Dump", zebcli::adm_dump(kUser, kPassword, file_text(arguments).c_str()));
}

int run_reload(const ArgumentVector& arguments) {
  return report("Reload", zebcli::adm_reload(kUser, kPassword, file_text(arguments).c_str()));
}

}  // namespace zebcmd
