#include "zebcli_call.h"

#include "zebcli/zebcli.h"

namespace zebcmd::zebcli {

int init() {
  return ZEBC_Init();
}

int close() {
  return ZEBC_Close();
}

int get_versions(char* buf1, int size1, char* buf2, int size2) {
  return ZEBC_GetVersions(buf1, size1, buf2, size2);
}

int adm_close(const char* user, const char* password) {
  return ZEBC_Adm_Close(user, password);
}

int adm_restart(const char* user, const char* password) {
  return ZEBC_Adm_Restart(user, password);
}

int adm_dump(const char* user, const char* password, const char* file) {
  return ZEBC_Adm_Dump(user, password, file);
}

int adm_reload(const char* user, const char* password, const char* file) {
  return ZEBC_Adm_Reload(user, password, file);
}

}  // namespace zebcmd::zebcli
