#include <csignal>
#include <cstdio>
#include <string>
#include <utility>

#include "dump_store.h"
#include "server_journal.h"
#include "server_loop.h"
#include "server_options.h"
#include "server_service.h"
#include "status.h"

namespace {

constexpr const char* kUsage =
    "usage: zebserver [--port N] [--data FILE] [--journal FILE] [--ignore-versions N]\n"
    "                 [--fail OP=STATUS]...\n"
    "       OP is one of stop, reset, dump, reload\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace zeb::server;
  std::signal(SIGPIPE, SIG_IGN);
  Options options;
  std::string error;
  if (!parse_options(argc, argv, &options, &error)) {
    std::fprintf(stderr, "zebserver: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  zeb::dumpfile::Records initial = built_in_records();
  if (!options.data_file.empty()) {
    std::int32_t result = read_dump_file(options.data_file, &initial);
    if (result != zeb::status::kOk) {
      std::fprintf(stderr, "zebserver: %s: %s\n", options.data_file.c_str(),
                   result == zeb::status::kCannotRead ? "cannot be read" : "not a valid dump");
      return 2;
    }
  }
  Journal journal;
  if (!journal.open_file(options.journal_file)) {
    std::fprintf(stderr, "zebserver: %s: cannot be opened for the journal\n",
                 options.journal_file.c_str());
    return 2;
  }
  Service service(std::move(initial), options);
  return serve(options, &service, &journal);
}
