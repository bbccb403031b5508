#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "codec/encodable_value.h"
#include "method/method_call.h"
#include "method/method_call_handler.h"
#include "method/method_result.h"
#include "method/method_result_functions.h"

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::MethodResult;

static_assert(std::is_abstract_v<MethodResult<>>);
static_assert(std::has_virtual_destructor_v<MethodResult<>>);
static_assert(!std::is_copy_constructible_v<MethodResult<>>);
static_assert(!std::is_copy_assignable_v<MethodResult<>>);
static_assert(!std::is_copy_constructible_v<MethodCall<>>);
static_assert(!std::is_copy_assignable_v<MethodCall<>>);
static_assert(std::has_virtual_destructor_v<MethodCall<>>);
static_assert(std::is_same_v<MethodCall<>, MethodCall<EncodableValue>>);
static_assert(std::is_copy_constructible_v<flutter::MethodCallHandler<>>);

// What one hook of a result received.
struct Answer {
  enum class Kind { kSuccess, kError, kNotImplemented };
  Kind kind;
  const EncodableValue* value;  // the pointer as passed; only compared, never read later
  std::string code;
  std::string message;
};

// Records every hook call, so that tests can see exactly what the public operations forwarded.
class RecordingResult : public MethodResult<> {
 public:
  const std::vector<Answer>& answers() const { return answers_; }

 protected:
  void OnSuccess(const EncodableValue* result) override {
    answers_.push_back({Answer::Kind::kSuccess, result, {}, {}});
  }
  void OnError(const std::string& code, const std::string& message,
               const EncodableValue* details) override {
    answers_.push_back({Answer::Kind::kError, details, code, message});
  }
  void OnNotImplemented() override {
    answers_.push_back({Answer::Kind::kNotImplemented, nullptr, {}, {}});
  }

 private:
  std::vector<Answer> answers_;
};

// Values of many alternatives, the null value first: a value holding null is still a value.
std::vector<EncodableValue> SampleValues() {
  return {EncodableValue(),
          EncodableValue(false),
          EncodableValue(int32_t{0}),
          EncodableValue(int64_t{-1}),
          EncodableValue(0.5),
          EncodableValue(std::string()),
          EncodableValue(std::string("text\0more", 9)),
          EncodableValue(std::vector<uint8_t>{}),
          EncodableValue(EncodableList{EncodableValue()}),
          EncodableValue(EncodableMap{{EncodableValue(), EncodableValue()}}),
          EncodableValue(std::vector<float>{1.0f})};
}

TEST(MethodResultTest, SuccessWithValuePassesThatValueItself) {
  const std::vector<EncodableValue> values = SampleValues();
  for (const EncodableValue& value : values) {
    SCOPED_TRACE("alternative " + std::to_string(value.index()));
    RecordingResult result;
    result.Success(value);
    ASSERT_EQ(result.answers().size(), 1u);
    EXPECT_EQ(result.answers()[0].kind, Answer::Kind::kSuccess);
    // The very object, not a copy: the hook may rely on it for the duration of the call.
    EXPECT_EQ(result.answers()[0].value, &value);
  }
}

TEST(MethodResultTest, SuccessWithoutValueAndWithNullValueDifferOnlyInThePointer) {
  RecordingResult without_value;
  without_value.Success();
  ASSERT_EQ(without_value.answers().size(), 1u);
  EXPECT_EQ(without_value.answers()[0].kind, Answer::Kind::kSuccess);
  EXPECT_EQ(without_value.answers()[0].value, nullptr);

  const EncodableValue null_value;
  RecordingResult with_null;
  with_null.Success(null_value);
  ASSERT_EQ(with_null.answers().size(), 1u);
  EXPECT_EQ(with_null.answers()[0].kind, Answer::Kind::kSuccess);
  EXPECT_EQ(with_null.answers()[0].value, &null_value);
}

TEST(MethodResultTest, ErrorForwardsCodeMessageAndDetails) {
  struct Case {
    const char* code;
    std::size_t code_size;
    const char* message;
    std::size_t message_size;
  };
  // Texts with zero bytes inside must arrive whole.
  static constexpr Case kCases[] = {
      {"", 0, "", 0},
      {"bad_args", 8, "Arguments are missing", 21},
      {"zero\0code", 9, "zero\0message", 12},
  };
  const std::vector<EncodableValue> details = SampleValues();
  for (const Case& row : kCases) {
    const std::string code(row.code, row.code_size);
    const std::string message(row.message, row.message_size);
    for (const EncodableValue& detail : details) {
      SCOPED_TRACE("code '" + code + "', details alternative " + std::to_string(detail.index()));
      RecordingResult result;
      result.Error(code, message, detail);
      ASSERT_EQ(result.answers().size(), 1u);
      const Answer& answer = result.answers()[0];
      EXPECT_EQ(answer.kind, Answer::Kind::kError);
      EXPECT_EQ(answer.code, code);
      EXPECT_EQ(answer.message, message);
      EXPECT_EQ(answer.value, &detail);
    }
    SCOPED_TRACE("code '" + code + "' without details");
    RecordingResult result;
    result.Error(code, message);
    ASSERT_EQ(result.answers().size(), 1u);
    EXPECT_EQ(result.answers()[0].kind, Answer::Kind::kError);
    EXPECT_EQ(result.answers()[0].code, code);
    EXPECT_EQ(result.answers()[0].message, message);
    EXPECT_EQ(result.answers()[0].value, nullptr);
  }
}

