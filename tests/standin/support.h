// Files, raw sockets and a zebserver child for the tests that run the built server, and the
// headers those tests share.
#ifndef ZEBCMD_TESTS_SUPPORT_H
#define ZEBCMD_TESTS_SUPPORT_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bytes.h"
#include "contract.h"
#include "status.h"
#include "zebcli/zebcli.h"

extern char** environ;

namespace zeb::test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kUser = "admin";
constexpr const char* kPassword = "mot47vek,raz;";

// A journal entry after its time stamp, with user and file as the journal escapes them.
inline std::string journalled(const std::string& request, const std::string& user,
                              const std::string& file, int status) {
  return request + " user=\"" + user + "\" file=\"" + file + "\" status=" + std::to_string(status);
}
const std::string kVersionsEntry = journalled("versions", "", "", 0);
const std::string kInvalidEntry = journalled("invalid", "", "", -5);

inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

inline void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline void set_server(const std::string& host, std::uint16_t port) {
  setenv("ZEB_SERVER", (host + ":" + std::to_string(port)).c_str(), 1);
}

// The port of the server's first line, "listening on 127.0.0.1:PORT"; 0 for any other line.
inline std::uint16_t listening_port(const std::string& line) {
  const std::string start = std::string(zeb::contract::kListeningOn) + zeb::contract::kServerHost;
  static const std::regex kPort(":(\\d+)");
  std::smatch match;
  return line.rfind(start, 0) == 0 &&
                 std::regex_match(line.begin() + start.size(), line.end(), match, kPort)
             ? static_cast<std::uint16_t>(std::stoi(match[1]))
             : 0;
}

// A journal line's entry after its time stamp, nothing when the line has no stamp. Only the
// stamp goes through the regex: lines can be too long for its recursion.
inline std::optional<std::string> journal_entry(const std::string& line) {
  static const std::regex kStamp("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{6}Z ");
  std::smatch stamp;
  if (!std::regex_search(line, stamp, kStamp, std::regex_constants::match_continuous)) return {};
  return stamp.suffix().str();
}

inline sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A raw client with a bound on every receive; with SOCK_NONBLOCK the connection may still be on
// its way.
inline int dial(std::uint16_t port, int seconds = 5, int flags = 0) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
  timeval limit{seconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  sockaddr_in address = loopback(port);
  int connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  if (flags == 0) {
    EXPECT_EQ(connected, 0) << std::strerror(errno);
  }
  return fd;
}

// Everything the peer sends until it closes; false if it resets or stays silent too long.
inline bool receive_all(int fd, std::string* out) {
  char chunk[65536];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got <= 0) return got == 0;
    out->append(chunk, static_cast<std::size_t>(got));
  }
}

// Sends bytes on a connection of its own and closes the sending side: the server answers the
// protocol error, or resets the connection when it left request bytes unread (answered false).
inline void expect_refused(std::uint16_t port, const std::string& bytes, bool* answered) {
  const int fd = dial(port);
  ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
  shutdown(fd, SHUT_WR);
  std::string answer;
  *answered = receive_all(fd, &answer);
  const int error = errno;
  close(fd);
  if (*answered) {
    ASSERT_EQ(answer, make_frame(u32_bytes(static_cast<std::uint32_t>(status::kProtocolError))));
  } else {
    ASSERT_EQ(error, ECONNRESET);
  }
}

// Each of clients threads asks for the versions calls times, all threads set off together; per
// thread the status of its last failed call, 0 when every call was answered.
inline std::vector<int> versions_from_threads(int clients, int calls) {
  std::vector<int> results(clients, 0);
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int& result : results) {
    threads.emplace_back([&] {
      ++ready;
      while (!go) std::this_thread::yield();
      char version[32];
      for (int i = 0; i < calls; ++i) {
        if (const int status = ZEBC_GetVersions(version, sizeof version, nullptr, 0))
          result = status;
      }
    });
  }
  while (ready < clients) std::this_thread::yield();
  go = true;
  for (std::thread& thread : threads) thread.join();
  return results;
}

// Descriptors the process holds open, -1 when they cannot be listed.
inline long open_descriptors(pid_t pid) {
  std::error_code error;
  fs::directory_iterator entries("/proc/" + std::to_string(pid) + "/fd", error);
  return error ? -1 : std::distance(entries, fs::directory_iterator());
}

// Files in dir whose name holds the dump's temporary suffix.
inline std::vector<fs::path> temporary_files(const fs::path& dir) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().filename().string().find(".tmp.") != std::string::npos) {
      found.push_back(entry.path());
    }
  }
  return found;
}

// A fresh folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "zebstandin-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// One zebserver child, reaped whatever happens, its journal read from a file.
class Server {
 public:
  ~Server() { stop(); }

