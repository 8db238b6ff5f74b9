// ZEBC_GetVersions as a vendor's whose real signature has more parameters than declared: it
// writes four words past its arguments, or answers -99 where they would reach the saved frame
// of the routine that called it, whose frame pointer is the first word of this function's frame.
// The build renames the library's own function to real_GetVersions.
#include <cstdint>

#undef ZEBC_GetVersions
extern "C" int real_GetVersions(char* buf1, int size1, char* buf2, int size2);

extern "C" __declspec(dllexport) int ZEBC_GetVersions(char* buf1, int size1, char* buf2,
                                                      int size2) {
  auto** frame = static_cast<std::uint32_t**>(__builtin_frame_address(0));
  auto* past = reinterpret_cast<volatile std::uint32_t*>(frame + 2 + 4);
  if (past + 4 > frame[0]) return -99;
  for (int i = 0; i < 4; ++i) past[i] = 0xdeadbeef;
  return real_GetVersions(buf1, size1, buf2, size2);
}
