// What the stand-in promises its clients and the tests: the server's first line, its default
// address and the library's time limits. The test runners read these lines too, so each stays
// "NAME = VALUE;" on one line.
#ifndef ZEB_STANDIN_CONTRACT_H
#define ZEB_STANDIN_CONTRACT_H

#include <cstdint>

namespace zeb::contract {

// zebserver's first line is kListeningOn, kServerHost, ":" and the port it listens on.
constexpr char kListeningOn[] = "listening on ";
constexpr char kServerHost[] = "127.0.0.1";
constexpr std::uint16_t kDefaultPort = 47170;

// The library's limits on connecting (name lookup included) and then on the answer; a call
// takes at most their sum. Test limits on a call or a run sit above that sum (live_test.cpp,
// the runners' RUN_TIMEOUT, CTest's TIMEOUT of the live tests).
constexpr std::int64_t kConnectLimitMs = 1000;
constexpr std::int64_t kAnswerLimitMs = 3000;

}  // namespace zeb::contract

#endif
