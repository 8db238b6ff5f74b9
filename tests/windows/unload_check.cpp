// Usage: unload_check PATH_OF_ZEBCli.dll ADDRESS
// Unloads the DLL right after a call that resolved ADDRESS's host name; ends with 0 if the DLL
// is still mapped, as it must stay while its resolver thread may run.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 3 || _putenv_s("ZEB_SERVER", argv[2]) != 0) return 2;
  HMODULE library = LoadLibraryA(argv[1]);
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
