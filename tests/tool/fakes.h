#ifndef ZEBCMD_TESTS_FAKES_H
#define ZEBCMD_TESTS_FAKES_H

#include <optional>
#include <string>
#include <vector>

// Recording stand-ins for the client library and the platform layer, linked in place of the
// real ones. Every call lands in one ordered log so tests can assert the order across both.
namespace fake {

// "ZEBC_Init", "ZEBC_Adm_Dump|user|password|file", "message|text", "pause|ms", ...
extern std::vector<std::string> events;
// What every administrative call returns.
extern int admin_outcome;
// How many version queries fail before the server answers; negative: it never answers.
extern long versions_failures;

void reset();

// The server's administrative credentials as the log shows them: written here and nowhere
// else in the tests, so that a wrong user or password in the tool fails them.
inline const std::string kCredentials = "|admin|mot47vek,raz;";

// The log entry of an administrative call made with those credentials, and its file if any.
inline std::string admin_call(const std::string& call, std::optional<std::string> file = {}) {
  return call + kCredentials + (file ? "|" + *file : "");
}

}  // namespace fake

#endif
