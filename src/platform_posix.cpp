#include <errno.h>
#include <sched.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <time.h>
#include <unistd.h>

#include "platform.h"
#include "utf8.h"

namespace zebcmd::platform {
namespace {

// The default 50 us of timer slack would lengthen every pause; set once, on the first pause.
void tighten_timer_slack() {
#if defined(__linux__)
  static const int result = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  static_cast<void>(result);
#endif
}

}  // namespace

std::optional<ArgumentVector> argument_vector(int argc, char** argv) {
  ArgumentVector arguments;
  arguments.reserve(argc > 0 ? static_cast<std::size_t>(argc) : 0);
  for (int i = 0; i < argc && argv[i] != nullptr; ++i) arguments.push_back(decode_utf8(argv[i]));
  return arguments;
}

// Standard error stands in for the debug-output channel; one write per message keeps each
// message whole for a reader that sees writes as records.
void debug_message(const std::string& text) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t written = ::write(STDERR_FILENO, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

void pause(std::uint32_t milliseconds) {
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  tighten_timer_slack();
  // An absolute deadline lets an interrupted sleep resume for just the time left.
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

}  // namespace zebcmd::platform
