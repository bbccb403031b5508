#include "plugin/velmoran_plugin_c_api.h"

#include "engine/plugin_registrar_manager.h"
#include "plugin/velmoran_plugin.h"

void VelmoranPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar) {
  velmoran::VelmoranPlugin::RegisterWithRegistrar(
      flutter::PluginRegistrarManager::GetInstance()->GetRegistrar(registrar));
}
