#include "host/headless_engine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <utility>

#include "host/engine_objects.h"

namespace velmoran_host {

namespace internal {

namespace {

std::mutex& MisuseMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

MisuseHandler& CurrentMisuseHandler() {
  static MisuseHandler* handler = new MisuseHandler;
  return *handler;
}

// Every handle the host has given out and not taken back, across engines.
struct LiveHandles {
  std::mutex mutex;
  std::set<const FlutterDesktopMessenger*> messengers;
  std::set<const FlutterDesktopTextureRegistrar*> texture_registrars;
  std::map<uintptr_t, HostRegistrar*> registrars;
  uintptr_t next_registrar = 0x10000;
};

LiveHandles& Live() {
  static LiveHandles* live = new LiveHandles;
  return *live;
}

}  // namespace

void ReportMisuse(const std::string& description) {
  MisuseHandler handler;
  {
    std::lock_guard<std::mutex> guard(MisuseMutex());
    handler = CurrentMisuseHandler();
  }
  if (handler) {
    handler(description);
    return;
  }
  std::fprintf(stderr, "velmoran host: %s\n", description.c_str());
  std::fflush(stderr);
  std::abort();
}

bool IsLiveMessenger(const FlutterDesktopMessenger* messenger) {
  std::lock_guard<std::mutex> guard(Live().mutex);
  return Live().messengers.count(messenger) != 0;
}

FlutterDesktopMessenger* NewMessenger(std::shared_ptr<EngineState> engine) {
  auto* messenger = new FlutterDesktopMessenger(std::move(engine));
  std::lock_guard<std::mutex> guard(Live().mutex);
  Live().messengers.insert(messenger);
  return messenger;
}

void ForgetMessenger(const FlutterDesktopMessenger* messenger) {
  std::lock_guard<std::mutex> guard(Live().mutex);
  Live().messengers.erase(messenger);
}

bool IsLiveTextureRegistrar(const FlutterDesktopTextureRegistrar* texture_registrar) {
  std::lock_guard<std::mutex> guard(Live().mutex);
  return Live().texture_registrars.count(texture_registrar) != 0;
}

HostRegistrar* FindRegistrar(FlutterDesktopPluginRegistrarRef handle) {
  std::lock_guard<std::mutex> guard(Live().mutex);
  auto found = Live().registrars.find(reinterpret_cast<uintptr_t>(handle));
  return found == Live().registrars.end() ? nullptr : found->second;
}

void ReleaseMessenger(FlutterDesktopMessenger* messenger) {
  int64_t references = messenger->references.load();
  do {
    if (references == 1 && messenger->owner_alive) {
      ReportMisuse("messenger released more often than referenced (the engine's own reference)");
      return;
    }
  } while (!messenger->references.compare_exchange_weak(references, references - 1));
  if (references == 1) delete messenger;
}

void ShutDownMessenger(FlutterDesktopMessenger* messenger) {
  {
    std::lock_guard<std::mutex> guard(messenger->lock);
    messenger->available = false;
  }
  {
    std::lock_guard<std::mutex> guard(messenger->state);
    messenger->channels.clear();
  }
  messenger->owner_alive = false;
  ReleaseMessenger(messenger);
}

void EngineState::Log(const char* function) {
  std::lock_guard<std::mutex> guard(mutex);
  call_log.push_back(function);
}

void DeliveryState::Respond(const uint8_t* data, size_t size) {
  {
    std::lock_guard<std::mutex> guard(mutex);
    responded = true;
    response.assign(data, data + size);
    response_pointer = data;
  }
  response_arrived.notify_all();
}

void PendingReply::Call(const uint8_t* data, size_t size) {
  if (done.exchange(true)) return;
  reply(data, size, user_data);
}

namespace {

// Calls the completions still owed, of one texture registrar or (null) of all.
size_t CompletePending(EngineState& engine, const FlutterDesktopTextureRegistrar* only) {
  std::vector<PendingCompletion> due;
  {
    std::lock_guard<std::mutex> guard(engine.mutex);
    auto& pending = engine.pending_completions;
    for (auto it = pending.begin(); it != pending.end();) {
      if (only == nullptr || it->texture_registrar == only) {
        due.push_back(*it);
        it = pending.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const PendingCompletion& completion : due) completion.callback(completion.user_data);
  return due.size();
}

std::optional<FlutterDesktopTextureInfo> FindTexture(const HostRegistrar* registrar,
                                                     int64_t texture_id) {
  if (registrar == nullptr) return std::nullopt;
  std::lock_guard<std::mutex> guard(registrar->engine->mutex);
  const auto& textures = registrar->texture_registrar->textures;
  auto found = textures.find(texture_id);
  if (found == textures.end()) return std::nullopt;
  return found->second;
}

}  // namespace

}  // namespace internal

using internal::HostRegistrar;

MisuseHandler SetMisuseHandler(MisuseHandler handler) {
  std::lock_guard<std::mutex> guard(internal::MisuseMutex());
  std::swap(internal::CurrentMisuseHandler(), handler);
  return handler;
}

Delivery::Delivery(std::shared_ptr<internal::DeliveryState> state) : state_(std::move(state)) {}

bool Delivery::handled() const { return state_->handled; }

bool Delivery::responded() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->responded;
}

std::vector<uint8_t> Delivery::response() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->response;
}

const uint8_t* Delivery::response_pointer() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->response_pointer;
}

