// The socket operations of the client library; one implementation file per platform.
#ifndef ZEB_STANDIN_NET_H
#define ZEB_STANDIN_NET_H

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace zeb::net {

using Clock = std::chrono::steady_clock;
// Wide enough for a POSIX descriptor and a Winsock SOCKET alike.
using Socket = std::uintptr_t;
constexpr Socket kNoSocket = ~Socket{0};

enum class Result {
  kOk,
  kUnreachable,  // bad address, refused, no route, or no connection within the timeout
  kTimeout,      // the deadline passed
  kClosed,       // the peer closed the connection
  kFailed,       // any other socket error
};

bool init();
void cleanup();

// Resolves host and tries every address until one accepts, all within timeout.
Result connect_to(const char* host, const char* port, std::chrono::milliseconds timeout,
                  Socket* socket);
Result send_all(Socket socket, const char* data, std::size_t size, Clock::time_point deadline);
// Waits until at least one byte arrives and stores up to size bytes; *received > 0 on kOk.
Result receive(Socket socket, char* data, std::size_t size, Clock::time_point deadline,
               std::size_t* received);
void close_socket(Socket socket);

}  // namespace zeb::net

#endif
