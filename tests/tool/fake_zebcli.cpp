#include <string>

#include "fakes.h"
#include "zebcli/zebcli.h"
#include "zebcli_functions.h"

namespace fake {

std::vector<std::string> events;
int admin_outcome = 0;
long versions_failures = 0;

void reset() {
  events.clear();
  admin_outcome = 0;
  versions_failures = 0;
}

namespace {

// Each fake function's body: records the call under its name and answers as set above.
struct Record {
  const char* call;

  int operator()() const {
    events.push_back(call);
    return 0;
  }

  int operator()(char* buf1, int size1, char* buf2, int size2) const {
    const bool distinct_buffers = buf1 != nullptr && buf2 != nullptr && buf1 != buf2;
    events.push_back(call + ("|" + std::to_string(size1)) + "|" + std::to_string(size2) +
                     (distinct_buffers ? "" : "|bad buffers"));
    if (versions_failures == 0) return 0;
    if (versions_failures > 0) --versions_failures;
    return -3;
  }

  int operator()(const char* user, const char* password, const char* file = nullptr) const {
    std::string event = std::string(call) + "|" + user + "|" + password;
    if (file != nullptr) event += std::string("|") + file;
    events.push_back(event);
    return admin_outcome;
  }
};

}  // namespace
}  // namespace fake

extern "C" {
#define FAKE_ZEBC_FUNCTION(name, stdcall_bytes, call, parameters, arguments) \
  int name parameters {                                                      \
    return fake::Record{#name} arguments;                                    \
  }
ZEBCLI_FUNCTIONS(FAKE_ZEBC_FUNCTION)
}
