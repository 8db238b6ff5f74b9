#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform.h"

namespace zebcmd::platform {
namespace {

using Clock = std::chrono::steady_clock;
using ::testing::ElementsAre;
using ::testing::Optional;

// Standard error swapped for a datagram-like socket: each write arrives as one record.
class StderrRecorder {
 public:
  StderrRecorder() {
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sockets_), 0);
    saved_ = dup(STDERR_FILENO);
    dup2(sockets_[0], STDERR_FILENO);
  }
  ~StderrRecorder() {
    dup2(saved_, STDERR_FILENO);
    close(saved_);
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
  int sockets_[2] = {-1, -1};
  int saved_ = -1;
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

void on_alarm(int) {}

TEST(PosixPause, WaitsAtLeastTheIntervalEvenWhenInterrupted) {
  struct sigaction action {};
  action.sa_handler = on_alarm;  // no SA_RESTART: the sleep sees EINTR
  struct sigaction previous {};
  sigaction(SIGALRM, &action, &previous);
  itimerval timer{};
  timer.it_value.tv_usec = 10000;
  timer.it_interval.tv_usec = 10000;
  setitimer(ITIMER_REAL, &timer, nullptr);

  const auto start = Clock::now();
  pause(120);
  const auto elapsed = Clock::now() - start;

  timer = {};
  setitimer(ITIMER_REAL, &timer, nullptr);
  sigaction(SIGALRM, &previous, nullptr);
  EXPECT_GE(elapsed, std::chrono::milliseconds(120));
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
