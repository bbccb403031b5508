#ifndef VELMORAN_METHOD_METHOD_CALL_H_
#define VELMORAN_METHOD_METHOD_CALL_H_

#include <memory>
#include <string>

#include "codec/encodable_value.h"

namespace flutter {

// One request on a method channel: a method name and, optionally, arguments. The call owns
// both; it is complete from construction on and never changes. Handlers receive it by const
// reference and never copy it: whoever decoded it owns it and destroys it after the handler
// returns.
template <typename T = EncodableValue>
class MethodCall {
 public:
  // Copies the name; takes sole ownership of the arguments, which may be null for a call
  // without arguments (distinct from arguments that hold the null value).
  MethodCall(const std::string& method_name, std::unique_ptr<T> arguments)
      : method_name_(method_name), arguments_(std::move(arguments)) {}

  virtual ~MethodCall() = default;

  MethodCall(const MethodCall&) = delete;
  MethodCall& operator=(const MethodCall&) = delete;

  // The method name, as exact bytes (it may contain zero bytes).
  const std::string& method() const { return method_name_; }
  // The arguments, or null when the call carries none. Borrowed for the call's lifetime.
  const T* args() const { return arguments_.get(); }

  // Same as method(); the name used by code written against other versions of this interface.
  const std::string& method_name() const { return method_name_; }
  // Same as args().
  const T* arguments() const { return arguments_.get(); }

 private:
  // The name is declared first so that the arguments, which may be a large tree, are released
  // before it.
  std::string method_name_;
  std::unique_ptr<T> arguments_;
};

}  // namespace flutter

#endif  // VELMORAN_METHOD_METHOD_CALL_H_
