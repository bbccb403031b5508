// "getPlatformVersion" delivered through the headless host and answered, in calls per second,
// on four paths that share the host's Deliver and differ in what answers:
//   raw_c_handler       a plain C callback that sends a fixed envelope with
//                       FlutterDesktopMessengerSendResponse between FlutterDesktopMessengerLock
//                       and FlutterDesktopMessengerUnlock: the floor of the engine path;
//   messenger_handler   a BinaryMessageHandler on flutter::BinaryMessengerImpl that calls its
//                       BinaryReply with the same fixed envelope;
//   method_channel      a MethodChannel whose handler answers Success("10"): the method layer
//                       without the plugin;
//   plugin              VelmoranPlugin registered on a host registrar through the registrar
//                       manager, exactly as the plugin library's export does it.
// Each reports allocations per round trip (allocs_per_op), split by a counting interposer on
// the channel's C callback into those made inside the callback and those the host's Deliver
// makes around it, and the engine functions called per round trip (engine_calls_per_op).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/allocation_counter.h"
#include "bench/benchmarks.h"
#include "bench/payloads.h"
#include "codec/encodable_value.h"
#include "engine/binary_messenger_impl.h"
#include "engine/flutter_windows.h"
#include "engine/plugin_registrar_manager.h"
#include "host/headless_engine.h"
#include "method/method_channel.h"
#include "method/standard_method_codec.h"
#include "plugin/velmoran_plugin.h"

