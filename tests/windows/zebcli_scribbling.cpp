// Two of the library's functions as a vendor's whose real signature has more parameters than
// declared: each writes four words past its arguments. Each answers -99 instead where those
// words would reach the saved frame of the routine that called it.
#include <cstdint>

#include "zebcli/zebcli.h"

namespace {

// frame: the calling function's own frame, whose first word is the caller's frame pointer and
// whose third starts the arguments.
bool scribble(void* frame, int argument_words) {
  auto** words = static_cast<std::uint32_t**>(frame);
  auto* past = reinterpret_cast<volatile std::uint32_t*>(words + 2 + argument_words);
  if (past + 4 > words[0]) return false;
  for (int i = 0; i < 4; ++i) past[i] = 0xdeadbeef;
  return true;
}

}  // namespace

extern "C" int scribbling_GetVersions(char* buf1, int size1, char* buf2, int size2) {
  if (!scribble(__builtin_frame_address(0), 4)) return -99;
  return ZEBC_GetVersions(buf1, size1, buf2, size2);
}

extern "C" int scribbling_Adm_Dump(const char* user, const char* password, const char* file) {
  if (!scribble(__builtin_frame_address(0), 3)) return -99;
  return ZEBC_Adm_Dump(user, password, file);
}
