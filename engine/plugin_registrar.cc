#include "engine/plugin_registrar.h"

#include <iterator>
#include <utility>

#include "engine/binary_messenger_impl.h"
#include "engine/texture_registrar_impl.h"

namespace flutter {

PluginRegistrar::PluginRegistrar(FlutterDesktopPluginRegistrarRef registrar)
    : registrar_(registrar) {
  messenger_ =
      std::make_unique<BinaryMessengerImpl>(FlutterDesktopPluginRegistrarGetMessenger(registrar_));
  texture_registrar_ = std::make_unique<TextureRegistrarImpl>(
      FlutterDesktopRegistrarGetTextureRegistrar(registrar_));
}

PluginRegistrar::~PluginRegistrar() {
  DestroyPlugins();
  // The messenger goes before the texture registrar, with every handler installed through it.
  messenger_.reset();
}

void PluginRegistrar::AdoptPlugin(std::unique_ptr<Plugin> plugin) {
  plugins_.insert(std::move(plugin));
}

void PluginRegistrar::DestroyPlugins() {
  // Each plugin is taken out of the set before it is destroyed, so that its destructor may use
  // the registrar, even adopt another plugin, without touching a set in the middle of a change.
  while (!plugins_.empty()) {
    auto node = plugins_.extract(std::prev(plugins_.end()));
    node.value().reset();
  }
}

PluginRegistrarWindows::PluginRegistrarWindows(FlutterDesktopPluginRegistrarRef registrar)
    : PluginRegistrar(registrar),
      view_(std::make_unique<FlutterView>(FlutterDesktopPluginRegistrarGetView(registrar))) {}

PluginRegistrarWindows::~PluginRegistrarWindows() {
  DestroyPlugins();
  view_.reset();
}

}  // namespace flutter
