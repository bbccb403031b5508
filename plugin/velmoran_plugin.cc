#include "plugin/velmoran_plugin.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string_view>

#include "method/method_channel.h"
#include "method/standard_method_codec.h"
#include "winver/winver.h"

namespace velmoran {

namespace {

// A string_view keeps the length, so the comparison is exact: a name with anything after the
// literal, a zero byte included, does not match.
constexpr std::string_view kGetPlatformVersionMethod = "getPlatformVersion";

// Whether the system is at least major.minor with the given service pack, compared as one
// version number (10.0 is at least 6.2). Failure of the check itself also gives false.
bool IsVersionAtLeast(uint16_t major, uint16_t minor, uint16_t service_pack_major) {
  OSVERSIONINFOEXW version_info;
  std::memset(&version_info, 0, sizeof(version_info));
  version_info.dwOSVersionInfoSize = static_cast<DWORD>(sizeof(version_info));
  version_info.dwMajorVersion = major;
  version_info.dwMinorVersion = minor;
  version_info.wServicePackMajor = service_pack_major;

  ULONGLONG condition_mask = 0;
  condition_mask = VerSetConditionMask(condition_mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
  condition_mask = VerSetConditionMask(condition_mask, VER_MINORVERSION, VER_GREATER_EQUAL);
  condition_mask = VerSetConditionMask(condition_mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);

  return VerifyVersionInfoW(&version_info,
                            VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                            condition_mask) != 0;
}

}  // namespace

void VelmoranPlugin::RegisterWithRegistrar(flutter::PluginRegistrarWindows* registrar) {
  const flutter::StandardMethodCodec& codec = flutter::StandardMethodCodec::GetInstance();
  auto channel = std::make_unique<flutter::MethodChannel<flutter::EncodableValue>>(
      registrar->GetMessenger(), "velmoran", &codec);
  auto plugin = std::make_unique<VelmoranPlugin>();
  channel->SetMethodCallHandler(
      [plugin_pointer = plugin.get()](
          const flutter::MethodCall<flutter::EncodableValue>& call,
          std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result) {
        plugin_pointer->OnMethodCall(call, std::move(result));
      });
  registrar->AdoptPlugin(std::move(plugin));
}

VelmoranPlugin::VelmoranPlugin() = default;

VelmoranPlugin::~VelmoranPlugin() = default;

void VelmoranPlugin::OnMethodCall(
    const flutter::MethodCall<flutter::EncodableValue>& call,
    std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result) {
  if (call.method() == kGetPlatformVersionMethod) {
    std::ostringstream version_stream;
    if (IsVersionAtLeast(10, 0, 0)) {
      version_stream << "10";
    } else if (IsVersionAtLeast(6, 2, 0)) {
      version_stream << "8";
    } else if (IsVersionAtLeast(6, 1, 0)) {
      version_stream << "7";
    }
    result->Success(flutter::EncodableValue(version_stream.str()));
  } else {
    result->NotImplemented();
  }
  // A by-value parameter may outlive the function on some ABIs (until the caller's full
  // expression ends); the answer is complete, so end the result here.
  result.reset();
}

}  // namespace velmoran
