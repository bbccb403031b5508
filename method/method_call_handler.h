#ifndef VELMORAN_METHOD_METHOD_CALL_HANDLER_H_
#define VELMORAN_METHOD_METHOD_CALL_HANDLER_H_

#include <functional>
#include <memory>

#include "codec/encodable_value.h"
#include "method/method_call.h"
#include "method/method_result.h"

namespace flutter {

// Handles the calls that arrive on a method channel. It borrows the call for the duration of
// the invocation and receives the result with sole ownership: it may answer at once, keep the
// result and answer later, or hand it on. May be empty; channels keep their own copy.
template <typename T = EncodableValue>
using MethodCallHandler =
    std::function<void(const MethodCall<T>& call, std::unique_ptr<MethodResult<T>> result)>;

}  // namespace flutter

#endif  // VELMORAN_METHOD_METHOD_CALL_HANDLER_H_
