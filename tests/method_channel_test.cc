// Method channels driven through the headless engine: messages arrive through the engine's C
// callbacks and responses leave through its C functions, as with the real engine.

#include "method/method_channel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "codec/byte_streams.h"
#include "engine/binary_messenger_impl.h"
#include "method/method_result_functions.h"
#include "method/standard_method_codec.h"
#include "tests/headless_engine_fixture.h"
#include "tests/stderr_capture.h"

namespace flutter {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using velmoran_testing::StderrLinesOf;

const char kDuplicateResult[] =
    "Error: Only one of Success, Error, or NotImplemented can be called, and it can be called "
    "exactly once. Ignoring duplicate result.";
const char kUnanswered[] = "Warning: Failed to respond to a message. This is a memory leak.";

std::vector<uint8_t> EncodeCall(const std::string& method, std::unique_ptr<EncodableValue> args) {
  return *StandardMethodCodec::GetInstance().EncodeMethodCall(
      MethodCall<>(method, std::move(args)));
}

class MethodChannelTest : public velmoran_testing::HeadlessEngineTest {
 protected:
  MethodChannelTest() : messenger_(engine().messenger()) {}

  // Installs handler on a channel object that is destroyed right away, as plugins do.
  void Install(const std::string& name, MethodCallHandler<> handler) {
    MethodChannel<> channel(&messenger_, name, &StandardMethodCodec::GetInstance());
    channel.SetMethodCallHandler(std::move(handler));
  }

  // Delivers a call and returns the delivery with the lines written meanwhile.
  velmoran_host::Delivery Call(const std::string& channel, const std::vector<uint8_t>& message,
                               std::vector<std::string>* lines = nullptr) {
    std::unique_ptr<velmoran_host::Delivery> delivery;
    auto written = StderrLinesOf([&] {
      delivery = std::make_unique<velmoran_host::Delivery>(engine().Deliver(channel, message));
    });
    if (lines != nullptr) *lines = written;
    return *delivery;
  }

