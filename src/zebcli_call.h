#ifndef ZEBCMD_ZEBCLI_CALL_H
#define ZEBCMD_ZEBCLI_CALL_H

// The seven client library calls, as the command logic makes them. The build chooses how: on
// 32-bit x86 Windows each call restores the stack pointer afterwards, so that one program fits a
// plain-named library of either calling convention (zebcli_call_x86.cpp); elsewhere the calls
// are direct (zebcli_call.cpp).
namespace zebcmd::zebcli {

int init();
int close();
int get_versions(char* buf1, int size1, char* buf2, int size2);
int adm_close(const char* user, const char* password);
int adm_restart(const char* user, const char* password);
int adm_dump(const char* user, const char* password, const char* file);
int adm_reload(const char* user, const char* password, const char* file);

}  // namespace zebcmd::zebcli

#endif
