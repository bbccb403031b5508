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

// One engine instance with one messenger. The engine holds one reference on its messenger; the
// messenger itself lives until its last reference is released, so replies kept by a plugin
// stay safe to call after the engine is gone (they then send nothing).
class VELMORAN_HOST_API HeadlessEngine {
 public:
  HeadlessEngine();
  // Stops taking responses, answers every reply still pending with an empty response, as the
  // engine does at shutdown, and gives up the engine's reference on the messenger.
  ~HeadlessEngine();
  HeadlessEngine(const HeadlessEngine&) = delete;
  HeadlessEngine& operator=(const HeadlessEngine&) = delete;

  FlutterDesktopMessengerRef messenger() const;

  // Delivers a message on channel the way the engine does: synchronously, on this thread,
  // through the callback set for the channel, with a fresh response handle.
  Delivery Deliver(const std::string& channel, std::vector<uint8_t> message);

  // The callback currently set for channel, if any.
  std::optional<ChannelCallback> GetChannelCallback(const std::string& channel) const;

  // Whether responses are taken. Turning it off takes the messenger lock, so that a response
  // under way finishes first.
  void SetAvailable(bool available);
  // When set, FlutterDesktopMessengerSendWithReply refuses every message (returns false).
  void SetRefuseSendsWithReply(bool refuse);
  // The messages the plugin sent since the last call, oldest first.
  std::vector<SentMessage> TakeSentMessages();

  // References on the messenger: 1 for the engine itself, plus those the plugin holds.
  int64_t messenger_references() const;
  // The names of the engine functions called since the last call, in order, e.g.
  // "FlutterDesktopMessengerLock".
  std::vector<std::string> TakeCallLog();

 private:
  // Kept alive by the engine's own reference, given back in the destructor.
  FlutterDesktopMessenger* messenger_;
};

}  // namespace velmoran_host

#endif  // VELMORAN_HOST_HEADLESS_ENGINE_H_
