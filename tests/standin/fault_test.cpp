// Faults at the stand-in server: floods of malformed requests, a burst of concurrent clients,
// silent and slow clients, clients that have gone, a journal nobody reads, too few descriptors,
// a server killed in the middle of a dump, a full device, and reload files that are not what
// they seem. Each test starts its own zebserver on 127.0.0.1.
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <functional>
#include <iostream>
#include <random>

#include "dumpfile.h"
#include "protocol.h"
#include "support.h"

namespace zeb::test {
namespace {

class FaultTest : public ServerTest {};

// Kinds of broken request, each a function of a counter so that the flood varies.
const std::function<std::string(std::uint32_t)> kMalformed[] = {
    [](std::uint32_t i) { return u32_bytes(protocol::kMaxPayload + 1 + i * 7919); },
    [](std::uint32_t) { return u32_bytes(0); },
    [](std::uint32_t i) { return make_frame(std::string(1, char(i % 2 == 0 ? 0 : 6 + i % 250))); },
    [](std::uint32_t i) { return make_frame("\x02" + u32_bytes(50 + i)); },
    [](std::uint32_t) { return make_frame("\x02" + u32_bytes(0xFFFFFFFF) + "admin"); },
    [](std::uint32_t i) { return make_frame("\x01" + std::string(1 + i % 9, 'x')); },
    [](std::uint32_t) { return make_frame("\x02" + text_bytes(kUser)); },
    [](std::uint32_t) { return make_frame("\x04" + text_bytes(kUser) + text_bytes(kPassword)); },
    [](std::uint32_t) {
      return make_frame("\x03" + text_bytes(kUser) + text_bytes(kPassword) + text_bytes("extra"));
    },
    [](std::uint32_t i) { return u32_bytes(100 + i) + "\x05" + text_bytes(kUser); },
    [](std::uint32_t i) {
      std::mt19937 random(i);
      std::string bytes = u32_bytes(protocol::kMaxPayload + 1 + random() % 1000);
      for (int n = 0; n < 64; ++n) bytes.push_back(static_cast<char>(random()));
      return bytes;
    },
};

TEST_F(FaultTest, ThousandMalformedRequestsThenVersionsAreAnswered) {
  start_server();
  int answered = 0;
  for (std::uint32_t i = 0; i < 1000; ++i) {
    bool answer = false;
    ASSERT_NO_FATAL_FAILURE(
        expect_refused(server_.port(), kMalformed[i % std::size(kMalformed)](i), &answer))
        << i;
    answered += answer;
  }
  EXPECT_GT(answered, 500);
  EXPECT_EQ(ZEBC_GetVersions(nullptr, 0, nullptr, 0), 0);
  EXPECT_EQ(server_.count_of(kInvalidEntry), 1000);
  EXPECT_EQ(server_.journal_lines().back(), kVersionsEntry);
}

TEST_F(FaultTest, TwoHundredConcurrentPingsAreAllAnswered) {
  start_server();
  constexpr int kClients = 200;  // below the server's 256 connections at once
  EXPECT_EQ(versions_from_threads(kClients, 1), std::vector<int>(kClients, 0));
  EXPECT_TRUE(server_.running());
  EXPECT_EQ(ZEBC_GetVersions(nullptr, 0, nullptr, 0), 0);
  EXPECT_EQ(server_.count_of(kVersionsEntry), kClients + 1);
}

TEST_F(FaultTest, SilentAndSlowClientsHoldUpNobody) {
  start_server();
  std::vector<int> silent;
  // They wait longer than the server's 5 s per connection.
  for (int i = 0; i < 20; ++i) silent.push_back(dial(server_.port(), 15));
  // Part of a frame, and then nothing more.
  const int slow = dial(server_.port(), 15);
  ASSERT_EQ(send(slow, "\0\0\0", 3, MSG_NOSIGNAL), 3);

  const std::string file = (dir_ / "data.bin").string();
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(ZEBC_GetVersions(nullptr, 0, nullptr, 0), 0) << i;
    EXPECT_EQ(ZEBC_Adm_Dump(kUser, kPassword, file.c_str()), 0) << i;
    EXPECT_EQ(ZEBC_Adm_Restart(kUser, kPassword), 0) << i;
  }
  // The server drops them once their 5 s are up; the part frame is journalled as invalid.
  for (int fd : silent) {
    std::string nothing;
    EXPECT_TRUE(receive_all(fd, &nothing));
    EXPECT_EQ(nothing, "");
    close(fd);
  }
  std::string answer;
  receive_all(slow, &answer);
  close(slow);
  EXPECT_EQ(server_.count_of(kInvalidEntry), 1);
  EXPECT_EQ(ZEBC_GetVersions(nullptr, 0, nullptr, 0), 0);
  // Its 256 places taken, a further call learns that the server is busy.
  std::vector<int> idle(256);
  for (int& fd : idle) fd = dial(server_.port(), 15);
  EXPECT_EQ(ZEBC_Adm_Restart(kUser, kPassword), status::kBusy);
  for (int fd : idle) close(fd);
}

TEST_F(FaultTest, RequestOfAClientThatHasGoneIsNotCarriedOut) {
  start_server();
  const std::string other = dumpfile::encode({"other"});
  write_file(dir_ / "other.bin", other);
  expect_journalled(ZEBC_Adm_Reload(kUser, kPassword, (dir_ / "other.bin").c_str()), 0, "reload",
                    (dir_ / "other.bin").string());
  // Held up, as by a long dump, while a client sends a reset and stops waiting.
  ASSERT_EQ(kill(server_.pid(), SIGSTOP), 0);
  const int fd = dial(server_.port());
  const std::string reset = make_frame("\x03" + text_bytes(kUser) + text_bytes(kPassword));
  EXPECT_EQ(send(fd, reset.data(), reset.size(), MSG_NOSIGNAL), ssize_t(reset.size()));
  close(fd);
  ASSERT_EQ(kill(server_.pid(), SIGCONT), 0);
  EXPECT_EQ(server_.next_journal_entry(), journalled("reset", kUser, "", -4));
  EXPECT_TRUE(data_now() == other) << "the reset was carried out";
  EXPECT_EQ(server_.journal_lines().size(), 4u) << "lines after the dump";
}

// Reads the pipe until the server has written nothing for 200 ms.
std::string read_until_quiet(int fd) {
  std::string out;
  char chunk[65536];
  for (int quiet = 0; quiet < 10;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got > 0) out.append(chunk, static_cast<std::size_t>(got));
    quiet = got > 0 ? 0 : quiet + 1;
    if (got <= 0) std::this_thread::sleep_for(20ms);
  }
  return out;
}

