// The engine's C interface, implemented by the headless host.

#include <cstring>
#include <string>

#include "engine/flutter_windows.h"
#include "host/engine_objects.h"

namespace {

using velmoran_host::SentMessage;
using velmoran_host::internal::HostRegistrar;
using velmoran_host::internal::PendingReply;
using velmoran_host::internal::ReportMisuse;

// Each function first checks its handle: one the host does not know is reported and not
// touched. Then the call goes into the engine's call log.
bool Enter(FlutterDesktopMessengerRef messenger, const char* function) {
  if (!velmoran_host::internal::IsLiveMessenger(messenger)) {
    ReportMisuse(std::string(function) +
                 " on a messenger that does not exist (released too often?)");
    return false;
  }
  messenger->engine->Log(function);
  return true;
}

HostRegistrar* Enter(FlutterDesktopPluginRegistrarRef handle, const char* function) {
  HostRegistrar* registrar = velmoran_host::internal::FindRegistrar(handle);
  if (registrar == nullptr) {
    ReportMisuse(std::string(function) + " on a registrar that does not exist (destroyed?)");
    return nullptr;
  }
  registrar->engine->Log(function);
  return registrar;
}

bool Enter(FlutterDesktopTextureRegistrarRef texture_registrar, const char* function) {
  if (!velmoran_host::internal::IsLiveTextureRegistrar(texture_registrar)) {
    ReportMisuse(std::string(function) + " on a texture registrar that does not exist");
    return false;
  }
  texture_registrar->engine->Log(function);
  return true;
}

bool HoldsLock(FlutterDesktopMessengerRef messenger) {
  return messenger->lock_owner.load() == std::this_thread::get_id();
}

}  // namespace

extern "C" {

FlutterDesktopMessengerRef FlutterDesktopPluginRegistrarGetMessenger(
    FlutterDesktopPluginRegistrarRef registrar) {
  HostRegistrar* found = Enter(registrar, __func__);
  return found == nullptr ? nullptr : found->messenger;
}

FlutterDesktopTextureRegistrarRef FlutterDesktopRegistrarGetTextureRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  HostRegistrar* found = Enter(registrar, __func__);
  return found == nullptr ? nullptr : found->texture_registrar.get();
}

FlutterDesktopViewRef FlutterDesktopPluginRegistrarGetView(
    FlutterDesktopPluginRegistrarRef registrar) {
  HostRegistrar* found = Enter(registrar, __func__);
  if (found == nullptr || !found->with_view) return nullptr;
  return reinterpret_cast<FlutterDesktopViewRef>(&found->view_anchor);
}

void FlutterDesktopPluginRegistrarSetDestructionHandler(
    FlutterDesktopPluginRegistrarRef registrar, FlutterDesktopOnPluginRegistrarDestroyed callback) {
  HostRegistrar* found = Enter(registrar, __func__);
  if (found != nullptr) found->destruction_handler = callback;
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  if (!Enter(messenger, __func__)) return;
  std::lock_guard<std::mutex> guard(messenger->state);
  if (callback == nullptr) {
    messenger->channels.erase(channel);
  } else if (messenger->owner_alive) {
    messenger->channels[channel] = {callback, user_data};
  }
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel,
                                 const uint8_t* message, size_t message_size) {
  if (!Enter(messenger, __func__)) return false;
  if (!messenger->available) return false;
  auto& engine = *messenger->engine;
  std::lock_guard<std::mutex> guard(engine.mutex);
  engine.sent.emplace_back(channel, std::vector<uint8_t>(message, message + message_size), nullptr);
  return true;
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, size_t message_size,
                                          FlutterDesktopBinaryReply reply, void* user_data) {
  if (!Enter(messenger, __func__)) return false;
  auto& engine = *messenger->engine;
  if (!messenger->available || engine.refuse_sends_with_reply) return false;
  auto pending = std::make_shared<PendingReply>(reply, user_data);
  std::lock_guard<std::mutex> guard(engine.mutex);
  engine.pending_replies.push_back(pending);
  engine.sent.emplace_back(channel, std::vector<uint8_t>(message, message + message_size), pending);
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
  velmoran_host::internal::ReleaseMessenger(messenger);
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

int64_t FlutterDesktopTextureRegistrarRegisterExternalTexture(
    FlutterDesktopTextureRegistrarRef texture_registrar,
    const FlutterDesktopTextureInfo* texture_info) {
  if (!Enter(texture_registrar, __func__)) return -1;
  if (texture_info == nullptr || (texture_info->type != kFlutterDesktopPixelBufferTexture &&
                                  texture_info->type != kFlutterDesktopGpuSurfaceTexture)) {
    ReportMisuse("texture registered without a valid texture record");
    return -1;
  }
  std::lock_guard<std::mutex> guard(texture_registrar->engine->mutex);
  int64_t id = texture_registrar->next_texture_id++;
  texture_registrar->textures.emplace(id, *texture_info);
  return id;
}

bool FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(
    FlutterDesktopTextureRegistrarRef texture_registrar, int64_t texture_id) {
  if (!Enter(texture_registrar, __func__)) return false;
  std::lock_guard<std::mutex> guard(texture_registrar->engine->mutex);
  if (texture_registrar->textures.count(texture_id) == 0) return false;
  ++texture_registrar->frames_marked_available[texture_id];
  return true;
}

bool FlutterDesktopTextureRegistrarUnregisterExternalTexture(
    FlutterDesktopTextureRegistrarRef texture_registrar, int64_t texture_id,
    FlutterDesktopOnTextureUnregistered callback, void* user_data) {
  if (!Enter(texture_registrar, __func__)) return false;
  auto& engine = *texture_registrar->engine;
  std::lock_guard<std::mutex> guard(engine.mutex);
  bool known = texture_registrar->textures.erase(texture_id) != 0;
  texture_registrar->frames_marked_available.erase(texture_id);
  // The completion comes once, also for an id the engine did not know, so that whatever the
  // plugin attached to it is released.
  if (callback != nullptr) {
    engine.pending_completions.push_back({texture_registrar, callback, user_data});
  }
  return known;
}

}  // extern "C"
