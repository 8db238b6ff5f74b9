// Status codes shared by the stand-in server and client library; scripts match on the values.
#ifndef ZEB_STANDIN_STATUS_H
#define ZEB_STANDIN_STATUS_H

#include <cstdint>

namespace zeb::status {

constexpr std::int32_t kOk = 0;
constexpr std::int32_t kNotInitialised = -1;
constexpr std::int32_t kInvalidArgument = -2;
constexpr std::int32_t kUnreachable = -3;
constexpr std::int32_t kTimeout = -4;
constexpr std::int32_t kProtocolError = -5;
constexpr std::int32_t kBadCredentials = -6;
constexpr std::int32_t kCannotWrite = -7;
constexpr std::int32_t kCannotRead = -8;
constexpr std::int32_t kInvalidDump = -9;
constexpr std::int32_t kNotReady = -10;
constexpr std::int32_t kBusy = -11;

}  // namespace zeb::status

#endif
