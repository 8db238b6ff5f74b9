#include "explanation.h"

#include <algorithm>

namespace zebcmd::companion {

namespace {

struct Named {
  std::uint32_t status;
  const char* text;
};

// Loader statuses: ZEBCmd.exe never ran its own code. "{bits}" stands for "32" or "64".
constexpr Named kLoaderFailures[] = {
    {0xC0000135,
     "ZEBCli.dll, or a DLL it needs, is missing: put the vendor's ZEBCli.dll and the DLLs it "
     "needs beside ZEBCmd.exe"},
    {0xC000007B,
     "ZEBCli.dll is not a {bits}-bit DLL, or is damaged: put the vendor's {bits}-bit ZEBCli.dll "
     "beside ZEBCmd.exe"},
    {0xC0000139,
     "ZEBCli.dll lacks a function ZEBCmd.exe imports, so it is of another version or calling "
     "convention: put the ZEBCli.dll of the server ZEBCmd.exe was built for beside it, or use "
     "a ZEBCmd.exe built from this DLL"},
    {0xC0000142,
     "ZEBCli.dll, or a DLL it loads, failed to initialise: check the vendor's installation of "
     "the server's client library"},
};

// Exceptions that end a program, by the name an administrator may look up.
constexpr Named kExceptions[] = {
    {0xC0000005, "access violation"},
    {0xC00000FD, "stack overflow"},
    {0xC0000409, "stack buffer overrun"},
    {0xC000001D, "illegal instruction"},
    {0xC0000094, "integer division by zero"},
    {0xC0000096, "privileged instruction"},
    {0xC0000374, "heap corruption"},
    {0xC0000006, "in-page error (a file it runs from could not be read)"},
    {0xC000013A, "ended by Ctrl+C or Ctrl+Break"},
};

// Both top bits set: an error status of the system, not one a program returns of its own.
constexpr std::uint32_t kErrorSeverity = 0xC0000000;

std::string hex_status(std::uint32_t status) {
  std::string text = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) text += "0123456789ABCDEF"[(status >> shift) & 0xf];
  return text;
}

template <std::size_t N>
const char* find(const Named (&table)[N], std::uint32_t status) {
  const Named* found =
      std::find_if(table, table + N, [&](const Named& n) { return n.status == status; });
  return found != table + N ? found->text : nullptr;
}

}  // namespace

std::string status_explanation(std::uint32_t status, int bits) {
  if (const char* loader = find(kLoaderFailures, status)) {
    std::string text = loader;
    for (std::size_t at; (at = text.find("{bits}")) != std::string::npos;) {
      text.replace(at, 6, std::to_string(bits));
    }
    return "ZEBCmdCon: ZEBCmd.exe could not start (" + hex_status(status) + "): " + text + "\n";
  }
  if ((status & kErrorSeverity) != kErrorSeverity) return std::string();
  const char* name = find(kExceptions, status);
  return "ZEBCmdCon: ZEBCmd.exe ended abnormally (" + hex_status(status) + ", " +
         (name != nullptr ? name : "exception") +
         "): no outcome was reported; if it happens again, check that ZEBCli.dll is the one the "
         "server came with\n";
}

std::string time_limit_explanation(std::uint32_t seconds) {
  return "ZEBCmdCon: ZEBCmd.exe was still running after the time limit of " +
         std::to_string(seconds) + " s and was ended\n";
}

}  // namespace zebcmd::companion
