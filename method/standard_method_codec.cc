#include "method/standard_method_codec.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

#include "codec/byte_streams.h"
#include "codec/diagnostic.h"

namespace flutter {

namespace {

constexpr uint8_t kSuccessFlag = 0x00;
constexpr uint8_t kErrorFlag = 0x01;

// The codecs made so far, by the address of their serializer. It is created on first use and
// deliberately never destroyed, and neither is its mutex: codecs are handed out as plain
// references, and code that runs during process exit (static destructors, other threads still
// answering calls) must find them, and a registry it can lock, still there.
struct Registry {
  std::mutex mutex;
  std::map<uintptr_t, std::unique_ptr<StandardMethodCodec>> codecs;
};

Registry& GetRegistry() {
  static Registry* const registry = new Registry();
  return *registry;
}

}  // namespace

StandardMethodCodec::StandardMethodCodec(const StandardCodecSerializer* serializer)
    : serializer_(serializer) {}

StandardMethodCodec::~StandardMethodCodec() = default;

const StandardMethodCodec& StandardMethodCodec::GetInstance(
    const StandardCodecSerializer* serializer) {
  if (serializer == nullptr) serializer = &StandardCodecSerializer::GetInstance();
  Registry& registry = GetRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  std::unique_ptr<StandardMethodCodec>& codec =
      registry.codecs[reinterpret_cast<uintptr_t>(serializer)];
  if (!codec) codec.reset(new StandardMethodCodec(serializer));
  return *codec;
}

std::unique_ptr<MethodCall<EncodableValue>> StandardMethodCodec::OnDecodeMethodCall(
    const uint8_t* message, size_t message_size) const {
  ByteBufferStreamReader reader(message, message_size);
  EncodableValue name = serializer_->ReadValue(&reader);
  const std::string* method_name = name.GetIf<std::string>();
  if (method_name == nullptr) {
    WriteDiagnosticLine("Invalid method call; method name is not a string.");
    return nullptr;
  }
  // Moved, not copied: the arguments may be a large tree.
  auto arguments = std::make_unique<EncodableValue>(serializer_->ReadValue(&reader));
  return std::make_unique<MethodCall<EncodableValue>>(*method_name, std::move(arguments));
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::OnEncodeMethodCall(
    const MethodCall<EncodableValue>& method_call) const {
  auto message = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter writer(message.get());
  serializer_->WriteValue(EncodableValue(method_call.method_name()), &writer);
  if (const EncodableValue* arguments = method_call.arguments()) {
    serializer_->WriteValue(*arguments, &writer);
  } else {
    serializer_->WriteValue(EncodableValue(), &writer);
  }
  return message;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::OnEncodeSuccessEnvelope(
    const EncodableValue* result) const {
  auto envelope = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter writer(envelope.get());
  writer.WriteByte(kSuccessFlag);
  serializer_->WriteValue(result != nullptr ? *result : EncodableValue(), &writer);
  return envelope;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::OnEncodeErrorEnvelope(
    const std::string& error_code, const std::string& error_message,
    const EncodableValue* error_details) const {
  auto envelope = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter writer(envelope.get());
  writer.WriteByte(kErrorFlag);
  serializer_->WriteValue(EncodableValue(error_code), &writer);
  serializer_->WriteValue(error_message.empty() ? EncodableValue() : EncodableValue(error_message),
                          &writer);
  serializer_->WriteValue(error_details != nullptr ? *error_details : EncodableValue(), &writer);
  return envelope;
}

bool StandardMethodCodec::OnDecodeAndProcessResponseEnvelope(
    const uint8_t* response, size_t response_size, MethodResult<EncodableValue>* result) const {
  ByteBufferStreamReader reader(response, response_size);
  switch (reader.ReadByte()) {
    case kSuccessFlag: {
      EncodableValue value = serializer_->ReadValue(&reader);
      if (value.IsNull()) {
        result->Success();
      } else {
        result->Success(value);
      }
      return true;
    }
    case kErrorFlag: {
      // All three are read before any is examined, so that what is written to standard error
      // does not depend on which of them is malformed.
      EncodableValue code = serializer_->ReadValue(&reader);
      EncodableValue message = serializer_->ReadValue(&reader);
      EncodableValue details = serializer_->ReadValue(&reader);
      const std::string* code_text = code.GetIf<std::string>();
      const std::string* message_text = message.GetIf<std::string>();
      // No encoder writes anything else in these places; the bytes are no error envelope, and an
      // answer made up from them would misreport what the other side said.
      if (code_text == nullptr || (message_text == nullptr && !message.IsNull())) {
        return false;
      }
      const std::string empty;
      const std::string& message_or_empty = message_text != nullptr ? *message_text : empty;
      if (details.IsNull()) {
        result->Error(*code_text, message_or_empty);
      } else {
        result->Error(*code_text, message_or_empty, details);
      }
      return true;
    }
    default:
      return false;
  }
}

}  // namespace flutter
