// Stands in for ZEBCmd.exe beside a copy of ZEBCmdCon.exe: ends with the status given as its
// argument (0xC0000135: as if the loader had not found a DLL), or with "unreadable-message"
// sends a debug message whose text its debugger cannot read.
#include <windows.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "unreadable-message") {
    // What OutputDebugStringA raises: the text's length, then its address, here unmapped.
    const ULONG_PTR message[] = {16, 1};
    RaiseException(DBG_PRINTEXCEPTION_C, 0, 2, message);
  }
  return argc == 2 ? static_cast<int>(std::strtoul(argv[1], nullptr, 0)) : 2;
}
