#include "protocol.h"

#include "status.h"

namespace zeb::protocol {
namespace {

void put_u32(std::uint32_t value, std::string* out) {
  out->push_back(static_cast<char>(value >> 24));
  out->push_back(static_cast<char>(value >> 16));
  out->push_back(static_cast<char>(value >> 8));
  out->push_back(static_cast<char>(value));
}

std::uint32_t get_u32(std::string_view bytes) {
  auto at = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]));
  };
  return (at(0) << 24) | (at(1) << 16) | (at(2) << 8) | at(3);
}

void put_text(std::string_view text, std::string* out) {
  put_u32(static_cast<std::uint32_t>(text.size()), out);
  out->append(text);
}

// Consumes one length-prefixed text from the front of *rest.
bool take_text(std::string_view* rest, std::string* text) {
  if (rest->size() < kHeaderSize) return false;
  std::uint32_t size = get_u32(*rest);
  rest->remove_prefix(kHeaderSize);
  if (size > rest->size()) return false;
  text->assign(rest->substr(0, size));
  rest->remove_prefix(size);
  return true;
}

bool make_frame(std::string payload, std::string* frame) {
  if (payload.empty() || payload.size() > kMaxPayload) return false;
  frame->clear();
  put_u32(static_cast<std::uint32_t>(payload.size()), frame);
  frame->append(payload);
  return true;
}

bool is_known_op(std::uint8_t code) {
  return code >= static_cast<std::uint8_t>(Op::kVersions) &&
         code <= static_cast<std::uint8_t>(Op::kReload);
}

}  // namespace

const char* op_name(Op op) {
  switch (op) {
    case Op::kVersions:
      return "versions";
    case Op::kStop:
      return "stop";
    case Op::kReset:
      return "reset";
    case Op::kDump:
      return "dump";
    case Op::kReload:
      return "reload";
  }
  return "invalid";
}

int field_count(Op op) {
  switch (op) {
    case Op::kVersions:
      return 0;
    case Op::kStop:
    case Op::kReset:
      return 2;
    case Op::kDump:
    case Op::kReload:
      return 3;
  }
  return 0;
}

bool encode_request(const Request& request, std::string* frame) {
  std::string payload(1, static_cast<char>(request.op));
  const std::string* fields[] = {&request.user, &request.password, &request.file};
  for (int i = 0; i < field_count(request.op); ++i) {
    // Checked before appending so that a huge text never gets copied.
    std::size_t room = kMaxPayload - payload.size();
    if (room < kHeaderSize || fields[i]->size() > room - kHeaderSize) return false;
    put_text(*fields[i], &payload);
  }
  return make_frame(std::move(payload), frame);
}

bool encode_answer(Op op, const Answer& answer, std::string* frame) {
  std::string payload;
  put_u32(static_cast<std::uint32_t>(answer.status), &payload);
  if (op == Op::kVersions && answer.status == status::kOk) {
    put_text(answer.server_version, &payload);
    put_text(answer.protocol_version, &payload);
  }
  return make_frame(std::move(payload), frame);
}

std::int32_t decode_request(std::string_view payload, Request* request) {
  if (payload.empty() || payload.size() > kMaxPayload) return status::kProtocolError;
  auto code = static_cast<std::uint8_t>(payload[0]);
  if (!is_known_op(code)) return status::kProtocolError;
  Request decoded;
  decoded.op = static_cast<Op>(code);
  std::string* fields[] = {&decoded.user, &decoded.password, &decoded.file};
  std::string_view rest = payload.substr(1);
  for (int i = 0; i < field_count(decoded.op); ++i) {
    if (!take_text(&rest, fields[i])) return status::kProtocolError;
  }
  if (!rest.empty()) return status::kProtocolError;
  *request = std::move(decoded);
  return status::kOk;
}

std::int32_t decode_answer(Op op, std::string_view payload, Answer* answer) {
  if (payload.size() < kHeaderSize || payload.size() > kMaxPayload) return status::kProtocolError;
  Answer decoded;
  decoded.status = static_cast<std::int32_t>(get_u32(payload));
  std::string_view rest = payload.substr(kHeaderSize);
  if (op == Op::kVersions && decoded.status == status::kOk) {
    if (!take_text(&rest, &decoded.server_version) ||
        !take_text(&rest, &decoded.protocol_version)) {
      return status::kProtocolError;
    }
  }
  if (!rest.empty()) return status::kProtocolError;
  *answer = std::move(decoded);
  return status::kOk;
}

FrameState extract_frame(std::string_view buffer, std::string_view* payload) {
  if (buffer.size() < kHeaderSize) return FrameState::kIncomplete;
  std::uint32_t size = get_u32(buffer);
  if (size == 0 || size > kMaxPayload) return FrameState::kInvalid;
  if (buffer.size() - kHeaderSize < size) return FrameState::kIncomplete;
  *payload = buffer.substr(kHeaderSize, size);
  return FrameState::kComplete;
}

}  // namespace zeb::protocol
