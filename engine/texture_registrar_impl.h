#ifndef VELMORAN_ENGINE_TEXTURE_REGISTRAR_IMPL_H_
#define VELMORAN_ENGINE_TEXTURE_REGISTRAR_IMPL_H_

#include <cstdint>
#include <functional>

#include "engine/flutter_windows.h"
#include "engine/texture_registrar.h"

namespace flutter {

// The texture registrar bound to an engine texture registrar handle, which it borrows. It holds
// nothing else: the engine keeps the textures, each with the address of its caller-owned
// variant as user data, and calls back into that variant for every frame. So neither creating
// nor destroying this object tells the engine anything, and textures still registered when it
// goes stay registered.
//
// A completion given to UnregisterTexture is moved to the heap and handed to the engine, which
// owns it until its one callback, where it is called and destroyed.
class TextureRegistrarImpl : public TextureRegistrar {
 public:
  explicit TextureRegistrarImpl(FlutterDesktopTextureRegistrarRef texture_registrar);
  ~TextureRegistrarImpl() override;

  int64_t RegisterTexture(TextureVariant* texture) override;
  bool MarkTextureFrameAvailable(int64_t texture_id) override;
  bool UnregisterTexture(int64_t texture_id) override;
  void UnregisterTexture(int64_t texture_id, std::function<void()> completion) override;

  FlutterDesktopTextureRegistrarRef engine_texture_registrar() const { return texture_registrar_; }

 private:
  FlutterDesktopTextureRegistrarRef texture_registrar_;
};

}  // namespace flutter

#endif  // VELMORAN_ENGINE_TEXTURE_REGISTRAR_IMPL_H_
