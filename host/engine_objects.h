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

// An unregistration whose completion the engine still owes.
struct PendingCompletion {
  const FlutterDesktopTextureRegistrar* texture_registrar;
  FlutterDesktopOnTextureUnregistered callback;
  void* user_data;
};

struct HostRegistrar;

// What all objects of one engine share; outlives the engine while any of its messengers does.
struct EngineState {
  void Log(const char* function);

  std::atomic<bool> refuse_sends_with_reply{false};

  // Guards everything below.
  mutable std::mutex mutex;
  // Names of the engine functions called, as the literals they are: logging a call costs no
  // allocation beyond the vector's growth, so it barely weighs on what is measured through it.
  std::vector<const char*> call_log;
  std::vector<SentMessage> sent;
  std::vector<std::shared_ptr<PendingReply>> pending_replies;
  std::vector<PendingCompletion> pending_completions;
  // The engine's own messenger; null once the engine is gone.
  FlutterDesktopMessenger* messenger = nullptr;
  // Registrars alive, in the order they were created.
  std::vector<HostRegistrar*> registrars;
};

}  // namespace internal
}  // namespace velmoran_host

// The engine's messenger. It lives while references are held: the engine's own, taken at
// creation and given back when the engine (or the registrar it belongs to) goes, and those the
// plugin adds.
struct FlutterDesktopMessenger {
  explicit FlutterDesktopMessenger(std::shared_ptr<velmoran_host::internal::EngineState> engine);
  ~FlutterDesktopMessenger();

  std::shared_ptr<velmoran_host::internal::EngineState> engine;

  // The messenger lock, and who holds it (to catch an unlock without a lock and a response
  // outside the lock).
  std::mutex lock;
  std::atomic<std::thread::id> lock_owner{};

  std::atomic<int64_t> references{1};
  // While its owner lives, the owner's reference must not be released by anybody else.
  std::atomic<bool> owner_alive{true};
  std::atomic<bool> available{true};

  // Guards everything below.
  mutable std::mutex state;
  std::map<std::string, velmoran_host::ChannelCallback> channels;
  // Response handles are tokens (ids), never dereferenced: an answered id is forgotten, and
  // since ids are never reused, a second response on it is recognised.
  std::map<uintptr_t, std::shared_ptr<velmoran_host::internal::DeliveryState>> awaiting_response;
  uintptr_t next_response_id = 1;
};

// A registrar's texture registrar.
struct FlutterDesktopTextureRegistrar {
  explicit FlutterDesktopTextureRegistrar(
      std::shared_ptr<velmoran_host::internal::EngineState> engine);
  ~FlutterDesktopTextureRegistrar();

  std::shared_ptr<velmoran_host::internal::EngineState> engine;
  // Guarded by the engine state's mutex.
  std::map<int64_t, FlutterDesktopTextureInfo> textures;
  std::map<int64_t, int64_t> frames_marked_available;
  int64_t next_texture_id = 1;
};

namespace velmoran_host {
namespace internal {

struct HostRegistrar {
  FlutterDesktopPluginRegistrarRef handle = nullptr;
  std::shared_ptr<EngineState> engine;
  FlutterDesktopMessenger* messenger = nullptr;  // the registrar holds its owner reference
  std::unique_ptr<FlutterDesktopTextureRegistrar> texture_registrar;
  bool with_view = true;
  char view_anchor = 0;  // its address is the view handle; nothing reads it
  std::atomic<FlutterDesktopOnPluginRegistrarDestroyed> destruction_handler{nullptr};
};

// Handles the host gave out and has not taken back. A handle that is not here is a misuse
// (typically a release too many, or a destroyed registrar), reported instead of touching
// freed memory.
bool IsLiveMessenger(const FlutterDesktopMessenger* messenger);
FlutterDesktopMessenger* NewMessenger(std::shared_ptr<EngineState> engine);
void ForgetMessenger(const FlutterDesktopMessenger* messenger);
bool IsLiveTextureRegistrar(const FlutterDesktopTextureRegistrar* texture_registrar);
HostRegistrar* FindRegistrar(FlutterDesktopPluginRegistrarRef handle);

// Gives back one reference; the last one frees the messenger. Reports an unbalanced release.
void ReleaseMessenger(FlutterDesktopMessenger* messenger);
// Stops a messenger for good: no responses, no channels, and its owner's reference returned.
void ShutDownMessenger(FlutterDesktopMessenger* messenger);

}  // namespace internal
}  // namespace velmoran_host

#endif  // VELMORAN_HOST_ENGINE_OBJECTS_H_
