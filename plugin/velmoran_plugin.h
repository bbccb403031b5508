#ifndef VELMORAN_PLUGIN_VELMORAN_PLUGIN_H_
#define VELMORAN_PLUGIN_VELMORAN_PLUGIN_H_

#include <memory>

#include "codec/encodable_value.h"
#include "engine/plugin.h"
#include "method/method_call.h"
#include "method/method_result.h"

namespace velmoran {

// The plugin behind the method channel "velmoran". It answers "getPlatformVersion" with the
// Windows release the process runs on, as the text "10", "8", "7", or "" for anything older,
// and every other method as not implemented. It holds no state: each call asks the operating
// system again.
class VelmoranPlugin : public flutter::Plugin {
 public:
  VelmoranPlugin();
  ~VelmoranPlugin() override;

  // Answers one call through result, exactly once, and destroys result before returning.
  // The call is only read and only during this function.
  void OnMethodCall(const flutter::MethodCall<flutter::EncodableValue>& call,
                    std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result);
};

}  // namespace velmoran

#endif  // VELMORAN_PLUGIN_VELMORAN_PLUGIN_H_
