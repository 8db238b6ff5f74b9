#ifndef ZEBCMD_ADMIN_H
#define ZEBCMD_ADMIN_H

#include "platform.h"

namespace zebcmd {

// Handlers of the administrative commands. Each makes one library call with the built-in
// credentials, writes one message and returns the exit status 0, success or not.
int run_stop(const ArgumentVector& arguments);
int run_reset(const ArgumentVector& arguments);
int run_dump(const ArgumentVector& arguments);
int run_reload(const ArgumentVector& arguments);

}  // namespace zebcmd

#endif