// Starts the server with its standard output the pipe's writing end and points the library at
// it; the reading end stays the caller's.
void start_on_pipe(Server* server, const fs::path& dir, int ends[2],
                   std::vector<std::string> launcher = {}) {
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  ASSERT_TRUE(server->spawn_server({"--port", "0"}, dir / "unused.txt", "/dev/null", ends[1],
                                   std::move(launcher)));
  close(ends[1]);
  std::string first;
  char c = 0;
  while (read(ends[0], &c, 1) == 1 && c != '\n') first.push_back(c);
  const std::uint16_t port = listening_port(first);
  ASSERT_TRUE(c == '\n' && port != 0) << first;
  set_server("127.0.0.1", port);
}

// Runs the server as another user, to whom the test's pipe is closed: it cannot open its
// standard output anew through /proc/self/fd/1, as where /proc is missing.
const std::vector<std::string> kAsNobody = {"setpriv", "--reuid=65534", "--regid=65534",
                                            "--clear-groups"};

enum class Reading { kWhileServing, kWhileExiting, kOnceGone };

// Reloads of a name of length bytes 0x01 make lines (256 KB by default) far beyond the pipe and
// what the server holds back. The journal is read again while the server serves on, or while it
// exits, or once it has gone: each line in it is whole and the dropped ones are counted.
void check_journal_nobody_reads(Server* server, const fs::path& dir, Reading reading,
                                std::size_t length = 64000,
                                std::vector<std::string> launcher = {}) {
  int ends[2];
  ASSERT_NO_FATAL_FAILURE(start_on_pipe(server, dir, ends, std::move(launcher)));
  const std::string name(length, '\x01');
  const int reloads = static_cast<int>(20 * 64000 / length);
  for (int i = 0; i < reloads; ++i) {
    ASSERT_EQ(ZEBC_Adm_Reload(kUser, kPassword, name.c_str()), status::kCannotRead) << i;
  }
  const bool serving = reading == Reading::kWhileServing;
  std::string journal;
  if (serving) {
    EXPECT_EQ(ZEBC_GetVersions(nullptr, 0, nullptr, 0), 0);
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    journal = read_until_quiet(ends[0]);
    EXPECT_EQ(ZEBC_GetVersions(nullptr, 0, nullptr, 0), 0);
    journal += read_until_quiet(ends[0]);
  } else {
    std::thread reader([&] {
      if (reading == Reading::kWhileExiting) receive_all(ends[0], &journal);
    });
    EXPECT_EQ(server->stop(), 0);
    reader.join();
    receive_all(ends[0], &journal);
  }
  close(ends[0]);
  std::string escaped;
  for (std::size_t i = 0; i < name.size(); ++i) escaped += "\\x01";
  const std::string reload = journalled("reload", kUser, escaped, -8);
  long lines = 0;
  long dropped = 0;
  std::string entry;
  std::istringstream in(journal);
  for (std::string line; std::getline(in, line); ++lines) {
    entry = journal_entry(line).value_or("unstamped: " + line);
    if (entry.rfind("dropped lines=", 0) == 0) {
      dropped += std::stol(entry.substr(14));
      --lines;
    } else {
      EXPECT_TRUE(entry == reload || entry == kVersionsEntry) << entry.substr(0, 80);
    }
  }
  EXPECT_GT(dropped, 0);
  EXPECT_EQ(lines + dropped, reloads + (serving ? 2 : 0));
  // The count of those dropped goes before the next line, and ends the journal at exit.
  EXPECT_TRUE(!journal.empty() && journal.back() == '\n');
  EXPECT_TRUE(std::regex_match(entry, std::regex(serving ? kVersionsEntry : "dropped lines=\\d+")))
      << entry.substr(0, 80);
}

