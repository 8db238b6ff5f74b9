#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#endif

#include "resolve.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace zeb::net {
namespace {

// Shared by the caller and the resolving thread: a caller that stops waiting leaves the
// result to the thread, which frees it.
struct Lookup {
  std::string host;
  std::string port;
  addrinfo hints{};
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  bool abandoned = false;
  addrinfo* addresses = nullptr;
};

void run_lookup(const std::shared_ptr<Lookup>& lookup) {
  addrinfo* found = nullptr;
  if (getaddrinfo(lookup->host.c_str(), lookup->port.c_str(), &lookup->hints, &found) != 0) {
    found = nullptr;
  }
  std::lock_guard<std::mutex> lock(lookup->mutex);
  if (lookup->abandoned) {
    if (found != nullptr) freeaddrinfo(found);
  } else {
    lookup->addresses = found;
  }
  lookup->done = true;
  lookup->finished.notify_one();
}

}  // namespace

addrinfo* resolve(const char* host, const char* port, Clock::time_point deadline) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
  addrinfo* addresses = nullptr;
  const int numeric = getaddrinfo(host, port, &hints, &addresses);
  if (numeric == 0) return addresses;
  if (numeric != EAI_NONAME) return nullptr;

  // getaddrinfo takes no time limit, so it runs on a thread of its own that the caller
  // stops waiting for at the deadline.
  auto lookup = std::make_shared<Lookup>();
  lookup->host = host;
  lookup->port = port;
  lookup->hints = hints;
  lookup->hints.ai_flags = AI_NUMERICSERV;
  // The thread runs the library's code until it ends, which may be after the call returns, and
  // after the host has unloaded the library.
  keep_library_loaded();
  std::thread resolver;
  try {
    resolver = std::thread(run_lookup, lookup);
  } catch (const std::system_error&) {
    // std::thread reports a thread that cannot be started only by throwing.
    return nullptr;
  }
  resolver.detach();
  std::unique_lock<std::mutex> lock(lookup->mutex);
  if (!lookup->finished.wait_until(lock, deadline, [&] { return lookup->done; })) {
    lookup->abandoned = true;
    return nullptr;
  }
  return lookup->addresses;
}

}  // namespace zeb::net
