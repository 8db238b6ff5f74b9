#include <csignal>

#include "dispatch.h"

int main(int argc, char** argv) {
  // With nobody reading standard error, messages are lost as on a debug channel with no
  // listener; the exit status that scripts rely on must not be lost with them.
  std::signal(SIGPIPE, SIG_IGN);
  return zebcmd::run(zebcmd::platform::argument_vector(argc, argv));
}
