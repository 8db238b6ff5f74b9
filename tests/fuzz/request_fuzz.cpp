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

// decode fills the message whose text *untouched points at; what it accepts, encode must turn
// back into a frame of the same payload, and what it refuses must leave that text alone.
template <typename Decode, typename Encode>
void check_codec(std::string_view payload, std::string* untouched, Decode decode, Encode encode) {
  *untouched = "untouched";
  const std::int32_t result = decode();
  FUZZ_CHECK(result == zeb::status::kOk || result == zeb::status::kProtocolError);
  if (result != zeb::status::kOk) {
    FUZZ_CHECK(*untouched == "untouched");
    return;
  }
  std::string frame;
  FUZZ_CHECK(encode(&frame));
  FUZZ_CHECK(frame.size() == protocol::kHeaderSize + payload.size());
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
  protocol::Request request;
  check_codec(
      payload, &request.user, [&] { return protocol::decode_request(payload, &request); },
      [&](std::string* frame) { return protocol::encode_request(request, frame); });
  for (protocol::Op op : {protocol::Op::kVersions, protocol::Op::kDump}) {
    protocol::Answer answer;
    check_codec(
        payload, &answer.server_version,
        [&] { return protocol::decode_answer(op, payload, &answer); },
        [&](std::string* frame) { return protocol::encode_answer(op, answer, frame); });
  }
  return 0;
}
