// Name resolution within a deadline, for both socket implementations.
#ifndef ZEB_STANDIN_RESOLVE_H
#define ZEB_STANDIN_RESOLVE_H

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#endif

#include "net.h"

namespace zeb::net {

// The TCP addresses of host and a numeric port, or nullptr when there are none or the resolver
// has not answered by the deadline. A numeric host never reaches the resolver. The caller
// frees the list with freeaddrinfo.
addrinfo* resolve(const char* host, const char* port, Clock::time_point deadline);

// Keeps the library mapped for as long as the process lives, from the first resolver thread on:
// even one that answered in time runs the library's code after the call returns. Each socket
// implementation does it its platform's way.
void keep_library_loaded();

}  // namespace zeb::net

#endif
