#ifndef VELMORAN_ENGINE_PLUGIN_REGISTRAR_H_
#define VELMORAN_ENGINE_PLUGIN_REGISTRAR_H_

#include <memory>
#include <set>

#include "engine/binary_messenger.h"
#include "engine/flutter_windows.h"
#include "engine/plugin.h"
#include "engine/texture_registrar.h"

namespace flutter {

// What plugins reach the engine through, for one engine registrar: the binary messenger and
// the texture registrar bound to it, which it owns, and the plugins registered on it, which it
// owns too, so that they live exactly as long as the registrar. Registrars are made and
// destroyed by the PluginRegistrarManager only.
//
// Plugins are destroyed first, while the messenger and the texture registrar still exist, so a
// plugin's destructor can still use them; then the messenger with every handler installed
// through it; the texture registrar last. Neither construction nor destruction sends anything
// to the engine.
class PluginRegistrar {
 public:
  // Asks the engine for the registrar's messenger, then its texture registrar, and binds to
  // them. The handle is borrowed and stored unchecked.
  explicit PluginRegistrar(FlutterDesktopPluginRegistrarRef registrar);
  virtual ~PluginRegistrar();
  PluginRegistrar(const PluginRegistrar&) = delete;
  PluginRegistrar& operator=(const PluginRegistrar&) = delete;

  // The same objects for the registrar's whole life; owned by the registrar.
  BinaryMessenger* GetMessenger() const { return messenger_.get(); }
  TextureRegistrar* GetTextureRegistrar() const { return texture_registrar_.get(); }
  // Same as GetMessenger and GetTextureRegistrar.
  BinaryMessenger* messenger() const { return messenger_.get(); }
  TextureRegistrar* texture_registrar() const { return texture_registrar_.get(); }

  // Takes the plugin over: from now on the registrar owns it and destroys it with itself.
  void AdoptPlugin(std::unique_ptr<Plugin> plugin);

  FlutterDesktopPluginRegistrarRef engine_registrar() const { return registrar_; }

 protected:
  // Destroys every plugin, the one at the highest address first, and leaves the set empty.
  void DestroyPlugins();

 private:
  FlutterDesktopPluginRegistrarRef registrar_;
  std::unique_ptr<BinaryMessenger> messenger_;
  std::unique_ptr<TextureRegistrar> texture_registrar_;
  // Ordered by address; each plugin at most once.
  std::set<std::unique_ptr<Plugin>> plugins_;
};

// The engine's view of the registrar, or null when the engine has none. Nothing here reads it;
// it is what a plugin would hand back to the engine.
class FlutterView {
 public:
  explicit FlutterView(FlutterDesktopViewRef view) : view_(view) {}
  virtual ~FlutterView() = default;
  FlutterView(const FlutterView&) = delete;
  FlutterView& operator=(const FlutterView&) = delete;

  FlutterDesktopViewRef engine_view() const { return view_; }

 private:
  FlutterDesktopViewRef view_;
};

// The registrar of the Windows embedding, which adds the engine's view.
class PluginRegistrarWindows : public PluginRegistrar {
 public:
  // Builds the registrar, then asks the engine for the view; a null view still gives a view
  // object, holding null.
  explicit PluginRegistrarWindows(FlutterDesktopPluginRegistrarRef registrar);
  // Plugins first, then the view, then the rest as PluginRegistrar does.
  ~PluginRegistrarWindows() override;

  FlutterView* GetView() const { return view_.get(); }

 private:
  std::unique_ptr<FlutterView> view_;
};

}  // namespace flutter

#endif  // VELMORAN_ENGINE_PLUGIN_REGISTRAR_H_