TEST_F(FaultTest, StandardOutputNobodyReadsDropsJournalLinesNotRequests) {
  check_journal_nobody_reads(&server_, dir_.path(), Reading::kWhileServing);
}

// Without a descriptor of its own the journal writes only what poll() allows.
TEST_F(FaultTest, StandardOutputThatCannotBeReopenedStillNeverBlocks) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root to run the server as another user: the journal without a "
                    "descriptor of its own is not tried";
  }
  check_journal_nobody_reads(&server_, dir_.path(), Reading::kWhileServing, 64000, kAsNobody);
}

// Lines longer than a pipe takes at once, read while the server exits; lines just shorter, read
// only once it has gone.
TEST_F(FaultTest, AtSigtermTheJournalEndsWithWholeLinesAndTheDroppedCount) {
  check_journal_nobody_reads(&server_, dir_.path(), Reading::kWhileExiting);
  check_journal_nobody_reads(&server_, dir_.path(), Reading::kOnceGone, 900);
}

// CPU time the process has used.
double cpu_seconds(pid_t pid) {
  const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  // utime and stime are the 12th and 13th fields after the name.
  for (int i = 0; i < 11; ++i) fields >> field;
  double user = 0;
  double system = 0;
  fields >> user >> system;
  return (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

TEST_F(FaultTest, OutOfDescriptorsTheServerWaitsInsteadOfSpinning) {
  start_server();
  const rlimit few{32, 32};
  ASSERT_EQ(prlimit(server_.pid(), RLIMIT_NOFILE, &few, nullptr), 0);
  std::vector<int> idle;
  for (int i = 0; i < 40; ++i) idle.push_back(dial(server_.port(), 15));
  std::this_thread::sleep_for(200ms);
  const double before = cpu_seconds(server_.pid());
  std::this_thread::sleep_for(1s);
  EXPECT_LT(cpu_seconds(server_.pid()) - before, 0.2) << "spinning on accept()";
  for (int fd : idle) close(fd);
  EXPECT_EQ(ZEBC_GetVersions(nullptr, 0, nullptr, 0), 0) << "does not accept again";
  // A flood of connections closed before they are accepted drains within the call's 3 s.
  ASSERT_EQ(prlimit(server_.pid(), RLIMIT_NOFILE, &few, nullptr), 0);
  for (int i = 0; i < 1000; ++i) close(dial(server_.port()));
  EXPECT_EQ(ZEBC_GetVersions(nullptr, 0, nullptr, 0), 0) << "still draining the flood";
}

// Data large enough that writing and syncing its dump takes a while.
dumpfile::Records large_records(std::size_t count, std::size_t size) {
  dumpfile::Records records;
  for (std::size_t i = 0; i < count; ++i) {
    records.insert(std::to_string(1000000 + i) + std::string(size, char('a' + i % 26)));
  }
  return records;
}

TEST_F(FaultTest, KillDuringDumpLeavesThePreviousFileIntact) {
  const std::string large = dumpfile::encode(large_records(1024, 8192));
  const std::string previous = dumpfile::encode({"previous", "dump"});
  write_file(dir_ / "start.bin", large);
  const fs::path dumps = dir_ / "dumps";
  fs::create_directory(dumps);
  const fs::path target = dumps / "data.bin";
  write_file(target, previous);

  // How long one whole dump takes here, so that random kills spread over all of it.
  std::chrono::microseconds duration{};
  {
    Server timer;
    ASSERT_TRUE(timer.start_process({"--data", (dir_ / "start.bin").string()}, dir_ / "timer.txt"));
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(ZEBC_Adm_Dump(kUser, kPassword, (dir_ / "timed.bin").c_str()), 0);
    duration = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
  }
  std::mt19937 random(20240601);
  int killed_mid_dump = 0;
  std::size_t strays = 0;
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    Server victim;
    ASSERT_TRUE(
        victim.start_process({"--data", (dir_ / "start.bin").string()}, dir_ / "victim.txt"));
    std::atomic<int> result{1};
    std::thread client([&] { result = ZEBC_Adm_Dump(kUser, kPassword, target.string().c_str()); });
    // Even rounds kill as soon as the temporary file shows; odd ones at a random point, up to
    // a little after the dump would have ended.
    if (round % 2 == 0) {
      for (Clock::time_point end = Clock::now() + 5s;
           temporary_files(dumps).size() <= strays && Clock::now() < end;) {
        std::this_thread::sleep_for(50us);
      }
      EXPECT_GT(temporary_files(dumps).size(), strays) << "the dump did not start";
    } else {
      std::this_thread::sleep_for(
          std::chrono::microseconds(random() % (duration.count() * 5 / 4 + 1)));
    }
    victim.kill_server();
    client.join();
    const std::string now = read_file(target);
    dumpfile::Records decoded;
    EXPECT_EQ(dumpfile::decode(now, &decoded), status::kOk);
    EXPECT_TRUE(now == previous || now == large) << now.size() << " bytes";
    if (result == 0) {
      EXPECT_TRUE(now == large) << now.size() << " bytes";
    }
    if (now == previous) ++killed_mid_dump;
    // Start again from the previous dump, so that every round can catch one mid-way.
    write_file(target, previous);
    strays = temporary_files(dumps).size();
  }
  EXPECT_GE(killed_mid_dump, 1) << "no kill landed before the rename";
  std::cout << "[          ] dump of " << large.size() << " bytes in " << duration.count()
            << " us; " << killed_mid_dump << " of 8 kills before the rename, " << strays
            << " temporary files left behind\n";

  // Left-over temporary files have names of their own: a later dump goes through.
  start_server({"--data", (dir_ / "start.bin").string()});
  ASSERT_EQ(ZEBC_Adm_Dump(kUser, kPassword, target.string().c_str()), 0);
  EXPECT_TRUE(read_file(target) == large);
  EXPECT_EQ(temporary_files(dumps).size(), strays);
  EXPECT_EQ(ZEBC_Adm_Reload(kUser, kPassword, target.string().c_str()), 0);
}

// The server's descriptors once it has closed the connections of calls that have returned:
// the count reaches expected, or (with none expected) stays the same for 50 ms.
long settled_descriptors(const Server& server, long expected = -1) {
  long count = open_descriptors(server.pid());
  for (Clock::time_point end = Clock::now() + 2s; count != expected && Clock::now() < end;) {
    std::this_thread::sleep_for(50ms);
    const long previous = count;
    count = open_descriptors(server.pid());
    if (expected < 0 && count == previous) break;
  }
  return count;
}

TEST_F(FaultTest, ManyDumpsLeaveNoDescriptorBehind) {
  start_server();
  const std::string file = (dir_ / "data.bin").string();
  ASSERT_EQ(ZEBC_Adm_Dump(kUser, kPassword, file.c_str()), 0);
  const long before = settled_descriptors(server_);
  ASSERT_GT(before, 0);
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(ZEBC_Adm_Dump(kUser, kPassword, file.c_str()), 0) << i;
    // A failed dump takes its own way out.
    ASSERT_EQ(ZEBC_Adm_Dump(kUser, kPassword, dir_.path().c_str()), status::kCannotWrite) << i;
  }
  EXPECT_EQ(settled_descriptors(server_, before), before);
}

