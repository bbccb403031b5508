#ifndef VELMORAN_ENGINE_FLUTTER_WINDOWS_H_
#define VELMORAN_ENGINE_FLUTTER_WINDOWS_H_

// The engine's C interface, as far as plugins use it: registrars, messengers, external
// textures. On Windows these functions come from flutter_windows.dll; elsewhere from the
// headless host, which implements the engine's side of every one of them. This header is the
// only place where the library meets the engine, and only engine/ and the host include it.
//
// Handles are opaque. Channel names are NUL-terminated. Byte runs are a pointer and a 64-bit
// size; the layouts below are pinned byte for byte, since the engine reads and writes them.

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#if defined(VELMORAN_BUILDING_ENGINE)
#if defined(_WIN32)
#define VELMORAN_ENGINE_API __declspec(dllexport)
#else
#define VELMORAN_ENGINE_API __attribute__((visibility("default")))
#endif
#elif defined(_WIN32)
#define VELMORAN_ENGINE_API __declspec(dllimport)
#else
#define VELMORAN_ENGINE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FlutterDesktopPluginRegistrar* FlutterDesktopPluginRegistrarRef;
typedef struct FlutterDesktopMessenger* FlutterDesktopMessengerRef;
typedef struct FlutterDesktopTextureRegistrar* FlutterDesktopTextureRegistrarRef;
typedef struct FlutterDesktopView* FlutterDesktopViewRef;
// Identifies the message a response answers. Valid until answered, or until the messenger
// stops being available.
typedef struct FlutterDesktopMessageResponseHandle FlutterDesktopMessageResponseHandle;

// A message delivered to a channel's callback. Only message, message_size and response_handle
// are read by plugins; the record is valid only during the callback.
typedef struct {
  size_t struct_size;
  const char* channel;
  const uint8_t* message;
  size_t message_size;
  const FlutterDesktopMessageResponseHandle* response_handle;
} FlutterDesktopMessage;

// Called by the engine for each message on a channel, with the user data set for it.
typedef void (*FlutterDesktopMessageCallback)(FlutterDesktopMessengerRef messenger,
                                              const FlutterDesktopMessage* message,
                                              void* user_data);

// Called once with the answer to a message sent with FlutterDesktopMessengerSendWithReply.
typedef void (*FlutterDesktopBinaryReply)(const uint8_t* data, size_t data_size, void* user_data);

// Called when the engine destroys a registrar; nothing set up through it is called after this.
typedef void (*FlutterDesktopOnPluginRegistrarDestroyed)(FlutterDesktopPluginRegistrarRef);

// Pixel buffers and GPU surfaces are described in the engine's own formats; plugins hand the
// pointers through unread.
typedef struct FlutterDesktopPixelBuffer FlutterDesktopPixelBuffer;
typedef struct FlutterDesktopGpuSurfaceDescriptor FlutterDesktopGpuSurfaceDescriptor;

typedef const FlutterDesktopPixelBuffer* (*FlutterDesktopPixelBufferTextureCallback)(
    size_t width, size_t height, void* user_data);
typedef const FlutterDesktopGpuSurfaceDescriptor* (*FlutterDesktopGpuSurfaceTextureCallback)(
    size_t width, size_t height, void* user_data);

// Called once when an unregistered texture is no longer used by the engine.
typedef void (*FlutterDesktopOnTextureUnregistered)(void* user_data);

typedef enum {
  kFlutterDesktopPixelBufferTexture = 0,
  kFlutterDesktopGpuSurfaceTexture = 1,
} FlutterDesktopTextureType;

typedef struct {
  FlutterDesktopPixelBufferTextureCallback callback;
  void* user_data;
} FlutterDesktopPixelBufferTextureConfig;

typedef struct {
  size_t struct_size;  // sizeof(FlutterDesktopGpuSurfaceTextureConfig): 32
  int32_t type;        // the surface type, in the engine's numbering
  FlutterDesktopGpuSurfaceTextureCallback callback;
  void* user_data;
} FlutterDesktopGpuSurfaceTextureConfig;

// An external texture to register: 40 bytes, zero-filled before use.
typedef struct {
  FlutterDesktopTextureType type;
  union {
    FlutterDesktopPixelBufferTextureConfig pixel_buffer_config;
    FlutterDesktopGpuSurfaceTextureConfig gpu_surface_config;
  };
} FlutterDesktopTextureInfo;

