#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "server.h"
#include "status.h"

namespace zeb::server {
namespace {

using protocol::Op;

constexpr std::string_view kUser = "admin";
constexpr std::string_view kPassword = "mot47vek,raz;";

// Runs over the longer length whatever the content, so timing reveals no matching prefix.
bool SecretEquals(std::string_view given, std::string_view expected) {
  std::size_t length = std::max(given.size(), expected.size());
  unsigned difference = given.size() == expected.size() ? 0 : 1;
  for (std::size_t i = 0; i < length; ++i) {
    unsigned char a = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
    unsigned char b = i < expected.size() ? static_cast<unsigned char>(expected[i]) : 0;
    difference |= static_cast<unsigned>(a ^ b);
  }
  return difference == 0;
}

bool CredentialsMatch(const protocol::Request& request) {
  // Both compared whatever the first gives, so the time does not tell which one was wrong.
  const bool user_matches = SecretEquals(request.user, kUser);
  const bool password_matches = SecretEquals(request.password, kPassword);
  return user_matches && password_matches;
}

bool UsablePath(const std::string& path) {
  return !path.empty() && path.find('\0') == std::string::npos;
}

// Mode of new dump files: what open(..., 0666) would give, mkstemp alone gives 0600.
mode_t DumpFileMode() {
  static const mode_t mode = [] {
    mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Makes the rename itself durable; a failure here does not undo a complete dump.
void SyncDirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : path.substr(0, slash);
  int fd = open(directory.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

void AppendEscaped(std::string_view text, std::string* out) {
  static const char kHex[] = "0123456789abcdef";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(static_cast<char>(c));
    } else if (c >= 0x20 && c <= 0x7e) {
      out->push_back(static_cast<char>(c));
    } else {
      out->append("\\x");
      out->push_back(kHex[c >> 4]);
      out->push_back(kHex[c & 0xf]);
    }
  }
}

}  // namespace

dumpfile::Records BuiltInRecords() {
  return {"account admin role=operator", "account guest role=reader", "queue inbound size=16",
          "queue outbound size=16", "setting journal=on"};
}

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (unsigned char c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xc0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    }
  }
  return out;
}

std::int32_t ReadDumpFile(const std::string& path, dumpfile::Records* records) {
  if (!UsablePath(path)) return status::kCannotRead;
  // O_NONBLOCK so that a FIFO given as the file cannot stall the single-threaded server.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return status::kCannotRead;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return status::kCannotRead;
  }
  std::string bytes;
  std::int32_t result = status::kOk;
  char chunk[65536];
  for (;;) {
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) result = status::kCannotRead;
    if (got <= 0) break;
    bytes.append(chunk, static_cast<std::size_t>(got));
    if (bytes.size() > dumpfile::kMaxFileSize) {
      result = status::kInvalidDump;
      break;
    }
  }
  close(fd);
  return result == status::kOk ? dumpfile::Decode(bytes, records) : result;
}

std::int32_t WriteDumpFile(const std::string& path, std::string_view bytes) {
  if (!UsablePath(path)) return status::kCannotWrite;
  std::string temp = path + ".tmp.XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) return status::kCannotWrite;
  bool written = fcntl(fd, F_SETFD, FD_CLOEXEC) == 0 && fchmod(fd, DumpFileMode()) == 0 &&
                 WriteAll(fd, bytes) && fsync(fd) == 0;
  written = close(fd) == 0 && written;
  if (!written || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return status::kCannotWrite;
  }
  SyncDirectoryOf(path);
  return status::kOk;
}

void Journal(std::string_view op, std::string_view user, std::string_view file,
             std::int32_t status) {
  using std::chrono::system_clock;
  auto since_epoch = system_clock::now().time_since_epoch();
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
  auto micros = std::chrono::duration_cast<std::chrono::microseconds>(since_epoch - seconds);
  std::time_t whole = static_cast<std::time_t>(seconds.count());
  std::tm utc{};
  gmtime_r(&whole, &utc);
  char stamp[96];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%06ldZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<long>(micros.count()));
  std::string line = stamp;
  line += ' ';
  line += op;
  line += " user=\"";
  AppendEscaped(user, &line);
  line += "\" file=\"";
  AppendEscaped(file, &line);
  line += "\" status=" + std::to_string(status) + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

Service::Service(dumpfile::Records initial, const Options& options)
    : initial_(std::move(initial)),
      data_(initial_),
      refused_versions_(options.refused_versions),
      forced_status_(options.forced_status) {}

protocol::Answer Service::Handle(const protocol::Request& request) {
  protocol::Answer answer;
  if (request.op == Op::kVersions) {
    if (refused_versions_ > 0) {
      --refused_versions_;
      answer.status = status::kNotReady;
    } else {
      answer.server_version = kServerVersion;
      answer.protocol_version = protocol::kProtocolVersion;
    }
    return answer;
  }
  if (!CredentialsMatch(request)) {
    answer.status = status::kBadCredentials;
    return answer;
  }
  auto forced = forced_status_.find(request.op);
  if (forced != forced_status_.end()) {
    answer.status = forced->second;
    return answer;
  }
  switch (request.op) {
    case Op::kStop:
      stop_requested_ = true;
      break;
    case Op::kReset:
      data_ = initial_;
      break;
    case Op::kDump:
      answer.status = WriteDumpFile(Latin1ToUtf8(request.file), dumpfile::Encode(data_));
      break;
    case Op::kReload: {
      dumpfile::Records loaded;
      answer.status = ReadDumpFile(Latin1ToUtf8(request.file), &loaded);
      if (answer.status == status::kOk) data_ = std::move(loaded);
      break;
    }
    case Op::kVersions:
      break;
  }
  return answer;
}

}  // namespace zeb::server
