#ifndef VELMORAN_ENGINE_BINARY_MESSENGER_IMPL_H_
#define VELMORAN_ENGINE_BINARY_MESSENGER_IMPL_H_

#include <map>
#include <string>

#include "engine/binary_messenger.h"
#include "engine/flutter_windows.h"

namespace flutter {

// The binary messenger bound to an engine messenger handle, which it borrows (it adds no
// reference of its own). It owns the installed handlers: each lives at a fixed address in the
// handler table, and that address is what the engine holds as the channel's user data, so
// messages reach their handler without a lookup by name.
//
// Each incoming message gets a one-shot reply that holds a share of the engine messenger: the
// engine's reference is taken when the message arrives and given back when the last copy of
// the reply goes, so a reply kept by a handler can answer later, from any thread, safely. It
// answers under the engine's messenger lock and only while the engine still takes responses.
//
// Bytes are never copied: handlers see the engine's message, the engine sees the reply's.
class BinaryMessengerImpl : public BinaryMessenger {
 public:
  explicit BinaryMessengerImpl(FlutterDesktopMessengerRef messenger);
  // Destroys every installed handler; tells the engine nothing, since a messenger goes away
  // only with its registrar, after which the engine calls nothing set up through it.
  ~BinaryMessengerImpl() override;

  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            BinaryReply reply = nullptr) const override;
  void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) override;

  FlutterDesktopMessengerRef engine_messenger() const { return messenger_; }

 private:
  FlutterDesktopMessengerRef messenger_;
  // Ordered by name byte by byte; nodes never move, so handler addresses stay valid.
  std::map<std::string, BinaryMessageHandler> handlers_;
};

}  // namespace flutter

#endif  // VELMORAN_ENGINE_BINARY_MESSENGER_IMPL_H_
