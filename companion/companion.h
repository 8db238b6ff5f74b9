#ifndef ZEBCMD_COMPANION_H
#define ZEBCMD_COMPANION_H

namespace zebcmd::companion {

// Exit status when ZEBCmd.exe cannot be started or followed: neither 0 nor 1, and below 1 so
// that a batch file's "if errorlevel 1" never reads it as a server that answered.
constexpr int kCannotRunStatus = -1;
// Exit status when ZEBCmd.exe was ended at the time limit: below 1 too, and none of its own.
constexpr int kTimeLimitStatus = -2;

// Runs ZEBCmd.exe from this program's folder with this program's command-line tail, less the
// companion's own switches, writes its debug-output messages to standard output and returns its
// exit status.
int run();

}  // namespace zebcmd::companion

#endif
