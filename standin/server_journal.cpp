#include "server_journal.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace zeb::server {
namespace {

void append_escaped(std::string_view text, std::string* out) {
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

std::string timestamp() {
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
  return stamp;
}

// The unread bytes a pipe may hold once the journal has written: of two pages in a row the
// second was begun by a write that did not fit into the first, so with writes of at most
// PIPE_BUF bytes this many leave a page free, and the count of dropped lines room at exit.
// 0 when the output is not a pipe.
std::size_t pipe_share(int fd) {
  const long capacity = fcntl(fd, F_GETPIPE_SZ);
  if (capacity <= 0) return 0;
  return static_cast<std::size_t>(
      std::max<long>((capacity - 3 * sysconf(_SC_PAGESIZE)) / 2, PIPE_BUF));
}

constexpr std::string_view kDroppedLines = " dropped lines=";

}  // namespace

Journal::~Journal() {
  if (own_descriptor_) close(fd_);
}

bool Journal::open_file(const std::string& path) {
  if (!path.empty()) {
    fd_ =
        open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    own_descriptor_ = fd_ >= 0;
    pipe_share_ = own_descriptor_ ? pipe_share(fd_) : 0;
    return own_descriptor_;
  }
  struct stat info {};
  if (fstat(fd_, &info) != 0) return true;
  socket_ = S_ISSOCK(info.st_mode);
  if (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode)) {
    // O_NONBLOCK on standard output would change the file of whoever started the server too;
    // a new open of the same pipe or terminal is the server's own.
    const int own = open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (own >= 0) {
      fd_ = own;
      own_descriptor_ = true;
    } else {
      guarded_ = true;
    }
  }
  pipe_share_ = pipe_share(fd_);
  return true;
}

std::string Journal::dropped_line() const {
  return timestamp() + std::string(kDroppedLines) + std::to_string(dropped_) + "\n";
}

ssize_t Journal::write_out(const char* data, std::size_t size) const {
  return socket_ ? send(fd_, data, size, MSG_DONTWAIT | MSG_NOSIGNAL) : write(fd_, data, size);
}

// The request lines held, each held count line standing for the lines it counts.
std::uint64_t Journal::held_lines() const {
  std::uint64_t lines = 0;
  const std::size_t count_at = timestamp().size();
  for (std::size_t start = 0; start < held_.size(); start = held_.find('\n', start) + 1) {
    const std::size_t count = start + count_at + kDroppedLines.size();
    if (count < held_.size() &&
        held_.compare(start + count_at, kDroppedLines.size(), kDroppedLines) == 0) {
      lines += std::strtoull(held_.c_str() + count, nullptr, 10);
    } else {
      ++lines;
    }
  }
  return lines;
}

void Journal::add(std::string line) {
  std::string dropped = dropped_ > 0 ? dropped_line() : std::string();
  if (!held_.empty() && held_.size() + dropped.size() + line.size() > kHeldLimit) {
    ++dropped_;
    return;
  }
  held_ += dropped;
  held_ += line;
  dropped_ = 0;
  flush_held();
}

void Journal::plain(std::string_view text) {
  std::string line(text);
  line += '\n';
  add(std::move(line));
}

void Journal::request_line(std::string_view op, std::string_view user, std::string_view file,
                           std::int32_t status) {
  std::string line = timestamp();
  line += ' ';
  line += op;
  line += " user=\"";
  append_escaped(user, &line);
  line += "\" file=\"";
  append_escaped(file, &line);
  line += "\" status=" + std::to_string(status) + "\n";
  add(std::move(line));
}

void Journal::flush_held() {
  while (!held_.empty()) {
    std::size_t size = held_.size();
    if (pipe_share_ > 0) {
      // Whole lines up to PIPE_BUF bytes, which a pipe takes whole or not at all, so that no
      // line is cut where the reader stops; only a longer line goes in PIPE_BUF-byte parts. It
      // begins only where all of it fits, or in an empty pipe.
      const std::size_t end = held_.rfind('\n', PIPE_BUF - 1);
      size = end == std::string::npos ? PIPE_BUF : end + 1;
      const std::size_t needed =
          end == std::string::npos && !mid_line_ ? held_.find('\n') + 1 : size;
      int unread = 0;
      if (ioctl(fd_, FIONREAD, &unread) != 0 ||
          (unread > 0 && static_cast<std::size_t>(unread) + needed > pipe_share_)) {
        return;
      }
    } else if (guarded_) {
      // Any event will do: an output that has gone (POLLERR, POLLHUP) fails the write at once.
      pollfd entry{fd_, POLLOUT, 0};
      if (poll(&entry, 1, 0) != 1) return;
      size = std::min<std::size_t>(size, PIPE_BUF);
    }
    const ssize_t written = write_out(held_.data(), size);
    if (written > 0) {
      mid_line_ = held_[static_cast<std::size_t>(written) - 1] != '\n';
      held_.erase(0, static_cast<std::size_t>(written));
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    // The output is gone (a closed pipe, a full disk): what is held will never be written.
    dropped_ += held_lines();
    held_.clear();
  }
}

void Journal::drain(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (flush_held(); !held_.empty(); flush_held()) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    if (left <= 0) break;
    pollfd entry{held_descriptor(), POLLOUT, 0};
    // A pipe is tried again every millisecond as it drains below the journal's share.
    if (poll(&entry, 1, entry.fd < 0 ? 1 : static_cast<int>(left)) == 0 && entry.fd >= 0) break;
  }
  dropped_ += held_lines();
  held_.clear();
  if (dropped_ == 0) return;
  // A line the output took only part of is ended, so that the count stands on a line of its own;
  // in a pipe, the journal's share left it room.
  const std::string last = (mid_line_ ? "\n" : "") + dropped_line();
  pollfd entry{fd_, POLLOUT, 0};
  if (!guarded_ || poll(&entry, 1, 0) == 1) write_out(last.data(), last.size());
}

}  // namespace zeb::server
