#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "channel_bound.h"
#include "platform.h"
#include "platform_posix.h"
#include "utf8.h"

namespace zebcmd::platform {
namespace {

// How long standard error may hold the tool up in a whole run; after that, a message it does
// not take at once is dropped.
constexpr long kStalledChannelNanoseconds = static_cast<long>(kChannelBoundMs) * 1000000L;

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

long nanoseconds_since(const timespec& start) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000000000L + (now.tv_nsec - start.tv_nsec);
}

// How the tool writes to the file on standard error, decided once per file. Standard error is
// shared with the caller, so O_NONBLOCK on it would change the caller's file as well.
struct Channel {
  dev_t device = 0;
  ino_t inode = 0;
  int fd = -1;
  bool own = false;      // the tool's own non-blocking open of the same pipe or terminal
  bool socket = false;   // sent to without blocking
  bool guarded = false;  // maybe blocking: written only where poll() reports room
  bool torn = false;     // a message was cut short: nothing more is glued to it
  long wait_left = kStalledChannelNanoseconds;
};

Channel g_channel;

Channel& stderr_channel() {
  struct stat file {};
  if (fstat(STDERR_FILENO, &file) != 0) file = {};
  if (g_channel.fd >= 0 && file.st_dev == g_channel.device && file.st_ino == g_channel.inode) {
    return g_channel;
  }
  if (g_channel.own) close(g_channel.fd);
  g_channel = Channel{};
  g_channel.device = file.st_dev;
  g_channel.inode = file.st_ino;
  g_channel.fd = STDERR_FILENO;
  g_channel.socket = S_ISSOCK(file.st_mode);
  if (S_ISFIFO(file.st_mode) || S_ISCHR(file.st_mode)) {
    // A new open file description: non-blocking for the tool alone. A regular file is not
    // opened anew, which would lose its O_APPEND and offset.
    const int own = open("/proc/self/fd/2", O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    g_channel.own = own >= 0;
    g_channel.guarded = own < 0;
    if (g_channel.own) g_channel.fd = own;
  }
  return g_channel;
}

// Waits for room for what is left of the run's wait, even when that is nothing; true when the
// channel reports room, or an error or hang-up that fails the next write at once.
bool wait_for_room(Channel& channel) {
  for (;;) {
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const long wait = std::max(channel.wait_left, 0L);
    const timespec left{static_cast<time_t>(wait / 1000000000L), wait % 1000000000L};
    pollfd entry{channel.fd, POLLOUT, 0};
    const int ready = ppoll(&entry, 1, &left, nullptr);
    channel.wait_left = ready == 0 ? 0 : channel.wait_left - nanoseconds_since(start);
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

}  // namespace

std::optional<ArgumentVector> argument_vector(int argc, char** argv) {
  ArgumentVector arguments;
  arguments.reserve(argc > 0 ? static_cast<std::size_t>(argc) : 0);
  for (int i = 0; i < argc && argv[i] != nullptr; ++i) arguments.push_back(decode_utf8(argv[i]));
  return arguments;
}

// Standard error stands in for the debug-output channel; one write per message keeps each
// message whole for a reader that sees writes as records. Like a debug channel that nobody
// reads, a stalled one holds the tool up for no longer than the bound in all, with no signal
// or timer, which the caller's limits may refuse or its mask may block.
void debug_message(const std::string& text) {
  if (text.empty()) return;
  Channel& channel = stderr_channel();
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0 && !channel.torn) {
    if (channel.guarded && !wait_for_room(channel)) break;
    // Where poll() reports room, a pipe takes PIPE_BUF bytes without blocking.
    const std::size_t size = channel.guarded ? std::min<std::size_t>(left, PIPE_BUF) : left;
    const ssize_t written = channel.socket
                                ? send(channel.fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL)
                                : ::write(channel.fd, data, size);
    if (written > 0) {
      data += written;
      left -= static_cast<std::size_t>(written);
    } else if (written < 0 && errno == EINTR) {
      continue;
    } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && channel.wait_left > 0 &&
               (channel.guarded || wait_for_room(channel))) {
      continue;
    } else {
      break;
    }
  }
  if (left > 0 && left < text.size()) channel.torn = true;
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

void prepare_process(const char* null_device) {
  // A descriptor left closed would be the next one opened: a socket of the client library
  // would then receive what the tool writes to standard error.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      // The lower ones are open, so the lowest free descriptor is fd itself. Where the null
      // device cannot be opened, the root folder is taken: reads and writes fail, no signal.
      if (open(null_device, (fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) | O_NOCTTY) < 0) {
        open("/", O_PATH);
      }
    }
  }
  // With nobody reading standard error, messages are lost as on a debug channel with no
  // listener; the exit status that scripts rely on must not be lost with them.
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace zebcmd::platform
