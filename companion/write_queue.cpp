#include "write_queue.h"

#include <utility>

namespace zebcmd::companion {

bool WriteQueue::push(std::string text, std::uint64_t now_ms) {
  if (given_up(now_ms) || text.size() > kCapBytes - queued_bytes_) return false;
  queued_bytes_ += text.size();
  texts_.push_back(std::move(text));
  return true;
}

std::optional<std::string> WriteQueue::start_write(std::uint64_t now_ms) {
  if (given_up(now_ms) || texts_.empty()) return std::nullopt;
  std::string text = std::move(texts_.front());
  texts_.pop_front();
  queued_bytes_ -= text.size();
  writing_ = true;
  write_started_ms_ = now_ms;
  return text;
}

bool WriteQueue::given_up(std::uint64_t now_ms) {
  if (!given_up_ && writing_ && now_ms - write_started_ms_ >= kWriteLimitMs) {
    given_up_ = true;
    texts_.clear();
    queued_bytes_ = 0;
  }
  return given_up_;
}

std::uint64_t WriteQueue::grace_ms(std::uint64_t now_ms) const {
  if (!writing_) return kWriteLimitMs;
  const std::uint64_t spent = now_ms - write_started_ms_;
  return spent < kWriteLimitMs ? kWriteLimitMs - spent : 0;
}

}  // namespace zebcmd::companion
