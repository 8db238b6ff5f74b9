#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "net.h"
#include "resolve.h"

namespace zeb::net {
namespace {

int descriptor(Socket socket) {
  return static_cast<int>(socket);
}

// Milliseconds left for poll(), at least 0 and rounded up so that a short wait is not skipped.
int milliseconds_left(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Waits for events on fd; false when the deadline passed first.
bool wait_for(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    int ready = poll(&entry, 1, milliseconds_left(deadline));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

bool connect_one(const addrinfo& address, Clock::time_point deadline, int* out) {
  int fd = socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                  address.ai_protocol);
  if (fd < 0) return false;
  if (connect(fd, address.ai_addr, address.ai_addrlen) == 0) {
    *out = fd;
    return true;
  }
  if (errno == EINPROGRESS && wait_for(fd, POLLOUT, deadline)) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
      *out = fd;
      return true;
    }
  }
  close(fd);
  return false;
}

}  // namespace

bool init() {
  return true;
}

void cleanup() {}

Result connect_to(const char* host, const char* port, std::chrono::milliseconds timeout,
                  Socket* socket) {
  Clock::time_point deadline = Clock::now() + timeout;
  addrinfo* addresses = resolve(host, port, deadline);
  if (addresses == nullptr) return Result::kUnreachable;
  int fd = -1;
  for (addrinfo* at = addresses; at != nullptr && fd < 0; at = at->ai_next) {
    if (!connect_one(*at, deadline, &fd)) fd = -1;
  }
  freeaddrinfo(addresses);
  if (fd < 0) return Result::kUnreachable;
  *socket = static_cast<Socket>(fd);
  return Result::kOk;
}

Result send_all(Socket socket, const char* data, std::size_t size, Clock::time_point deadline) {
  int fd = descriptor(socket);
  while (size > 0) {
    ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
    if (sent > 0) {
      data += sent;
      size -= static_cast<std::size_t>(sent);
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!wait_for(fd, POLLOUT, deadline)) return Result::kTimeout;
    } else if (sent < 0 && errno != EINTR) {
      return errno == EPIPE || errno == ECONNRESET ? Result::kClosed : Result::kFailed;
    }
  }
  return Result::kOk;
}

Result receive(Socket socket, char* data, std::size_t size, Clock::time_point deadline,
               std::size_t* received) {
  int fd = descriptor(socket);
  for (;;) {
    ssize_t got = recv(fd, data, size, 0);
    if (got > 0) {
      *received = static_cast<std::size_t>(got);
      return Result::kOk;
    }
    if (got == 0) return Result::kClosed;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!wait_for(fd, POLLIN, deadline)) return Result::kTimeout;
    } else if (errno == ECONNRESET) {
      return Result::kClosed;
    } else if (errno != EINTR) {
      return Result::kFailed;
    }
  }
}

// The library is linked with -z nodelete: dlclose never unmaps it.
void keep_library_loaded() {}

void close_socket(Socket socket) {
  if (socket != kNoSocket) close(descriptor(socket));
}

}  // namespace zeb::net