// A 64 KiB tmpfs mounted for the test, unmounted whatever happens.
struct SmallDevice {
  explicit SmallDevice(const fs::path& at) : path(at) {
    fs::create_directory(path);
    mounted = mount("tmpfs", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") == 0;
    error = errno;
  }
  ~SmallDevice() {
    if (mounted) umount2(path.c_str(), MNT_DETACH);
  }

  fs::path path;
  bool mounted = false;
  int error = 0;
};

TEST_F(FaultTest, DumpOntoAFullDeviceFailsAndKeepsTheOldFile) {
  SmallDevice device(dir_ / "small");
  if (!device.mounted) {
    GTEST_SKIP() << "cannot mount a 64 KiB tmpfs (" << std::strerror(device.error)
                 << "; needs root): the full-device dump is not tried";
  }
  const std::string old = dumpfile::encode({"old", "contents"});
  const fs::path target = dir_ / "small" / "data.bin";
  write_file(target, old);
  write_file(dir_ / "start.bin", dumpfile::encode(large_records(32, 4096)));
  start_server({"--data", (dir_ / "start.bin").string()});
  EXPECT_EQ(ZEBC_Adm_Dump(kUser, kPassword, target.string().c_str()), status::kCannotWrite);
  EXPECT_TRUE(read_file(target) == old) << fs::file_size(target) << " bytes";
  EXPECT_TRUE(temporary_files(dir_ / "small").empty());
  // The device really is too small, not refused for another reason: a small dump fits.
  EXPECT_EQ(ZEBC_Adm_Restart(kUser, kPassword), 0);
  const std::string small = dumpfile::encode({"small"});
  write_file(dir_ / "small.bin", small);
  EXPECT_EQ(ZEBC_Adm_Reload(kUser, kPassword, (dir_ / "small.bin").c_str()), 0);
  EXPECT_EQ(ZEBC_Adm_Dump(kUser, kPassword, target.string().c_str()), 0);
  EXPECT_EQ(read_file(target), small);
}

TEST_F(FaultTest, ReloadOfWhatIsNotARegularDumpLeavesTheDataUnchanged) {
  start_server();
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  fs::create_directory_symlink(dir_.path(), dir_ / "folder-link");
  // A valid layout just past the 16 MiB bound, and a valid dump with one byte appended.
  const std::size_t fill = dumpfile::kMaxFileSize - dumpfile::encode({""}).size() + 1;
  write_file(dir_ / "oversized.bin", dumpfile::encode({std::string(fill, 'x')}));
  write_file(dir_ / "appended.bin", dumpfile::encode({"one"}) + "!");
  expect_reloads_refused({
      {(dir_ / "fifo").string(), status::kCannotRead},
      {"/dev/zero", status::kCannotRead},
      {(dir_ / "folder-link").string(), status::kCannotRead},
      {(dir_ / "oversized.bin").string(), status::kInvalidDump},
      {(dir_ / "appended.bin").string(), status::kInvalidDump},
      // A regular file whose read fails: the server's own memory at address 0.
      {"/proc/self/mem", status::kCannotRead},
  });
  // The bound itself is allowed.
  write_file(dir_ / "largest.bin", dumpfile::encode({std::string(fill - 1, 'x')}));
  EXPECT_EQ(fs::file_size(dir_ / "largest.bin"), dumpfile::kMaxFileSize);
  EXPECT_EQ(ZEBC_Adm_Reload(kUser, kPassword, (dir_ / "largest.bin").c_str()), 0);
}

// A reload from a folder the server's user may search but not list, a dump into a drop box.
TEST_F(FaultTest, SearchRightsOnTheFolderAreEnoughForReloadAndDump) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the server as another user";
  const fs::path unlisted = dir_ / "unlisted" / "data.bin";
  const fs::path dropbox = dir_ / "dropbox" / "data.bin";
  fs::create_directory(unlisted.parent_path());
  fs::create_directory(dropbox.parent_path());
  write_file(unlisted, dumpfile::encode({"searched", "not listed"}));
  fs::permissions(unlisted, fs::perms(0644));
  fs::permissions(unlisted.parent_path(), fs::perms(0711));
  fs::permissions(dropbox.parent_path(), fs::perms(0333));
  // The server's user creates its journal in the test's folder.
  fs::permissions(dir_.path(), fs::perms(0733));
  start_server({}, kAsNobody);
  EXPECT_EQ(ZEBC_Adm_Reload(kUser, kPassword, unlisted.c_str()), 0);
  EXPECT_EQ(ZEBC_Adm_Dump(kUser, kPassword, dropbox.c_str()), 0);
  EXPECT_EQ(read_file(dropbox), read_file(unlisted));
}

}  // namespace
}  // namespace zeb::test
