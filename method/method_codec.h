#ifndef VELMORAN_METHOD_METHOD_CODEC_H_
#define VELMORAN_METHOD_METHOD_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "method/method_call.h"
#include "method/method_result.h"

namespace flutter {

// Turns method calls and their answers into bytes and back: what method channels and the
// results bound to the engine hold to speak the wire format. A codec has no state of its own
// that its operations change, so one codec serves any number of channels and results at once.
//
// The public operations are not virtual; each passes its arguments unchanged to the protected
// On... hook of the same name and returns what the hook returns, so that implementations
// override only the hooks and every caller sees the same defaults.
template <typename T = EncodableValue>
class MethodCodec {
 public:
  MethodCodec() = default;
  virtual ~MethodCodec() = default;

  MethodCodec(const MethodCodec&) = delete;
  MethodCodec& operator=(const MethodCodec&) = delete;

  // Reads a method call from a caller's bytes (message may be null when message_size is 0).
  // Returns a new call owned by the caller, or null when the bytes hold no method call.
  std::unique_ptr<MethodCall<T>> DecodeMethodCall(const uint8_t* message,
                                                  size_t message_size) const {
    return OnDecodeMethodCall(message, message_size);
  }

  // Writes a method call into a new byte vector owned by the caller.
  std::unique_ptr<std::vector<uint8_t>> EncodeMethodCall(const MethodCall<T>& method_call) const {
    return OnEncodeMethodCall(method_call);
  }

  // Writes the answer of a call that succeeded, with a result or without one (null), into a new
  // byte vector owned by the caller.
  std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(const T* result = nullptr) const {
    return OnEncodeSuccessEnvelope(result);
  }

  // Writes the answer of a call that failed, with optional details (null for none), into a new
  // byte vector owned by the caller.
  std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelope(
      const std::string& error_code, const std::string& error_message = "",
      const T* error_details = nullptr) const {
    return OnEncodeErrorEnvelope(error_code, error_message, error_details);
  }

  // Reads the answer to a call from a caller's bytes and gives it to result, which is borrowed
  // and must not be null. Returns true when the bytes were an answer and result received it
  // (once); false when they were not, and then result is left untouched.
  bool DecodeAndProcessResponseEnvelope(const uint8_t* response, size_t response_size,
                                        MethodResult<T>* result) const {
    return OnDecodeAndProcessResponseEnvelope(response, response_size, result);
  }

 protected:
  virtual std::unique_ptr<MethodCall<T>> OnDecodeMethodCall(const uint8_t* message,
                                                            size_t message_size) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> OnEncodeMethodCall(
      const MethodCall<T>& method_call) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> OnEncodeSuccessEnvelope(const T* result) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> OnEncodeErrorEnvelope(
      const std::string& error_code, const std::string& error_message,
      const T* error_details) const = 0;
  virtual bool OnDecodeAndProcessResponseEnvelope(const uint8_t* response, size_t response_size,
                                                  MethodResult<T>* result) const = 0;
};

}  // namespace flutter

#endif  // VELMORAN_METHOD_METHOD_CODEC_H_
