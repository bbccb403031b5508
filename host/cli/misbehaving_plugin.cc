// A plugin library for the tests of velmoran-host that answers through the engine's C interface
// directly, so that it can give the answers that a well-made plugin never gives. Each channel
// has one behaviour:
//   "error"     an error envelope: code "E", message "M", details the list [7]
//   "empty"     a success envelope without a value
//   "typed"     a success envelope holding the 32-bit integer list [5]
//   "garbage"   bytes that are no response envelope (flag 2)
//   "twice"     a success envelope holding true, then the same again on the same handle
//   "silent"    no answer at all

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/flutter_windows.h"

#if defined(_WIN32)
#define MISBEHAVING_PLUGIN_EXPORT __declspec(dllexport)
#else
#define MISBEHAVING_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

namespace {

struct Behaviour {
  const char* channel;
  const uint8_t* response;  // null: no answer
  size_t size;
  int times;
};

const uint8_t kError[] = {0x01, 0x07, 0x01, 'E',  0x07, 0x01, 'M',
                          0x0c, 0x01, 0x03, 0x07, 0x00, 0x00, 0x00};
const uint8_t kEmpty[] = {0x00, 0x00};
const uint8_t kTyped[] = {0x00, 0x09, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00};
const uint8_t kGarbage[] = {0x02, 0x01};
const uint8_t kTrue[] = {0x00, 0x01};

const Behaviour kBehaviours[] = {
    {"error", kError, sizeof kError, 1}, {"empty", kEmpty, sizeof kEmpty, 1},
    {"typed", kTyped, sizeof kTyped, 1}, {"garbage", kGarbage, sizeof kGarbage, 1},
    {"twice", kTrue, sizeof kTrue, 2},   {"silent", nullptr, 0, 0},
};

void OnMessage(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message,
               void* user_data) {
  const Behaviour* behaviour = static_cast<const Behaviour*>(user_data);
  // Responses are sent under the messenger lock, as the engine requires of every plugin.
  for (int i = 0; i < behaviour->times; ++i) {
    FlutterDesktopMessengerLock(messenger);
    FlutterDesktopMessengerSendResponse(messenger, message->response_handle, behaviour->response,
                                        behaviour->size);
    FlutterDesktopMessengerUnlock(messenger);
  }
}

}  // namespace

extern "C" MISBEHAVING_PLUGIN_EXPORT void VelmoranPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  FlutterDesktopMessengerRef messenger = FlutterDesktopPluginRegistrarGetMessenger(registrar);
  for (const Behaviour& behaviour : kBehaviours) {
    FlutterDesktopMessengerSetCallback(messenger, behaviour.channel, OnMessage,
                                       const_cast<Behaviour*>(&behaviour));
  }
}
