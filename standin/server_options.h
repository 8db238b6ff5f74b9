// zebserver's command line.
#ifndef ZEB_STANDIN_SERVER_OPTIONS_H
#define ZEB_STANDIN_SERVER_OPTIONS_H

#include <cstdint>
#include <map>
#include <string>

#include "contract.h"
#include "protocol.h"

namespace zeb::server {

struct Options {
  std::uint16_t port = contract::kDefaultPort;
  std::string data_file;
  std::string journal_file;
  std::int64_t refused_versions = 0;
  std::map<protocol::Op, std::int32_t> forced_status;
};

// false and a message in *error on bad usage.
bool parse_options(int argc, char** argv, Options* options, std::string* error);

}  // namespace zeb::server

#endif
