#include "host/headless_engine.h"

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

std::mutex& LiveMessengersMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

std::set<const FlutterDesktopMessenger*>& LiveMessengers() {
  static auto* live = new std::set<const FlutterDesktopMessenger*>;
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
  std::lock_guard<std::mutex> guard(LiveMessengersMutex());
  return LiveMessengers().count(messenger) != 0;
}

FlutterDesktopMessenger* NewMessenger() {
  auto* messenger = new FlutterDesktopMessenger;
  std::lock_guard<std::mutex> guard(LiveMessengersMutex());
  LiveMessengers().insert(messenger);
  return messenger;
}

void ForgetMessenger(const FlutterDesktopMessenger* messenger) {
  std::lock_guard<std::mutex> guard(LiveMessengersMutex());
  LiveMessengers().erase(messenger);
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

}  // namespace internal

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

HeadlessEngine::HeadlessEngine() : messenger_(internal::NewMessenger()) {}

HeadlessEngine::~HeadlessEngine() {
  SetAvailable(false);
  std::vector<std::shared_ptr<internal::PendingReply>> pending;
  {
    std::lock_guard<std::mutex> guard(messenger_->state);
    pending.swap(messenger_->pending_replies);
  }
  for (const auto& reply : pending) reply->Call(nullptr, 0);
  messenger_->engine_alive = false;
  FlutterDesktopMessengerRelease(messenger_);
}

FlutterDesktopMessengerRef HeadlessEngine::messenger() const { return messenger_; }

Delivery HeadlessEngine::Deliver(const std::string& channel, std::vector<uint8_t> message) {
  auto state = std::make_shared<internal::DeliveryState>();
  state->message = std::move(message);
  ChannelCallback target{};
  uintptr_t response_id = 0;
  {
    std::lock_guard<std::mutex> guard(messenger_->state);
    auto found = messenger_->channels.find(channel);
    if (found != messenger_->channels.end()) {
      target = found->second;
      response_id = messenger_->next_response_id++;
      messenger_->awaiting_response.emplace(response_id, state);
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
  target.callback(messenger_, &record, target.user_data);
  return Delivery(state);
}

std::optional<ChannelCallback> HeadlessEngine::GetChannelCallback(
    const std::string& channel) const {
  std::lock_guard<std::mutex> guard(messenger_->state);
  auto found = messenger_->channels.find(channel);
  if (found == messenger_->channels.end()) return std::nullopt;
  return found->second;
}

void HeadlessEngine::SetAvailable(bool available) {
  std::lock_guard<std::mutex> guard(messenger_->lock);
  messenger_->available = available;
}

void HeadlessEngine::SetRefuseSendsWithReply(bool refuse) {
  messenger_->refuse_sends_with_reply = refuse;
}

std::vector<SentMessage> HeadlessEngine::TakeSentMessages() {
  std::lock_guard<std::mutex> guard(messenger_->state);
  std::vector<SentMessage> sent;
  sent.swap(messenger_->sent);
  return sent;
}

int64_t HeadlessEngine::messenger_references() const { return messenger_->references; }

std::vector<std::string> HeadlessEngine::TakeCallLog() {
  std::lock_guard<std::mutex> guard(messenger_->state);
  std::vector<std::string> log;
  log.swap(messenger_->call_log);
  return log;
}

}  // namespace velmoran_host

FlutterDesktopMessenger::FlutterDesktopMessenger() = default;

FlutterDesktopMessenger::~FlutterDesktopMessenger() {
  velmoran_host::internal::ForgetMessenger(this);
}

void FlutterDesktopMessenger::Log(const char* function) {
  std::lock_guard<std::mutex> guard(state);
  call_log.emplace_back(function);
}
