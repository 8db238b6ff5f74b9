// zebcmd::run over random argument vectors, between the recording fakes, compared with a
// model of the command table: the library is opened first and closed last exactly once when a
// command word is given, never otherwise, and every call and message is the defined one.
//
// Input: a flag byte (bit 0: no argument vector; bit 1: arguments in UTF-16LE, else UTF-8;
// bits 2-4: failed versions queries before the server answers, which bounds any ping), four
// bytes of administrative status, then the arguments separated by NUL units.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "check.h"
#include "dispatch.h"
#include "fakes.h"
#include "narrow.h"
#include "ping.h"
#include "utf8.h"

namespace {

using fake::admin_call;
using zebcmd::ArgumentVector;

ArgumentVector split(const std::uint8_t* data, std::size_t size, bool utf16) {
  ArgumentVector arguments{u"ZEBCmd"};
  if (size == 0) return arguments;
  if (utf16) {
    arguments.emplace_back();
    for (std::size_t i = 0; i + 1 < size; i += 2) {
      const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
      if (unit == 0) {
        arguments.emplace_back();
      } else {
        arguments.back().push_back(unit);
      }
    }
    return arguments;
  }
  std::string current;
  for (std::size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == 0) {
      arguments.push_back(zebcmd::decode_utf8(current));
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  return arguments;
}

// What the C interface sees of a narrowed text: up to its first NUL.
std::string as_c_string(const std::u16string& argument) {
  return zebcmd::ArgumentNarrower().narrow(argument).c_str();
}

struct Expected {
  std::vector<std::string> events;
  int status = 0;
};

void administer(const char* command, const std::string& call, int outcome, Expected* out) {
  out->events.push_back(call);
  out->events.push_back("message|" + std::string(command) +
                        (outcome == 0
                             ? " command successful\n"
                             : " command failed (Error: " + std::to_string(outcome) + ")\n"));
}

void ping(const ArgumentVector& arguments, long failures, Expected* out) {
  const std::int32_t max_try = zebcmd::parse_int32(as_c_string(arguments[2]));
  const std::int32_t interval = zebcmd::parse_int32(as_c_string(arguments[3]));
  for (long attempt = 1;; ++attempt) {
    out->events.push_back("ZEBC_GetVersions|128|128");
    if (attempt > failures) {
      out->events.push_back("message|Ping command successful\n");
      out->status = 1;
      return;
    }
    if (max_try > 0 && attempt == max_try) {
      out->events.push_back("message|Ping command failed\n");
      return;
    }
    out->events.push_back("message|Ping failure\n");
    out->events.push_back("pause|" + std::to_string(interval < 0 ? 0 : interval));
  }
}

Expected model(const ArgumentVector& arguments, int outcome, long failures) {
  Expected out;
  out.events.push_back("ZEBC_Init");
  const std::u16string& word = arguments[1];
  const std::size_t count = arguments.size();
  if (word == u"-stop") {
    administer("Stop", admin_call("ZEBC_Adm_Close"), outcome, &out);
  } else if (word == u"-reset") {
    administer("Reset", admin_call("ZEBC_Adm_Restart"), outcome, &out);
  } else if (word == u"-dump" && count == 3) {
    administer("Dump", admin_call("ZEBC_Adm_Dump", as_c_string(arguments[2])), outcome, &out);
  } else if (word == u"-reload" && count == 3) {
    administer("Reload", admin_call("ZEBC_Adm_Reload", as_c_string(arguments[2])), outcome, &out);
  } else if (word == u"-ping" && count == 4) {
    ping(arguments, failures, &out);
  } else if (word == u"-dump" || word == u"-reload" || word == u"-ping") {
    const char* name = word == u"-dump" ? "Dump" : word == u"-reload" ? "Reload" : "Ping";
    out.events.push_back("message|" + std::string(name) + " command failed: input param error\n");
  } else {
    out.events.push_back("message|Unknown command\n");
  }
  out.events.push_back("ZEBC_Close");
  return out;
}

std::vector<std::string> usage_events() {
  fake::reset();
  zebcmd::write_usage();
  return fake::events;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<std::string> kUsage = usage_events();
  if (size < 5) return -1;
  const std::uint8_t flags = data[0];
  std::int32_t outcome = 0;
  std::memcpy(&outcome, data + 1, sizeof outcome);
  const long failures = (flags >> 2) & 7;
  std::optional<ArgumentVector> arguments;
  if ((flags & 1) == 0) arguments = split(data + 5, size - 5, (flags & 2) != 0);

  fake::reset();
  fake::admin_outcome = outcome;
  fake::versions_failures = failures;
  const int status = zebcmd::run(arguments);

  if (!arguments || arguments->size() < 2) {
    FUZZ_CHECK(status == 0);
    FUZZ_CHECK(fake::events == kUsage);
    return 0;
  }
  FUZZ_CHECK(fake::events.front() == "ZEBC_Init" && fake::events.back() == "ZEBC_Close");
  const Expected expected = model(*arguments, outcome, failures);
  FUZZ_CHECK(fake::events == expected.events);
  FUZZ_CHECK(status == expected.status);
  return 0;
}
