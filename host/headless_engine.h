#ifndef VELMORAN_HOST_HEADLESS_ENGINE_H_
#define VELMORAN_HOST_HEADLESS_ENGINE_H_

// The headless host: the engine's side of the C interface in engine/flutter_windows.h, running
// in-process with no window and no renderer. It keeps channels, delivers messages exactly as
// the engine does, captures responses, answers or refuses the plugin's own sends, counts
// messenger references and takes a real messenger lock. A plugin library can be loaded,
// registered, driven and torn down with it, on any platform.
//
// The host is strict where the real engine would crash or corrupt memory: an unbalanced
// release, an unlock without a lock, a second response on one handle, a response after the
// engine stopped taking them or outside the lock, an unknown handle. Each such misuse is
// reported through the misuse handler, which by default writes one line and aborts, so that a
// plugin's fault cannot go unnoticed.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/flutter_windows.h"

#if defined(_WIN32)
#if defined(VELMORAN_BUILDING_ENGINE)
#define VELMORAN_HOST_API __declspec(dllexport)
#else
#define VELMORAN_HOST_API __declspec(dllimport)
#endif
#else
#define VELMORAN_HOST_API __attribute__((visibility("default")))
#endif

namespace velmoran_host {

// Told of every misuse of the engine interface, with a one-line description.
using MisuseHandler = std::function<void(const std::string& description)>;

// Replaces the process-wide misuse handler and returns the one before. An empty handler
// restores the default: write "velmoran host: <description>" to standard error and abort.
VELMORAN_HOST_API MisuseHandler SetMisuseHandler(MisuseHandler handler);

namespace internal {
struct DeliveryState;
struct PendingReply;
}  // namespace internal

// One message that the engine delivered to a channel, and the response it got. Responses may
// arrive later and on another thread; every accessor is safe to call meanwhile.
class VELMORAN_HOST_API Delivery {
 public:
  explicit Delivery(std::shared_ptr<internal::DeliveryState> state);

  // Whether a callback was set for the channel. The engine answers a message on a channel
  // without one with an empty response itself.
  bool handled() const;
  bool responded() const;
  // The response bytes (empty before a response, and for an empty response).
  std::vector<uint8_t> response() const;
  // The data pointer the response was sent with (null for an empty response), to check that
  // nobody copied the bytes on the way.
  const uint8_t* response_pointer() const;
  // Where the engine kept the message while delivering it.
  const uint8_t* message_pointer() const;
  // Waits until a response has arrived; false when the time ran out first.
  bool WaitForResponse(std::chrono::milliseconds timeout) const;

 private:
  std::shared_ptr<internal::DeliveryState> state_;
};

// A message the plugin sent to the engine. If it was sent with a reply, Reply answers it;
// otherwise Reply does nothing.
class VELMORAN_HOST_API SentMessage {
 public:
  SentMessage(std::string channel, std::vector<uint8_t> message,
              std::shared_ptr<internal::PendingReply> reply);

  const std::string& channel() const { return channel_; }
  const std::vector<uint8_t>& message() const { return message_; }
  bool expects_reply() const { return reply_ != nullptr; }
  // Calls the plugin's reply with these bytes, once; later calls do nothing.
  void Reply(const std::vector<uint8_t>& response) const;

 private:
  std::string channel_;
  std::vector<uint8_t> message_;
  std::shared_ptr<internal::PendingReply> reply_;
};

// The channel callback the plugin has set, as the engine holds it.
struct ChannelCallback {
  FlutterDesktopMessageCallback callback;
  void* user_data;
};

// How CreateRegistrar sets up an engine registrar.
struct RegistrarOptions {
  // The handle value to give the registrar; null for a fresh one. Handles are tokens that
  // plugins never dereference, so a test can hand out the value of a destroyed registrar again,
  // as an engine may reuse an address.
  FlutterDesktopPluginRegistrarRef handle = nullptr;
  // Whether the registrar has a view; without one the engine reports a null view.
  bool with_view = true;
};

// A texture as the plugin registered it: the id the engine gave it and a copy of its record.
struct RegisteredTexture {
  int64_t id;
  FlutterDesktopTextureInfo info;
};

namespace internal {
struct EngineState;
}

// One engine instance. It has a messenger of its own, for code that works on a messenger
// directly, and creates registrars, each with its own messenger, texture registrar and view, so
// that destroying a registrar silences exactly what was set up through it.
//
// The engine holds one reference on each messenger; a messenger itself lives until its last
// reference is released, so replies kept by a plugin stay safe to call after the engine or the
// registrar is gone (they then send nothing). Operations that take a registrar use the engine's
// own messenger when it is null.
class VELMORAN_HOST_API HeadlessEngine {
 public:
  HeadlessEngine();
  // Destroys the registrars still alive as DestroyRegistrar does, stops taking responses,
  // answers every reply still pending with an empty response, as the engine does at shutdown,
  // and gives up the engine's references.
  ~HeadlessEngine();
  HeadlessEngine(const HeadlessEngine&) = delete;
  HeadlessEngine& operator=(const HeadlessEngine&) = delete;

