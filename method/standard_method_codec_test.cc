#include "method/standard_method_codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "codec/byte_streams.h"
#include "codec/encodable_value.h"
#include "codec/standard_codec_serializer.h"
#include "method/method_call.h"
#include "method/method_codec.h"
#include "method/method_result.h"
#include "tests/hex.h"
#include "tests/point_serializer.h"
#include "tests/stderr_capture.h"

namespace flutter {
namespace {

using ::testing::ElementsAre;
using velmoran_testing::StderrLinesOf;

static_assert(std::is_abstract_v<MethodCodec<>>);
static_assert(std::is_same_v<MethodCodec<>, MethodCodec<EncodableValue>>);
static_assert(std::has_virtual_destructor_v<MethodCodec<>>);
static_assert(!std::is_copy_constructible_v<MethodCodec<>>);
static_assert(!std::is_copy_assignable_v<MethodCodec<>>);
static_assert(std::is_base_of_v<MethodCodec<EncodableValue>, StandardMethodCodec>);
// Codecs come only from GetInstance, so that every pointer to one stays valid.
static_assert(!std::is_constructible_v<StandardMethodCodec, const StandardCodecSerializer*>);
static_assert(!std::is_default_constructible_v<StandardMethodCodec>);
static_assert(!std::is_copy_constructible_v<StandardMethodCodec>);

const std::string kInvalidRead = "Invalid read in StandardCodecByteStreamReader";
const std::string kNotAString = "Invalid method call; method name is not a string.";
const std::string kUnhandledCustom =
    "Unhandled custom type in StandardCodecSerializer::WriteValue. "
    "Custom types require codec extensions.";

using velmoran_testing::Hex;

const StandardMethodCodec& Codec() { return StandardMethodCodec::GetInstance(); }

const EncodableValue* PointerTo(const std::optional<EncodableValue>& value) {
  return value.has_value() ? &*value : nullptr;
}

EncodableValue List(std::initializer_list<EncodableValue> elements) {
  return EncodableValue(EncodableList(elements));
}

// What a result was given. The value (a success's result or an error's details) is copied out
// of the hook call, since the pointer is only valid during it; it is empty when the pointer was
// null.
struct Answer {
  enum class Kind { kSuccess, kError, kNotImplemented };
  Kind kind;
  std::optional<EncodableValue> value;
  std::string code;
  std::string message;
};

bool operator==(const Answer& a, const Answer& b) {
  return a.kind == b.kind && a.value == b.value && a.code == b.code && a.message == b.message;
}

void PrintTo(const Answer& answer, std::ostream* out) {
  const char* kinds[] = {"Success", "Error", "NotImplemented"};
  *out << kinds[static_cast<int>(answer.kind)] << "(code \"" << answer.code << "\", message \""
       << answer.message << "\", ";
  if (answer.value.has_value()) {
    *out << "value of alternative " << answer.value->index();
  } else {
    *out << "no value";
  }
  *out << ")";
}

Answer Success() { return {Answer::Kind::kSuccess, std::nullopt, {}, {}}; }
Answer Success(EncodableValue value) { return {Answer::Kind::kSuccess, std::move(value), {}, {}}; }
Answer Error(std::string code, std::string message) {
  return {Answer::Kind::kError, std::nullopt, std::move(code), std::move(message)};
}
Answer Error(std::string code, std::string message, EncodableValue details) {
  return {Answer::Kind::kError, std::move(details), std::move(code), std::move(message)};
}

// Records every answer it is given, however many.
class RecordingResult : public MethodResult<> {
 public:
  const std::vector<Answer>& answers() const { return answers_; }

 protected:
  void OnSuccess(const EncodableValue* result) override {
    answers_.push_back({Answer::Kind::kSuccess, Copy(result), {}, {}});
  }
  void OnError(const std::string& code, const std::string& message,
               const EncodableValue* details) override {
    answers_.push_back({Answer::Kind::kError, Copy(details), code, message});
  }
  void OnNotImplemented() override {
    answers_.push_back({Answer::Kind::kNotImplemented, std::nullopt, {}, {}});
  }

