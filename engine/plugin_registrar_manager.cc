#include "engine/plugin_registrar_manager.h"

#include <utility>

namespace flutter {

PluginRegistrarManager::PluginRegistrarManager() = default;

PluginRegistrarManager* PluginRegistrarManager::GetInstance() {
  static PluginRegistrarManager* const instance = new PluginRegistrarManager();
  return instance;
}

PluginRegistrarWindows* PluginRegistrarManager::GetRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  auto candidate = std::make_unique<PluginRegistrarWindows>(registrar);
  // An existing entry wins; the candidate then goes again at once, leaving no trace, since
  // building and destroying a registrar sends nothing to the engine.
  auto entry = registrars_.emplace(registrar, std::move(candidate)).first;
  FlutterDesktopPluginRegistrarSetDestructionHandler(entry->first, &OnRegistrarDestroyed);
  return entry->second.get();
}

void PluginRegistrarManager::OnRegistrarDestroyed(FlutterDesktopPluginRegistrarRef registrar) {
  // Out of the map first, then destroyed, so that a plugin's destructor cannot meet the map in
  // the middle of a change.
  auto entry = GetInstance()->registrars_.extract(registrar);
}

}  // namespace flutter
