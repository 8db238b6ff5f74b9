#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform.h"
#include "utf8.h"

#if defined(__linux__) && !defined(sigev_notify_thread_id)
// Older C libraries do not name the field; the layout is the kernel's.
#define sigev_notify_thread_id _sigev_un._tid
#endif

namespace zebcmd::platform {
namespace {

// How long standard error gets to take a message before the rest of it is dropped.
constexpr std::uint32_t kStalledChannelMilliseconds = 250;
// The timer fires again at this interval, so a signal that lands just before write(2)
// starts delays the give-up by one tick instead of leaving the write blocked.
constexpr long kTimerTickNanoseconds = 10000000;

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

// While alive, a timer of its own interrupts a blocked write(2) every tick. It leaves the
// process's interval timer, SIGALRM and the caller's mask alone, so that a watchdog the caller
// set (alarm before exec) still fires. Standard error is shared with the parent, so O_NONBLOCK
// on it would change the parent's file as well.
class WriteInterrupter {
 public:
  WriteInterrupter() : signal_(SIGRTMIN) {
    struct sigaction action {};
    action.sa_handler = on_write_timer;  // no SA_RESTART: the write returns EINTR
    sigemptyset(&action.sa_mask);
    sigaction(signal_, &action, &previous_action_);
    sigset_t own;
    sigemptyset(&own);
    sigaddset(&own, signal_);
    pthread_sigmask(SIG_UNBLOCK, &own, &previous_mask_);
    sigevent event{};
#if defined(__linux__)
    // Only this thread: a resolver thread the client library left behind must not take it.
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_notify_thread_id = gettid();
#else
    event.sigev_notify = SIGEV_SIGNAL;
#endif
    event.sigev_signo = signal_;
    armed_ = timer_create(CLOCK_MONOTONIC, &event, &timer_) == 0;
    if (armed_) {
      itimerspec tick{};
      tick.it_interval.tv_nsec = kTimerTickNanoseconds;
      tick.it_value.tv_nsec = kTimerTickNanoseconds;
      timer_settime(timer_, 0, &tick, nullptr);
    }
  }
  ~WriteInterrupter() {
    // A tick still pending is delivered on the way out of timer_delete, while unblocked.
    if (armed_) timer_delete(timer_);
    pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
    sigaction(signal_, &previous_action_, nullptr);
  }
  WriteInterrupter(const WriteInterrupter&) = delete;
  WriteInterrupter& operator=(const WriteInterrupter&) = delete;

 private:
  int signal_;
  struct sigaction previous_action_ {};
  sigset_t previous_mask_{};
  timer_t timer_{};
  bool armed_ = false;
};

// The standard error that has dropped a message, if any: the rest of the run's messages to it
// are dropped at once instead of costing the bound each.
struct StalledChannel {
  bool known = false;
  dev_t device = 0;
  ino_t inode = 0;

  bool is(const struct stat& file) const {
    return known && file.st_dev == device && file.st_ino == inode;
  }
};

StalledChannel g_stalled;

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
  struct stat channel {};
  const bool known = fstat(STDERR_FILENO, &channel) == 0;
  if (known && g_stalled.is(channel)) return;
  const timespec deadline = monotonic_after(kStalledChannelMilliseconds);
  WriteInterrupter interrupter;
  while (left > 0) {
    if (has_passed(deadline)) {
      if (known) g_stalled = {true, channel.st_dev, channel.st_ino};
      return;
    }
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

void prepare_process() {
  // A descriptor left closed would be the next one opened: a socket of the client library
  // would then receive what the tool writes to standard error.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      // The lower ones are open, so the lowest free descriptor is fd itself.
      open("/dev/null", (fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) | O_NOCTTY);
    }
  }
  // With nobody reading standard error, messages are lost as on a debug channel with no
  // listener; the exit status that scripts rely on must not be lost with them.
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace zebcmd::platform
