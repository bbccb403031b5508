// The plugin library as an application uses it: loaded at run time, registered through its one
// export with a registrar of the headless engine, and driven with messages on its channel.

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "codec/byte_streams.h"
#include "method/standard_method_codec.h"
#include "tests/headless_engine_fixture.h"
#include "tests/stderr_capture.h"
#include "winver/winver_emulation.h"

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using velmoran_testing::StderrLinesOf;

using RegisterFunction = void (*)(FlutterDesktopPluginRegistrarRef);

// Loaded once and kept: the plugin's registrars are all destroyed by the engines of the tests
// before the process ends.
RegisterFunction LoadPlugin() {
  static RegisterFunction entry_point = [] {
    void* library = dlopen(VELMORAN_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return RegisterFunction{nullptr};
    return reinterpret_cast<RegisterFunction>(
        dlsym(library, "VelmoranPluginRegisterWithRegistrar"));
  }();
  return entry_point;
}

std::vector<uint8_t> EncodeCall(const std::string& method,
                                std::unique_ptr<EncodableValue> arguments = nullptr) {
  return *flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(
      flutter::MethodCall<>(method, std::move(arguments)));
}

std::vector<uint8_t> SuccessEnvelope(const std::string& text) {
  EncodableValue value(text);
  return *flutter::StandardMethodCodec::GetInstance().EncodeSuccessEnvelope(&value);
}

class PluginEndToEndTest : public velmoran_testing::HeadlessEngineTest {
 protected:
  PluginEndToEndTest() : register_plugin_(LoadPlugin()) {}
  ~PluginEndToEndTest() override { VelmoranResetEmulatedWindowsVersion(); }

  void SetUp() override {
    ASSERT_NE(register_plugin_, nullptr)
        << "cannot load " << VELMORAN_PLUGIN_PATH << ": " << dlerror();
    registrar_ = engine().CreateRegistrar();
    register_plugin_(registrar_);
  }

  // Sends bytes on "velmoran" and returns the response with the lines written meanwhile.
  std::vector<uint8_t> Send(const std::vector<uint8_t>& message,
                            std::vector<std::string>* lines = nullptr,
                            FlutterDesktopPluginRegistrarRef registrar = nullptr) {
    std::vector<uint8_t> response;
    auto written = StderrLinesOf([&] {
      velmoran_host::Delivery delivery =
          engine().Deliver("velmoran", message, registrar ? registrar : registrar_);
      EXPECT_TRUE(delivery.handled());
      EXPECT_TRUE(delivery.responded());
      response = delivery.response();
    });
    if (lines != nullptr) *lines = written;
    return response;
  }

  RegisterFunction register_plugin_;
  FlutterDesktopPluginRegistrarRef registrar_ = nullptr;
};

TEST_F(PluginEndToEndTest, AnswersTheEmulatedWindowsRelease) {
  const struct {
    uint32_t major;
    uint32_t minor;
    uint16_t service_pack;
    const char* expected;
  } kCases[] = {{10, 0, 0, "10"}, {6, 3, 0, "8"}, {6, 2, 0, "8"},
                {6, 1, 1, "7"},   {6, 1, 0, "7"}, {6, 0, 2, ""}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor));
    VelmoranEmulateWindowsVersion(c.major, c.minor, c.service_pack);
    std::vector<std::string> lines;
    EXPECT_EQ(Send(EncodeCall("getPlatformVersion"), &lines), SuccessEnvelope(c.expected));
    EXPECT_THAT(lines, IsEmpty());
  }
}

TEST_F(PluginEndToEndTest, OtherMethodsAreNotImplemented) {
  const std::string kNames[] = {"getplatformversion",
                                "GetPlatformVersion",
                                "getPlatformVersion ",
                                std::string("getPlatformVersion\0x", 20),
                                "",
                                "getPlatform"};
  for (const std::string& name : kNames) {
    SCOPED_TRACE("name of " + std::to_string(name.size()) + " bytes");
    std::vector<std::string> lines;
    EXPECT_THAT(Send(EncodeCall(name), &lines), IsEmpty());
    EXPECT_THAT(lines, IsEmpty());
  }
}

