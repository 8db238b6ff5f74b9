#include "companion.h"

int main() {
  return zebcmd::companion::run();
}
