#include <windows.h>

#include <shellapi.h>

#include <cwchar>

#include "platform.h"

namespace zebcmd::platform {

std::optional<ArgumentVector> argument_vector(int, char**) {
  int count = 0;
  LPWSTR* elements = CommandLineToArgvW(GetCommandLineW(), &count);
  if (elements == nullptr) return std::nullopt;
  ArgumentVector arguments;
  arguments.reserve(count > 0 ? static_cast<std::size_t>(count) : 0);
  // wchar_t is a UTF-16 code unit here, so each element is copied unit for unit.
  for (int i = 0; i < count; ++i) {
    const wchar_t* element = elements[i];
    arguments.emplace_back(element, element + std::wcslen(element));
  }
  LocalFree(elements);
  return arguments;
}

void debug_message(const std::string& text) {
  OutputDebugStringA(text.c_str());
}

void pause(std::uint32_t milliseconds) {
  Sleep(milliseconds);
}

}  // namespace zebcmd::platform