const uint8_t* Delivery::message_pointer() const { return state_->message.data(); }

bool Delivery::WaitForResponse(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> guard(state_->mutex);
  return state_->response_arrived.wait_for(guard, timeout, [this] { return state_->responded; });
}

SentMessage::SentMessage(std::string channel, std::vector<uint8_t> message,
                         std::shared_ptr<internal::PendingReply> reply)
    : channel_(std::move(channel)), message_(std::move(message)), reply_(std::move(reply)) {}

void SentMessage::Reply(const std::vector<uint8_t>& response) const {
  if (reply_) reply_->Call(response.empty() ? nullptr : response.data(), response.size());
}

HeadlessEngine::HeadlessEngine() : state_(std::make_shared<internal::EngineState>()) {
  state_->messenger = internal::NewMessenger(state_);
}

HeadlessEngine::~HeadlessEngine() {
  std::vector<HostRegistrar*> registrars;
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    registrars = state_->registrars;
  }
  for (HostRegistrar* registrar : registrars) DestroyRegistrar(registrar->handle);
  internal::CompletePending(*state_, nullptr);

  SetAvailable(false);
  std::vector<std::shared_ptr<internal::PendingReply>> pending;
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    pending.swap(state_->pending_replies);
  }
  for (const auto& reply : pending) reply->Call(nullptr, 0);
  FlutterDesktopMessenger* messenger = state_->messenger;
  state_->messenger = nullptr;
  internal::ShutDownMessenger(messenger);
}

FlutterDesktopMessengerRef HeadlessEngine::messenger(
    FlutterDesktopPluginRegistrarRef registrar) const {
  if (registrar == nullptr) return state_->messenger;
  HostRegistrar* found = internal::FindRegistrar(registrar);
  if (found == nullptr) {
    internal::ReportMisuse("messenger asked of a registrar that does not exist");
    return nullptr;
  }
  return found->messenger;
}

Delivery HeadlessEngine::Deliver(const std::string& channel, std::vector<uint8_t> message,
                                 FlutterDesktopPluginRegistrarRef registrar) {
  auto state = std::make_shared<internal::DeliveryState>();
  state->message = std::move(message);
  FlutterDesktopMessenger* target_messenger = messenger(registrar);
  ChannelCallback target{};
  uintptr_t response_id = 0;
  if (target_messenger != nullptr) {
    std::lock_guard<std::mutex> guard(target_messenger->state);
    auto found = target_messenger->channels.find(channel);
    if (found != target_messenger->channels.end()) {
      target = found->second;
      response_id = target_messenger->next_response_id++;
      target_messenger->awaiting_response.emplace(response_id, state);
    }
  }
  if (target.callback == nullptr) {
    // Nobody listens: the engine itself answers with an empty response.
    state->handled = false;
    state->Respond(nullptr, 0);
    return Delivery(state);
  }
  FlutterDesktopMessage record{};
  record.struct_size = sizeof(record);
  record.channel = channel.c_str();
  record.message = state->message.empty() ? nullptr : state->message.data();
  record.message_size = state->message.size();
  record.response_handle =
      reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(response_id);
  target.callback(target_messenger, &record, target.user_data);
  return Delivery(state);
}

