#include "engine/texture_registrar_impl.h"

#include <cstring>
#include <memory>
#include <utility>
#include <variant>

#include "codec/diagnostic.h"

namespace flutter {

namespace {

// The engine calls this, on its raster thread, for each frame of a pixel-buffer texture;
// user_data is the address of the texture's variant. The owner may have put the other kind of
// texture into the variant since (or left it valueless), and std::get would then throw; such a
// texture has no pixel buffer to give, so the engine gets null, as it does for an empty
// function.
const FlutterDesktopPixelBuffer* OnPixelBufferRequested(size_t width, size_t height,
                                                        void* user_data) {
  const auto* texture = std::get_if<PixelBufferTexture>(static_cast<TextureVariant*>(user_data));
  return texture != nullptr ? texture->CopyPixelBuffer(width, height) : nullptr;
}

// The same for a GPU-surface texture.
const FlutterDesktopGpuSurfaceDescriptor* OnGpuSurfaceRequested(size_t width, size_t height,
                                                                void* user_data) {
  const auto* texture = std::get_if<GpuSurfaceTexture>(static_cast<TextureVariant*>(user_data));
  return texture != nullptr ? texture->ObtainDescriptor(width, height) : nullptr;
}

// The engine calls this once when it is done with an unregistered texture; user_data is the
// heap record of the completion, which ends here.
void OnTextureUnregistered(void* user_data) {
  std::unique_ptr<std::function<void()>> completion(static_cast<std::function<void()>*>(user_data));
  (*completion)();
}

}  // namespace

TextureRegistrarImpl::TextureRegistrarImpl(FlutterDesktopTextureRegistrarRef texture_registrar)
    : texture_registrar_(texture_registrar) {}

TextureRegistrarImpl::~TextureRegistrarImpl() = default;

int64_t TextureRegistrarImpl::RegisterTexture(TextureVariant* texture) {
  if (texture == nullptr || texture->valueless_by_exception()) {
    WriteDiagnosticLine("Attempting to register unknown texture variant.");
    return -1;
  }
  // Zeroed byte by byte: the engine reads all 40 bytes, and neither an initialiser (which sets
  // only the union's first member) nor member assignments would clear the padding.
  FlutterDesktopTextureInfo info;
  std::memset(&info, 0, sizeof info);
  if (const auto* surface = std::get_if<GpuSurfaceTexture>(texture)) {
    info.type = kFlutterDesktopGpuSurfaceTexture;
    info.gpu_surface_config.struct_size = sizeof(FlutterDesktopGpuSurfaceTextureConfig);
    info.gpu_surface_config.type = surface->surface_type();
    info.gpu_surface_config.callback = &OnGpuSurfaceRequested;
    info.gpu_surface_config.user_data = texture;
  } else {
    info.type = kFlutterDesktopPixelBufferTexture;
    info.pixel_buffer_config.callback = &OnPixelBufferRequested;
    info.pixel_buffer_config.user_data = texture;
  }
  return FlutterDesktopTextureRegistrarRegisterExternalTexture(texture_registrar_, &info);
}

bool TextureRegistrarImpl::MarkTextureFrameAvailable(int64_t texture_id) {
  return FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(texture_registrar_,
                                                                         texture_id);
}

bool TextureRegistrarImpl::UnregisterTexture(int64_t texture_id) {
  // Through the interface, so that a subclass's handling of unregistration is used.
  UnregisterTexture(texture_id, nullptr);
  return true;
}

void TextureRegistrarImpl::UnregisterTexture(int64_t texture_id, std::function<void()> completion) {
  if (!completion) {
    FlutterDesktopTextureRegistrarUnregisterExternalTexture(texture_registrar_, texture_id, nullptr,
                                                            nullptr);
    return;
  }
  auto record = std::make_unique<std::function<void()>>(std::move(completion));
  // The engine calls back exactly once whatever it answers here, so the record is its own.
  FlutterDesktopTextureRegistrarUnregisterExternalTexture(texture_registrar_, texture_id,
                                                          &OnTextureUnregistered, record.release());
}

}  // namespace flutter