 private:
  static std::optional<EncodableValue> Copy(const EncodableValue* value) {
    if (value == nullptr) return std::nullopt;
    return *value;
  }

  std::vector<Answer> answers_;
};

// The outcome of one DecodeAndProcessResponseEnvelope.
struct Processed {
  bool recognised = false;
  std::vector<Answer> answers;
  std::vector<std::string> lines;
};

Processed Process(const std::vector<uint8_t>& response,
                  const StandardMethodCodec& codec = Codec()) {
  Processed processed;
  RecordingResult result;
  processed.lines = StderrLinesOf([&] {
    processed.recognised =
        codec.DecodeAndProcessResponseEnvelope(response.data(), response.size(), &result);
  });
  processed.answers = result.answers();
  return processed;
}

// The outcome of one DecodeMethodCall.
struct DecodedCall {
  std::unique_ptr<MethodCall<>> call;
  std::vector<std::string> lines;
};

DecodedCall DecodeCall(const std::vector<uint8_t>& message,
                       const StandardMethodCodec& codec = Codec()) {
  DecodedCall decoded;
  decoded.lines =
      StderrLinesOf([&] { decoded.call = codec.DecodeMethodCall(message.data(), message.size()); });
  return decoded;
}

std::unique_ptr<EncodableValue> OwnedCopy(const std::optional<EncodableValue>& value) {
  return value.has_value() ? std::make_unique<EncodableValue>(*value) : nullptr;
}

// What the public operations of a codec hand to its hooks.
struct HookCall {
  std::string hook;
  const void* pointer;  // the bytes, the call, the value or the result, as received
  size_t size;
  std::string code;
  std::string message;
};

class ProbeCodec : public MethodCodec<> {
 public:
  mutable std::vector<HookCall> calls;

 protected:
  std::unique_ptr<MethodCall<>> OnDecodeMethodCall(const uint8_t* message,
                                                   size_t message_size) const override {
    calls.push_back({"OnDecodeMethodCall", message, message_size, {}, {}});
    return std::make_unique<MethodCall<>>("probe", nullptr);
  }
  std::unique_ptr<std::vector<uint8_t>> OnEncodeMethodCall(
      const MethodCall<>& method_call) const override {
    calls.push_back({"OnEncodeMethodCall", &method_call, 0, {}, {}});
    return std::make_unique<std::vector<uint8_t>>(1, 0xA1);
  }
  std::unique_ptr<std::vector<uint8_t>> OnEncodeSuccessEnvelope(
      const EncodableValue* result) const override {
    calls.push_back({"OnEncodeSuccessEnvelope", result, 0, {}, {}});
    return std::make_unique<std::vector<uint8_t>>(1, 0xA2);
  }
  std::unique_ptr<std::vector<uint8_t>> OnEncodeErrorEnvelope(
      const std::string& code, const std::string& message,
      const EncodableValue* details) const override {
    calls.push_back({"OnEncodeErrorEnvelope", details, 0, code, message});
    return std::make_unique<std::vector<uint8_t>>(1, 0xA3);
  }
  bool OnDecodeAndProcessResponseEnvelope(const uint8_t* response, size_t response_size,
                                          MethodResult<>* result) const override {
    calls.push_back({"OnDecodeAndProcessResponseEnvelope", response, response_size, {}, {}});
    return result != nullptr && response_size == 3;
  }
};

TEST(MethodCodecTest, PublicOperationsPassEverythingOnUnchanged) {
  ProbeCodec codec;
  const uint8_t bytes[3] = {1, 2, 3};
  MethodCall<> call("m", nullptr);
  EncodableValue value(5);
  RecordingResult result;

  std::unique_ptr<MethodCall<>> decoded = codec.DecodeMethodCall(bytes, 2);
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->method(), "probe");
  EXPECT_EQ(*codec.EncodeMethodCall(call), std::vector<uint8_t>{0xA1});
  EXPECT_EQ(*codec.EncodeSuccessEnvelope(&value), std::vector<uint8_t>{0xA2});
  EXPECT_EQ(*codec.EncodeSuccessEnvelope(), std::vector<uint8_t>{0xA2});
  EXPECT_EQ(*codec.EncodeErrorEnvelope("code", "message", &value), std::vector<uint8_t>{0xA3});
  EXPECT_EQ(*codec.EncodeErrorEnvelope("code"), std::vector<uint8_t>{0xA3});
  EXPECT_TRUE(codec.DecodeAndProcessResponseEnvelope(bytes, 3, &result));
  EXPECT_FALSE(codec.DecodeAndProcessResponseEnvelope(bytes, 1, &result));

