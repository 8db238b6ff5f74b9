// Stands in for ZEBCmd.exe beside a copy of ZEBCmdCon.exe: ends with the status given as its
// argument (0xC0000135: as if the loader had not found a DLL).
#include <cstdlib>

int main(int argc, char** argv) {
  return argc == 2 ? static_cast<int>(std::strtoul(argv[1], nullptr, 0)) : 2;
}
