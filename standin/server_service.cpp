#include "server_service.h"

#include <algorithm>
#include <utility>

#include "dump_store.h"
#include "status.h"

namespace zeb::server {
namespace {

using protocol::Op;

constexpr std::string_view kUser = "admin";
constexpr std::string_view kPassword = "mot47vek,raz;";

// Runs over the longer length whatever the content, so timing reveals no matching prefix.
bool secret_equals(std::string_view given, std::string_view expected) {
  std::size_t length = std::max(given.size(), expected.size());
  unsigned difference = given.size() == expected.size() ? 0 : 1;
  for (std::size_t i = 0; i < length; ++i) {
    unsigned char a = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
    unsigned char b = i < expected.size() ? static_cast<unsigned char>(expected[i]) : 0;
    difference |= static_cast<unsigned>(a ^ b);
  }
  return difference == 0;
}

bool credentials_match(const protocol::Request& request) {
  // Both compared whatever the first gives, so the time does not tell which one was wrong.
  const bool user_matches = secret_equals(request.user, kUser);
  const bool password_matches = secret_equals(request.password, kPassword);
  return user_matches && password_matches;
}

}  // namespace

dumpfile::Records built_in_records() {
  return {"account admin role=operator", "account guest role=reader", "queue inbound size=16",
          "queue outbound size=16", "setting journal=on"};
}

std::string latin1_to_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (unsigned char c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xc0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    }
  }
  return out;
}

Service::Service(dumpfile::Records initial, const Options& options)
    : initial_(std::move(initial)),
      data_(initial_),
      refused_versions_(options.refused_versions),
      forced_status_(options.forced_status) {}

protocol::Answer Service::handle_request(const protocol::Request& request) {
  protocol::Answer answer;
  if (request.op == Op::kVersions) {
    if (refused_versions_ > 0) {
      --refused_versions_;
      answer.status = status::kNotReady;
    } else {
      answer.server_version = kServerVersion;
      answer.protocol_version = protocol::kProtocolVersion;
    }
    return answer;
  }
  if (!credentials_match(request)) {
    answer.status = status::kBadCredentials;
    return answer;
  }
  auto forced = forced_status_.find(request.op);
  if (forced != forced_status_.end()) {
    answer.status = forced->second;
    return answer;
  }
  switch (request.op) {
    case Op::kStop:
      stop_requested_ = true;
      break;
    case Op::kReset:
      data_ = initial_;
      break;
    case Op::kDump:
      answer.status = write_dump_file(latin1_to_utf8(request.file), dumpfile::encode(data_));
      break;
    case Op::kReload: {
      dumpfile::Records loaded;
      answer.status = read_dump_file(latin1_to_utf8(request.file), &loaded);
      if (answer.status == status::kOk) data_ = std::move(loaded);
      break;
    }
    case Op::kVersions:
      break;
  }
  return answer;
}

}  // namespace zeb::server