  // The engine's own messenger, or the registrar's.
  FlutterDesktopMessengerRef messenger(FlutterDesktopPluginRegistrarRef registrar = nullptr) const;

  // Delivers a message on channel the way the engine does: synchronously, on this thread,
  // through the callback set for the channel on the messenger, with a fresh response handle.
  Delivery Deliver(const std::string& channel, std::vector<uint8_t> message,
                   FlutterDesktopPluginRegistrarRef registrar = nullptr);

  // The callback currently set for channel on the messenger, if any.
  std::optional<ChannelCallback> GetChannelCallback(
      const std::string& channel, FlutterDesktopPluginRegistrarRef registrar = nullptr) const;

  // Whether responses are taken, on every messenger of the engine. Turning it off takes each
  // messenger's lock, so that a response under way finishes first.
  void SetAvailable(bool available);
  // When set, FlutterDesktopMessengerSendWithReply refuses every message (returns false).
  void SetRefuseSendsWithReply(bool refuse);
  // The messages the plugin sent on any messenger since the last call, oldest first.
  std::vector<SentMessage> TakeSentMessages();

  // References on the messenger: 1 for the engine itself, plus those the plugin holds.
  int64_t messenger_references(FlutterDesktopPluginRegistrarRef registrar = nullptr) const;
  // The names of the engine functions called on any object of this engine since the last call,
  // in order, e.g. "FlutterDesktopMessengerLock".
  std::vector<std::string> TakeCallLog();

  // Creates an engine registrar, alive until DestroyRegistrar or the engine's end.
  FlutterDesktopPluginRegistrarRef CreateRegistrar(RegistrarOptions options = {});
  // What the engine does when it is done with a registrar: calls the destruction handler set
  // for it, if any, then stops its messenger (clearing its channels; it takes no responses any
  // more) and forgets its texture registrar, its textures and its handle.
  void DestroyRegistrar(FlutterDesktopPluginRegistrarRef registrar);
  bool HasDestructionHandler(FlutterDesktopPluginRegistrarRef registrar) const;
  FlutterDesktopTextureRegistrarRef texture_registrar(
      FlutterDesktopPluginRegistrarRef registrar) const;
  FlutterDesktopViewRef view(FlutterDesktopPluginRegistrarRef registrar) const;

  // The textures registered with the registrar's texture registrar and not unregistered.
  std::vector<RegisteredTexture> textures(FlutterDesktopPluginRegistrarRef registrar) const;
  // How often FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable named the texture.
  int64_t frames_marked_available(FlutterDesktopPluginRegistrarRef registrar,
                                  int64_t texture_id) const;
  // Asks a texture for its content the way the renderer does, through the callback in its
  // record; null for an unknown texture or one of the other kind.
  const FlutterDesktopPixelBuffer* RequestPixelBuffer(FlutterDesktopPluginRegistrarRef registrar,
                                                      int64_t texture_id, size_t width,
                                                      size_t height);
  const FlutterDesktopGpuSurfaceDescriptor* RequestGpuSurface(
      FlutterDesktopPluginRegistrarRef registrar, int64_t texture_id, size_t width, size_t height);
  // Unregistration completes later, on the engine's raster thread; this calls the completion
  // callbacks of every unregistration so far, each once. Returns how many were called.
  size_t CompleteUnregistrations();

 private:
  std::shared_ptr<internal::EngineState> state_;
};

}  // namespace velmoran_host

#endif  // VELMORAN_HOST_HEADLESS_ENGINE_H_