  BinaryMessengerImpl messenger_;
};

TEST_F(MethodChannelTest, EachAnswerReachesTheEngineAsItsEnvelope) {
  const struct {
    const char* name;
    std::function<void(MethodResult<>&)> answer;
    std::vector<uint8_t> expected;
  } kCases[] = {
      {"success without value", [](MethodResult<>& r) { r.Success(); }, {0x00, 0x00}},
      {"success with null", [](MethodResult<>& r) { r.Success(EncodableValue()); }, {0x00, 0x00}},
      {"success with text",
       [](MethodResult<>& r) { r.Success(EncodableValue("10")); },
       {0x00, 0x07, 0x02, '1', '0'}},
      {"error with details",
       [](MethodResult<>& r) { r.Error("E", "bad", EncodableValue(true)); },
       {0x01, 0x07, 0x01, 'E', 0x07, 0x03, 'b', 'a', 'd', 0x01}},
      {"error with code only",
       [](MethodResult<>& r) { r.Error("E"); },
       {0x01, 0x07, 0x01, 'E', 0x00, 0x00}},
      {"not implemented", [](MethodResult<>& r) { r.NotImplemented(); }, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Install("chan", [&](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
      c.answer(*result);
    });
    std::vector<std::string> lines;
    velmoran_host::Delivery delivery = Call("chan", EncodeCall("m", nullptr), &lines);
    ASSERT_TRUE(delivery.responded());
    EXPECT_EQ(delivery.response(), c.expected);
    if (c.expected.empty()) {
      EXPECT_EQ(delivery.response_pointer(), nullptr) << "an empty response carries no bytes";
    }
    EXPECT_THAT(lines, IsEmpty());
  }
  EXPECT_EQ(engine().messenger_references(), 1);
}

TEST_F(MethodChannelTest, TheHandlerGetsTheDecodedCall) {
  std::string method;
  EncodableValue arguments;
  Install("chan", [&](const MethodCall<>& call, std::unique_ptr<MethodResult<>> result) {
    method = call.method();
    arguments = *call.args();
    result->Success();
  });
  Call("chan", EncodeCall("getPlatformVersion",
                          std::make_unique<EncodableValue>(EncodableMap{{"k", 1.5}})));
  EXPECT_EQ(method, "getPlatformVersion");
  EXPECT_EQ(arguments, EncodableValue(EncodableMap{{"k", 1.5}}));
}

TEST_F(MethodChannelTest, OnlyTheFirstAnswerIsSent) {
  Install("chan", [](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    result->Success();
    result->Error("late", "too late");
    result->NotImplemented();
  });
  std::vector<std::string> lines;
  velmoran_host::Delivery delivery = Call("chan", EncodeCall("m", nullptr), &lines);
  EXPECT_EQ(delivery.response(), (std::vector<uint8_t>{0x00, 0x00}));
  EXPECT_THAT(lines, ElementsAre(kDuplicateResult, kDuplicateResult));
}

TEST_F(MethodChannelTest, AResultDroppedUnansweredWarnsAndSendsNothing) {
  Install("chan", [](const MethodCall<>&, std::unique_ptr<MethodResult<>>) {});
  std::vector<std::string> lines;
  velmoran_host::Delivery delivery = Call("chan", EncodeCall("m", nullptr), &lines);
  EXPECT_FALSE(delivery.responded());
  EXPECT_THAT(lines, ElementsAre(kUnanswered));
  EXPECT_EQ(engine().messenger_references(), 1);
}

TEST_F(MethodChannelTest, AKeptResultAnswersLater) {
  std::unique_ptr<MethodResult<>> kept;
  Install("chan", [&](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    kept = std::move(result);
  });
  std::vector<std::string> lines;
  velmoran_host::Delivery delivery = Call("chan", EncodeCall("m", nullptr), &lines);
  EXPECT_FALSE(delivery.responded());
  EXPECT_EQ(engine().messenger_references(), 2) << "the kept result holds the messenger";

  auto answer_lines = StderrLinesOf([&] {
    kept->Success(EncodableValue(1));
    kept.reset();
  });
  EXPECT_EQ(delivery.response(), (std::vector<uint8_t>{0x00, 0x03, 1, 0, 0, 0}));
  EXPECT_THAT(lines, IsEmpty());
  EXPECT_THAT(answer_lines, IsEmpty());
  EXPECT_EQ(engine().messenger_references(), 1);
}

TEST_F(MethodChannelTest, MessagesThatAreNoCallAreNotImplementedWithoutReachingTheHandler) {
  const std::string kInvalidRead(kInvalidReadDiagnostic);
  const std::string kNotAString = "Invalid method call; method name is not a string.";
  const struct {
    const char* name;
    std::vector<uint8_t> message;
    std::vector<std::string> lines;
  } kCases[] = {
      {"empty message",
       {},
       {kInvalidRead, kNotAString,
        "Unable to construct method call from message on channel velmoran"}},
      {"an integer first",
       {0x03, 0x01, 0x00, 0x00, 0x00},
       {kNotAString, "Unable to construct method call from message on channel velmoran"}},
      {"a list first",
       {0x0C, 0x00, 0x07, 0x01, 'm'},
       {kNotAString, "Unable to construct method call from message on channel velmoran"}},
  };
  int handler_calls = 0;
  Install("velmoran", [&](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    ++handler_calls;
    result->Success();
  });
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> lines;
    velmoran_host::Delivery delivery = Call("velmoran", c.message, &lines);
    EXPECT_EQ(lines, c.lines);
    ASSERT_TRUE(delivery.responded());
    EXPECT_THAT(delivery.response(), IsEmpty());
  }
  EXPECT_EQ(handler_calls, 0);
}

TEST_F(MethodChannelTest, HandlersAreReplacedAndRemovedByName) {
  std::vector<std::string> reached;
  auto handler_named = [&reached](std::string name) {
    return [&reached, name](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
      reached.push_back(name);
      result->Success();
    };
  };
  MethodChannel<> first(&messenger_, "chan", &StandardMethodCodec::GetInstance());
  MethodChannel<> second(&messenger_, "chan", &StandardMethodCodec::GetInstance());
  first.SetMethodCallHandler(handler_named("first"));
  Call("chan", EncodeCall("m", nullptr));
  second.SetMethodCallHandler(handler_named("second"));
  Call("chan", EncodeCall("m", nullptr));
  first.SetMethodCallHandler(nullptr);
  velmoran_host::Delivery unhandled = Call("chan", EncodeCall("m", nullptr));
  EXPECT_THAT(reached, ElementsAre("first", "second"));
  EXPECT_FALSE(unhandled.handled());
}

// A codec that remembers where it put the envelope it encoded last.
class WitnessCodec : public MethodCodec<> {
 public:
  mutable const uint8_t* last_envelope = nullptr;

