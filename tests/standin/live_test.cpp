// The real client library against the built zebserver, each test with a fresh server.
#include <dlfcn.h>
#include <netdb.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <functional>

#include "dumpfile.h"
#include "protocol.h"
#include "support.h"

// The library's resolver calls land here first: this program's definition takes precedence
// over the C library's. A name ending in ".stalled" stands for a resolver that answers nothing
// until 3 s after the library's connect limit. Calls that may reach a resolver (without
// AI_NUMERICHOST) are counted.
std::atomic<int> g_resolver_calls{0};
const auto kStalledResolver =
    std::chrono::milliseconds(zeb::contract::kConnectLimitMs) + std::chrono::seconds(3);

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result) {
  using Function = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
  static const auto real = reinterpret_cast<Function>(dlsym(RTLD_NEXT, "getaddrinfo"));
  if (hints != nullptr && (hints->ai_flags & AI_NUMERICHOST) != 0) {
    return real(node, service, hints, result);
  }
  ++g_resolver_calls;
  static const std::regex kStalled(".*\\.stalled");
  if (node == nullptr || !std::regex_match(node, kStalled)) {
    return real(node, service, hints, result);
  }
  std::this_thread::sleep_for(kStalledResolver);
  return EAI_AGAIN;
}

namespace zeb::test {
namespace {

constexpr const char* kServerVersion = "zebserver 1.0.0";

constexpr double kSlackMs = 2000;  // what a test allows a call beyond the library's limits

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Listens on a free port and never accepts (the kernel completes connections all the same),
// and points the library at it.
int listen_on(int backlog, std::uint16_t* port = nullptr) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = loopback(0);
  socklen_t length = sizeof address;
  auto* any = reinterpret_cast<sockaddr*>(&address);
  EXPECT_TRUE(bind(fd, any, length) == 0 && listen(fd, backlog) == 0 &&
              getsockname(fd, any, &length) == 0);
  set_server("127.0.0.1", ntohs(address.sin_port));
  if (port != nullptr) *port = ntohs(address.sin_port);
  return fd;
}

class LiveTest : public ServerTest {};

TEST_F(LiveTest, VersionsAreTruncatedToTheBufferAndNeverOverrun) {
  start_server();
  const int exact = static_cast<int>(std::strlen(kServerVersion)) + 1;
  for (int size : {0, -1, 1, 2, exact - 1, exact, 64}) {
    SCOPED_TRACE(size);
    char server[80];
    char protocol[80];
    std::memset(server, '#', sizeof server);
    std::memset(protocol, '#', sizeof protocol);
    ASSERT_EQ(ZEBC_GetVersions(server, size, protocol, size), 0);
    EXPECT_EQ(server_.next_journal_entry(), kVersionsEntry);
    for (auto [buffer, text] : {std::pair{server, std::string(kServerVersion)}, {protocol, "1"}}) {
      int written = size <= 0 ? 0 : std::min<int>(size, static_cast<int>(text.size()) + 1);
      if (written > 0) {
        EXPECT_EQ(std::string(buffer), text.substr(0, written - 1));
      }
      EXPECT_EQ(std::string(buffer + written, sizeof server - written),
                std::string(sizeof server - written, '#'));
    }
  }
  EXPECT_EQ(ZEBC_GetVersions(nullptr, 16, nullptr, 16), 0);
}

TEST_F(LiveTest, AdministrativeOperationsAreCarriedOutAndJournalled) {
  start_server();
  std::string file = (dir_ / "data.bin").string();
  expect_journalled(ZEBC_Adm_Restart(kUser, kPassword), 0, "reset");
  expect_journalled(ZEBC_Adm_Dump(kUser, kPassword, file.c_str()), 0, "dump", file);
  expect_journalled(ZEBC_Adm_Reload(kUser, kPassword, file.c_str()), 0, "reload", file);
  EXPECT_EQ(ZEBC_Adm_Close(kUser, kPassword), 0);
  // Right away: the port is closed by the time the stop is answered.
  EXPECT_EQ(ZEBC_GetVersions(nullptr, 0, nullptr, 0), status::kUnreachable);
  EXPECT_EQ(server_.next_journal_entry(), journalled("stop", kUser, "", 0));
  EXPECT_EQ(server_.wait_exit(5s), 0);
}

TEST_F(LiveTest, WrongCredentialsChangeNothing) {
  start_server();
  const std::string before = data_now();
  const std::string file = (dir_ / "never.bin").string();
  const std::pair<const char*, const char*> credentials[] = {
      {"root", kPassword},       {"Admin", kPassword},     {"", kPassword},
      {kUser, "mot47vek,raz"},   {kUser, "mot47vek"},      {kUser, ""},
      {kUser, "mot47vek,raz;x"}, {kUser, "mot47vek,raZ;"}, {kUser, "mot47vek,raz:"},
      {"admin\x01", kPassword},
  };
  for (auto [user, password] : credentials) {
    SCOPED_TRACE(std::string(user) + " / " + password);
    EXPECT_EQ(ZEBC_Adm_Restart(user, password), status::kBadCredentials);
    EXPECT_EQ(ZEBC_Adm_Dump(user, password, file.c_str()), status::kBadCredentials);
    EXPECT_EQ(ZEBC_Adm_Reload(user, password, file.c_str()), status::kBadCredentials);
    EXPECT_EQ(ZEBC_Adm_Close(user, password), status::kBadCredentials);
    for (int i = 0; i < 4; ++i)
      EXPECT_NE(server_.next_journal_entry().find("status=-6"), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(data_now(), before);
}

TEST_F(LiveTest, FailedReloadLeavesDataUnchanged) {
  start_server();
  const std::string valid = dumpfile::encode({"one", "two"});
  std::string corrupt = valid;
  corrupt[20] ^= 0x40;
  write_file(dir_ / "empty.bin", "");
  write_file(dir_ / "truncated.bin", valid.substr(0, valid.size() - 1));
  write_file(dir_ / "corrupt.bin", corrupt);
  write_file(dir_ / "foreign.bin", "not a dump at all, just some text\n");
  fs::create_directory(dir_ / "folder");
  std::ofstream(dir_ / "huge.bin").close();
  fs::resize_file(dir_ / "huge.bin", dumpfile::kMaxFileSize + 1);
  expect_reloads_refused({
      {(dir_ / "missing.bin").string(), status::kCannotRead},
      {(dir_ / "folder").string(), status::kCannotRead},
      {"", status::kCannotRead},
      {(dir_ / "empty.bin").string(), status::kInvalidDump},
      {(dir_ / "truncated.bin").string(), status::kInvalidDump},
      {(dir_ / "corrupt.bin").string(), status::kInvalidDump},
      {(dir_ / "foreign.bin").string(), status::kInvalidDump},
      {(dir_ / "huge.bin").string(), status::kInvalidDump},
  });
}

TEST_F(LiveTest, FailedDumpLeavesExistingFilesAlone) {
  start_server();
  write_file(dir_ / "plain", "a file, not a folder");
  fs::create_directories(dir_ / "folder" / "inside");
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  fs::create_symlink(dir_ / "plain", dir_ / "link");
  fs::create_symlink(dir_ / "nowhere", dir_ / "dangling");
  std::vector<std::string> files = {"", (dir_ / std::string(256, 'n')).string()};
  for (auto name : {"missing/data.bin", "plain/data.bin", "folder", "fifo", "link", "dangling"})
    files.push_back((dir_ / name).string());
  // A device like /dev/null, made here (as root) so that a fault cannot replace the real one.
  const bool device = mknod((dir_ / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  if (device) files.push_back((dir_ / "null").string());
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    expect_journalled(ZEBC_Adm_Dump(kUser, kPassword, file.c_str()), status::kCannotWrite, "dump",
                      file);
  }
  EXPECT_EQ(read_file(dir_ / "plain"), "a file, not a folder");
  EXPECT_TRUE(fs::is_directory(dir_ / "folder" / "inside"));
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(dir_ / "fifo")));
  std::error_code not_a_link;
  EXPECT_EQ(fs::read_symlink(dir_ / "link", not_a_link), dir_ / "plain");
  EXPECT_EQ(fs::read_symlink(dir_ / "dangling", not_a_link), dir_ / "nowhere");
  EXPECT_FALSE(fs::exists(dir_ / "nowhere"));
  if (device) {
    EXPECT_TRUE(fs::is_character_file(fs::symlink_status(dir_ / "null")));
  }
  EXPECT_TRUE(temporary_files(dir_.path()).empty()) << "left behind";
}

TEST_F(LiveTest, DumpOverAFileKeepsItsModeAndOwnerAndTakesTheLongestName) {
  start_server();
  const std::string data = data_now();
  const fs::path existing = dir_ / "existing.bin";
  write_file(existing, "old contents");
  // Neither the temporary file's 0600 nor a umask default, so only a kept mode gives it.
  fs::permissions(existing, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  // Another owner only where the server may set it back: as root.
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(existing.c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(ZEBC_Adm_Dump(kUser, kPassword, existing.c_str()), 0);
  struct stat info {};
  ASSERT_EQ(stat(existing.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
  }
  EXPECT_EQ(read_file(existing), data);
  // 255 bytes is the longest name; the temporary name must fit beside it.
  const fs::path longest = dir_ / std::string(255, 'n');
  EXPECT_EQ(ZEBC_Adm_Dump(kUser, kPassword, longest.c_str()), 0);
  EXPECT_EQ(read_file(longest), data);
}

TEST_F(LiveTest, DumpsAreDeterministicAndResetRestoresTheStartData) {
  start_server();
  const std::string at_start = data_now();
  const std::string other = dumpfile::encode({"other", "records", std::string("\0\xff", 2)});
  write_file(dir_ / "other.bin", other);
  expect_journalled(ZEBC_Adm_Reload(kUser, kPassword, (dir_ / "other.bin").c_str()), 0, "reload",
                    (dir_ / "other.bin").string());
  EXPECT_EQ(data_now(), other);
  EXPECT_EQ(data_now(), other);
  expect_journalled(ZEBC_Adm_Restart(kUser, kPassword), 0, "reset");
  EXPECT_EQ(data_now(), at_start);
}

TEST_F(LiveTest, StartsFromADataFileAndResetsToIt) {
  const std::string data = dumpfile::encode({"from", "file"});
  write_file(dir_ / "start.bin", data);
  start_server({"--data", (dir_ / "start.bin").string()});
  EXPECT_EQ(data_now(), data);
  write_file(dir_ / "other.bin", dumpfile::encode({"other"}));
  expect_journalled(ZEBC_Adm_Reload(kUser, kPassword, (dir_ / "other.bin").c_str()), 0, "reload",
                    (dir_ / "other.bin").string());
  EXPECT_NE(data_now(), data);
  expect_journalled(ZEBC_Adm_Restart(kUser, kPassword), 0, "reset");
  EXPECT_EQ(data_now(), data);
}

TEST_F(LiveTest, Latin1FileNamesLandAsUtf8) {
  start_server();
  const std::string latin1 = (dir_ / "caf\xe9.bin").string();
  expect_journalled(ZEBC_Adm_Dump(kUser, kPassword, latin1.c_str()), 0, "dump",
                    dir_.path().string() + "/caf\\xe9.bin");
  EXPECT_TRUE(fs::exists(dir_ / "caf\xc3\xa9.bin"));
  EXPECT_FALSE(fs::exists(latin1));
  EXPECT_EQ(ZEBC_Adm_Reload(kUser, kPassword, latin1.c_str()), 0);
}

TEST_F(LiveTest, EveryByteOfATextArrivesAndIsEscapedInTheJournal) {
  start_server();
  std::string all;
  std::string escaped;
  for (int byte = 1; byte < 256; ++byte) {
    all.push_back(static_cast<char>(byte));
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", byte);
    escaped += byte == '"'                   ? "\\\""
               : byte == '\\'                ? "\\\\"
               : byte >= 0x20 && byte < 0x7f ? std::string(1, char(byte))
                                             : hex;
  }
  expect_journalled(ZEBC_Adm_Reload(kUser, kPassword, all.c_str()), status::kCannotRead, "reload",
                    escaped);
  EXPECT_EQ(ZEBC_Adm_Restart("a\"b\\c\x01\x7f\xff ~", kPassword), status::kBadCredentials);
  EXPECT_EQ(server_.next_journal_entry(),
            "reset user=\"a\\\"b\\\\c\\x01\\x7f\\xff ~\" file=\"\" status=-6");
}

TEST_F(LiveTest, TestKnobsChangeTheAnswers) {
  start_server({"--ignore-versions", "2", "--fail", "dump=-5", "--fail", "stop=12"});
  const std::string file = (dir_ / "never.bin").string();
  char buffer[16] = "untouched";
  EXPECT_EQ(ZEBC_GetVersions(buffer, sizeof buffer, nullptr, 0), status::kNotReady);
  EXPECT_EQ(ZEBC_GetVersions(buffer, sizeof buffer, nullptr, 0), status::kNotReady);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(ZEBC_GetVersions(buffer, sizeof buffer, nullptr, 0), 0);
  EXPECT_STREQ(buffer, kServerVersion);
  for (int answer : {status::kNotReady, status::kNotReady, 0}) {
    EXPECT_EQ(server_.next_journal_entry(), journalled("versions", "", "", answer));
  }
  EXPECT_EQ(ZEBC_Adm_Dump(kUser, "wrong", file.c_str()), status::kBadCredentials);
  EXPECT_EQ(ZEBC_Adm_Dump(kUser, kPassword, file.c_str()), -5);
  EXPECT_EQ(ZEBC_Adm_Close(kUser, kPassword), 12);
  EXPECT_EQ(ZEBC_Adm_Restart(kUser, kPassword), 0);
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(server_.wait_exit(0s), -1) << "stop with a forced status must not stop";
}

TEST_F(LiveTest, BadUsageExitsWithStatus2) {
  write_file(dir_ / "bad.bin", "garbage");
  const std::string missing = (dir_ / "missing.bin").string();
  const std::string bad = (dir_ / "bad.bin").string();
  const std::string no_folder = (dir_ / "missing" / "journal.txt").string();
  const struct {
    std::vector<std::string> usage;
    std::string first_line;
  } cases[] = {
      {{"--bogus"}, "unknown argument '--bogus'"},
      {{"--port"}, "--port needs a value"},
      {{"--port", "x"}, "invalid value 'x' for --port"},
      {{"--port", "70000"}, "invalid value '70000' for --port"},
      {{"--ignore-versions", "-1"}, "invalid value '-1' for --ignore-versions"},
      {{"--fail", "versions=1"}, "invalid value 'versions=1' for --fail"},
      {{"--fail", "dump"}, "invalid value 'dump' for --fail"},
      {{"--fail", "dump=4294967296"}, "invalid value 'dump=4294967296' for --fail"},
      {{"--data", ""}, "invalid value '' for --data"},
      {{"--data", missing}, missing + ": cannot be read"},
      {{"--data", bad}, bad + ": not a valid dump"},
      {{"--journal", ""}, "invalid value '' for --journal"},
      {{"--journal", no_folder}, no_folder + ": cannot be opened for the journal"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first_line);
    fs::path errors = dir_ / "errors.txt";
    Server server;
    ASSERT_TRUE(server.spawn_server(c.usage, dir_ / "journal.txt", errors));
    EXPECT_EQ(server.wait_exit(5s), 2);
    const std::string message = read_file(errors);
    EXPECT_EQ(message.substr(0, message.find('\n')), "zebserver: " + c.first_line);
    fs::remove(errors);
  }
}

TEST_F(LiveTest, MalformedRequestsAreRefusedAndServingGoesOn) {
  start_server();
  const NamedBytes cases[] = {
      {"oversize frame", u32_bytes(protocol::kMaxPayload + 1)},
      {"empty frame", u32_bytes(0)},
      {"unknown opcode", u32_bytes(1) + "\x09"},
      {"field beyond payload", u32_bytes(5) + "\x02" + u32_bytes(50)},
      {"trailing bytes", u32_bytes(2) + "\x01x"},
      {"missing password", u32_bytes(10) + "\x02" + u32_bytes(5) + "admin"},
      {"truncated, then closed", u32_bytes(100) + "\x02" + u32_bytes(5)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bool answered = false;
    ASSERT_NO_FATAL_FAILURE(expect_refused(server_.port(), c.bytes, &answered));
    EXPECT_EQ(server_.next_journal_entry(), kInvalidEntry);
    EXPECT_EQ(ZEBC_GetVersions(nullptr, 0, nullptr, 0), 0);
    EXPECT_EQ(server_.next_journal_entry(), kVersionsEntry);
  }
}

TEST_F(LiveTest, IdleClientsDoNotHoldUpOthers) {
  start_server();
  std::vector<int> idle;
  for (int i = 0; i < 3; ++i) idle.push_back(dial(server_.port()));
  ASSERT_EQ(send(idle[0], "\0\0", 2, MSG_NOSIGNAL), 2);
  EXPECT_EQ(ZEBC_GetVersions(nullptr, 0, nullptr, 0), 0);
  for (int fd : idle) close(fd);
}

TEST_F(LiveTest, ServesConcurrentClients) {
  start_server();
  EXPECT_EQ(versions_from_threads(8, 20), std::vector<int>(8, 0));
  for (int i = 0; i < 8 * 20; ++i) ASSERT_EQ(server_.next_journal_entry(), kVersionsEntry) << i;
}

TEST_F(LiveTest, NamesAreResolvedAndNumericAddressesNeedNoResolver) {
  start_server();
  const int before = g_resolver_calls;
  EXPECT_EQ(ZEBC_GetVersions(nullptr, 0, nullptr, 0), 0);
  EXPECT_EQ(g_resolver_calls, before);
  set_server("localhost", server_.port());
  EXPECT_EQ(ZEBC_GetVersions(nullptr, 0, nullptr, 0), 0);
  EXPECT_EQ(g_resolver_calls, before + 1);
}

TEST_F(LiveTest, DumpAndReloadAgreeOnAPathOfPathMaxBytes) {
  start_server();
  fs::path folder = dir_.path();
  while (4096 - folder.string().size() - 1 > 240) folder /= std::string(200, 'd');
  fs::create_directories(folder);
  const std::string file = (folder / std::string(4096 - folder.string().size() - 1, 'f')).string();
  ASSERT_EQ(file.size(), 4096u);
  EXPECT_EQ(ZEBC_Adm_Dump(kUser, kPassword, file.c_str()), 0);
  EXPECT_EQ(ZEBC_Adm_Reload(kUser, kPassword, file.c_str()), 0);
}

TEST_F(LiveTest, CallsLeaveNoDescriptorBehind) {
  start_server();
  const long before = open_descriptors(getpid());
  ASSERT_GT(before, 0);
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(ZEBC_GetVersions(nullptr, 0, nullptr, 0), 0);
    ASSERT_EQ(ZEBC_Adm_Restart(kUser, "wrong"), status::kBadCredentials);
  }
  close(listen_on(1));
  for (int i = 0; i < 20; ++i)
    ASSERT_EQ(ZEBC_GetVersions(nullptr, 0, nullptr, 0), status::kUnreachable);
  EXPECT_EQ(open_descriptors(getpid()), before);
}

// The library on its own: no server, or a fake one.
class ClientTest : public ::testing::Test {
 protected:
  void TearDown() override { ZEBC_Close(); }
};

TEST_F(ClientTest, CallsBeforeInitFailAndCloseIsAlwaysSafe) {
  EXPECT_EQ(ZEBC_Close(), 0);
  for (int round = 0; round < 2; ++round) {
    char buffer[8] = "keep";
    EXPECT_EQ(ZEBC_GetVersions(buffer, sizeof buffer, buffer, sizeof buffer),
              status::kNotInitialised);
    EXPECT_STREQ(buffer, "keep");
    EXPECT_EQ(ZEBC_Adm_Close(kUser, kPassword), status::kNotInitialised);
    EXPECT_EQ(ZEBC_Adm_Restart(kUser, kPassword), status::kNotInitialised);
    EXPECT_EQ(ZEBC_Adm_Dump(kUser, kPassword, "f"), status::kNotInitialised);
    EXPECT_EQ(ZEBC_Adm_Reload(nullptr, nullptr, nullptr), status::kNotInitialised);
    ASSERT_EQ(ZEBC_Init(), 0);
    EXPECT_EQ(ZEBC_Close(), 0);
    EXPECT_EQ(ZEBC_Close(), 0);
  }
}

TEST_F(ClientTest, BadArgumentsAndAddressesAreRefused) {
  ASSERT_EQ(ZEBC_Init(), 0);
  std::uint16_t port = 0;
  close(listen_on(1, &port));
  const std::string oversize(protocol::kMaxPayload, 'x');
  const std::function<int()> invalid[] = {
      [] { return ZEBC_Adm_Close(nullptr, kPassword); },
      [] { return ZEBC_Adm_Restart(kUser, nullptr); },
      [] { return ZEBC_Adm_Dump(kUser, kPassword, nullptr); },
      [] { return ZEBC_Adm_Reload(nullptr, kPassword, "f"); },
      [&] { return ZEBC_Adm_Dump(kUser, kPassword, oversize.c_str()); },
      [&] { return ZEBC_Adm_Close(oversize.c_str(), kPassword); },
  };
  for (const auto& call : invalid) EXPECT_EQ(call(), status::kInvalidArgument);
  for (std::string address :
       {"127.0.0.1:" + std::to_string(port), std::string("127.0.0.1"), std::string("127.0.0.1:0"),
        std::string("127.0.0.1:65536"), std::string("127.0.0.1:http"), std::string(":1")}) {
    SCOPED_TRACE(address);
    setenv("ZEB_SERVER", address.c_str(), 1);
    EXPECT_EQ(ZEBC_GetVersions(nullptr, 0, nullptr, 0), status::kUnreachable);
  }
}

TEST_F(ClientTest, SilentServerTimesOutWithinTheBound) {
  ASSERT_EQ(ZEBC_Init(), 0);
  int listener = listen_on(8);
  Clock::time_point start = Clock::now();
  EXPECT_EQ(ZEBC_Adm_Restart(kUser, kPassword), status::kTimeout);
  EXPECT_LE(ms_since(start), contract::kAnswerLimitMs + contract::kConnectLimitMs + kSlackMs);
  EXPECT_GE(ms_since(start), contract::kAnswerLimitMs - 500) << "gave up before the answer timeout";
  close(listener);
}

TEST_F(ClientTest, ConnectionThatNeverCompletesIsUnreachableWithinTheBound) {
  ASSERT_EQ(ZEBC_Init(), 0);
  std::uint16_t port = 0;
  int listener = listen_on(0, &port);
  // A full accept queue: further connection attempts then go unanswered.
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) fillers.push_back(dial(port, 5, SOCK_NONBLOCK));
  Clock::time_point start = Clock::now();
  EXPECT_EQ(ZEBC_GetVersions(nullptr, 0, nullptr, 0), status::kUnreachable);
  EXPECT_LE(ms_since(start), contract::kConnectLimitMs + kSlackMs);
  for (int fd : fillers) close(fd);
  close(listener);
}

TEST_F(ClientTest, ResolverThatDoesNotAnswerIsUnreachableWithinTheBound) {
  ASSERT_EQ(ZEBC_Init(), 0);
  set_server("zeb.stalled", contract::kDefaultPort);
  const int before = g_resolver_calls;
  const std::function<int()> calls[] = {
      [] { return ZEBC_Adm_Close(kUser, kPassword); },
      [] { return ZEBC_GetVersions(nullptr, 0, nullptr, 0); },
  };
  for (const auto& call : calls) {
    Clock::time_point start = Clock::now();
    EXPECT_EQ(call(), status::kUnreachable);
    // The resolver did stall: the call waited for it, up to the bound.
    EXPECT_GE(ms_since(start), contract::kConnectLimitMs / 2);
    EXPECT_LE(ms_since(start), contract::kConnectLimitMs + kSlackMs);
  }
  EXPECT_EQ(g_resolver_calls, before + 2);
}

// A host program that unloads the library while a resolver thread it left behind still waits:
// the thread returns into the library's code 3 s after the unload. A copy of the library is
// loaded on its own, apart from the one this program links.
TEST_F(ClientTest, UnloadingWhileAResolverThreadLivesIsSafe) {
  TempDir dir;
  const fs::path copy = dir / "libZEBCli-copy.so";
  fs::copy_file(ZEBCLI_PATH, copy);
  EXPECT_EXIT(
      {
        void* library = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) _exit(2);
        const auto init = reinterpret_cast<decltype(&ZEBC_Init)>(dlsym(library, "ZEBC_Init"));
        const auto versions =
            reinterpret_cast<decltype(&ZEBC_GetVersions)>(dlsym(library, "ZEBC_GetVersions"));
        const auto close = reinterpret_cast<decltype(&ZEBC_Close)>(dlsym(library, "ZEBC_Close"));
        set_server("zeb.stalled", contract::kDefaultPort);
        if (init() != 0 || versions(nullptr, 0, nullptr, 0) != status::kUnreachable ||
            close() != 0) {
          _exit(3);
        }
        dlclose(library);
        std::this_thread::sleep_for(kStalledResolver);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace zeb::test