  // Standard output goes to the journal file, or to descriptor output when one is given. A
  // launcher is a command that ends by running the server command appended to it.
  bool spawn_server(std::vector<std::string> args, const fs::path& journal,
                    const fs::path& errors = "/dev/null", int output = -1,
                    std::vector<std::string> launcher = {}) {
    journal_ = journal;
    taken_ = 0;
    args.insert(args.begin(), ZEBSERVER_PATH);
    args.insert(args.begin(), launcher.begin(), launcher.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int mode = O_WRONLY | O_CREAT | O_TRUNC;
    if (output >= 0) {
      posix_spawn_file_actions_adddup2(&actions, output, 1);
    } else {
      posix_spawn_file_actions_addopen(&actions, 1, journal.c_str(), mode, 0600);
    }
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), mode, 0600);
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid_ > 0;
  }

  // Spawns it on a free port with --journal, reads the port from the first line and points the
  // library at it.
  bool start_process(std::vector<std::string> args, const fs::path& journal,
                     std::vector<std::string> launcher = {}) {
    std::error_code ignored;
    fs::remove(journal, ignored);
    args.insert(args.begin(), {"--port", "0", "--journal", journal.string()});
    const int nowhere = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const bool spawned = spawn_server(std::move(args), journal, "/dev/null", nowhere, launcher);
    close(nowhere);
    if (!spawned) return false;
    const std::string first = next_line(10s);
    port_ = listening_port(first);
    EXPECT_NE(port_, 0) << first;
    if (port_ == 0) return false;
    set_server("127.0.0.1", port_);
    return true;
  }

  // Next journal entry without its timestamp, once the timestamp's form is checked.
  std::string next_journal_entry() {
    const std::string line = next_line(5s);
    return journal_entry(line).value_or("malformed: " + line);
  }

  // All journal lines without their timestamps, the listening line first.
  std::vector<std::string> journal_lines() const {
    std::vector<std::string> lines;
    std::istringstream in(read_file(journal_));
    for (std::string line; std::getline(in, line);)
      lines.push_back(journal_entry(line).value_or(line));
    return lines;
  }

  long count_of(const std::string& line) const {
    std::vector<std::string> lines = journal_lines();
    return std::count(lines.begin(), lines.end(), line);
  }

  // Exit code once the child ends by itself, -1 if it does not within the timeout.
  int wait_exit(std::chrono::milliseconds timeout) {
    for (Clock::time_point end = Clock::now() + timeout; pid_ > 0;
         std::this_thread::sleep_for(5ms)) {
      int raw = 0;
      if (waitpid(pid_, &raw, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      }
      if (Clock::now() >= end) break;
    }
    return -1;
  }

  bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

  void kill_server() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  // SIGTERM; the exit status, or -1 when it had to be killed.
  int stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    const int status = wait_exit(5s);
    if (status < 0) kill_server();
    return status;
  }

  std::uint16_t port() const { return port_; }
  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

 private:
  // The journal line after the last one taken, without its newline; empty after the timeout.
  std::string next_line(std::chrono::milliseconds timeout) {
    for (Clock::time_point end = Clock::now() + timeout;; std::this_thread::sleep_for(2ms)) {
      const std::string journal = read_file(journal_);
      const std::size_t newline = journal.find('\n', taken_);
      if (newline != std::string::npos) {
        std::string line = journal.substr(taken_, newline - taken_);
        taken_ = newline + 1;
        return line;
      }
      if (Clock::now() >= end) return "";
    }
  }

  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
  fs::path journal_;
  std::size_t taken_ = 0;
};

// A fresh folder and the library opened for each test, which starts its server when it needs
// one; a server left running must stop cleanly at the end.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ZEBC_Init(), 0); }
  void TearDown() override {
    ZEBC_Close();
    if (server_.started()) {
      EXPECT_EQ(server_.stop(), 0) << "the server did not survive";
    }
  }

  void start_server(std::vector<std::string> args = {}, std::vector<std::string> launcher = {}) {
    ASSERT_TRUE(server_.start_process(std::move(args), dir_ / "journal.txt", launcher));
  }

  // A call by the administrator answered with status, and its request journalled with it.
  void expect_journalled(int got, int status, const char* request, const std::string& file = "") {
    EXPECT_EQ(got, status);
    EXPECT_EQ(server_.next_journal_entry(), journalled(request, kUser, file, status));
  }

  // The server's data as dump bytes; consumes the dump's journal line.
  std::string data_now() {
    expect_journalled(ZEBC_Adm_Dump(kUser, kPassword, snapshot_.c_str()), 0, "dump", snapshot_);
    return read_file(snapshot_);
  }

  struct Refusal {
    std::string file;
    int status;
  };

  // Each reload is refused with its status within the call's time limit, journalled so, and
  // leaves the data as it was.
  void expect_reloads_refused(const std::vector<Refusal>& refusals) {
    const std::string before = data_now();
    for (const Refusal& refusal : refusals) {
      SCOPED_TRACE(refusal.file);
      const Clock::time_point start = Clock::now();
      const int got = ZEBC_Adm_Reload(kUser, kPassword, refusal.file.c_str());
      EXPECT_LT(Clock::now() - start, 3s);
      expect_journalled(got, refusal.status, "reload", refusal.file);
      EXPECT_TRUE(data_now() == before);
    }
  }

  TempDir dir_;
  const std::string snapshot_ = (dir_ / "snapshot.bin").string();
  Server server_;
};

}  // namespace zeb::test

#endif