 protected:
  const StandardMethodCodec& standard() const { return StandardMethodCodec::GetInstance(); }
  std::unique_ptr<MethodCall<>> OnDecodeMethodCall(const uint8_t* message,
                                                   size_t size) const override {
    return standard().DecodeMethodCall(message, size);
  }
  std::unique_ptr<std::vector<uint8_t>> OnEncodeMethodCall(
      const MethodCall<>& call) const override {
    return standard().EncodeMethodCall(call);
  }
  std::unique_ptr<std::vector<uint8_t>> OnEncodeSuccessEnvelope(
      const EncodableValue* result) const override {
    auto envelope = standard().EncodeSuccessEnvelope(result);
    last_envelope = envelope->data();
    return envelope;
  }
  std::unique_ptr<std::vector<uint8_t>> OnEncodeErrorEnvelope(
      const std::string& code, const std::string& message,
      const EncodableValue* details) const override {
    return standard().EncodeErrorEnvelope(code, message, details);
  }
  bool OnDecodeAndProcessResponseEnvelope(const uint8_t* response, size_t size,
                                          MethodResult<>* result) const override {
    return standard().DecodeAndProcessResponseEnvelope(response, size, result);
  }
};

TEST_F(MethodChannelTest, TheEngineGetsTheEncodedEnvelopeItself) {
  static const WitnessCodec codec;
  MethodChannel<> channel(&messenger_, "chan", &codec);
  channel.SetMethodCallHandler([](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    result->Success(EncodableValue("payload"));
  });
  velmoran_host::Delivery delivery = Call("chan", EncodeCall("m", nullptr));
  ASSERT_NE(codec.last_envelope, nullptr);
  EXPECT_EQ(delivery.response_pointer(), codec.last_envelope);
}

TEST_F(MethodChannelTest, InvokeMethodSendsACallAndDeliversTheAnswer) {
  MethodChannel<> channel(&messenger_, "chan", &StandardMethodCodec::GetInstance());
  std::vector<std::string> answers;
  auto recorder = [&answers]() {
    return std::make_unique<MethodResultFunctions<>>(
        [&answers](const EncodableValue* value) {
          answers.push_back(value == nullptr ? "success"
                                             : "success " + std::get<std::string>(*value));
        },
        [&answers](const std::string& code, const std::string&, const EncodableValue*) {
          answers.push_back("error " + code);
        },
        [&answers]() { answers.push_back("not implemented"); });
  };

  channel.InvokeMethod("fire", nullptr);
  channel.InvokeMethod("ask", std::make_unique<EncodableValue>(1), recorder());
  channel.InvokeMethod("fail", nullptr, recorder());
  channel.InvokeMethod("unknown", nullptr, recorder());
  auto sent = engine().TakeSentMessages();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[0].message(), EncodeCall("fire", nullptr));
  EXPECT_FALSE(sent[0].expects_reply());
  EXPECT_EQ(sent[1].message(), EncodeCall("ask", std::make_unique<EncodableValue>(1)));
  sent[1].Reply({0x00, 0x07, 0x02, 'o', 'k'});
  sent[2].Reply({0x01, 0x07, 0x01, 'E', 0x00, 0x00});
  sent[3].Reply({});
  EXPECT_THAT(answers, ElementsAre("success ok", "error E", "not implemented"));
}

}  // namespace
}  // namespace flutter
