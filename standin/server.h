// The stand-in server: a single-threaded poll() loop in front of an in-memory record set.
#ifndef ZEB_STANDIN_SERVER_H
#define ZEB_STANDIN_SERVER_H

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "dumpfile.h"
#include "protocol.h"

namespace zeb::server {

constexpr const char* kServerVersion = "zebserver 1.0.0";
constexpr std::uint16_t kDefaultPort = 47170;

struct Options {
  std::uint16_t port = kDefaultPort;
  std::string data_file;
  std::int64_t refused_versions = 0;
  std::map<protocol::Op, std::int32_t> forced_status;
};

// false and a message in *error on bad usage.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);

// Carries out decoded requests; knows nothing about sockets.
class Service {
 public:
  Service(dumpfile::Records initial, const Options& options);
  protocol::Answer Handle(const protocol::Request& request);
  // Set once a stop request has been carried out (not merely answered).
  bool stop_requested() const { return stop_requested_; }

 private:
  dumpfile::Records initial_;
  dumpfile::Records data_;
  std::int64_t refused_versions_;
  std::map<protocol::Op, std::int32_t> forced_status_;
  bool stop_requested_ = false;
};

dumpfile::Records BuiltInRecords();
// File texts arrive as ISO-8859-1 bytes; paths on this system are UTF-8.
std::string Latin1ToUtf8(std::string_view text);
std::int32_t ReadDumpFile(const std::string& path, dumpfile::Records* records);
std::int32_t WriteDumpFile(const std::string& path, std::string_view bytes);

// Prints one journal line on stdout and flushes it.
void Journal(std::string_view op, std::string_view user, std::string_view file,
             std::int32_t status);

// Runs until a stop request or SIGTERM/SIGINT; returns the exit code.
int Serve(const Options& options, Service* service);

}  // namespace zeb::server

#endif
