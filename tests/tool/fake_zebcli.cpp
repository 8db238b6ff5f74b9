#include <string>

#include "fakes.h"
#include "zebcli/zebcli.h"

namespace fake {

std::vector<std::string> events;
int admin_outcome = 0;
long versions_failures = 0;

void reset() {
  events.clear();
  admin_outcome = 0;
  versions_failures = 0;
}

namespace {

int record_admin(const char* call, const char* user, const char* password, const char* file) {
  std::string event = std::string(call) + "|" + user + "|" + password;
  if (file != nullptr) event += std::string("|") + file;
  events.push_back(event);
  return admin_outcome;
}

}  // namespace
}  // namespace fake

extern "C" {

int ZEBC_Init(void) {
  fake::events.push_back("ZEBC_Init");
  return 0;
}

int ZEBC_Close(void) {
  fake::events.push_back("ZEBC_Close");
  return 0;
}

int ZEBC_GetVersions(char* buf1, int size1, char* buf2, int size2) {
  const bool distinct_buffers = buf1 != nullptr && buf2 != nullptr && buf1 != buf2;
  fake::events.push_back("ZEBC_GetVersions|" + std::to_string(size1) + "|" + std::to_string(size2) +
                         (distinct_buffers ? "" : "|bad buffers"));
  if (fake::versions_failures == 0) return 0;
  if (fake::versions_failures > 0) --fake::versions_failures;
  return -3;
}

int ZEBC_Adm_Close(const char* user, const char* password) {
  return fake::record_admin("ZEBC_Adm_Close", user, password, nullptr);
}

int ZEBC_Adm_Restart(const char* user, const char* password) {
  return fake::record_admin("ZEBC_Adm_Restart", user, password, nullptr);
}

int ZEBC_Adm_Dump(const char* user, const char* password, const char* file) {
  return fake::record_admin("ZEBC_Adm_Dump", user, password, file);
}

int ZEBC_Adm_Reload(const char* user, const char* password, const char* file) {
  return fake::record_admin("ZEBC_Adm_Reload", user, password, file);
}
}
