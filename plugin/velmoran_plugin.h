#ifndef VELMORAN_PLUGIN_VELMORAN_PLUGIN_H_
#define VELMORAN_PLUGIN_VELMORAN_PLUGIN_H_

#include <memory>

#include "codec/encodable_value.h"
#include "engine/plugin.h"
#include "engine/plugin_registrar.h"
#include "method/method_call.h"
#include "method/method_result.h"

namespace velmoran {

// The plugin behind the method channel "velmoran". It answers "getPlatformVersion" with the
// Windows release the process runs on, as the text "10", "8", "7", or "" for anything older,
// and every other method as not implemented. It holds no state: each call asks the operating
// system again.
class VelmoranPlugin : public flutter::Plugin {
 public:
  // Answers the channel "velmoran" of the registrar's messenger with a new plugin, which the
  // registrar then owns. The channel object is only needed to install the handler; the handler
  // lives on in the messenger and reaches the plugin through a plain pointer, valid as long as
  // the registrar keeps the plugin.
  static void RegisterWithRegistrar(flutter::PluginRegistrarWindows* registrar);

  VelmoranPlugin();
  ~VelmoranPlugin() override;

  // Answers one call through result, exactly once, and destroys result before returning.
  // The call is only read and only during this function.
  void OnMethodCall(const flutter::MethodCall<flutter::EncodableValue>& call,
                    std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result);
};

}  // namespace velmoran

#endif  // VELMORAN_PLUGIN_VELMORAN_PLUGIN_H_
