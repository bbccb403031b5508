#ifndef VELMORAN_HOST_ENGINE_OBJECTS_H_
#define VELMORAN_HOST_ENGINE_OBJECTS_H_

// The host's engine-side objects behind the opaque handles of the C interface. Private to the
// host library.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/flutter_windows.h"
#include "host/headless_engine.h"

namespace velmoran_host {
namespace internal {

// Reports a misuse through the process-wide handler.
void ReportMisuse(const std::string& description);

struct DeliveryState {
  std::vector<uint8_t> message;
  bool handled = true;

  mutable std::mutex mutex;
  std::condition_variable response_arrived;
  bool responded = false;
  std::vector<uint8_t> response;
  const uint8_t* response_pointer = nullptr;

  void Respond(const uint8_t* data, size_t size);
};

// A reply the plugin gave with FlutterDesktopMessengerSendWithReply, called at most once.
struct PendingReply {
  PendingReply(FlutterDesktopBinaryReply reply, void* user_data)
      : reply(reply), user_data(user_data) {}
  void Call(const uint8_t* data, size_t size);

  FlutterDesktopBinaryReply reply;
  void* user_data;
  std::atomic<bool> done{false};
};

}  // namespace internal
}  // namespace velmoran_host

// The engine's messenger. It lives while references are held: the engine's own, taken at
// creation and given back when the engine goes, and those the plugin adds.
struct FlutterDesktopMessenger {
  FlutterDesktopMessenger();
  ~FlutterDesktopMessenger();

  void Log(const char* function);

  // The messenger lock, and who holds it (to catch an unlock without a lock and a response
  // outside the lock).
  std::mutex lock;
  std::atomic<std::thread::id> lock_owner{};

  std::atomic<int64_t> references{1};
  // While the engine lives, its own reference must not be released by anybody else.
  std::atomic<bool> engine_alive{true};
  std::atomic<bool> available{true};
  std::atomic<bool> refuse_sends_with_reply{false};

  // Guards everything below.
  mutable std::mutex state;
  std::map<std::string, velmoran_host::ChannelCallback> channels;
  // Response handles are tokens (ids), never dereferenced: an answered id is forgotten, and
  // since ids are never reused, a second response on it is recognised.
  std::map<uintptr_t, std::shared_ptr<velmoran_host::internal::DeliveryState>> awaiting_response;
  uintptr_t next_response_id = 1;
  std::vector<velmoran_host::SentMessage> sent;
  std::vector<std::shared_ptr<velmoran_host::internal::PendingReply>> pending_replies;
  std::vector<std::string> call_log;
};

namespace velmoran_host {
namespace internal {

// Every messenger handle the host gave out and has not freed. A handle that is not here is a
// misuse (typically a release too many), reported instead of touching freed memory.
bool IsLiveMessenger(const FlutterDesktopMessenger* messenger);
FlutterDesktopMessenger* NewMessenger();
void ForgetMessenger(const FlutterDesktopMessenger* messenger);

}  // namespace internal
}  // namespace velmoran_host

#endif  // VELMORAN_HOST_ENGINE_OBJECTS_H_