// Registrars. The handles returned stay valid as long as the registrar lives.
VELMORAN_ENGINE_API FlutterDesktopMessengerRef
FlutterDesktopPluginRegistrarGetMessenger(FlutterDesktopPluginRegistrarRef registrar);
VELMORAN_ENGINE_API FlutterDesktopTextureRegistrarRef
FlutterDesktopRegistrarGetTextureRegistrar(FlutterDesktopPluginRegistrarRef registrar);
VELMORAN_ENGINE_API FlutterDesktopViewRef
FlutterDesktopPluginRegistrarGetView(FlutterDesktopPluginRegistrarRef registrar);
VELMORAN_ENGINE_API void FlutterDesktopPluginRegistrarSetDestructionHandler(
    FlutterDesktopPluginRegistrarRef registrar, FlutterDesktopOnPluginRegistrarDestroyed callback);

// Messengers. A null callback and user data clear the channel; cleared ones are never used.
VELMORAN_ENGINE_API void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                                            const char* channel,
                                                            FlutterDesktopMessageCallback callback,
                                                            void* user_data);
VELMORAN_ENGINE_API bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger,
                                                     const char* channel, const uint8_t* message,
                                                     size_t message_size);
// True when the message was sent; the reply is then called exactly once, otherwise never.
VELMORAN_ENGINE_API bool FlutterDesktopMessengerSendWithReply(
    FlutterDesktopMessengerRef messenger, const char* channel, const uint8_t* message,
    size_t message_size, FlutterDesktopBinaryReply reply, void* user_data);
VELMORAN_ENGINE_API void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger, const FlutterDesktopMessageResponseHandle* handle,
    const uint8_t* data, size_t data_length);
// A held messenger stays usable until its last release; availability tells whether the engine
// still takes responses. Lock and unlock bracket a response so the engine cannot go away
// in between.
VELMORAN_ENGINE_API FlutterDesktopMessengerRef
FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger);
VELMORAN_ENGINE_API void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger);
VELMORAN_ENGINE_API FlutterDesktopMessengerRef
FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger);
VELMORAN_ENGINE_API void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger);
VELMORAN_ENGINE_API bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger);

// External textures.
VELMORAN_ENGINE_API int64_t FlutterDesktopTextureRegistrarRegisterExternalTexture(
    FlutterDesktopTextureRegistrarRef texture_registrar,
    const FlutterDesktopTextureInfo* texture_info);
VELMORAN_ENGINE_API bool FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(
    FlutterDesktopTextureRegistrarRef texture_registrar, int64_t texture_id);
VELMORAN_ENGINE_API bool FlutterDesktopTextureRegistrarUnregisterExternalTexture(
    FlutterDesktopTextureRegistrarRef texture_registrar, int64_t texture_id,
    FlutterDesktopOnTextureUnregistered callback, void* user_data);

#ifdef __cplusplus
}  // extern "C"

// The engine reads these records at fixed offsets.
static_assert(sizeof(void*) == 8 && sizeof(size_t) == 8, "the engine interface is 64-bit only");
static_assert(offsetof(FlutterDesktopMessage, message) == 16, "engine layout");
static_assert(offsetof(FlutterDesktopMessage, message_size) == 24, "engine layout");
static_assert(offsetof(FlutterDesktopMessage, response_handle) == 32, "engine layout");
static_assert(sizeof(FlutterDesktopTextureInfo) == 40, "engine layout");
static_assert(sizeof(FlutterDesktopTextureType) == 4, "engine layout");
static_assert(offsetof(FlutterDesktopTextureInfo, pixel_buffer_config) == 8, "engine layout");
static_assert(offsetof(FlutterDesktopTextureInfo, gpu_surface_config) == 8, "engine layout");
// Offsets within the 40-byte record: pixel buffer callback at 8 and user data at 16; surface
// record size at 8, surface type at 16, callback at 24, user data at 32.
static_assert(8 + offsetof(FlutterDesktopPixelBufferTextureConfig, callback) == 8, "engine layout");
static_assert(8 + offsetof(FlutterDesktopPixelBufferTextureConfig, user_data) == 16,
              "engine layout");
static_assert(8 + offsetof(FlutterDesktopGpuSurfaceTextureConfig, struct_size) == 8,
              "engine layout");
static_assert(8 + offsetof(FlutterDesktopGpuSurfaceTextureConfig, type) == 16, "engine layout");
static_assert(8 + offsetof(FlutterDesktopGpuSurfaceTextureConfig, callback) == 24, "engine layout");
static_assert(8 + offsetof(FlutterDesktopGpuSurfaceTextureConfig, user_data) == 32,
              "engine layout");
static_assert(sizeof(FlutterDesktopGpuSurfaceTextureConfig) == 32, "engine layout");
#endif  // __cplusplus

#endif  // VELMORAN_ENGINE_FLUTTER_WINDOWS_H_
