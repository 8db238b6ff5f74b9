#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "channel_bound.h"
#include "platform.h"
#include "platform_posix.h"

namespace zebcmd::platform {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::Optional;

// Standard error replaced by fd for the scope.
class StderrReplaced {
 public:
  explicit StderrReplaced(int fd) : saved_(dup(STDERR_FILENO)) { dup2(fd, STDERR_FILENO); }
  ~StderrReplaced() {
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }

 private:
  int saved_;
};

// A handler for the signal over the scope, without SA_RESTART, so that sleeps see EINTR.
class HandlerInstalled {
 public:
  HandlerInstalled(int signal, void (*handler)(int)) : signal_(signal) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigaction(signal, &action, &previous_);
  }
  ~HandlerInstalled() { sigaction(signal_, &previous_, nullptr); }

 private:
  int signal_;
  struct sigaction previous_ {};
};

// Everything in the pipe right now; the reading end is non-blocking.
std::string drain(int fd) {
  std::string out;
  char buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
  return out;
}

std::array<int, 2> seqpacket_pair() {
  std::array<int, 2> sockets{-1, -1};
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sockets.data()), 0);
  return sockets;
}

// Standard error swapped for a datagram-like socket: each write arrives as one record.
class StderrRecorder {
 public:
  StderrRecorder() : sockets_(seqpacket_pair()), replaced_(sockets_[0]) {}
  ~StderrRecorder() {
    close(sockets_[0]);
    close(sockets_[1]);
  }
  std::vector<std::string> records() {
    std::vector<std::string> out;
    char buffer[65536];
    ssize_t n;
    while ((n = recv(sockets_[1], buffer, sizeof buffer, MSG_DONTWAIT)) >= 0) {
      out.emplace_back(buffer, static_cast<std::size_t>(n));
    }
    return out;
  }

 private:
  std::array<int, 2> sockets_;
  StderrReplaced replaced_;
};

TEST(PosixDebugMessage, OneWritePerMessageNothingAdded) {
  StderrRecorder recorder;
  debug_message("Ping failure\n");
  debug_message("\t\t\t\tWait (TryInterval) ms  on error\n");
  debug_message("no line end");
  const std::string large(20000, 'x');
  debug_message(large);
  EXPECT_THAT(recorder.records(),
              ElementsAre("Ping failure\n", "\t\t\t\tWait (TryInterval) ms  on error\n",
                          "no line end", large));
}

// A pipe whose buffer is full; the reading end is non-blocking, the writing end blocking.
bool full_pipe(int ends[2]) {
  if (pipe(ends) != 0) return false;
  fcntl(ends[0], F_SETFL, O_NONBLOCK);
  fcntl(ends[1], F_SETFL, O_NONBLOCK);
  const std::string page(4096, 'f');
  while (write(ends[1], page.data(), page.size()) > 0) {
  }
  while (write(ends[1], "f", 1) > 0) {
  }
  fcntl(ends[1], F_SETFL, 0);
  return true;
}

void on_interrupt(int) {}

struct StalledCase {
  const char* name;
  std::chrono::milliseconds reader_wakes;  // and keeps up from then on
  int room;                                // bytes the pipe takes before the reader wakes
  std::size_t size;
  bool nonblocking;  // the caller's O_NONBLOCK on the writing end
  bool delivered;
};

class PosixStalledChannel : public ::testing::TestWithParam<StalledCase> {};