std::optional<ChannelCallback> HeadlessEngine::GetChannelCallback(
    const std::string& channel, FlutterDesktopPluginRegistrarRef registrar) const {
  FlutterDesktopMessenger* target = messenger(registrar);
  if (target == nullptr) return std::nullopt;
  std::lock_guard<std::mutex> guard(target->state);
  auto found = target->channels.find(channel);
  if (found == target->channels.end()) return std::nullopt;
  return found->second;
}

void HeadlessEngine::SetAvailable(bool available) {
  std::vector<FlutterDesktopMessenger*> messengers;
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    messengers.push_back(state_->messenger);
    for (HostRegistrar* registrar : state_->registrars) messengers.push_back(registrar->messenger);
  }
  for (FlutterDesktopMessenger* messenger : messengers) {
    std::lock_guard<std::mutex> guard(messenger->lock);
    messenger->available = available;
  }
}

void HeadlessEngine::SetRefuseSendsWithReply(bool refuse) {
  state_->refuse_sends_with_reply = refuse;
}

std::vector<SentMessage> HeadlessEngine::TakeSentMessages() {
  std::lock_guard<std::mutex> guard(state_->mutex);
  std::vector<SentMessage> sent;
  sent.swap(state_->sent);
  return sent;
}

int64_t HeadlessEngine::messenger_references(FlutterDesktopPluginRegistrarRef registrar) const {
  FlutterDesktopMessenger* target = messenger(registrar);
  return target == nullptr ? 0 : target->references.load();
}

std::vector<std::string> HeadlessEngine::TakeCallLog() {
  std::lock_guard<std::mutex> guard(state_->mutex);
  std::vector<std::string> log(state_->call_log.begin(), state_->call_log.end());
  state_->call_log.clear();
  return log;
}

FlutterDesktopPluginRegistrarRef HeadlessEngine::CreateRegistrar(RegistrarOptions options) {
  auto registrar = std::make_unique<HostRegistrar>();
  registrar->engine = state_;
  registrar->with_view = options.with_view;
  {
    auto& live = internal::Live();
    std::lock_guard<std::mutex> guard(live.mutex);
    uintptr_t handle = reinterpret_cast<uintptr_t>(options.handle);
    if (handle == 0) {
      while (live.registrars.count(live.next_registrar) != 0) ++live.next_registrar;
      handle = live.next_registrar++;
    } else if (live.registrars.count(handle) != 0) {
      internal::ReportMisuse("registrar handle given out twice");
      return nullptr;
    }
    registrar->handle = reinterpret_cast<FlutterDesktopPluginRegistrarRef>(handle);
    registrar->texture_registrar = std::make_unique<FlutterDesktopTextureRegistrar>(state_);
    live.texture_registrars.insert(registrar->texture_registrar.get());
    live.registrars.emplace(handle, registrar.get());
  }
  registrar->messenger = internal::NewMessenger(state_);
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->registrars.push_back(registrar.get());
  return registrar.release()->handle;
}

void HeadlessEngine::DestroyRegistrar(FlutterDesktopPluginRegistrarRef handle) {
  HostRegistrar* registrar = internal::FindRegistrar(handle);
  if (registrar == nullptr || registrar->engine != state_) {
    internal::ReportMisuse("destroying a registrar that does not exist");
    return;
  }
  std::unique_ptr<HostRegistrar> owned(registrar);
  // Unregistrations still owed complete first: after the destruction handler, nothing set up
  // through the registrar is called.
  internal::CompletePending(*state_, registrar->texture_registrar.get());
  if (FlutterDesktopOnPluginRegistrarDestroyed on_destroyed = registrar->destruction_handler) {
    on_destroyed(handle);
  }
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    auto& registrars = state_->registrars;
    registrars.erase(std::find(registrars.begin(), registrars.end(), registrar));
  }
  {
    auto& live = internal::Live();
    std::lock_guard<std::mutex> guard(live.mutex);
    live.registrars.erase(reinterpret_cast<uintptr_t>(handle));
    live.texture_registrars.erase(registrar->texture_registrar.get());
  }
  internal::ShutDownMessenger(registrar->messenger);
}

