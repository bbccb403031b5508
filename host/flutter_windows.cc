// The engine's C interface, implemented by the headless host.

#include <cstring>
#include <string>

#include "engine/flutter_windows.h"
#include "host/engine_objects.h"

namespace {

using velmoran_host::SentMessage;
using velmoran_host::internal::PendingReply;
using velmoran_host::internal::ReportMisuse;

// Logs the call and checks the handle; false (after reporting) for a handle the host does not
// know, which is then not touched.
bool Enter(FlutterDesktopMessengerRef messenger, const char* function) {
  if (!velmoran_host::internal::IsLiveMessenger(messenger)) {
    ReportMisuse(std::string(function) +
                 " on a messenger that does not exist (released too often?)");
    return false;
  }
  messenger->Log(function);
  return true;
}

bool HoldsLock(FlutterDesktopMessengerRef messenger) {
  return messenger->lock_owner.load() == std::this_thread::get_id();
}

}  // namespace

extern "C" {

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  if (!Enter(messenger, __func__)) return;
  std::lock_guard<std::mutex> guard(messenger->state);
  if (callback == nullptr) {
    messenger->channels.erase(channel);
  } else {
    messenger->channels[channel] = {callback, user_data};
  }
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel,
                                 const uint8_t* message, size_t message_size) {
  if (!Enter(messenger, __func__)) return false;
  if (!messenger->available) return false;
  std::lock_guard<std::mutex> guard(messenger->state);
  messenger->sent.emplace_back(channel, std::vector<uint8_t>(message, message + message_size),
                               nullptr);
  return true;
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, size_t message_size,
                                          FlutterDesktopBinaryReply reply, void* user_data) {
  if (!Enter(messenger, __func__)) return false;
  if (!messenger->available || messenger->refuse_sends_with_reply) return false;
  auto pending = std::make_shared<PendingReply>(reply, user_data);
  std::lock_guard<std::mutex> guard(messenger->state);
  messenger->pending_replies.push_back(pending);
  messenger->sent.emplace_back(channel, std::vector<uint8_t>(message, message + message_size),
                               pending);
  return true;
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle,
                                         const uint8_t* data, size_t data_length) {
  if (!Enter(messenger, __func__)) return;
  if (!HoldsLock(messenger)) {
    ReportMisuse("response sent without holding the messenger lock");
    return;
  }
  if (!messenger->available) {
    ReportMisuse("response sent after the engine stopped taking responses");
    return;
  }
  const auto id = reinterpret_cast<uintptr_t>(handle);
  std::shared_ptr<velmoran_host::internal::DeliveryState> delivery;
  {
    std::lock_guard<std::mutex> guard(messenger->state);
    auto found = messenger->awaiting_response.find(id);
    if (found != messenger->awaiting_response.end()) {
      delivery = std::move(found->second);
      messenger->awaiting_response.erase(found);
    } else if (id != 0 && id < messenger->next_response_id) {
      ReportMisuse("second response on one response handle");
      return;
    } else {
      ReportMisuse("response on an unknown response handle");
      return;
    }
  }
  delivery->Respond(data, data_length);
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  if (!Enter(messenger, __func__)) return messenger;
  ++messenger->references;
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  if (!Enter(messenger, __func__)) return;
  int64_t references = messenger->references.load();
  do {
    if (references == 1 && messenger->engine_alive) {
      ReportMisuse("messenger released more often than referenced (the engine's own reference)");
      return;
    }
  } while (!messenger->references.compare_exchange_weak(references, references - 1));
  if (references == 1) delete messenger;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  if (!Enter(messenger, __func__)) return nullptr;
  messenger->lock.lock();
  messenger->lock_owner = std::this_thread::get_id();
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  if (!Enter(messenger, __func__)) return;
  if (!HoldsLock(messenger)) {
    ReportMisuse("messenger unlocked by a thread that does not hold its lock");
    return;
  }
  messenger->lock_owner = std::thread::id();
  messenger->lock.unlock();
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  if (!Enter(messenger, __func__)) return false;
  return messenger->available;
}

}  // extern "C"
