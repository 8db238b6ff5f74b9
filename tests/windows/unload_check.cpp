// Loads the client library DLL, makes a call that resolves ADDRESS's host name, unloads the DLL at
// once and ends with 0 if it is still mapped, as it must stay while its resolver thread may run.
//
// Usage: unload_check DLL ADDRESS
#include <windows.h>

#include <cstdlib>

template <typename Function>
Function* find(HMODULE library, const char* name) {
  return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

int main(int argc, char** argv) {
  if (argc != 3 || _putenv_s("ZEB_SERVER", argv[2]) != 0) return 2;
  HMODULE library = LoadLibraryA(argv[1]);
  auto init = find<int()>(library, "ZEBC_Init");
  auto versions = find<int(char*, int, char*, int)>(library, "ZEBC_GetVersions");
  if (init == nullptr || versions == nullptr || init() != 0) return 2;
  versions(nullptr, 0, nullptr, 0);
  FreeLibrary(library);
  HMODULE mapped = nullptr;
  return GetModuleHandleExA(
             GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
             reinterpret_cast<LPCSTR>(init), &mapped)
             ? 0
             : 1;
}
