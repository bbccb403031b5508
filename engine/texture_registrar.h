#ifndef VELMORAN_ENGINE_TEXTURE_REGISTRAR_H_
#define VELMORAN_ENGINE_TEXTURE_REGISTRAR_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <variant>

// The engine's descriptions of a texture's content. Plugins build them in the engine's own
// format and hand the pointers through; nothing here reads them, so their names are all this
// header needs, and it stays free of the engine's C interface.
struct FlutterDesktopPixelBuffer;
struct FlutterDesktopGpuSurfaceDescriptor;

namespace flutter {

// An external texture whose content the plugin produces as pixel buffers in memory. The engine
// asks for a buffer whenever it draws the texture, on a thread of its choosing.
class PixelBufferTexture {
 public:
  // Returns the texture's current content for the engine to draw at width x height.
  using CopyBufferCallback =
      std::function<const FlutterDesktopPixelBuffer*(size_t width, size_t height)>;

  explicit PixelBufferTexture(CopyBufferCallback copy_buffer)
      : copy_buffer_(std::move(copy_buffer)) {}

  // The buffer the function returns, unread; null if the texture holds no function, since
  // calling an empty function would end the process and null is the one answer that claims no
  // content.
  const FlutterDesktopPixelBuffer* CopyPixelBuffer(size_t width, size_t height) const {
    return copy_buffer_ ? copy_buffer_(width, height) : nullptr;
  }

 private:
  CopyBufferCallback copy_buffer_;
};

// An external texture whose content the plugin produces as GPU surfaces, described to the
// engine by a surface type and a descriptor in the engine's formats.
class GpuSurfaceTexture {
 public:
  // Returns the descriptor of the surface for the engine to draw at width x height.
  using ObtainDescriptorCallback =
      std::function<const FlutterDesktopGpuSurfaceDescriptor*(size_t width, size_t height)>;

  // surface_type is the engine's code for the kind of surface; it is passed on unchanged.
  GpuSurfaceTexture(int32_t surface_type, ObtainDescriptorCallback obtain_descriptor)
      : surface_type_(surface_type), obtain_descriptor_(std::move(obtain_descriptor)) {}

  int32_t surface_type() const { return surface_type_; }

  // The descriptor the function returns, unread; null if the texture holds no function.
  const FlutterDesktopGpuSurfaceDescriptor* ObtainDescriptor(size_t width, size_t height) const {
    return obtain_descriptor_ ? obtain_descriptor_(width, height) : nullptr;
  }

 private:
  int32_t surface_type_;
  ObtainDescriptorCallback obtain_descriptor_;
};

// A texture of either kind. A variant left valueless_by_exception (by a failed change of
// alternative) is no texture at all, and registering it fails.
using TextureVariant = std::variant<PixelBufferTexture, GpuSurfaceTexture>;

// Hands external textures to the engine, which then pulls their content through callbacks. It
// keeps no record of them: the ids are the engine's.
class TextureRegistrar {
 public:
  TextureRegistrar() = default;
  virtual ~TextureRegistrar() = default;
  TextureRegistrar(const TextureRegistrar&) = delete;
  TextureRegistrar& operator=(const TextureRegistrar&) = delete;

  // Registers texture and returns the engine's id for it, or -1 if texture is null or holds no
  // alternative. The caller keeps ownership, but the engine calls back into the variant at this
  // very address, so it must stay alive and in place until it is unregistered.
  virtual int64_t RegisterTexture(TextureVariant* texture) = 0;

  // Tells the engine that the texture has a new frame to draw, and returns the engine's answer
  // unchanged (false for an id it does not know).
  virtual bool MarkTextureFrameAvailable(int64_t texture_id) = 0;

  // Unregisters the texture without waiting to hear when the engine is done with it; always
  // true, since the engine's answer comes only through a completion.
  virtual bool UnregisterTexture(int64_t texture_id) = 0;

  // Unregisters the texture. The engine may still use it for a frame under way, so the variant
  // must live until completion is called: once, later, perhaps on another thread. An empty
  // completion asks for no call.
  virtual void UnregisterTexture(int64_t texture_id, std::function<void()> completion) = 0;
};

}  // namespace flutter

#endif  // VELMORAN_ENGINE_TEXTURE_REGISTRAR_H_
