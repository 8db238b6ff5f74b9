#include "zebcli_call.h"

#include "zebcli/zebcli.h"

namespace zebcmd::zebcli {

#define ZEBCMD_DEFINE_CALL(name, stdcall_bytes, call, parameters, arguments) \
  int call parameters {                                                      \
    return name arguments;                                                   \
  }
ZEBCLI_FUNCTIONS(ZEBCMD_DEFINE_CALL)
#undef ZEBCMD_DEFINE_CALL

}  // namespace zebcmd::zebcli
