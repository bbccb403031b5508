#include "engine/binary_messenger_impl.h"

#include <atomic>
#include <memory>
#include <utility>

#include "codec/diagnostic.h"

namespace flutter {

namespace {

// What the replies to one incoming message share: a reference on the engine messenger, taken
// when the message arrives and given back with FlutterDesktopMessengerRelease when the last
// reply goes (the share count is atomic, so that may happen on any thread), and the engine's
// response handle, cleared once the response has gone out. Copies of a reply share this one
// state, so a copied reply still answers only once: a second response on the same handle
// would make the engine use a handle it has already freed.
class ReplyState {
 public:
  ReplyState(FlutterDesktopMessengerRef messenger,
             const FlutterDesktopMessageResponseHandle* response_handle)
      : messenger_(FlutterDesktopMessengerAddRef(messenger)), response_handle_(response_handle) {}
  ~ReplyState() { FlutterDesktopMessengerRelease(messenger_); }
  ReplyState(const ReplyState&) = delete;
  ReplyState& operator=(const ReplyState&) = delete;

  void Respond(const uint8_t* reply, size_t reply_size) {
    FlutterDesktopMessengerRef lock = FlutterDesktopMessengerLock(messenger_);
    if (FlutterDesktopMessengerIsAvailable(messenger_)) {
      const FlutterDesktopMessageResponseHandle* handle = response_handle_.exchange(nullptr);
      if (handle == nullptr) {
        WriteDiagnosticLine("Error: Response can be set only once. Ignoring duplicate response.");
      } else {
        FlutterDesktopMessengerSendResponse(messenger_, handle, reply, reply_size);
      }
    }
    if (lock != nullptr) FlutterDesktopMessengerUnlock(lock);
  }

 private:
  FlutterDesktopMessengerRef messenger_;
  // Atomic only for a lock-less engine; the engine's lock already orders responses.
  std::atomic<const FlutterDesktopMessageResponseHandle*> response_handle_;
};

// The engine calls this for every message on a channel that has a handler; user_data is the
// address of that handler in the table.
void OnEngineMessage(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message,
                     void* user_data) {
  auto& handler = *static_cast<BinaryMessageHandler*>(user_data);
  // If the state cannot be allocated, no reference has been taken yet.
  auto state = std::make_shared<ReplyState>(messenger, message->response_handle);
  BinaryReply reply = [state = std::move(state)](const uint8_t* reply, size_t reply_size) {
    state->Respond(reply, reply_size);
  };
  handler(message->message, message->message_size, std::move(reply));
}

// The engine calls this once with the answer to a message sent with a reply; user_data is the
// heap copy of that reply, which ends here.
void OnEngineReply(const uint8_t* data, size_t data_size, void* user_data) {
  std::unique_ptr<BinaryReply> reply(static_cast<BinaryReply*>(user_data));
  (*reply)(data, data_size);
}

}  // namespace

BinaryMessengerImpl::BinaryMessengerImpl(FlutterDesktopMessengerRef messenger)
    : messenger_(messenger) {}

BinaryMessengerImpl::~BinaryMessengerImpl() = default;

void BinaryMessengerImpl::Send(const std::string& channel, const uint8_t* message,
                               size_t message_size, BinaryReply reply) const {
  if (!reply) {
    FlutterDesktopMessengerSend(messenger_, channel.c_str(), message, message_size);
    return;
  }
  auto held_reply = std::make_unique<BinaryReply>(std::move(reply));
  if (FlutterDesktopMessengerSendWithReply(messenger_, channel.c_str(), message, message_size,
                                           &OnEngineReply, held_reply.get())) {
    held_reply.release();  // now OnEngineReply's
  }
}

void BinaryMessengerImpl::SetMessageHandler(const std::string& channel,
                                            BinaryMessageHandler handler) {
  if (!handler) {
    handlers_.erase(channel);
    FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr, nullptr);
    return;
  }
  BinaryMessageHandler& entry = handlers_[channel];
  entry = std::move(handler);
  FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), &OnEngineMessage, &entry);
}

}  // namespace flutter