TEST(MethodResultTest, ErrorWithCodeOnlyHasAnEmptyMessageAndNoDetails) {
  RecordingResult result;
  result.Error("failed");
  ASSERT_EQ(result.answers().size(), 1u);
  EXPECT_EQ(result.answers()[0].kind, Answer::Kind::kError);
  EXPECT_EQ(result.answers()[0].code, "failed");
  EXPECT_EQ(result.answers()[0].message, "");
  EXPECT_EQ(result.answers()[0].value, nullptr);
}

TEST(MethodResultTest, NotImplementedReachesOnlyItsHook) {
  RecordingResult result;
  result.NotImplemented();
  ASSERT_EQ(result.answers().size(), 1u);
  EXPECT_EQ(result.answers()[0].kind, Answer::Kind::kNotImplemented);
}

TEST(MethodCallTest, ArgumentsAbsentDifferFromArgumentsHoldingNull) {
  const MethodCall<> without("m", nullptr);
  EXPECT_EQ(without.args(), nullptr);
  EXPECT_EQ(without.arguments(), nullptr);

  const MethodCall<> with_null("m", std::make_unique<EncodableValue>());
  ASSERT_NE(with_null.args(), nullptr);
  EXPECT_TRUE(with_null.args()->IsNull());
  EXPECT_EQ(with_null.arguments(), with_null.args());
}

TEST(MethodCallTest, KeepsTheArgumentsObjectItWasGiven) {
  const std::vector<EncodableValue> values = SampleValues();
  for (const EncodableValue& value : values) {
    SCOPED_TRACE("alternative " + std::to_string(value.index()));
    auto arguments = std::make_unique<EncodableValue>(value);
    const EncodableValue* given = arguments.get();
    const MethodCall<> call("m", std::move(arguments));
    EXPECT_EQ(call.args(), given);
    EXPECT_EQ(*call.args(), value);
  }
}

TEST(MethodCallTest, KeepsItsOwnCopyOfTheExactName) {
  struct Case {
    const char* bytes;
    std::size_t size;
  };
  static constexpr Case kNames[] = {
      {"", 0},   {"getPlatformVersion", 18}, {"getPlatformVersion\0tail", 23},
      {"\0", 1}, {"\xff\xfe non-UTF-8", 13},
  };
  for (const Case& row : kNames) {
    std::string name(row.bytes, row.size);
    SCOPED_TRACE("name of " + std::to_string(row.size) + " bytes");
    const MethodCall<> call(name, nullptr);
    name.assign("changed after construction");
    EXPECT_EQ(call.method(), std::string(row.bytes, row.size));
    EXPECT_EQ(call.method().size(), row.size);
    EXPECT_EQ(&call.method_name(), &call.method());
  }
}

// Sits deep inside an arguments tree and, when the tree is destroyed, reads the name of the call
// that owns the tree. Reading it is only sound while the name is still alive; once freed, its
// bytes are overwritten by the allocator (and AddressSanitizer reports the read).
struct NameWitness {
  const MethodCall<>* const* call;
  std::string* name_seen;
  NameWitness(const MethodCall<>* const* call_slot, std::string* seen)
      : call(call_slot), name_seen(seen) {}
  NameWitness(const NameWitness&) = default;
  ~NameWitness() {
    if (*call != nullptr) *name_seen = (*call)->method();
  }
};

TEST(MethodCallTest, DestroysTheWholeArgumentsTreeBeforeTheName) {
  const MethodCall<>* owner = nullptr;
  std::string name_seen;
  EncodableList tree;
  for (int32_t i = 0; i < 500; ++i) {
    tree.push_back(EncodableValue(EncodableMap{
        {EncodableValue(i), EncodableValue(EncodableList{EncodableValue(std::string(40, 'x'))})}}));
  }
  tree.push_back(EncodableValue(
      EncodableMap{{EncodableValue("deep"),
                    EncodableValue(EncodableList{EncodableValue(EncodableList{EncodableValue(
                        flutter::CustomEncodableValue(NameWitness(&owner, &name_seen)))})})}}));

  // Long enough that the name lives on the heap, not inside the string object.
  const std::string name(64, 'n');
  auto call = std::make_unique<MethodCall<>>(name, std::make_unique<EncodableValue>(tree));
  tree.clear();
  owner = call.get();
  call.reset();
  EXPECT_EQ(name_seen, name);
}

TEST(MethodResultFunctionsTest, HandsEachAnswerToItsCallback) {
  std::vector<std::string> seen;
  const EncodableValue value("v");
  flutter::MethodResultFunctions<> result(
      [&](const EncodableValue* result_value) {
        seen.push_back(result_value == nullptr  ? "success:none"
                       : result_value == &value ? "success:value"
                                                : "success:other");
      },
      [&](const std::string& code, const std::string& message, const EncodableValue* details) {
        seen.push_back("error:" + code + ":" + message +
                       (details == nullptr ? ":none" : ":details"));
      },
      [&]() { seen.push_back("not implemented"); });

  result.Success(value);
  result.Success();
  result.Error("c", "m", value);
  result.Error("c");
  result.NotImplemented();

  const std::vector<std::string> expected = {"success:value", "success:none", "error:c:m:details",
                                             "error:c::none", "not implemented"};
  EXPECT_EQ(seen, expected);
}

TEST(MethodResultFunctionsTest, EmptyCallbacksIgnoreTheirAnswer) {
  int not_implemented_count = 0;
  flutter::MethodResultFunctions<> result(nullptr, nullptr, [&]() { ++not_implemented_count; });
  result.Success(EncodableValue(1.0));
  result.Success();
  result.Error("c", "m", EncodableValue());
  result.Error("c");
  EXPECT_EQ(not_implemented_count, 0);
  result.NotImplemented();
  EXPECT_EQ(not_implemented_count, 1);
}

}  // namespace
