#ifndef VELMORAN_PLUGIN_VELMORAN_PLUGIN_C_API_H_
#define VELMORAN_PLUGIN_VELMORAN_PLUGIN_C_API_H_

// The plugin library's one export, called by the application when it registers its plugins.
// Self-contained, so that an application includes it beside the engine's own headers.

#if defined(_WIN32)
#if defined(VELMORAN_PLUGIN_IMPL)
#define VELMORAN_PLUGIN_EXPORT __declspec(dllexport)
#else
#define VELMORAN_PLUGIN_EXPORT __declspec(dllimport)
#endif
#else
#define VELMORAN_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FlutterDesktopPluginRegistrar* FlutterDesktopPluginRegistrarRef;

// Registers the plugin with the engine registrar: from then on it answers method calls on the
// channel "velmoran". Call once per engine registrar.
VELMORAN_PLUGIN_EXPORT void VelmoranPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // VELMORAN_PLUGIN_VELMORAN_PLUGIN_C_API_H_
