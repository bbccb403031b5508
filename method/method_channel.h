#ifndef VELMORAN_METHOD_METHOD_CHANNEL_H_
#define VELMORAN_METHOD_METHOD_CHANNEL_H_

#include <memory>
#include <string>
#include <utility>

#include "codec/diagnostic.h"
#include "codec/encodable_value.h"
#include "engine/binary_messenger.h"
#include "method/engine_method_result.h"
#include "method/method_call.h"
#include "method/method_call_handler.h"
#include "method/method_codec.h"
#include "method/method_result.h"

namespace flutter {

// A named channel of method calls over a binary messenger. The channel object is only a way to
// install a handler: the handler it installs keeps its own copies of what it needs and stays in
// the messenger, working, after the channel object is gone, until it is replaced or removed.
// The messenger and the codec are borrowed; the codec must outlive every installed handler
// (codecs from StandardMethodCodec::GetInstance live until the process ends).
template <typename T = EncodableValue>
class MethodChannel {
 public:
  MethodChannel(BinaryMessenger* messenger, const std::string& name, const MethodCodec<T>* codec)
      : messenger_(messenger), name_(name), codec_(codec) {}
  ~MethodChannel() = default;
  MethodChannel(const MethodChannel&) = delete;
  MethodChannel& operator=(const MethodChannel&) = delete;

  // Installs handler for this channel's name, replacing any earlier handler of any channel of
  // that name; an empty handler removes it. Each message is decoded into a call and handed to
  // the handler with a result that answers through the engine exactly once. A message that is
  // no method call is answered as not implemented without reaching the handler.
  void SetMethodCallHandler(MethodCallHandler<T> handler) const {
    if (!handler) {
      messenger_->SetMessageHandler(name_, nullptr);
      return;
    }
    messenger_->SetMessageHandler(
        name_, [handler = std::move(handler), codec = codec_, channel_name = name_](
                   const uint8_t* message, size_t message_size, BinaryReply reply) {
          auto result = std::make_unique<EngineMethodResult<T>>(std::move(reply), codec);
          std::unique_ptr<MethodCall<T>> call = codec->DecodeMethodCall(message, message_size);
          if (!call) {
            WriteDiagnosticLine("Unable to construct method call from message on channel " +
                                channel_name);
            result->NotImplemented();
            return;
          }
          handler(*call, std::move(result));
        });
  }

  // Calls method on the other side of the channel. A non-null result receives the answer (or
  // not implemented, for an empty response) when it arrives; it is dropped unanswered if the
  // engine refuses the message.
  void InvokeMethod(const std::string& method, std::unique_ptr<T> arguments,
                    std::unique_ptr<MethodResult<T>> result = nullptr) const {
    MethodCall<T> call(method, std::move(arguments));
    std::unique_ptr<std::vector<uint8_t>> message = codec_->EncodeMethodCall(call);
    if (!result) {
      messenger_->Send(name_, message->data(), message->size());
      return;
    }
    // std::function needs a copyable target: the result travels in a shared holder, and the
    // engine calls the reply once.
    std::shared_ptr<MethodResult<T>> shared_result(std::move(result));
    messenger_->Send(name_, message->data(), message->size(),
                     [shared_result, codec = codec_](const uint8_t* reply, size_t reply_size) {
                       if (reply_size == 0) {
                         shared_result->NotImplemented();
                         return;
                       }
                       codec->DecodeAndProcessResponseEnvelope(reply, reply_size,
                                                               shared_result.get());
                     });
  }

 private:
  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter

#endif  // VELMORAN_METHOD_METHOD_CHANNEL_H_
