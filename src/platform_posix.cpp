#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "platform.h"
#include "utf8.h"

namespace zebcmd::platform {
namespace {

// How long standard error gets to take a message before the rest of it is dropped.
constexpr std::uint32_t kStalledChannelMilliseconds = 250;
// The timer fires again at this interval, so a signal that lands just before write(2)
// starts delays the give-up by one tick instead of leaving the write blocked.
constexpr long kTimerTickMicroseconds = 10000;

// The default 50 us of timer slack would lengthen every pause; set once, on the first pause.
void tighten_timer_slack() {
#if defined(__linux__)
  static const int result = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  static_cast<void>(result);
#endif
}

timespec monotonic_after(std::uint32_t milliseconds) {
  timespec at{};
  clock_gettime(CLOCK_MONOTONIC, &at);
  at.tv_sec += static_cast<time_t>(milliseconds / 1000);
  at.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (at.tv_nsec >= 1000000000L) {
    at.tv_sec += 1;
    at.tv_nsec -= 1000000000L;
  }
  return at;
}

bool has_passed(const timespec& deadline) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec > deadline.tv_sec ||
         (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

void on_write_timer(int) {}

// While alive, SIGALRM interrupts a blocked write(2) every tick. Standard error is shared
// with the parent, so O_NONBLOCK on it would change the parent's file as well.
class WriteInterrupter {
 public:
  WriteInterrupter() {
    struct sigaction action {};
    action.sa_handler = on_write_timer;  // no SA_RESTART: the write returns EINTR
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, &previous_action_);
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    pthread_sigmask(SIG_UNBLOCK, &alarm, &previous_mask_);
    itimerval tick{};
    tick.it_interval.tv_usec = kTimerTickMicroseconds;
    tick.it_value.tv_usec = kTimerTickMicroseconds;
    setitimer(ITIMER_REAL, &tick, nullptr);
  }
  ~WriteInterrupter() {
    const itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
    sigaction(SIGALRM, &previous_action_, nullptr);
  }
  WriteInterrupter(const WriteInterrupter&) = delete;
  WriteInterrupter& operator=(const WriteInterrupter&) = delete;

 private:
  struct sigaction previous_action_ {};
  sigset_t previous_mask_{};
};

}  // namespace

std::optional<ArgumentVector> argument_vector(int argc, char** argv) {
  ArgumentVector arguments;
  arguments.reserve(argc > 0 ? static_cast<std::size_t>(argc) : 0);
  for (int i = 0; i < argc && argv[i] != nullptr; ++i) arguments.push_back(decode_utf8(argv[i]));
  return arguments;
}

// Standard error stands in for the debug-output channel; one write per message keeps each
// message whole for a reader that sees writes as records. Like a debug channel that nobody
// reads, a stalled one never holds the tool up for longer than the bound.
void debug_message(const std::string& text) {
  const char* data = text.data();
  std::size_t left = text.size();
  if (left == 0) return;
  const timespec deadline = monotonic_after(kStalledChannelMilliseconds);
  WriteInterrupter interrupter;
  while (left > 0 && !has_passed(deadline)) {
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
  const timespec deadline = monotonic_after(milliseconds);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

}  // namespace zebcmd::platform
