#include <windows.h>

#include "dispatch.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return zebcmd::run(zebcmd::platform::argument_vector(0, nullptr));
}
