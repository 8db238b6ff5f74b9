#include "command_tail.h"

namespace zebcmd {

std::wstring_view command_tail(std::wstring_view command_line) {
  if (!command_line.empty() && command_line.front() == L'"') {
    std::size_t closing = command_line.find(L'"', 1);
    return closing == std::wstring_view::npos ? std::wstring_view()
                                              : command_line.substr(closing + 1);
  }
  std::size_t blank = command_line.find_first_of(L" \t");
  return blank == std::wstring_view::npos ? std::wstring_view() : command_line.substr(blank);
}

}  // namespace zebcmd