bool HeadlessEngine::HasDestructionHandler(FlutterDesktopPluginRegistrarRef handle) const {
  HostRegistrar* registrar = internal::FindRegistrar(handle);
  return registrar != nullptr && registrar->destruction_handler != nullptr;
}

FlutterDesktopTextureRegistrarRef HeadlessEngine::texture_registrar(
    FlutterDesktopPluginRegistrarRef handle) const {
  HostRegistrar* registrar = internal::FindRegistrar(handle);
  return registrar == nullptr ? nullptr : registrar->texture_registrar.get();
}

FlutterDesktopViewRef HeadlessEngine::view(FlutterDesktopPluginRegistrarRef handle) const {
  HostRegistrar* registrar = internal::FindRegistrar(handle);
  if (registrar == nullptr || !registrar->with_view) return nullptr;
  return reinterpret_cast<FlutterDesktopViewRef>(&registrar->view_anchor);
}

std::vector<RegisteredTexture> HeadlessEngine::textures(
    FlutterDesktopPluginRegistrarRef handle) const {
  std::vector<RegisteredTexture> textures;
  HostRegistrar* registrar = internal::FindRegistrar(handle);
  if (registrar == nullptr) return textures;
  std::lock_guard<std::mutex> guard(state_->mutex);
  for (const auto& entry : registrar->texture_registrar->textures) {
    textures.push_back({entry.first, entry.second});
  }
  return textures;
}

int64_t HeadlessEngine::frames_marked_available(FlutterDesktopPluginRegistrarRef handle,
                                                int64_t texture_id) const {
  HostRegistrar* registrar = internal::FindRegistrar(handle);
  if (registrar == nullptr) return 0;
  std::lock_guard<std::mutex> guard(state_->mutex);
  const auto& counts = registrar->texture_registrar->frames_marked_available;
  auto found = counts.find(texture_id);
  return found == counts.end() ? 0 : found->second;
}

const FlutterDesktopPixelBuffer* HeadlessEngine::RequestPixelBuffer(
    FlutterDesktopPluginRegistrarRef handle, int64_t texture_id, size_t width, size_t height) {
  std::optional<FlutterDesktopTextureInfo> texture =
      internal::FindTexture(internal::FindRegistrar(handle), texture_id);
  if (!texture || texture->type != kFlutterDesktopPixelBufferTexture) return nullptr;
  FlutterDesktopPixelBufferTextureConfig config = texture->pixel_buffer_config;
  return config.callback == nullptr ? nullptr : config.callback(width, height, config.user_data);
}

const FlutterDesktopGpuSurfaceDescriptor* HeadlessEngine::RequestGpuSurface(
    FlutterDesktopPluginRegistrarRef handle, int64_t texture_id, size_t width, size_t height) {
  std::optional<FlutterDesktopTextureInfo> texture =
      internal::FindTexture(internal::FindRegistrar(handle), texture_id);
  if (!texture || texture->type != kFlutterDesktopGpuSurfaceTexture) return nullptr;
  FlutterDesktopGpuSurfaceTextureConfig config = texture->gpu_surface_config;
  return config.callback == nullptr ? nullptr : config.callback(width, height, config.user_data);
}

size_t HeadlessEngine::CompleteUnregistrations() {
  return internal::CompletePending(*state_, nullptr);
}

}  // namespace velmoran_host

FlutterDesktopMessenger::FlutterDesktopMessenger(
    std::shared_ptr<velmoran_host::internal::EngineState> engine)
    : engine(std::move(engine)) {}

FlutterDesktopMessenger::~FlutterDesktopMessenger() {
  velmoran_host::internal::ForgetMessenger(this);
}

FlutterDesktopTextureRegistrar::FlutterDesktopTextureRegistrar(
    std::shared_ptr<velmoran_host::internal::EngineState> engine)
    : engine(std::move(engine)) {}

FlutterDesktopTextureRegistrar::~FlutterDesktopTextureRegistrar() = default;
