#ifndef VELMORAN_ENGINE_PLUGIN_H_
#define VELMORAN_ENGINE_PLUGIN_H_

namespace flutter {

// The base of every plugin. A registrar adopts plugins with sole ownership and destroys them
// through this class when it goes away, so the destructor is the one virtual operation: it lets
// the registrar end a plugin without knowing its type. Plugins carry no data of this base.
// Plugins are objects with an identity (a registrar keeps them by address), so they cannot be
// copied.
class Plugin {
 public:
  Plugin() = default;
  virtual ~Plugin() = default;

  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;
};

}  // namespace flutter

#endif  // VELMORAN_ENGINE_PLUGIN_H_
