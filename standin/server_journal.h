// zebserver's journal of requests.
#ifndef ZEB_STANDIN_SERVER_JOURNAL_H
#define ZEB_STANDIN_SERVER_JOURNAL_H

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zeb::server {

// The journal, on standard output or appended to a file. It never blocks the server: what the
// output does not take at once is held, up to kHeldLimit bytes, and written as it drains; lines
// beyond that are dropped, counted, and the count written before the next line that fits.
class Journal {
 public:
  static constexpr std::size_t kHeldLimit = 1 << 20;

  Journal() = default;
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Standard output when path is empty; false when the file cannot be opened.
  bool open_file(const std::string& path);
  // One line, its line end added, without a timestamp (the listening line).
  void plain(std::string_view text);
  // One timestamped request line.
  void request_line(std::string_view op, std::string_view user, std::string_view file,
                    std::int32_t status);
  // Writes what the output takes now.
  void flush_held();
  // The descriptor to poll for writing while lines are held, else -1.
  int held_descriptor() const { return held_.empty() || pipe_share_ > 0 ? -1 : fd_; }
  // While lines wait for a pipe: how long poll() may sleep before they are tried again, else -1.
  // A pipe fuller than the journal's share but not full wakes no poll() as it drains.
  int retry_milliseconds() const { return held_.empty() || pipe_share_ == 0 ? -1 : 10; }
  // Before exit: gives the output up to timeout to take what is held; what it does not take is
  // dropped, and the count of dropped lines ends the journal.
  void drain(std::chrono::milliseconds timeout);

 private:
  void add(std::string line);
  std::string dropped_line() const;
  ssize_t write_out(const char* data, std::size_t size) const;
  std::uint64_t held_lines() const;

  int fd_ = 1;
  bool own_descriptor_ = false;
  bool socket_ = false;
  // A blocking descriptor shared with the parent: written only when poll() says it has room,
  // a pipe's atomic size at a time (a pipe: only within pipe_share_, where no write blocks).
  bool guarded_ = false;
  // For a pipe, how many unread bytes it may hold after a write; 0 for any other output.
  std::size_t pipe_share_ = 0;
  // The output took part of a line, whose rest begins what is held.
  bool mid_line_ = false;
  std::string held_;
  std::uint64_t dropped_ = 0;
};

}  // namespace zeb::server

#endif
