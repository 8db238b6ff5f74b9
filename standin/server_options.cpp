#include "server_options.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace zeb::server {
namespace {

bool parse_number(const std::string& text, long long low, long long high, long long* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

bool parse_forced_status(const std::string& text, Options* options) {
  static const std::map<std::string, protocol::Op> kOps = {{"stop", protocol::Op::kStop},
                                                           {"reset", protocol::Op::kReset},
                                                           {"dump", protocol::Op::kDump},
                                                           {"reload", protocol::Op::kReload}};
  std::size_t equals = text.find('=');
  if (equals == std::string::npos) return false;
  auto op = kOps.find(text.substr(0, equals));
  long long value = 0;
  if (op == kOps.end() ||
      !parse_number(text.substr(equals + 1), std::numeric_limits<std::int32_t>::min(),
                    std::numeric_limits<std::int32_t>::max(), &value)) {
    return false;
  }
  options->forced_status[op->second] = static_cast<std::int32_t>(value);
  return true;
}

}  // namespace

bool parse_options(int argc, char** argv, Options* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name != "--port" && name != "--data" && name != "--journal" &&
        name != "--ignore-versions" && name != "--fail") {
      *error = "unknown argument '" + name + "'";
      return false;
    }
    if (i + 1 >= argc) {
      *error = name + " needs a value";
      return false;
    }
    std::string value = argv[++i];
    long long number = 0;
    bool valid = true;
    if (name == "--port") {
      valid = parse_number(value, 0, 65535, &number);
      options->port = static_cast<std::uint16_t>(number);
    } else if (name == "--ignore-versions") {
      valid = parse_number(value, 0, std::numeric_limits<std::int32_t>::max(), &number);
      options->refused_versions = number;
    } else if (name == "--data") {
      valid = !value.empty();
      options->data_file = value;
    } else if (name == "--journal") {
      valid = !value.empty();
      options->journal_file = value;
    } else {
      valid = parse_forced_status(value, options);
    }
    if (!valid) {
      *error = "invalid value '" + value + "' for " + name;
      return false;
    }
  }
  return true;
}

}  // namespace zeb::server
