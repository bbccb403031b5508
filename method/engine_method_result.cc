#include "method/engine_method_result.h"

#include "codec/diagnostic.h"

namespace flutter {
namespace internal {

ReplyManager::ReplyManager(BinaryReply reply) : reply_(std::move(reply)) {}

ReplyManager::~ReplyManager() {
  if (reply_) {
    WriteDiagnosticLine("Warning: Failed to respond to a message. This is a memory leak.");
  }
}

void ReplyManager::SendResponseData(const std::vector<uint8_t>* data) {
  if (!reply_) {
    WriteDiagnosticLine(
        "Error: Only one of Success, Error, or NotImplemented can be called, and it can be "
        "called exactly once. Ignoring duplicate result.");
    return;
  }
  const uint8_t* bytes = data != nullptr && !data->empty() ? data->data() : nullptr;
  size_t size = data != nullptr ? data->size() : 0;
  reply_(bytes, size);
  reply_ = nullptr;
}

}  // namespace internal
}  // namespace flutter
