#ifndef VELMORAN_ENGINE_PLUGIN_REGISTRAR_MANAGER_H_
#define VELMORAN_ENGINE_PLUGIN_REGISTRAR_MANAGER_H_

#include <map>
#include <memory>

#include "engine/flutter_windows.h"
#include "engine/plugin_registrar.h"

namespace flutter {

// Keeps, for the whole process, one PluginRegistrarWindows per engine registrar, so that every
// registration for one engine registrar reaches the same object, and destroys that object when
// the engine reports the registrar's end. The manager itself is never destroyed.
class PluginRegistrarManager {
 public:
  // The one manager, created on first use (safely, also when several threads get there at once).
  static PluginRegistrarManager* GetInstance();

  PluginRegistrarManager(const PluginRegistrarManager&) = delete;
  PluginRegistrarManager& operator=(const PluginRegistrarManager&) = delete;

  // The registrar of the engine registrar, created on the first request. The manager keeps it;
  // the pointer is valid until the engine reports the end of that registrar. Each call also
  // gives the engine the destruction handler for it.
  PluginRegistrarWindows* GetRegistrar(FlutterDesktopPluginRegistrarRef registrar);

 private:
  PluginRegistrarManager();

  // The destruction handler given to the engine: destroys the registrar of the handle, if any.
  static void OnRegistrarDestroyed(FlutterDesktopPluginRegistrarRef registrar);

  // Only used on the thread on which the engine calls in.
  std::map<FlutterDesktopPluginRegistrarRef, std::unique_ptr<PluginRegistrarWindows>> registrars_;
};

}  // namespace flutter

#endif  // VELMORAN_ENGINE_PLUGIN_REGISTRAR_MANAGER_H_
