// The stand-in server: a single-threaded poll() loop in front of an in-memory record set.
#ifndef ZEB_STANDIN_SERVER_LOOP_H
#define ZEB_STANDIN_SERVER_LOOP_H

#include "server_journal.h"
#include "server_options.h"
#include "server_service.h"

namespace zeb::server {

// Runs until a stop request or SIGTERM/SIGINT; returns the exit code.
int serve(const Options& options, Service* service, Journal* journal);

}  // namespace zeb::server

#endif
