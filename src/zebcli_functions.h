#ifndef ZEBCMD_ZEBCLI_FUNCTIONS_H
#define ZEBCMD_ZEBCLI_FUNCTIONS_H

// The seven functions of the client library (zebcli/zebcli.h), each returning int, listed once
// for the tool: X(name, the bytes of arguments a 32-bit __stdcall function takes off the stack,
// the tool's call in zebcli_call.h, the parameters, the arguments passed on). The call sites, the
// unit tests' fake library, the build's list of decorated names (cmake/zebcli_functions.cmake
// reads "X(name, bytes," here) and the test DLLs' .def files all come from it.
// clang-format off
#define ZEBCLI_FUNCTIONS(X)                                                                     \
  X(ZEBC_Init, 0, init, (void), ())                                                             \
  X(ZEBC_Close, 0, close, (void), ())                                                           \
  X(ZEBC_GetVersions, 16, get_versions, (char* buf1, int size1, char* buf2, int size2),         \
    (buf1, size1, buf2, size2))                                                                 \
  X(ZEBC_Adm_Close, 8, adm_close, (const char* user, const char* password), (user, password))   \
  X(ZEBC_Adm_Restart, 8, adm_restart, (const char* user, const char* password), (user, password)) \
  X(ZEBC_Adm_Dump, 12, adm_dump, (const char* user, const char* password, const char* file),   \
    (user, password, file))                                                                     \
  X(ZEBC_Adm_Reload, 12, adm_reload, (const char* user, const char* password, const char* file), \
    (user, password, file))
// clang-format on

#endif
