// Stands in for ZEBCmd.exe beside a copy of ZEBCmdCon.exe: ends with the status given as its
// argument (0xC0000135: as if the loader had not found a DLL); "unreadable-message" sends a debug
// message its debugger cannot read; "unload DLL ADDRESS" ends with 0 if ZEBCli.dll, unloaded right
// after a call that resolved ADDRESS's host name, stays mapped, as its resolver thread needs.
#include <windows.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "unreadable-message") {
    // What OutputDebugStringA raises: the text's length, then its address, here unmapped.
    const ULONG_PTR message[] = {16, 1};
    RaiseException(DBG_PRINTEXCEPTION_C, 0, 2, message);
  }
  if (argc == 4 && std::string(argv[1]) == "unload") {
    if (_putenv_s("ZEB_SERVER", argv[3]) != 0) return 2;
    HMODULE library = LoadLibraryA(argv[2]);
    auto find = [&](const char* name) {
      return reinterpret_cast<void (*)()>(GetProcAddress(library, name));
    };
    auto init = reinterpret_cast<int (*)()>(find("ZEBC_Init"));
    auto versions = reinterpret_cast<int (*)(char*, int, char*, int)>(find("ZEBC_GetVersions"));
    if (init == nullptr || versions == nullptr || init() != 0) return 2;
    versions(nullptr, 0, nullptr, 0);
    FreeLibrary(library);
    return GetModuleHandleA("ZEBCli.dll") != nullptr ? 0 : 1;
  }
  return argc == 2 ? static_cast<int>(std::strtoul(argv[1], nullptr, 0)) : 2;
}