  const struct {
    const char* hook;
    const void* pointer;
    size_t size;
    const char* code;
    const char* message;
  } kExpected[] = {
      {"OnDecodeMethodCall", bytes, 2, "", ""},
      {"OnEncodeMethodCall", &call, 0, "", ""},
      {"OnEncodeSuccessEnvelope", &value, 0, "", ""},
      {"OnEncodeSuccessEnvelope", nullptr, 0, "", ""},
      {"OnEncodeErrorEnvelope", &value, 0, "code", "message"},
      {"OnEncodeErrorEnvelope", nullptr, 0, "code", ""},
      {"OnDecodeAndProcessResponseEnvelope", bytes, 3, "", ""},
      {"OnDecodeAndProcessResponseEnvelope", bytes, 1, "", ""},
  };
  ASSERT_EQ(codec.calls.size(), std::size(kExpected));
  for (size_t i = 0; i < codec.calls.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(codec.calls[i].hook, kExpected[i].hook);
    EXPECT_EQ(codec.calls[i].pointer, kExpected[i].pointer);
    EXPECT_EQ(codec.calls[i].size, kExpected[i].size);
    EXPECT_EQ(codec.calls[i].code, kExpected[i].code);
    EXPECT_EQ(codec.calls[i].message, kExpected[i].message);
  }
  EXPECT_TRUE(result.answers().empty());
}

TEST(StandardMethodCodecTest, SuccessEnvelopeBytes) {
  const struct {
    const char* name;
    std::optional<EncodableValue> result;
    const char* hex;
    std::vector<std::string> lines;
  } kCases[] = {
      {"no value", std::nullopt, "00 00", {}},
      {"explicit null", EncodableValue(), "00 00", {}},
      {"true", EncodableValue(true), "00 01", {}},
      {"32-bit integer", EncodableValue(7), "00 03 07 00 00 00", {}},
      {"string", EncodableValue("ok"), "00 07 02 6F 6B", {}},
      {"double aligned from the flag byte",
       EncodableValue(1.0),
       "00 06 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F",
       {}},
      {"float list aligned from the flag byte",
       EncodableValue(std::vector<float>{1.0f}),
       "00 0E 01 00 00 00 80 3F",
       {}},
      {"double inside a list", List({1.0}), "00 0C 01 06 00 00 00 00 00 00 00 00 00 00 F0 3F", {}},
      {"map", EncodableValue(EncodableMap{{"a", 1}}), "00 0D 01 07 01 61 03 01 00 00 00", {}},
      {"custom value the standard serializer cannot write",
       EncodableValue(CustomEncodableValue(3)),
       "00 00",
       {kUnhandledCustom}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<std::vector<uint8_t>> envelope;
    auto lines =
        StderrLinesOf([&] { envelope = Codec().EncodeSuccessEnvelope(PointerTo(c.result)); });
    ASSERT_NE(envelope, nullptr);
    EXPECT_EQ(*envelope, Hex(c.hex));
    EXPECT_EQ(lines, c.lines);
  }
}

TEST(StandardMethodCodecTest, ErrorEnvelopeBytes) {
  const struct {
    const char* name;
    std::string code;
    std::string message;
    std::optional<EncodableValue> details;
    const char* hex;
    std::vector<std::string> lines;
  } kCases[] = {
      {"empty message is null", "E", "", std::nullopt, "01 07 01 45 00 00", {}},
      {"message is a string", "E", "msg", std::nullopt, "01 07 01 45 07 03 6D 73 67 00", {}},
      {"empty code is still a string", "", "", std::nullopt, "01 07 00 00 00", {}},
      {"empty code with a message", "", "m", std::nullopt, "01 07 00 07 01 6D 00", {}},
      {"details holding null are the same as none",
       "E",
       "",
       EncodableValue(),
       "01 07 01 45 00 00",
       {}},
      {"integer details", "E", "m", EncodableValue(7), "01 07 01 45 07 01 6D 03 07 00 00 00", {}},
      {"list details", "E", "", List({"x"}), "01 07 01 45 00 0C 01 07 01 78", {}},
      {"double details aligned from the flag byte",
       "E",
       "",
       EncodableValue(1.0),
       "01 07 01 45 00 06 00 00 00 00 00 00 00 00 F0 3F",
       {}},
      {"message with a zero byte",
       "E",
       std::string("a\0b", 3),
       std::nullopt,
       "01 07 01 45 07 03 61 00 62 00",
       {}},
      {"custom details the standard serializer cannot write",
       "E",
       "",
       EncodableValue(CustomEncodableValue(3)),
       "01 07 01 45 00 00",
       {kUnhandledCustom}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<std::vector<uint8_t>> envelope;
    auto lines = StderrLinesOf(
        [&] { envelope = Codec().EncodeErrorEnvelope(c.code, c.message, PointerTo(c.details)); });
    ASSERT_NE(envelope, nullptr);
    EXPECT_EQ(*envelope, Hex(c.hex));
    EXPECT_EQ(lines, c.lines);
  }
  // Without message and details.
  EXPECT_EQ(*Codec().EncodeErrorEnvelope("E"), Hex("01 07 01 45 00 00"));
}

// Each row is also read back: the name and the arguments survive, and a call sent without
// arguments arrives with the null value.
TEST(StandardMethodCodecTest, MethodCallBytes) {
  const struct {
    const char* name;
    std::string method;
    std::optional<EncodableValue> arguments;
    const char* hex;
  } kCases[] = {
      {"no arguments", "foo", std::nullopt, "07 03 66 6F 6F 00"},
      {"null arguments", "foo", EncodableValue(), "07 03 66 6F 6F 00"},
      {"empty name", "", std::nullopt, "07 00 00"},
      {"name with a zero byte", std::string("a\0b", 3), std::nullopt, "07 03 61 00 62 00"},
      {"integer arguments", "m", EncodableValue(5), "07 01 6D 03 05 00 00 00"},
      {"double aligned from the message start", "m", EncodableValue(1.0),
       "07 01 6D 06 00 00 00 00 00 00 00 00 00 00 F0 3F"},
      {"64-bit list aligned from the message start", "ab", EncodableValue(std::vector<int64_t>{1}),
       "07 02 61 62 0A 01 00 00 01 00 00 00 00 00 00 00"},
      {"map arguments", "m", EncodableValue(EncodableMap{{"k", true}}),
       "07 01 6D 0D 01 07 01 6B 01"},
      {"list holding null", "m", List({1, EncodableValue()}), "07 01 6D 0C 02 03 01 00 00 00 00"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MethodCall<> call(c.method, OwnedCopy(c.arguments));
    std::unique_ptr<std::vector<uint8_t>> message;
    auto lines = StderrLinesOf([&] { message = Codec().EncodeMethodCall(call); });
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(*message, Hex(c.hex));
    EXPECT_THAT(lines, ElementsAre());

    DecodedCall decoded = DecodeCall(Hex(c.hex));
    EXPECT_THAT(decoded.lines, ElementsAre());
    ASSERT_NE(decoded.call, nullptr);
    EXPECT_EQ(decoded.call->method(), c.method);
    ASSERT_NE(decoded.call->args(), nullptr);
    EXPECT_EQ(*decoded.call->args(), c.arguments.value_or(EncodableValue()));
  }
}

TEST(StandardMethodCodecTest, DecodingDamagedAndUnusualMethodCalls) {
  const struct {
    const char* name;
    const char* hex;
    std::vector<std::string> lines;
    std::optional<std::string> method;  // empty when no call comes out
    EncodableValue arguments;
  } kCases[] = {
      {"empty message", "", {kInvalidRead, kNotAString}, std::nullopt, {}},
      {"name only", "07 03 66 6F 6F", {kInvalidRead}, "foo", EncodableValue()},
      // In the rows with nothing after the first value, a read of the arguments would show as an
      // invalid read.
      {"integer name", "03 01 00 00 00", {kNotAString}, std::nullopt, {}},
      {"64-bit integer name", "04 01 00 00 00 00 00 00 00", {kNotAString}, std::nullopt, {}},
      {"list name", "0C 01 07 01 78", {kNotAString}, std::nullopt, {}},
      {"null name", "00", {kNotAString}, std::nullopt, {}},
      {"null name before an unknown type", "00 0F", {kNotAString}, std::nullopt, {}},
      {"byte-list name", "08 01 6D 00", {kNotAString}, std::nullopt, {}},
      {"unknown type for the name",
       "0F 07 01 6D",
       {"Unknown type in StandardCodecSerializer::ReadValueOfType: 15", kNotAString},
       std::nullopt,
       {}},
      {"name in the second string form", "05 01 6D 00", {}, "m", EncodableValue()},
      {"trailing bytes are ignored",
       "07 01 6D 03 05 00 00 00 FF FF 07",
       {},
       "m",
       EncodableValue(5)},
      {"arguments cut short", "07 01 6D 03 05", {kInvalidRead}, "m", EncodableValue(0)},
      {"unknown argument type",
       "07 01 6D 0F",
       {"Unknown type in StandardCodecSerializer::ReadValueOfType: 15"},
       "m",
       EncodableValue()},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    DecodedCall decoded = DecodeCall(Hex(c.hex));
    EXPECT_EQ(decoded.lines, c.lines);
    if (!c.method.has_value()) {
      EXPECT_EQ(decoded.call, nullptr);
      continue;
    }
    ASSERT_NE(decoded.call, nullptr);
    EXPECT_EQ(decoded.call->method(), *c.method);
    ASSERT_NE(decoded.call->args(), nullptr);
    EXPECT_EQ(*decoded.call->args(), c.arguments);
  }
}

TEST(StandardMethodCodecTest, MethodCallsRoundTrip) {
  EncodableValue arguments(EncodableMap{
      {"id", int64_t{1} << 40},
      {"score", 0.25},
      {"samples", std::vector<float>{1.5f, -2.5f}},
      {"weights", std::vector<double>{0.5}},
      {"pixels", std::vector<uint8_t>(300, 7)},
      {"nested", List({List({1.0, "x"}), EncodableMap{{1, false}}})},
  });
  // Names of every length modulo 8 move the arguments through every alignment.
  for (size_t length = 0; length < 8; ++length) {
    SCOPED_TRACE("name length " + std::to_string(length));
    const std::string name(length, 'n');
    const EncodableValue* const kSent[] = {&arguments, nullptr};
    for (const EncodableValue* sent : kSent) {
      MethodCall<> call(name, sent != nullptr ? std::make_unique<EncodableValue>(*sent) : nullptr);
      std::unique_ptr<std::vector<uint8_t>> message = Codec().EncodeMethodCall(call);
      ASSERT_NE(message, nullptr);
      DecodedCall decoded = DecodeCall(*message);
      EXPECT_THAT(decoded.lines, ElementsAre());
      ASSERT_NE(decoded.call, nullptr);
      EXPECT_EQ(decoded.call->method(), name);
      ASSERT_NE(decoded.call->args(), nullptr);
      EXPECT_EQ(*decoded.call->args(), sent != nullptr ? *sent : EncodableValue());
    }
  }
}

// Notes where the content of the last byte list it read lives.
class PayloadTrackingSerializer : public StandardCodecSerializer {
 public:
  EncodableValue ReadValueOfType(uint8_t type, ByteStreamReader* stream) const override {
    EncodableValue value = StandardCodecSerializer::ReadValueOfType(type, stream);
    if (const auto* bytes = value.GetIf<std::vector<uint8_t>>()) last_payload = bytes->data();
    return value;
  }

  mutable const uint8_t* last_payload = nullptr;
};

TEST(StandardMethodCodecTest, DecodedArgumentsAreMovedNotCopied) {
  static PayloadTrackingSerializer serializer;
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance(&serializer);
  EncodableValue pixels(std::vector<uint8_t>(4096, 9));
  MethodCall<> call("draw", std::make_unique<EncodableValue>(pixels));
  std::unique_ptr<std::vector<uint8_t>> message = codec.EncodeMethodCall(call);
  ASSERT_NE(message, nullptr);

  DecodedCall decoded = DecodeCall(*message, codec);
  ASSERT_NE(decoded.call, nullptr);
  ASSERT_NE(decoded.call->args(), nullptr);
  const auto* bytes = decoded.call->args()->GetIf<std::vector<uint8_t>>();
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(*bytes, std::get<std::vector<uint8_t>>(pixels));
  // A copy would live elsewhere: it is made while the value it copies still exists.
  EXPECT_EQ(bytes->data(), serializer.last_payload);
}

TEST(StandardMethodCodecTest, ProcessingResponses) {
  const struct {
    const char* name;
    const char* hex;
    bool recognised;
    std::vector<Answer> answers;
    std::vector<std::string> lines;
  } kCases[] = {
      {"success without a value", "00 00", true, {Success()}, {}},
      {"success with a string", "00 07 02 6F 6B", true, {Success("ok")}, {}},
      {"success with an aligned double",
       "00 06 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F",
       true,
       {Success(1.0)},
       {}},
      {"success with trailing bytes", "00 03 07 00 00 00 FF 01", true, {Success(7)}, {}},
      {"success flag alone", "00", true, {Success()}, {kInvalidRead}},
      {"empty response", "", true, {Success()}, {kInvalidRead, kInvalidRead}},
      {"error with empty message", "01 07 01 45 00 00", true, {Error("E", "")}, {}},
      {"error with message and details",
       "01 07 01 45 07 03 6D 73 67 03 07 00 00 00",
       true,
       {Error("E", "msg", 7)},
       {}},
      {"error with empty code", "01 07 00 00 00", true, {Error("", "")}, {}},
      {"error code in the second string form", "01 05 01 45 00 00", true, {Error("E", "")}, {}},
      {"error with trailing bytes", "01 07 01 45 00 00 FF FF", true, {Error("E", "")}, {}},
      {"error cut before its details",
       "01 07 01 45 07 01 6D",
       true,
       {Error("E", "m")},
       {kInvalidRead}},
      {"error cut before its message",
       "01 07 01 45",
       true,
       {Error("E", "")},
       {kInvalidRead, kInvalidRead}},
      {"error with details of an unknown type",
       "01 07 01 45 00 0F",
       true,
       {Error("E", "")},
       {"Unknown type in StandardCodecSerializer::ReadValueOfType: 15"}},
      {"flag 2", "02 00", false, {}, {}},
      {"flag 2 before a well-formed error", "02 07 01 45 00 00", false, {}, {}},
      {"flag 255 alone", "FF", false, {}, {}},
      // No answer can be made up from these error envelopes.
      {"error flag alone", "01", false, {}, {kInvalidRead, kInvalidRead, kInvalidRead}},
      {"null code", "01 00 00 00", false, {}, {}},
      {"integer code", "01 03 01 00 00 00 00 00", false, {}, {}},
      {"list code", "01 0C 01 07 01 45 00 00", false, {}, {}},
      {"byte-list code", "01 08 01 45 00 00", false, {}, {}},
      {"integer message", "01 07 01 45 03 01 00 00 00 00", false, {}, {}},
      {"bool message", "01 07 01 45 01 00", false, {}, {}},
      {"integer code, then cut short",
       "01 03 01 00 00 00",
       false,
       {},
       {kInvalidRead, kInvalidRead}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Processed processed = Process(Hex(c.hex));
    EXPECT_EQ(processed.recognised, c.recognised);
    EXPECT_EQ(processed.answers, c.answers);
    EXPECT_EQ(processed.lines, c.lines);
  }
}

// Success with a value holding null and success without a value write the same bytes, so both
// come back without a value.
TEST(StandardMethodCodecTest, EncodedEnvelopesProcessToTheSameAnswer) {
  EncodableValue nested(EncodableMap{{"list", List({1.0, "x", EncodableValue()})},
                                     {"ids", std::vector<int32_t>{3, 4}}});
  const struct {
    const char* name;
    std::optional<EncodableValue> result;
    Answer expected;
  } kSuccesses[] = {
      {"no value", std::nullopt, Success()},
      {"null value", EncodableValue(), Success()},
      {"empty string", EncodableValue(""), Success("")},
      {"false", EncodableValue(false), Success(false)},
      {"nested", nested, Success(nested)},
  };
  for (const auto& c : kSuccesses) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<std::vector<uint8_t>> envelope =
        Codec().EncodeSuccessEnvelope(PointerTo(c.result));
    ASSERT_NE(envelope, nullptr);
    Processed processed = Process(*envelope);
    EXPECT_TRUE(processed.recognised);
    EXPECT_THAT(processed.answers, ElementsAre(c.expected));
    EXPECT_THAT(processed.lines, ElementsAre());
  }

  const struct {
    const char* name;
    std::string code;
    std::string message;
    std::optional<EncodableValue> details;
    Answer expected;
  } kErrors[] = {
      {"code only", "E", "", std::nullopt, Error("E", "")},
      {"empty code", "", "", std::nullopt, Error("", "")},
      {"message", "E", "went wrong", std::nullopt, Error("E", "went wrong")},
      {"null details are no details", "E", "m", EncodableValue(), Error("E", "m")},
      {"false details", "E", "", EncodableValue(false), Error("E", "", false)},
      {"nested details", "E", "m", nested, Error("E", "m", nested)},
  };
  for (const auto& c : kErrors) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<std::vector<uint8_t>> envelope =
        Codec().EncodeErrorEnvelope(c.code, c.message, PointerTo(c.details));
    ASSERT_NE(envelope, nullptr);
    Processed processed = Process(*envelope);
    EXPECT_TRUE(processed.recognised);
    EXPECT_THAT(processed.answers, ElementsAre(c.expected));
    EXPECT_THAT(processed.lines, ElementsAre());
  }
}

// A serializer that adds nothing, to have a second serializer.
class PlainSerializer : public StandardCodecSerializer {};

TEST(StandardMethodCodecTest, OneCodecPerSerializer) {
  const StandardMethodCodec& by_default = StandardMethodCodec::GetInstance();
  EXPECT_EQ(&by_default, &StandardMethodCodec::GetInstance(nullptr));
  EXPECT_EQ(&by_default,
            &StandardMethodCodec::GetInstance(&StandardCodecSerializer::GetInstance()));
  EXPECT_EQ(&by_default, &StandardMethodCodec::GetInstance());

  static PlainSerializer second_serializer;
  const StandardMethodCodec& second = StandardMethodCodec::GetInstance(&second_serializer);
  EXPECT_NE(&second, &by_default);
  EXPECT_EQ(&second, &StandardMethodCodec::GetInstance(&second_serializer));

  // The registry growing does not move or drop the codecs made earlier.
  static PlainSerializer more[64];
  for (const PlainSerializer& serializer : more) StandardMethodCodec::GetInstance(&serializer);
  EXPECT_EQ(&by_default, &StandardMethodCodec::GetInstance());
  EXPECT_EQ(&second, &StandardMethodCodec::GetInstance(&second_serializer));

  // Both keep working.
  for (const StandardMethodCodec* codec : {&by_default, &second}) {
    EncodableValue value("still here");
    std::unique_ptr<std::vector<uint8_t>> envelope = codec->EncodeSuccessEnvelope(&value);
    ASSERT_NE(envelope, nullptr);
    EXPECT_EQ(*envelope, Hex("00 07 0A 73 74 69 6C 6C 20 68 65 72 65"));
    Processed processed = Process(*envelope, *codec);
    EXPECT_TRUE(processed.recognised);
    EXPECT_THAT(processed.answers, ElementsAre(Success(value)));
  }
}

using velmoran_testing::Point;
using velmoran_testing::PointSerializer;

// The point at index of a list value, or null.
const Point* PointAt(const EncodableValue* list_value, size_t index) {
  const auto* list = list_value == nullptr ? nullptr : list_value->GetIf<EncodableList>();
  if (list == nullptr || index >= list->size()) return nullptr;
  const auto* custom = (*list)[index].GetIf<CustomEncodableValue>();
  return custom == nullptr ? nullptr : custom->TryGet<Point>();
}

TEST(StandardMethodCodecTest, CodecOfADerivedSerializerUsesItForNestedValues) {
  static PointSerializer point_serializer;
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance(&point_serializer);
  EXPECT_NE(&codec, &StandardMethodCodec::GetInstance());

  MethodCall<> call("draw", std::make_unique<EncodableValue>(
                                List({CustomEncodableValue(Point{1, 2}), EncodableValue(3)})));
  const std::vector<uint8_t> expected =
      Hex("07 04 64 72 61 77 0C 02 80 03 01 00 00 00 03 02 00 00 00 03 03 00 00 00");
  std::unique_ptr<std::vector<uint8_t>> message;
  auto lines = StderrLinesOf([&] { message = codec.EncodeMethodCall(call); });
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(*message, expected);
  EXPECT_THAT(lines, ElementsAre());

  DecodedCall decoded = DecodeCall(expected, codec);
  EXPECT_THAT(decoded.lines, ElementsAre());
  ASSERT_NE(decoded.call, nullptr);
  const Point* point = PointAt(decoded.call->args(), 0);
  ASSERT_NE(point, nullptr);
  EXPECT_EQ(point->x, 1);
  EXPECT_EQ(point->y, 2);

  // The default codec does not know the type.
  DecodedCall by_default = DecodeCall(expected);
  EXPECT_THAT(by_default.lines,
              testing::Contains("Unknown type in StandardCodecSerializer::ReadValueOfType: 128"));

  // Answers too: a point inside a success envelope's list.
  EncodableValue result = List({EncodableValue("p"), CustomEncodableValue(Point{-5, 6})});
  std::unique_ptr<std::vector<uint8_t>> envelope = codec.EncodeSuccessEnvelope(&result);
  ASSERT_NE(envelope, nullptr);
  RecordingResult recorder;
  EXPECT_TRUE(
      codec.DecodeAndProcessResponseEnvelope(envelope->data(), envelope->size(), &recorder));
  ASSERT_EQ(recorder.answers().size(), 1u);
  const Point* answered = PointAt(PointerTo(recorder.answers()[0].value), 1);
  ASSERT_NE(answered, nullptr);
  EXPECT_EQ(answered->x, -5);
  EXPECT_EQ(answered->y, 6);
}

TEST(StandardMethodCodecTest, ConcurrentFirstRequestsGetOneCodecPerSerializer) {
  constexpr size_t kThreads = 8;
  constexpr size_t kSerializers = 16;
  // Never asked for before this test. The last slot stands for the default serializer, asked
  // for half of the time by null and half of the time by address.
  static PlainSerializer serializers[kSerializers - 1];
  std::atomic<bool> start{false};
  std::vector<std::vector<const StandardMethodCodec*>> got(
      kThreads, std::vector<const StandardMethodCodec*>(kSerializers));
  std::vector<std::thread> threads;
  for (size_t t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!start.load()) std::this_thread::yield();
      // Each thread goes through the serializers in another order.
      for (size_t i = 0; i < kSerializers; ++i) {
        size_t s = (i + t * 5) % kSerializers;
        if (s + 1 < kSerializers) {
          got[t][s] = &StandardMethodCodec::GetInstance(&serializers[s]);
        } else {
          got[t][s] = &StandardMethodCodec::GetInstance(
              t % 2 == 0 ? nullptr : &StandardCodecSerializer::GetInstance());
        }
      }
    });
  }
  start = true;
  for (std::thread& thread : threads) thread.join();

  std::set<const StandardMethodCodec*> distinct;
  for (size_t s = 0; s < kSerializers; ++s) {
    SCOPED_TRACE("serializer " + std::to_string(s));
    const StandardMethodCodec* expected = s + 1 < kSerializers
                                              ? &StandardMethodCodec::GetInstance(&serializers[s])
                                              : &StandardMethodCodec::GetInstance();
    distinct.insert(expected);
    for (size_t t = 0; t < kThreads; ++t) EXPECT_EQ(got[t][s], expected);
  }
  EXPECT_EQ(distinct.size(), kSerializers);
}

}  // namespace
}  // namespace flutter
