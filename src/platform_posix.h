// What only the POSIX entry calls besides platform.h: a Windows GUI program has none of it.
#ifndef ZEBCMD_PLATFORM_POSIX_H
#define ZEBCMD_PLATFORM_POSIX_H

namespace zebcmd::platform {

// Once, at start: descriptors 0, 1 and 2 open (on the null device where they were closed, or
// on the root folder where that cannot be opened) and SIGPIPE ignored. Tests name a null
// device that fails.
void prepare_process(const char* null_device = "/dev/null");

}  // namespace zebcmd::platform

#endif
