#ifndef VELMORAN_METHOD_ENGINE_METHOD_RESULT_H_
#define VELMORAN_METHOD_ENGINE_METHOD_RESULT_H_

#include <memory>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "engine/binary_messenger.h"
#include "method/method_codec.h"
#include "method/method_result.h"

namespace flutter {

namespace internal {

// Holds the reply of one message until the first answer goes out, and makes sure no second
// answer follows it: a later one is reported and dropped. Destroyed unanswered, it warns,
// since the other side then waits for a response forever.
class ReplyManager {
 public:
  explicit ReplyManager(BinaryReply reply);
  ~ReplyManager();
  ReplyManager(const ReplyManager&) = delete;
  ReplyManager& operator=(const ReplyManager&) = delete;

  // Sends data (null: an empty response), or reports a duplicate when already answered.
  void SendResponseData(const std::vector<uint8_t>* data);

 private:
  BinaryReply reply_;
};

}  // namespace internal

// The result of a method call that arrived through the engine: encodes the answer with the
// channel's codec and sends it back through the message's reply, exactly once. It owns that
// reply; the codec is borrowed and outlives every result (codecs are never destroyed).
template <typename T = EncodableValue>
class EngineMethodResult : public MethodResult<T> {
 public:
  EngineMethodResult(BinaryReply reply, const MethodCodec<T>* codec)
      : reply_manager_(std::make_unique<internal::ReplyManager>(std::move(reply))), codec_(codec) {}
  ~EngineMethodResult() override = default;

 protected:
  void OnSuccess(const T* result) override {
    std::unique_ptr<std::vector<uint8_t>> data = codec_->EncodeSuccessEnvelope(result);
    reply_manager_->SendResponseData(data.get());
  }

  void OnError(const std::string& error_code, const std::string& error_message,
               const T* error_details) override {
    std::unique_ptr<std::vector<uint8_t>> data =
        codec_->EncodeErrorEnvelope(error_code, error_message, error_details);
    reply_manager_->SendResponseData(data.get());
  }

  // Not implemented is answered with an empty response.
  void OnNotImplemented() override { reply_manager_->SendResponseData(nullptr); }

 private:
  std::unique_ptr<internal::ReplyManager> reply_manager_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter

#endif  // VELMORAN_METHOD_ENGINE_METHOD_RESULT_H_
