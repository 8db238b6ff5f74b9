#include "dispatch.h"

int main(int argc, char** argv) {
  return zebcmd::run(zebcmd::platform::argument_vector(argc, argv));
}
