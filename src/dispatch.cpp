#include "dispatch.h"

#include <string_view>

#include "admin.h"
#include "ping.h"
#include "zebcli_call.h"

namespace zebcmd {
namespace {

constexpr std::size_t kAnyCount = 0;

struct CommandRow {
  std::u16string_view word;
  std::size_t required_count;  // elements with the program path, or kAnyCount
  const char* count_error;
  int (*handler)(const ArgumentVector&);
};

constexpr CommandRow kCommands[] = {
    {u"-stop", kAnyCount, nullptr, run_stop},
    {u"-reset", kAnyCount, nullptr, run_reset},
    {u"-dump", 3, "Dump command failed: input param error\n", run_dump},
    {u"-reload", 3, "Reload command failed: input param error\n", run_reload},
    {u"-ping", 4, "Ping command failed: input param error\n", run_ping},
};

constexpr const char* kUsage[] = {
    ("Usage: ZEBCmd [-stop] [-reset] [-dump (file)] [-reload (file)] [-ping (MaxTry) "
     "(TryInterval)]...\n\n"),
    "        -stop : stop ZEB server\n",
    "        -reset : reset ZEB server in its initial state\n",
    "        -dump : dump server data to (file)\n",
    "        -reload : reload (file) in server data\n",
    "        -ping : try to talk to the server for (MaxTry) times\n",
    "\t\t\t\tWait (TryInterval) ms  on error\n",
    "\t\t\t\tReturn 1 at first server response and else 0\n",
    "\n\n",
};

const CommandRow* find_command(std::u16string_view word) {
  for (const CommandRow& row : kCommands) {
    if (row.word == word) return &row;
  }
  return nullptr;
}

int dispatch(const ArgumentVector& arguments) {
  const CommandRow* row = find_command(arguments[1]);
  if (row == nullptr) {
    platform::debug_message("Unknown command\n");
    return 0;
  }
  if (row->required_count != kAnyCount && arguments.size() != row->required_count) {
    platform::debug_message(row->count_error);
    return 0;
  }
  return row->handler(arguments);
}

}  // namespace

void write_usage() {
  for (const char* line : kUsage) platform::debug_message(line);
}

int run(const std::optional<ArgumentVector>& arguments) {
  if (!arguments || arguments->size() < 2) {
    write_usage();
    return 0;
  }
  zebcli::init();
  const int status = dispatch(*arguments);
  zebcli::close();
  return status;
}

}  // namespace zebcmd
