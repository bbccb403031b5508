#ifndef VELMORAN_METHOD_STANDARD_METHOD_CODEC_H_
#define VELMORAN_METHOD_STANDARD_METHOD_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "codec/standard_codec_serializer.h"
#include "method/method_call.h"
#include "method/method_codec.h"
#include "method/method_result.h"

namespace flutter {

// The method codec of the standard message codec: every value of a call or an answer is written
// and read by one StandardCodecSerializer, and all values of a message go through one stream, so
// alignment counts from the message's first byte.
//
//   method call:      name (string value), arguments (value; null when there are none)
//   success envelope: 0x00, result (value; null when there is none)
//   error envelope:   0x01, code (string value), message (string value, or null when empty),
//                     details (value; null when there are none)
//
// Codecs exist only through GetInstance, one per serializer for the life of the process, so the
// plain pointers that channels and results keep to a codec never dangle.
class StandardMethodCodec : public MethodCodec<EncodableValue> {
 public:
  // The codec for serializer, or for the default serializer when it is null. Made on the first
  // request for a serializer and never destroyed; safe to call from several threads at once.
  // The serializer is not owned and must stay valid for as long as the codec is used.
  static const StandardMethodCodec& GetInstance(
      const StandardCodecSerializer* serializer = nullptr);

  // Releases nothing: the serializer is not owned.
  ~StandardMethodCodec() override;

 protected:
  // A name that is not a string is reported and gives null, without reading further. A call
  // decoded here always has arguments: the null value when the message ends after the name.
  std::unique_ptr<MethodCall<EncodableValue>> OnDecodeMethodCall(
      const uint8_t* message, size_t message_size) const override;
  std::unique_ptr<std::vector<uint8_t>> OnEncodeMethodCall(
      const MethodCall<EncodableValue>& method_call) const override;
  std::unique_ptr<std::vector<uint8_t>> OnEncodeSuccessEnvelope(
      const EncodableValue* result) const override;
  std::unique_ptr<std::vector<uint8_t>> OnEncodeErrorEnvelope(
      const std::string& error_code, const std::string& error_message,
      const EncodableValue* error_details) const override;
  // A flag other than 0x00 and 0x01, or an error envelope whose code is not a string or whose
  // message is neither null nor a string, is no answer: false, and result is left untouched.
  bool OnDecodeAndProcessResponseEnvelope(const uint8_t* response, size_t response_size,
                                          MethodResult<EncodableValue>* result) const override;

 private:
  explicit StandardMethodCodec(const StandardCodecSerializer* serializer);

  const StandardCodecSerializer* serializer_;  // never null; not owned
};

}  // namespace flutter

#endif  // VELMORAN_METHOD_STANDARD_METHOD_CODEC_H_
