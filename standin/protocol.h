// Frame codec shared by the stand-in server and client library. A frame is a 4-byte big-endian
// payload length followed by the payload; all functions here are pure.
#ifndef ZEB_STANDIN_PROTOCOL_H
#define ZEB_STANDIN_PROTOCOL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zeb::protocol {

constexpr std::size_t kHeaderSize = 4;
constexpr std::size_t kMaxPayload = 65536;
constexpr const char* kProtocolVersion = "1";

enum class Op : std::uint8_t { kVersions = 1, kStop = 2, kReset = 3, kDump = 4, kReload = 5 };

struct Request {
  Op op = Op::kVersions;
  std::string user;
  std::string password;
  std::string file;
};

struct Answer {
  std::int32_t status = 0;
  std::string server_version;
  std::string protocol_version;
};

// Journal name of an operation: versions, stop, reset, dump, reload.
const char* op_name(Op op);
// Number of text fields the request carries: 0 (versions), 2 (user, password) or 3 (+ file).
int field_count(Op op);

// Both encoders produce a whole frame; false when the payload would exceed kMaxPayload.
bool encode_request(const Request& request, std::string* frame);
bool encode_answer(Op op, const Answer& answer, std::string* frame);

// Decoders take a payload (without the length header) and return status::kOk or
// status::kProtocolError; the output is only written on success.
std::int32_t decode_request(std::string_view payload, Request* request);
// The answer layout depends on the request: versions answered with 0 carry the two texts.
std::int32_t decode_answer(Op op, std::string_view payload, Answer* answer);

enum class FrameState { kIncomplete, kComplete, kInvalid };
// Looks for one frame at the start of buffer. kInvalid when the announced length is zero or
// beyond kMaxPayload, so that a reader can refuse it before waiting for the bytes.
FrameState extract_frame(std::string_view buffer, std::string_view* payload);

}  // namespace zeb::protocol

#endif
