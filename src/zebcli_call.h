#ifndef ZEBCMD_ZEBCLI_CALL_H
#define ZEBCMD_ZEBCLI_CALL_H

#include "zebcli_functions.h"

// The seven client library calls, as the command logic makes them: init(), close(),
// get_versions(), adm_close() and so on, with the parameters of zebcli_functions.h. The build
// chooses how: on 32-bit x86 Windows each call restores the stack pointer afterwards, so that one
// program fits a plain-named library of either calling convention (zebcli_call_x86.cpp);
// elsewhere the calls are direct (zebcli_call.cpp).
namespace zebcmd::zebcli {

#define ZEBCMD_DECLARE_CALL(name, stdcall_bytes, call, parameters, arguments) int call parameters;
ZEBCLI_FUNCTIONS(ZEBCMD_DECLARE_CALL)
#undef ZEBCMD_DECLARE_CALL

}  // namespace zebcmd::zebcli

#endif
