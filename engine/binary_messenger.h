#ifndef VELMORAN_ENGINE_BINARY_MESSENGER_H_
#define VELMORAN_ENGINE_BINARY_MESSENGER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace flutter {

// Answers one message, at most once: the bytes of the response (null when the size is 0). It
// does not keep the pointer. May be called later and from any thread.
using BinaryReply = std::function<void(const uint8_t* reply, size_t reply_size)>;

// Handles the messages of one channel. The message bytes are the engine's and valid only during
// the call; the handler owns the reply and may keep it to answer later.
using BinaryMessageHandler =
    std::function<void(const uint8_t* message, size_t message_size, BinaryReply reply)>;

// Raw byte messages between named channels of the engine and handlers in the plugin. Knows
// nothing of the engine's C interface, so the method layer can be built and tested on its own.
class BinaryMessenger {
 public:
  BinaryMessenger() = default;
  virtual ~BinaryMessenger() = default;
  BinaryMessenger(const BinaryMessenger&) = delete;
  BinaryMessenger& operator=(const BinaryMessenger&) = delete;

  // Sends a message to the engine on channel. A non-empty reply is called once with the
  // answer; if the engine refuses the message, the reply is dropped without being called.
  virtual void Send(const std::string& channel, const uint8_t* message, size_t message_size,
                    BinaryReply reply = nullptr) const = 0;

  // Installs handler for channel, replacing any earlier one; an empty handler removes it.
  virtual void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) = 0;
};

}  // namespace flutter

#endif  // VELMORAN_ENGINE_BINARY_MESSENGER_H_