namespace velmoran_bench {

namespace {

using flutter::EncodableValue;

const char kChannel[] = "velmoran";
// The host keeps a log of engine calls; it is emptied this often, on every path alike.
constexpr int64_t kCallLogDrainInterval = 1024;
// Round trips over which the allocations are split, before the timed loop.
constexpr int kSplitCalls = 1000;

std::vector<uint8_t> CallMessage() {
  return *flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(
      flutter::MethodCall<EncodableValue>(kMethodName, nullptr));
}

std::vector<uint8_t> ExpectedResponse() {
  EncodableValue version(kVersionText);
  return *flutter::StandardMethodCodec::GetInstance().EncodeSuccessEnvelope(&version);
}

// The raw path's C callback: user_data is the fixed response.
void AnswerWithFixedResponse(FlutterDesktopMessengerRef messenger,
                             const FlutterDesktopMessage* message, void* user_data) {
  const auto* response = static_cast<const std::vector<uint8_t>*>(user_data);
  FlutterDesktopMessengerRef lock = FlutterDesktopMessengerLock(messenger);
  FlutterDesktopMessengerSendResponse(messenger, message->response_handle, response->data(),
                                      response->size());
  FlutterDesktopMessengerUnlock(lock);
}

// Stands in for a channel's callback and counts the allocations made while it runs.
struct Interposer {
  FlutterDesktopMessageCallback callback;
  void* user_data;
  uint64_t allocations = 0;
};

void CountingCallback(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message,
                      void* user_data) {
  auto* interposer = static_cast<Interposer*>(user_data);
  const uint64_t before = AllocationCount();
  interposer->callback(messenger, message, interposer->user_data);
  interposer->allocations += AllocationCount() - before;
}

// Empties the host's log of engine calls, which would otherwise grow without end, and returns
// how many calls it held. Taking the log builds a string per entry: that is the harness's cost,
// not the path's, so its allocations are added to *excluded and callers stop the clock for it.
size_t DrainCallLog(velmoran_host::HeadlessEngine& engine, uint64_t* excluded) {
  const uint64_t before = AllocationCount();
  const size_t calls = engine.TakeCallLog().size();
  *excluded += AllocationCount() - before;
  return calls;
}

// Runs the round trip on a registrar whose "velmoran" channel the setup has answered, and
// reports it. The message is copied into each Deliver, whose parameter takes it by value.
void MeasureRoundTrip(benchmark::State& state, velmoran_host::HeadlessEngine& engine,
                      FlutterDesktopPluginRegistrarRef registrar) {
  const std::string channel = kChannel;
  const std::vector<uint8_t> message = CallMessage();

  velmoran_host::Delivery first = engine.Deliver(channel, message, registrar);
  if (!first.responded() || first.response() != ExpectedResponse()) {
    state.SkipWithError("the path did not answer with the success envelope \"10\"");
    return;
  }

  // The split, with the channel's callback behind the counting interposer.
  std::optional<velmoran_host::ChannelCallback> original =
      engine.GetChannelCallback(channel, registrar);
  if (!original) {
    state.SkipWithError("no callback is set for the channel");
    return;
  }
  FlutterDesktopMessengerRef messenger = engine.messenger(registrar);
  Interposer interposer{original->callback, original->user_data};
  FlutterDesktopMessengerSetCallback(messenger, kChannel, &CountingCallback, &interposer);
  uint64_t excluded = 0;
  DrainCallLog(engine, &excluded);
  excluded = 0;
  const uint64_t split_before = AllocationCount();
  size_t engine_calls = 0;
  for (int i = 1; i <= kSplitCalls; ++i) {
    engine.Deliver(channel, message, registrar);
    if (i % kCallLogDrainInterval == 0 || i == kSplitCalls) {
      engine_calls += DrainCallLog(engine, &excluded);
    }
  }
  const double split_total = static_cast<double>(AllocationCount() - split_before - excluded) /
                             static_cast<double>(kSplitCalls);
  const double in_callback =
      static_cast<double>(interposer.allocations) / static_cast<double>(kSplitCalls);
  FlutterDesktopMessengerSetCallback(messenger, kChannel, original->callback, original->user_data);
  DrainCallLog(engine, &excluded);

  int64_t delivered = 0;
  excluded = 0;
  const uint64_t allocations_before = AllocationCount();
  for (auto _ : state) {
    velmoran_host::Delivery delivery = engine.Deliver(channel, message, registrar);
    benchmark::DoNotOptimize(&delivery);
    if (++delivered % kCallLogDrainInterval == 0) {
      state.PauseTiming();
      DrainCallLog(engine, &excluded);
      state.ResumeTiming();
    }
  }
  ReportAllocations(state, allocations_before, excluded);
  state.SetItemsProcessed(state.iterations());
  state.counters["allocs_in_callback"] = in_callback;
  state.counters["allocs_outside_callback"] = split_total - in_callback;
  state.counters["engine_calls_per_op"] =
      static_cast<double>(engine_calls) / static_cast<double>(kSplitCalls);
}

void RawCHandlerPath(benchmark::State& state) {
  velmoran_host::HeadlessEngine engine;
  FlutterDesktopPluginRegistrarRef registrar = engine.CreateRegistrar();
  const std::vector<uint8_t> response = ExpectedResponse();
  FlutterDesktopMessengerSetCallback(engine.messenger(registrar), kChannel,
                                     &AnswerWithFixedResponse,
                                     const_cast<std::vector<uint8_t>*>(&response));
  MeasureRoundTrip(state, engine, registrar);
  engine.DestroyRegistrar(registrar);
}

void MessengerHandlerPath(benchmark::State& state) {
  velmoran_host::HeadlessEngine engine;
  FlutterDesktopPluginRegistrarRef registrar = engine.CreateRegistrar();
  {
    flutter::BinaryMessengerImpl messenger(engine.messenger(registrar));
    const std::vector<uint8_t> response = ExpectedResponse();
    messenger.SetMessageHandler(kChannel,
                                [&response](const uint8_t*, size_t, flutter::BinaryReply reply) {
                                  reply(response.data(), response.size());
                                });
    MeasureRoundTrip(state, engine, registrar);
  }
  engine.DestroyRegistrar(registrar);
}

void MethodChannelPath(benchmark::State& state) {
  velmoran_host::HeadlessEngine engine;
  FlutterDesktopPluginRegistrarRef registrar = engine.CreateRegistrar();
  {
    flutter::BinaryMessengerImpl messenger(engine.messenger(registrar));
    flutter::MethodChannel<EncodableValue> channel(&messenger, kChannel,
                                                   &flutter::StandardMethodCodec::GetInstance());
    channel.SetMethodCallHandler([](const flutter::MethodCall<EncodableValue>& call,
                                    std::unique_ptr<flutter::MethodResult<EncodableValue>> result) {
      if (call.method_name() == kMethodName) {
        result->Success(EncodableValue(kVersionText));
      } else {
        result->NotImplemented();
      }
    });
    MeasureRoundTrip(state, engine, registrar);
  }
  engine.DestroyRegistrar(registrar);
}

void PluginPath(benchmark::State& state) {
  velmoran_host::HeadlessEngine engine;
  FlutterDesktopPluginRegistrarRef registrar = engine.CreateRegistrar();
  velmoran::VelmoranPlugin::RegisterWithRegistrar(
      flutter::PluginRegistrarManager::GetInstance()->GetRegistrar(registrar));
  MeasureRoundTrip(state, engine, registrar);
  // The engine's destruction handler destroys the registrar object with the plugin.
  engine.DestroyRegistrar(registrar);
}

// What one engine function costs in the host by itself (its handle check and call log entry).
void HostEngineCall(benchmark::State& state) {
  velmoran_host::HeadlessEngine engine;
  FlutterDesktopMessengerRef messenger = engine.messenger();
  int64_t calls = 0;
  uint64_t excluded = 0;
  const uint64_t allocations_before = AllocationCount();
  for (auto _ : state) {
    benchmark::DoNotOptimize(FlutterDesktopMessengerIsAvailable(messenger));
    if (++calls % kCallLogDrainInterval == 0) {
      state.PauseTiming();
      DrainCallLog(engine, &excluded);
      state.ResumeTiming();
    }
  }
  ReportAllocations(state, allocations_before, excluded);
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

void RegisterRoundTripBenchmarks() {
  WithMinimum(benchmark::RegisterBenchmark("round_trip/raw_c_handler", &RawCHandlerPath));
  WithMinimum(benchmark::RegisterBenchmark("round_trip/messenger_handler", &MessengerHandlerPath));
  WithMinimum(benchmark::RegisterBenchmark("round_trip/method_channel", &MethodChannelPath));
  WithMinimum(benchmark::RegisterBenchmark("round_trip/plugin", &PluginPath));
  WithMinimum(benchmark::RegisterBenchmark("host/engine_call", &HostEngineCall));
}

}  // namespace velmoran_bench
