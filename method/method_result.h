#ifndef VELMORAN_METHOD_METHOD_RESULT_H_
#define VELMORAN_METHOD_METHOD_RESULT_H_

#include <string>

#include "codec/encodable_value.h"

namespace flutter {

// The one-shot sink through which the handler of a method call answers it: with success (with
// or without a value), with an error, or as not implemented. Whoever holds a result calls
// exactly one public operation, once; it is passed on only by moving its sole ownership, and
// destroying it ends it. The base class keeps no record of the answer: what a second answer or
// destruction without an answer means is up to each implementation.
//
// The public operations are not virtual and only forward to the protected On... hooks, so that
// every implementation sees the same narrow set of answers: a value is passed as a pointer that
// is null when there is none.
template <typename T = EncodableValue>
class MethodResult {
 public:
  MethodResult() = default;
  virtual ~MethodResult() = default;

  MethodResult(const MethodResult&) = delete;
  MethodResult& operator=(const MethodResult&) = delete;

  // Success with a value. A value holding null still arrives as a non-null pointer.
  void Success(const T& result) { OnSuccess(&result); }
  // Success without a value.
  void Success() { OnSuccess(nullptr); }
  // Failure with a code, a message and details.
  void Error(const std::string& error_code, const std::string& error_message,
             const T& error_details) {
    OnError(error_code, error_message, &error_details);
  }
  // Failure with a code and an optional message, without details.
  void Error(const std::string& error_code, const std::string& error_message = "") {
    OnError(error_code, error_message, nullptr);
  }
  // The handler does not know the method.
  void NotImplemented() { OnNotImplemented(); }

 protected:
  // The pointers passed to the hooks are valid only during the hook call; an implementation
  // that needs a value later copies it.
  virtual void OnSuccess(const T* result) = 0;
  virtual void OnError(const std::string& error_code, const std::string& error_message,
                       const T* error_details) = 0;
  virtual void OnNotImplemented() = 0;
};

}  // namespace flutter

#endif  // VELMORAN_METHOD_METHOD_RESULT_H_
