#include "zebcli/zebcli.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "contract.h"
#include "net.h"
#include "protocol.h"
#include "status.h"

namespace {

using zeb::protocol::Op;
namespace net = zeb::net;
namespace status = zeb::status;

constexpr std::chrono::milliseconds kConnectTimeout{zeb::contract::kConnectLimitMs};
constexpr std::chrono::milliseconds kAnswerTimeout{zeb::contract::kAnswerLimitMs};

std::mutex g_init_mutex;
std::atomic<bool> g_initialised{false};

// host:port, split at the last colon; the port must be a number from 1 to 65535.
bool split_address(const std::string& address, std::string* host, std::string* port) {
  std::size_t colon = address.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  *host = address.substr(0, colon);
  *port = address.substr(colon + 1);
  if (port->empty() || port->size() > 5) return false;
  long value = 0;
  for (char c : *port) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value >= 1 && value <= 65535;
}

std::int32_t to_status(net::Result result) {
  switch (result) {
    case net::Result::kOk:
      return status::kOk;
    case net::Result::kUnreachable:
      return status::kUnreachable;
    case net::Result::kTimeout:
      return status::kTimeout;
    case net::Result::kClosed:
    case net::Result::kFailed:
      break;
  }
  return status::kProtocolError;
}

std::int32_t converse(net::Socket socket, Op op, const std::string& frame,
                      zeb::protocol::Answer* answer) {
  net::Clock::time_point deadline = net::Clock::now() + kAnswerTimeout;
  net::Result result = net::send_all(socket, frame.data(), frame.size(), deadline);
  if (result != net::Result::kOk) return to_status(result);
  std::string buffer;
  char chunk[4096];
  for (;;) {
    std::string_view payload;
    switch (zeb::protocol::extract_frame(buffer, &payload)) {
      case zeb::protocol::FrameState::kComplete:
        if (zeb::protocol::decode_answer(op, payload, answer) != status::kOk) {
          return status::kProtocolError;
        }
        return answer->status;
      case zeb::protocol::FrameState::kInvalid:
        return status::kProtocolError;
      case zeb::protocol::FrameState::kIncomplete:
        break;
    }
    std::size_t received = 0;
    result = net::receive(socket, chunk, sizeof chunk, deadline, &received);
    if (result != net::Result::kOk) return to_status(result);
    buffer.append(chunk, received);
  }
}

// One request over one new connection; the server's status, or the library's own error.
std::int32_t round_trip(const zeb::protocol::Request& request, zeb::protocol::Answer* answer) {
  std::string frame;
  if (!zeb::protocol::encode_request(request, &frame)) return status::kInvalidArgument;
  const char* configured = std::getenv("ZEB_SERVER");
  std::string host = zeb::contract::kServerHost;
  std::string port = std::to_string(zeb::contract::kDefaultPort);
  if (configured != nullptr && *configured != '\0' && !split_address(configured, &host, &port)) {
    return status::kUnreachable;
  }
  net::Socket socket = net::kNoSocket;
  if (net::connect_to(host.c_str(), port.c_str(), kConnectTimeout, &socket) != net::Result::kOk) {
    return status::kUnreachable;
  }
  std::int32_t result = converse(socket, request.op, frame, answer);
  net::close_socket(socket);
  return result;
}

// Writes text NUL-terminated and truncated into at most size bytes.
void copy_out(const std::string& text, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return;
  std::size_t length = std::min(text.size(), static_cast<std::size_t>(size) - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

std::int32_t administer(Op op, const char* user, const char* password, const char* file) {
  if (!g_initialised) return status::kNotInitialised;
  bool needs_file = zeb::protocol::field_count(op) == 3;
  if (user == nullptr || password == nullptr || (needs_file && file == nullptr)) {
    return status::kInvalidArgument;
  }
  zeb::protocol::Request request;
  request.op = op;
  request.user = user;
  request.password = password;
  if (needs_file) request.file = file;
  zeb::protocol::Answer answer;
  return round_trip(request, &answer);
}

// Keeps exceptions (only std::bad_alloc can occur) from crossing the C interface.
template <typename Body>
int guarded(Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return status::kProtocolError;
  }
}

}  // namespace

extern "C" {

ZEBC_API int ZEBC_CALL ZEBC_Init(void) {
  std::lock_guard<std::mutex> lock(g_init_mutex);
  if (!g_initialised) {
    if (!net::init()) return status::kUnreachable;
    g_initialised = true;
  }
  return status::kOk;
}

ZEBC_API int ZEBC_CALL ZEBC_Close(void) {
  std::lock_guard<std::mutex> lock(g_init_mutex);
  if (g_initialised) {
    net::cleanup();
    g_initialised = false;
  }
  return status::kOk;
}

ZEBC_API int ZEBC_CALL ZEBC_GetVersions(char* buf1, int size1, char* buf2, int size2) {
  return guarded([&] {
    if (!g_initialised) return status::kNotInitialised;
    zeb::protocol::Request request;
    request.op = Op::kVersions;
    zeb::protocol::Answer answer;
    std::int32_t result = round_trip(request, &answer);
    if (result == status::kOk) {
      copy_out(answer.server_version, buf1, size1);
      copy_out(answer.protocol_version, buf2, size2);
    }
    return result;
  });
}

ZEBC_API int ZEBC_CALL ZEBC_Adm_Close(const char* user, const char* password) {
  return guarded([&] { return administer(Op::kStop, user, password, nullptr); });
}

ZEBC_API int ZEBC_CALL ZEBC_Adm_Restart(const char* user, const char* password) {
  return guarded([&] { return administer(Op::kReset, user, password, nullptr); });
}

ZEBC_API int ZEBC_CALL ZEBC_Adm_Dump(const char* user, const char* password, const char* file) {
  return guarded([&] { return administer(Op::kDump, user, password, file); });
}

ZEBC_API int ZEBC_CALL ZEBC_Adm_Reload(const char* user, const char* password, const char* file) {
  return guarded([&] { return administer(Op::kReload, user, password, file); });
}

}  // extern "C"
