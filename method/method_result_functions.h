#ifndef VELMORAN_METHOD_METHOD_RESULT_FUNCTIONS_H_
#define VELMORAN_METHOD_METHOD_RESULT_FUNCTIONS_H_

#include <functional>
#include <string>
#include <utility>

#include "codec/encodable_value.h"
#include "method/method_result.h"

namespace flutter {

// Callback types of MethodResultFunctions, one per kind of answer.
template <typename T = EncodableValue>
using ResultHandlerSuccess = std::function<void(const T* result)>;
template <typename T = EncodableValue>
using ResultHandlerError = std::function<void(
    const std::string& error_code, const std::string& error_message, const T* error_details)>;
template <typename T = EncodableValue>
using ResultHandlerNotImplemented = std::function<void()>;

// A method result that hands each answer to a callback, for code that wants to see the answer
// of a handler without a channel, such as a plugin's own tests. It owns copies of the three
// callbacks; an empty callback ignores that kind of answer. Like any result, it expects one
// answer, but it passes on every answer it gets.
template <typename T = EncodableValue>
class MethodResultFunctions : public MethodResult<T> {
 public:
  MethodResultFunctions(ResultHandlerSuccess<T> on_success, ResultHandlerError<T> on_error,
                        ResultHandlerNotImplemented<T> on_not_implemented)
      : on_success_(std::move(on_success)),
        on_error_(std::move(on_error)),
        on_not_implemented_(std::move(on_not_implemented)) {}

  ~MethodResultFunctions() override = default;

 protected:
  void OnSuccess(const T* result) override {
    if (on_success_) {
      on_success_(result);
    }
  }

  void OnError(const std::string& error_code, const std::string& error_message,
               const T* error_details) override {
    if (on_error_) {
      on_error_(error_code, error_message, error_details);
    }
  }

  void OnNotImplemented() override {
    if (on_not_implemented_) {
      on_not_implemented_();
    }
  }

 private:
  ResultHandlerSuccess<T> on_success_;
  ResultHandlerError<T> on_error_;
  ResultHandlerNotImplemented<T> on_not_implemented_;
};

}  // namespace flutter

#endif  // VELMORAN_METHOD_METHOD_RESULT_FUNCTIONS_H_