TEST_F(PluginEndToEndTest, ArgumentsChangeNothing) {
  VelmoranEmulateWindowsVersion(6, 3, 0);
  const EncodableValue kArguments[] = {
      EncodableValue(EncodableMap{{"a", 1}}), EncodableValue(EncodableList{1, "two"}),
      EncodableValue("text"), EncodableValue(std::vector<float>{1.0f}), EncodableValue()};
  for (const EncodableValue& arguments : kArguments) {
    SCOPED_TRACE(arguments.index());
    EXPECT_EQ(Send(EncodeCall("getPlatformVersion", std::make_unique<EncodableValue>(arguments))),
              SuccessEnvelope("8"));
  }
}

TEST_F(PluginEndToEndTest, MessagesThatAreNoCallGetAnEmptyResponse) {
  const std::string kInvalidRead(flutter::kInvalidReadDiagnostic);
  const std::string kNotAString = "Invalid method call; method name is not a string.";
  const std::string kChannel = "Unable to construct method call from message on channel velmoran";
  const struct {
    const char* name;
    std::vector<uint8_t> message;
    std::vector<std::string> lines;
  } kCases[] = {
      {"empty", {}, {kInvalidRead, kNotAString, kChannel}},
      {"an integer", {0x03, 0x01, 0x00, 0x00, 0x00}, {kNotAString, kChannel}},
      {"an unknown type",
       {0x2A},
       {"Unknown type in StandardCodecSerializer::ReadValueOfType: 42", kNotAString, kChannel}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> lines;
    EXPECT_THAT(Send(c.message, &lines), IsEmpty());
    EXPECT_EQ(lines, c.lines);
  }
  // A name cut short still is a name, and the call goes through.
  std::vector<uint8_t> cut = EncodeCall("getPlatformVersion");
  cut.pop_back();
  std::vector<std::string> lines;
  EXPECT_EQ(Send(cut, &lines), SuccessEnvelope("10"));
  EXPECT_THAT(lines, ElementsAre(kInvalidRead));
}

TEST_F(PluginEndToEndTest, RegisteringTwiceOnOneRegistrarKeepsOneAnswer) {
  auto first = engine().GetChannelCallback("velmoran", registrar_);
  register_plugin_(registrar_);
  auto second = engine().GetChannelCallback("velmoran", registrar_);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->user_data, second->user_data) << "the handler is replaced in place";
  EXPECT_EQ(Send(EncodeCall("getPlatformVersion")), SuccessEnvelope("10"));
}

TEST_F(PluginEndToEndTest, EachRegistrarAnswersOnItsOwn) {
  FlutterDesktopPluginRegistrarRef other = engine().CreateRegistrar();
  register_plugin_(other);
  EXPECT_NE(engine().messenger(other), engine().messenger(registrar_));
  EXPECT_EQ(Send(EncodeCall("getPlatformVersion"), nullptr, other), SuccessEnvelope("10"));

  engine().DestroyRegistrar(registrar_);
  EXPECT_EQ(Send(EncodeCall("getPlatformVersion"), nullptr, other), SuccessEnvelope("10"));
}

TEST_F(PluginEndToEndTest, TheEnginesDestructionTearsDownQuietlyAndAllowsAFreshStart) {
  engine().TakeCallLog();
  engine().DestroyRegistrar(registrar_);
  EXPECT_THAT(engine().TakeCallLog(), IsEmpty()) << "teardown must not call the engine";

  FlutterDesktopPluginRegistrarRef again = engine().CreateRegistrar({registrar_, true});
  ASSERT_EQ(again, registrar_);
  register_plugin_(again);
  EXPECT_THAT(engine().TakeCallLog(),
              ElementsAre("FlutterDesktopPluginRegistrarGetMessenger",
                          "FlutterDesktopRegistrarGetTextureRegistrar",
                          "FlutterDesktopPluginRegistrarGetView",
                          "FlutterDesktopPluginRegistrarSetDestructionHandler",
                          "FlutterDesktopMessengerSetCallback"))
      << "a fresh registrar is built for the handle";
  EXPECT_EQ(Send(EncodeCall("getPlatformVersion")), SuccessEnvelope("10"));
}

}  // namespace