// A pipe whose buffer is full and whose reader wakes only later, while a signal interrupts the
// tool every millisecond: a reader that catches up within the bound gets the message whole, one
// that sleeps on loses it and the tool goes on. The next message is written if the channel takes
// it at once, unless the lost one was cut short: nothing may be glued to that.
TEST_P(PosixStalledChannel, MessageWaitsAtMostTheBound) {
  const StalledCase& c = GetParam();
  int ends[2];
  ASSERT_TRUE(full_pipe(ends));
  if (c.nonblocking) fcntl(ends[1], F_SETFL, O_NONBLOCK);
  const int flags = fcntl(ends[1], F_GETFL);
  char page[4096];
  static_cast<void>(read(ends[0], page, c.room));
  std::string message(c.size, 'm');
  message.back() = '\n';
  const HandlerInstalled handler(SIGUSR1, on_interrupt);
  const pthread_t writer = pthread_self();

  std::atomic<bool> returned{false};
  std::string drained;
  std::thread reader([&] {
    for (const Clock::time_point wake = Clock::now() + c.reader_wakes; !returned;) {
      pthread_kill(writer, SIGUSR1);
      if (Clock::now() >= wake) drained += drain(ends[0]);
      std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(20ms);
    drained += drain(ends[0]);
  });
  const StderrReplaced replaced(ends[1]);
  const Clock::time_point start = Clock::now();
  debug_message(message);
  const auto elapsed = Clock::now() - start;
  returned = true;
  reader.join();
  debug_message("Ping command successful\n");
  drained += drain(ends[0]);
  EXPECT_EQ(fcntl(ends[1], F_GETFL), flags) << "the caller's file changed";
  close(ends[0]);
  close(ends[1]);

  EXPECT_LT(elapsed, 5s) << "blocked on the stalled channel";
  EXPECT_GE(elapsed, std::chrono::milliseconds(c.delivered ? 0 : kChannelBoundMs))
      << "gave up before the bound";
  std::string expected = c.delivered ? message : std::string(c.room, 'm');
  if (c.delivered || c.room == 0) expected += "Ping command successful\n";
  EXPECT_EQ(drained.substr(std::min(drained.find_first_not_of('f'), drained.size())), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Readers, PosixStalledChannel,
    ::testing::Values(StalledCase{"CatchesUp", 50ms, 0, 24, false, true},
                      StalledCase{"CatchesUpNonBlocking", 50ms, 0, 24, true, true},
                      StalledCase{"CatchesUpWithALongMessageInParts", 50ms, 0, 100000, false, true},
                      StalledCase{"SleepsOn", 10s, 0, 24, false, false},
                      StalledCase{"SleepsOnAfterPartOfIt", 10s, 4096, 8192, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

std::atomic<int> g_alarms{0};

void on_alarm(int) {
  ++g_alarms;
}

// The watchdog of a caller (alarm before exec): a message on a stalled channel keeps its timer,
// handlers and mask, and the timer fires when due (or stays pending while blocked). With every
// signal blocked, the message still gives up.
TEST(PosixDebugMessage, InheritedAlarmIsKept) {
  const HandlerInstalled handler(SIGALRM, on_alarm);
  const HandlerInstalled realtime(SIGRTMIN, on_interrupt);
  for (const bool blocked : {false, true}) {
    SCOPED_TRACE(blocked ? "every signal blocked" : "none blocked");
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    sigset_t before;
    blocked ? sigfillset(&before) : sigemptyset(&before);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    pthread_sigmask(SIG_SETMASK, nullptr, &before);
    g_alarms = 0;
    itimerval watchdog{};
    watchdog.it_value.tv_usec = 400000;
    setitimer(ITIMER_REAL, &watchdog, nullptr);
    int ends[2];
    ASSERT_TRUE(full_pipe(ends));
    const auto start = Clock::now();
    {
      StderrReplaced replaced(ends[1]);
      debug_message("Ping failure\n");
    }
    const auto elapsed = Clock::now() - start;
    close(ends[0]);
    close(ends[1]);

    EXPECT_LT(elapsed, 5s) << "blocked on the stalled channel";
    sigset_t after;
    pthread_sigmask(SIG_SETMASK, nullptr, &after);
    for (int signal = 1; signal < NSIG; ++signal) {
      EXPECT_EQ(sigismember(&after, signal), sigismember(&before, signal)) << signal;
    }
    struct sigaction now {
    }, realtime_now{};
    sigaction(SIGALRM, nullptr, &now);
    sigaction(SIGRTMIN, nullptr, &realtime_now);
    EXPECT_TRUE(now.sa_handler == on_alarm && realtime_now.sa_handler == on_interrupt);
    itimerval left{};
    getitimer(ITIMER_REAL, &left);
    EXPECT_TRUE(left.it_value.tv_sec != 0 || left.it_value.tv_usec != 0) << "timer switched off";
    sigset_t pending;
    for (const auto end = Clock::now() + 2s; Clock::now() < end; std::this_thread::sleep_for(5ms)) {
      sigpending(&pending);
      if (g_alarms != 0 || sigismember(&pending, SIGALRM) == 1) break;
    }
    if (blocked) {
      EXPECT_EQ(g_alarms, 0);
      EXPECT_EQ(sigismember(&pending, SIGALRM), 1) << "the due timer did not fire";
      const timespec none{};
      sigtimedwait(&alarm, nullptr, &none);
      sigemptyset(&before);
      pthread_sigmask(SIG_SETMASK, &before, nullptr);
    } else {
      EXPECT_EQ(g_alarms, 1) << "the due timer did not fire";
    }
  }
}

// Each at least its interval: one interrupted every 10 ms, one whose milliseconds carry into
// the next second.
TEST(PosixPause, WaitsAtLeastTheInterval) {
  const HandlerInstalled handler(SIGALRM, on_alarm);
  for (const auto& [milliseconds, interrupted] : {std::pair{120u, true}, {990u, false}}) {
    SCOPED_TRACE(milliseconds);
    itimerval timer{};
    if (interrupted) {
      timer.it_value.tv_usec = 10000;
      timer.it_interval.tv_usec = 10000;
    }
    setitimer(ITIMER_REAL, &timer, nullptr);
    const auto start = Clock::now();
    pause(milliseconds);
    const auto elapsed = Clock::now() - start;
    timer = {};
    setitimer(ITIMER_REAL, &timer, nullptr);
    EXPECT_GE(elapsed, std::chrono::milliseconds(milliseconds));
  }
}

// Closed 0, 1 and 2 are taken even where the null device cannot be opened: the next descriptor
// opened is above them, and a message to standard error fails without a signal.
TEST(PosixPrepareProcessDeathTest, TakesStandardDescriptorsWithoutNullDevice) {
  EXPECT_EXIT(
      {
        for (int fd = 0; fd <= 2; ++fd) close(fd);
        prepare_process("/nonexistent/null");
        debug_message("Ping failure\n");
        _exit(open("/", O_RDONLY) > STDERR_FILENO ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(PosixArguments, DecodesEachElementFromUtf8) {
  char program[] = "ZEBCmd";
  char word[] = "-dump";
  char file[] = "/tmp/caf\xc3\xa9 \xf0\x9f\x98\x80.bin";
  char* argv[] = {program, word, file, nullptr};
  EXPECT_THAT(argument_vector(3, argv),
              Optional(ElementsAre(u"ZEBCmd", u"-dump", u"/tmp/caf\u00e9 \U0001F600.bin")));
}

TEST(PosixArguments, EmptyArgvGivesEmptyVector) {
  char* argv[] = {nullptr};
  EXPECT_THAT(argument_vector(0, argv), Optional(ElementsAre()));
}

}  // namespace
}  // namespace zebcmd::platform
