// The stand-in's frame extraction and request decoder on arbitrary bytes, as the server gets
// them from a connection. The format is canonical, so whatever decodes re-encodes to the same
// bytes; whatever is refused leaves the output alone. The answer decoder gets the same input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "protocol.h"
#include "status.h"

namespace {

namespace protocol = zeb::protocol;

void check_request(std::string_view payload) {
  protocol::Request request;
  request.user = "untouched";
  const std::int32_t result = protocol::decode_request(payload, &request);
  FUZZ_CHECK(result == zeb::status::kOk || result == zeb::status::kProtocolError);
  if (result != zeb::status::kOk) {
    FUZZ_CHECK(request.user == "untouched");
    return;
  }
  std::string frame;
  FUZZ_CHECK(protocol::encode_request(request, &frame));
  FUZZ_CHECK(frame.size() == protocol::kHeaderSize + payload.size());
  FUZZ_CHECK(frame.compare(protocol::kHeaderSize, std::string::npos, payload) == 0);
}

void check_answer(protocol::Op op, std::string_view payload) {
  protocol::Answer answer;
  answer.server_version = "untouched";
  const std::int32_t result = protocol::decode_answer(op, payload, &answer);
  FUZZ_CHECK(result == zeb::status::kOk || result == zeb::status::kProtocolError);
  if (result != zeb::status::kOk) {
    FUZZ_CHECK(answer.server_version == "untouched");
    return;
  }
  std::string frame;
  FUZZ_CHECK(protocol::encode_answer(op, answer, &frame));
  FUZZ_CHECK(frame.compare(protocol::kHeaderSize, std::string::npos, payload) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string_view payload;
  switch (protocol::extract_frame(bytes, &payload)) {
    case protocol::FrameState::kComplete:
      FUZZ_CHECK(!payload.empty() && payload.size() <= protocol::kMaxPayload);
      FUZZ_CHECK(payload.data() == bytes.data() + protocol::kHeaderSize);
      break;
    case protocol::FrameState::kIncomplete:
      // Incomplete means a valid length still waiting for bytes, never a refusable one.
      FUZZ_CHECK(bytes.size() < protocol::kHeaderSize + protocol::kMaxPayload);
      payload = bytes.size() > protocol::kHeaderSize ? bytes.substr(protocol::kHeaderSize) : "";
      break;
    case protocol::FrameState::kInvalid:
      FUZZ_CHECK(bytes.size() >= protocol::kHeaderSize);
      payload = bytes.substr(protocol::kHeaderSize);
      break;
  }
  check_request(payload);
  check_answer(protocol::Op::kVersions, payload);
  check_answer(protocol::Op::kDump, payload);
  return 0;
}
