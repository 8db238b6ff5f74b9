#ifndef ZEBCMD_WRITE_QUEUE_H
#define ZEBCMD_WRITE_QUEUE_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "channel_bound.h"

namespace zebcmd::companion {

// What a writer to a reader who may not read keeps, and when it gives up: the texts waiting to
// be written, at most kCapBytes of them, so that a slow reader costs bounded memory and never
// holds up the one who pushes. Times are in milliseconds on any steady clock. Not thread-safe.
class WriteQueue {
 public:
  // What the native tool allows its debug channel: a write not done by then is given up.
  static constexpr std::uint64_t kWriteLimitMs = kChannelBoundMs;
  static constexpr std::size_t kCapBytes = std::size_t{1} << 20;

  // Queues the text; it is dropped whole when writing was given up or it would take the queue
  // past its cap. Later texts that fit are still queued.
  bool push(std::string text, std::uint64_t now_ms);

  // The next text, now being written; nothing when none waits or writing was given up.
  std::optional<std::string> start_write(std::uint64_t now_ms);
  void end_write() { writing_ = false; }

  // Whether a write has taken kWriteLimitMs or longer: then every text, queued or later, is
  // dropped.
  bool given_up(std::uint64_t now_ms);

  // Whether every queued text is written, or writing was given up.
  bool done(std::uint64_t now_ms) { return given_up(now_ms) || (!writing_ && texts_.empty()); }

  // How long the current write may still take before it is given up; with none under way, how
  // long one would have.
  std::uint64_t grace_ms(std::uint64_t now_ms) const;

 private:
  std::deque<std::string> texts_;
  std::size_t queued_bytes_ = 0;
  bool writing_ = false;
  std::uint64_t write_started_ms_ = 0;
  bool given_up_ = false;
};

}  // namespace zebcmd::companion

#endif
