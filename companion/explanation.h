#ifndef ZEBCMD_EXPLANATION_H
#define ZEBCMD_EXPLANATION_H

#include <cstdint>
#include <string>

namespace zebcmd::companion {

// The line standard error gets about ZEBCmd.exe's exit status when the loader could not start
// it or it ended abnormally; empty for a status of its own. bits: 32 or 64, the programs'.
std::string status_explanation(std::uint32_t status, int bits);

// The line standard error gets when ZEBCmd.exe was ended at the time limit.
std::string time_limit_explanation(std::uint32_t seconds);

}  // namespace zebcmd::companion

#endif
