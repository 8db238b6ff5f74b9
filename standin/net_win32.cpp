#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>

#include "net.h"
#include "resolve.h"

namespace zeb::net {
namespace {

SOCKET native_handle(Socket socket) {
  return static_cast<SOCKET>(socket);
}

// Time left for select(), at least 0 and rounded up to the millisecond so that a short wait
// is not skipped.
timeval time_left(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left < 0) left = 0;
  timeval interval{};
  interval.tv_sec = static_cast<long>(left / 1000);
  interval.tv_usec = static_cast<long>(left % 1000) * 1000;
  return interval;
}

enum class Readiness { kReady, kFailed, kTimeout };

// Waits until the socket can be written or read. Winsock reports a failed connect in the
// exception set rather than as writable, so that set is watched when writing.
Readiness wait_for(SOCKET handle, bool for_writing, Clock::time_point deadline) {
  fd_set wanted;
  fd_set failed;
  FD_ZERO(&wanted);
  FD_ZERO(&failed);
  FD_SET(handle, &wanted);
  FD_SET(handle, &failed);
  timeval left = time_left(deadline);
  int ready = for_writing ? select(0, nullptr, &wanted, &failed, &left)
                          : select(0, &wanted, nullptr, nullptr, &left);
  if (ready == 0) return Readiness::kTimeout;
  if (ready < 0 || (for_writing && FD_ISSET(handle, &failed))) return Readiness::kFailed;
  return Readiness::kReady;
}

bool connect_one(const addrinfo& address, Clock::time_point deadline, SOCKET* out) {
  SOCKET handle = socket(address.ai_family, address.ai_socktype, address.ai_protocol);
  if (handle == INVALID_SOCKET) return false;
  u_long non_blocking = 1;
  if (ioctlsocket(handle, FIONBIO, &non_blocking) == 0) {
    if (connect(handle, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) {
      *out = handle;
      return true;
    }
    if (WSAGetLastError() == WSAEWOULDBLOCK &&
        wait_for(handle, true, deadline) == Readiness::kReady) {
      int error = 0;
      int length = static_cast<int>(sizeof error);
      if (getsockopt(handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 &&
          error == 0) {
        *out = handle;
        return true;
      }
    }
  }
  closesocket(handle);
  return false;
}

bool is_closed_error(int error) {
  return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN;
}

}  // namespace

bool init() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void cleanup() {
  WSACleanup();
}

Result connect_to(const char* host, const char* port, std::chrono::milliseconds timeout,
                  Socket* socket) {
  Clock::time_point deadline = Clock::now() + timeout;
  addrinfo* addresses = resolve(host, port, deadline);
  if (addresses == nullptr) return Result::kUnreachable;
  SOCKET handle = INVALID_SOCKET;
  for (addrinfo* at = addresses; at != nullptr && handle == INVALID_SOCKET; at = at->ai_next) {
    if (!connect_one(*at, deadline, &handle)) handle = INVALID_SOCKET;
  }
  freeaddrinfo(addresses);
  if (handle == INVALID_SOCKET) return Result::kUnreachable;
  *socket = static_cast<Socket>(handle);
  return Result::kOk;
}

Result send_all(Socket socket, const char* data, std::size_t size, Clock::time_point deadline) {
  SOCKET handle = native_handle(socket);
  while (size > 0) {
    int chunk = size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    int sent = send(handle, data, chunk, 0);
    if (sent > 0) {
      data += sent;
      size -= static_cast<std::size_t>(sent);
      continue;
    }
    int error = WSAGetLastError();
    if (sent == SOCKET_ERROR && error == WSAEWOULDBLOCK) {
      Readiness readiness = wait_for(handle, true, deadline);
      if (readiness == Readiness::kTimeout) return Result::kTimeout;
      if (readiness == Readiness::kFailed) return Result::kFailed;
    } else {
      return is_closed_error(error) ? Result::kClosed : Result::kFailed;
    }
  }
  return Result::kOk;
}

Result receive(Socket socket, char* data, std::size_t size, Clock::time_point deadline,
               std::size_t* received) {
  SOCKET handle = native_handle(socket);
  int chunk = size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
  for (;;) {
    int got = recv(handle, data, chunk, 0);
    if (got > 0) {
      *received = static_cast<std::size_t>(got);
      return Result::kOk;
    }
    if (got == 0) return Result::kClosed;
    int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return is_closed_error(error) ? Result::kClosed : Result::kFailed;
    Readiness readiness = wait_for(handle, false, deadline);
    if (readiness == Readiness::kTimeout) return Result::kTimeout;
    if (readiness == Readiness::kFailed) return Result::kFailed;
  }
}

// Pinned, FreeLibrary does not unmap the DLL (what -z nodelete does on Linux).
void keep_library_loaded() {
  static const char kInThisModule = 0;
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&kInThisModule), &self);
}

void close_socket(Socket socket) {
  if (socket != kNoSocket) closesocket(native_handle(socket));
}

}  // namespace zeb::net
