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

#include "platform.h"

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

struct StalledCase {
  const char* name;
  std::chrono::milliseconds reader_wakes;
  bool delivered;
};

class PosixStalledChannel : public ::testing::TestWithParam<StalledCase> {};

// A pipe whose buffer is full and whose reader wakes only later: a reader that catches up
// within the bound gets the message whole; one that sleeps on loses it, and the tool goes on.
TEST_P(PosixStalledChannel, MessageWaitsAtMostTheBound) {
  int ends[2];
  ASSERT_TRUE(full_pipe(ends));

  std::atomic<bool> returned{false};
  std::string drained;
  std::thread reader([&] {
    for (const Clock::time_point wake = Clock::now() + GetParam().reader_wakes;
         Clock::now() < wake && !returned;) {
      std::this_thread::sleep_for(1ms);
    }
    // Once awake it keeps up; a reader that sleeps past the bound wakes only after the return.
    while (!returned) {
      drained += drain(ends[0]);
      std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(20ms);
    drained += drain(ends[0]);
  });
  const Clock::time_point start = Clock::now();
  {
    StderrReplaced replaced(ends[1]);
    debug_message("Ping command successful\n");
  }
  const auto elapsed_ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  returned = true;
  reader.join();
  close(ends[0]);
  close(ends[1]);

  EXPECT_LT(elapsed_ms, 5000) << "blocked on the stalled channel";
  const std::size_t message_at = drained.find("Ping");
  if (GetParam().delivered) {
    EXPECT_EQ(message_at, drained.size() - 24) << "not whole at the end";
  } else {
    EXPECT_GE(elapsed_ms, 250) << "gave up before the bound";
    EXPECT_EQ(message_at, std::string::npos) << "written after the tool had gone on";
  }
}

INSTANTIATE_TEST_SUITE_P(Readers, PosixStalledChannel,
                         ::testing::Values(StalledCase{"CatchesUp", 50ms, true},
                                           StalledCase{"SleepsOn", 10s, false}),
                         [](const auto& info) { return std::string(info.param.name); });

void on_interrupt(int) {}

// A stream socket that a signal interrupts mid-message takes part of it; the rest follows.
TEST(PosixDebugMessage, PartialWriteIsCompleted) {
  int sockets[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
  const int small = 4096;
  setsockopt(sockets[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  const HandlerInstalled handler(SIGUSR1, on_interrupt);

  std::string message(65536, 'm');
  message.back() = '\n';
  const pthread_t writer = pthread_self();
  std::atomic<bool> returned{false};
  std::thread interrupter([&] {
    while (!returned) {
      pthread_kill(writer, SIGUSR1);
      std::this_thread::sleep_for(2ms);
    }
  });
  std::string received;
  std::thread reader([&] {
    std::this_thread::sleep_for(20ms);
    char buffer[4096];
    ssize_t n;
    while (received.size() < message.size() &&
           (n = recv(sockets[1], buffer, sizeof buffer, 0)) > 0) {
      received.append(buffer, static_cast<std::size_t>(n));
    }
  });
  {
    StderrReplaced replaced(sockets[0]);
    debug_message(message);
  }
  returned = true;
  interrupter.join();
  shutdown(sockets[0], SHUT_WR);
  reader.join();
  close(sockets[0]);
  close(sockets[1]);
  EXPECT_EQ(received.size(), message.size());
  EXPECT_TRUE(received == message);
}

std::atomic<int> g_alarms{0};

void on_alarm(int) {
  ++g_alarms;
}

// The watchdog of a caller (alarm before exec): a message on a stalled channel keeps its timer,
// handler and mask, and the timer fires when due (or stays pending while blocked).
TEST(PosixDebugMessage, InheritedAlarmIsKept) {
  const HandlerInstalled handler(SIGALRM, on_alarm);
  for (const bool blocked : {false, true}) {
    SCOPED_TRACE(blocked ? "SIGALRM blocked" : "SIGALRM unblocked");
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    sigset_t before;
    pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &alarm, &before);
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
    EXPECT_EQ(sigismember(&after, SIGALRM), sigismember(&before, SIGALRM));
    EXPECT_EQ(sigismember(&after, SIGRTMIN), sigismember(&before, SIGRTMIN));
    struct sigaction now {};
    sigaction(SIGALRM, nullptr, &now);
    EXPECT_TRUE(now.sa_handler == on_alarm);
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
      pthread_sigmask(SIG_UNBLOCK, &alarm, nullptr);
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
