#include "dispatch.h"
#include "platform_posix.h"

int main(int argc, char** argv) {
  zebcmd::platform::prepare_process();
  return zebcmd::run(zebcmd::platform::argument_vector(argc, argv));
}
