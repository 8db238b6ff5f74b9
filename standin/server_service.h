// What the server does with a request, apart from how it arrives.
#ifndef ZEB_STANDIN_SERVER_SERVICE_H
#define ZEB_STANDIN_SERVER_SERVICE_H

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "dumpfile.h"
#include "protocol.h"
#include "server_options.h"

namespace zeb::server {

constexpr const char* kServerVersion = "zebserver 1.0.0";

// Carries out decoded requests; knows nothing about sockets.
class Service {
 public:
  Service(dumpfile::Records initial, const Options& options);
  protocol::Answer handle_request(const protocol::Request& request);
  // Set once a stop request has been carried out (not merely answered).
  bool stop_requested() const { return stop_requested_; }

 private:
  dumpfile::Records initial_;
  dumpfile::Records data_;
  std::int64_t refused_versions_;
  std::map<protocol::Op, std::int32_t> forced_status_;
  bool stop_requested_ = false;
};

dumpfile::Records built_in_records();
// File texts arrive as ISO-8859-1 bytes; paths on this system are UTF-8.
std::string latin1_to_utf8(std::string_view text);

}  // namespace zeb::server

#endif
