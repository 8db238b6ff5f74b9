#include "protocol.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "bytes.h"
#include "status.h"

namespace zeb::protocol {
namespace {

using test::text_bytes;
using test::u32_bytes;

std::string_view payload_of(const std::string& frame) {
  std::string_view payload;
  EXPECT_EQ(extract_frame(frame, &payload), FrameState::kComplete);
  EXPECT_EQ(payload.size() + kHeaderSize, frame.size());
  return payload;
}

TEST(RequestCodec, RoundTripsEveryOperation) {
  const std::string binary("\x00\x01\"\\\xe9\xff", 6);
  const Request requests[] = {{Op::kVersions, "", "", ""},
                              {Op::kStop, "admin", "mot47vek,raz;", ""},
                              {Op::kReset, "", "", ""},
                              {Op::kDump, "admin", "pw", "/tmp/caf\xe9.bin"},
                              {Op::kReload, binary, binary, binary}};
  for (const Request& request : requests) {
    SCOPED_TRACE(op_name(request.op));
    std::string frame;
    ASSERT_TRUE(encode_request(request, &frame));
    Request decoded;
    ASSERT_EQ(decode_request(payload_of(frame), &decoded), status::kOk);
    EXPECT_EQ(decoded.op, request.op);
    EXPECT_EQ(decoded.user, request.user);
    EXPECT_EQ(decoded.password, request.password);
    EXPECT_EQ(decoded.file, request.file);
  }
}

TEST(RequestCodec, RefusesTextsBeyondTheFrameLimit) {
  // Opcode and three length prefixes leave this much room for the texts.
  const std::size_t room = kMaxPayload - 1 - 3 * 4;
  std::string frame;
  EXPECT_TRUE(encode_request({Op::kDump, "u", "p", std::string(room - 2, 'f')}, &frame));
  EXPECT_FALSE(encode_request({Op::kDump, "u", "p", std::string(room - 1, 'f')}, &frame));
  EXPECT_FALSE(encode_request({Op::kStop, std::string(kMaxPayload, 'u'), "p", ""}, &frame));
}

TEST(RequestCodec, RefusesMalformedPayloads) {
  const std::string credentials = text_bytes("admin") + text_bytes("pw");
  // Each case below is one fault away from this valid request.
  Request reference;
  ASSERT_EQ(decode_request("\x04" + credentials + text_bytes("f"), &reference), status::kOk);
  const test::NamedBytes cases[] = {
      {"empty", ""},
      {"opcode zero", std::string(1, '\0')},
      {"opcode past the last", "\x06" + credentials},
      {"opcode 0xff", "\xff"},
      {"versions with a field", "\x01" + text_bytes("x")},
      {"trailing byte", "\x01x"},
      {"stop without password", "\x02" + text_bytes("admin")},
      {"stop with a file", "\x02" + credentials + text_bytes("f")},
      {"dump without file", "\x04" + credentials},
      {"length prefix cut short", "\x04" + credentials + std::string(2, '\0')},
      {"length beyond payload", "\x05" + credentials + u32_bytes(10) + "abc"},
      {"length 0xffffffff", "\x02" + u32_bytes(0xffffffffu) + "admin"},
      {"oversize", "\x04" + credentials + text_bytes(std::string(kMaxPayload, 'f'))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Request untouched{Op::kStop, "keep", "keep", "keep"};
    EXPECT_EQ(decode_request(c.bytes, &untouched), status::kProtocolError);
    EXPECT_EQ(untouched.user, "keep");
  }
}

TEST(AnswerCodec, RoundTrips) {
  const struct {
    Op op;
    Answer answer;
  } cases[] = {
      {Op::kVersions, {0, "zebserver 1.0.0", "1"}},
      {Op::kVersions, {status::kNotReady, "", ""}},
      {Op::kDump, {status::kCannotWrite, "", ""}},
      {Op::kStop, {12, "", ""}},
      {Op::kReload, {std::numeric_limits<std::int32_t>::min(), "", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer.status);
    std::string frame;
    ASSERT_TRUE(encode_answer(c.op, c.answer, &frame));
    Answer decoded;
    ASSERT_EQ(decode_answer(c.op, payload_of(frame), &decoded), status::kOk);
    EXPECT_EQ(decoded.status, c.answer.status);
    EXPECT_EQ(decoded.server_version, c.answer.server_version);
    EXPECT_EQ(decoded.protocol_version, c.answer.protocol_version);
  }
}

TEST(AnswerCodec, RefusesMalformedPayloads) {
  const struct {
    const char* name;
    Op op;
    std::string payload;
  } cases[] = {
      {"empty", Op::kDump, ""},
      {"status cut short", Op::kDump, std::string(3, '\0')},
      {"bytes after a status", Op::kReset, u32_bytes(0) + "x"},
      {"versions without texts", Op::kVersions, u32_bytes(0)},
      {"versions with one text", Op::kVersions, u32_bytes(0) + text_bytes("zebserver")},
      {"second text cut short", Op::kVersions,
       u32_bytes(0) + text_bytes("zebserver") + u32_bytes(5) + "1"},
      {"bytes after the texts", Op::kVersions,
       u32_bytes(0) + text_bytes("a") + text_bytes("b") + "x"},
      {"texts after a refusal", Op::kVersions,
       u32_bytes(static_cast<std::uint32_t>(-10)) + text_bytes("a")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Answer untouched{7, "keep", "keep"};
    EXPECT_EQ(decode_answer(c.op, c.payload, &untouched), status::kProtocolError);
    EXPECT_EQ(untouched.status, 7);
  }
}

TEST(FrameExtraction, WaitsForWholeFramesAndRefusesBadLengths) {
  const struct {
    const char* name;
    std::string buffer;
    FrameState state;
    std::string payload;
  } cases[] = {
      {"nothing yet", "", FrameState::kIncomplete, ""},
      {"header cut short", std::string(3, '\0'), FrameState::kIncomplete, ""},
      {"payload cut short", u32_bytes(5) + "abcd", FrameState::kIncomplete, ""},
      {"zero length", u32_bytes(0), FrameState::kInvalid, ""},
      {"one past the limit", u32_bytes(kMaxPayload + 1), FrameState::kInvalid, ""},
      {"0xffffffff", u32_bytes(0xffffffffu), FrameState::kInvalid, ""},
      {"exact", u32_bytes(2) + "ab", FrameState::kComplete, "ab"},
      {"followed by more", u32_bytes(2) + "abc", FrameState::kComplete, "ab"},
      {"at the limit", u32_bytes(kMaxPayload) + std::string(kMaxPayload, 'x'),
       FrameState::kComplete, std::string(kMaxPayload, 'x')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string_view payload;
    EXPECT_EQ(extract_frame(c.buffer, &payload), c.state);
    if (c.state == FrameState::kComplete) {
      EXPECT_EQ(payload, c.payload);
    }
  }
}

}  // namespace
}  // namespace zeb::protocol
