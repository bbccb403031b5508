// Whole messages delivered on the channel "velmoran" through the headless engine to the plugin,
// registered once on one registrar as the application registers it.
//
// Every message gets exactly one response, and it is the right one: the platform version for a
// call of "getPlatformVersion", an empty response for anything else. The engine sees the same
// calls for every message (one reference taken and given back, one response under the lock), the
// messenger is back to the engine's single reference afterwards, and the host reports no misuse:
// its misuse handler stops the fuzzer.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "engine/plugin_registrar_manager.h"
#include "fuzz/fuzz_support.h"
#include "host/headless_engine.h"
#include "method/method_call.h"
#include "method/standard_method_codec.h"
#include "plugin/velmoran_plugin.h"
#include "winver/winver_emulation.h"

using flutter::EncodableValue;
using flutter::StandardMethodCodec;
using velmoran_fuzz::Bytes;

namespace {

// The engine and its registrar live for the whole run and are never torn down, so that no
// registrar outlives its engine at exit.
struct Host {
  velmoran_host::HeadlessEngine engine;
  FlutterDesktopPluginRegistrarRef registrar = nullptr;
  Bytes version_answer;
};

Host& TheHost() {
  static Host* const host = [] {
    velmoran_host::SetMisuseHandler([](const std::string& description) {
      std::fprintf(stderr, "engine misuse: %s\n", description.c_str());
      std::fflush(stderr);
      __builtin_trap();
    });
    VelmoranEmulateWindowsVersion(10, 0, 0);
    auto* made = new Host;
    made->registrar = made->engine.CreateRegistrar();
    velmoran::VelmoranPlugin::RegisterWithRegistrar(
        flutter::PluginRegistrarManager::GetInstance()->GetRegistrar(made->registrar));
    const EncodableValue version("10");
    made->version_answer = *StandardMethodCodec::GetInstance().EncodeSuccessEnvelope(&version);
    made->engine.TakeCallLog();
    return made;
  }();
  return *host;
}

// What the engine sees while one message is handled: the reply's reference on the messenger,
// the response sent under the messenger lock after checking that responses are taken, and the
// reference given back when the reply goes.
const std::vector<std::string> kCallsPerMessage = {
    "FlutterDesktopMessengerAddRef",      "FlutterDesktopMessengerLock",
    "FlutterDesktopMessengerIsAvailable", "FlutterDesktopMessengerSendResponse",
    "FlutterDesktopMessengerUnlock",      "FlutterDesktopMessengerRelease",
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  velmoran_fuzz::Diagnostics();
  TheHost();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Host& host = TheHost();

  velmoran_host::Delivery delivery =
      host.engine.Deliver("velmoran", Bytes(data, data + size), host.registrar);
  VELMORAN_FUZZ_CHECK(delivery.handled());
  VELMORAN_FUZZ_CHECK(delivery.responded());
  VELMORAN_FUZZ_CHECK(host.engine.messenger_references(host.registrar) == 1);
  VELMORAN_FUZZ_CHECK(host.engine.TakeCallLog() == kCallsPerMessage);

  // The plugin answers a call by its name alone; what the call is, the codec says.
  const auto call = StandardMethodCodec::GetInstance().DecodeMethodCall(data, size);
  const bool asks_version = call != nullptr && call->method_name() == "getPlatformVersion";
  VELMORAN_FUZZ_CHECK(delivery.response() == (asks_version ? host.version_answer : Bytes()));
  return 0;
}
