#ifndef VELMORAN_CODEC_ENCODABLE_VALUE_H_
#define VELMORAN_CODEC_ENCODABLE_VALUE_H_

#include <any>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <variant>
#include <vector>

namespace flutter {

class EncodableValue;

// A list of values in insertion order; elements may be lists and maps themselves.
using EncodableList = std::vector<EncodableValue>;

// A map with unique keys in the value ordering (see CompareEncodableValues), which is also the
// order in which the standard codec writes its entries.
using EncodableMap = std::map<EncodableValue, EncodableValue>;

// Holds one object of an application type, or nothing. The standard codec cannot write it; a
// serializer with codec extensions can. Copying the holder copies the object with its own copy
// constructor. Moving a holder copies too, so that the source stays intact; the move is still
// noexcept so that lists of values move rather than copy when they grow.
class CustomEncodableValue {
 public:
  CustomEncodableValue() = default;
  template <typename T,
            typename = std::enable_if_t<!std::is_same_v<std::decay_t<T>, CustomEncodableValue>>>
  explicit CustomEncodableValue(const T& value) : value_(value) {}

  CustomEncodableValue(const CustomEncodableValue& other) = default;
  CustomEncodableValue(CustomEncodableValue&& other) noexcept : value_(other.value_) {}
  CustomEncodableValue& operator=(const CustomEncodableValue& other) = default;
  CustomEncodableValue& operator=(CustomEncodableValue&& other) noexcept {
    value_ = other.value_;
    return *this;
  }
  ~CustomEncodableValue() = default;

  // The held object, type-erased.
  const std::any& value() const { return value_; }
  // The held object when it is a T; null when it is something else or nothing.
  template <typename T>
  const T* TryGet() const {
    return std::any_cast<T>(&value_);
  }
  const std::type_info& type() const { return value_.type(); }

 private:
  std::any value_;
};

namespace internal {
// The alternatives of a value, in the fixed index order that the ordering and the standard codec
// rely on. The float list comes last, after the custom holder.
using EncodableValueVariant = std::variant<std::monostate,        // 0  null
                                           bool,                  // 1
                                           int32_t,               // 2
                                           int64_t,               // 3
                                           double,                // 4
                                           std::string,           // 5
                                           std::vector<uint8_t>,  // 6
                                           std::vector<int32_t>,  // 7
                                           std::vector<int64_t>,  // 8
                                           std::vector<double>,   // 9
                                           EncodableList,         // 10
                                           EncodableMap,          // 11
                                           CustomEncodableValue,  // 12
                                           std::vector<float>>;   // 13
}  // namespace internal

// The one value type that crosses the engine boundary: method arguments, results, error details
// and everything the standard codec reads or writes. A value owns its whole content; copies are
// deep. It is a std::variant, so std::get, std::get_if, std::holds_alternative and std::visit
// work on it; GetIf and AsInt64 are the accessors that never fail hard.
//
// Each constructor names one alternative exactly. There is deliberately no catch-all: a bool is
// made only from a real bool, never from a pointer or an integer, text pointers become strings,
// and an integer type that does not say its width (unsigned, long long) does not compile.
class EncodableValue : public internal::EncodableValueVariant {
 public:
  using Variant = internal::EncodableValueVariant;

  EncodableValue() = default;
  EncodableValue(std::monostate) {}
  template <typename T, std::enable_if_t<std::is_same_v<T, bool>, int> = 0>
  EncodableValue(T value) : Variant(std::in_place_index<1>, value) {}
  EncodableValue(int32_t value) : Variant(std::in_place_index<2>, value) {}
  EncodableValue(int64_t value) : Variant(std::in_place_index<3>, value) {}
  EncodableValue(double value) : Variant(std::in_place_index<4>, value) {}
  EncodableValue(std::string value) : Variant(std::in_place_index<5>, std::move(value)) {}
  EncodableValue(std::string_view value) : Variant(std::in_place_index<5>, value) {}
  EncodableValue(const char* value) : Variant(std::in_place_index<5>, value) {}
  EncodableValue(std::nullptr_t) = delete;
  EncodableValue(std::vector<uint8_t> value) : Variant(std::in_place_index<6>, std::move(value)) {}
  EncodableValue(std::vector<int32_t> value) : Variant(std::in_place_index<7>, std::move(value)) {}
  EncodableValue(std::vector<int64_t> value) : Variant(std::in_place_index<8>, std::move(value)) {}
  EncodableValue(std::vector<double> value) : Variant(std::in_place_index<9>, std::move(value)) {}
  EncodableValue(EncodableList value) : Variant(std::in_place_index<10>, std::move(value)) {}
  EncodableValue(EncodableMap value) : Variant(std::in_place_index<11>, std::move(value)) {}
  EncodableValue(CustomEncodableValue value) : Variant(std::in_place_index<12>, std::move(value)) {}
  EncodableValue(std::vector<float> value) : Variant(std::in_place_index<13>, std::move(value)) {}

  // Moves are noexcept on every standard library (some allocate a head node when moving a map),
  // so that a growing EncodableList moves its elements instead of copying whole trees.
  EncodableValue(const EncodableValue&) = default;
  EncodableValue(EncodableValue&& other) noexcept : Variant(std::move(other.variant())) {}
  EncodableValue& operator=(const EncodableValue&) = default;
  EncodableValue& operator=(EncodableValue&& other) noexcept {
    variant() = std::move(other.variant());
    return *this;
  }
  ~EncodableValue() = default;

  bool IsNull() const { return index() == 0; }

  // The content of alternative T, or null when the value holds another alternative. Never
  // converts between alternatives.
  template <typename T>
  const T* GetIf() const {
    return std::get_if<T>(static_cast<const Variant*>(this));
  }
  template <typename T>
  T* GetIf() {
    return std::get_if<T>(static_cast<Variant*>(this));
  }

  // Either integer alternative as a 64-bit number. The other side sends an integer as the 32-bit
  // alternative when it fits and as the 64-bit one otherwise, so readers of integers want both.
  // Empty for every other alternative.
  std::optional<int64_t> AsInt64() const;

 private:
  Variant& variant() { return *this; }
};

// The value ordering, as a three-way comparison: negative when a is before b, positive when b is
// before a, zero when neither is (the two are equivalent as map keys). Values of different
// alternatives order by index; within one alternative: false before true, numbers numerically
// (0.0 and -0.0 equivalent; NaNs after all numbers and equivalent to each other, so that the
// order stays one a map can keep), strings and byte lists by unsigned bytes, lists element by
// element, maps entry by entry in key order, custom values by the address of their holder.
// Each pair of elements is compared once, so comparing two trees takes time linear in their size.
int CompareEncodableValues(const EncodableValue& a, const EncodableValue& b);

inline bool operator<(const EncodableValue& a, const EncodableValue& b) {
  return CompareEncodableValues(a, b) < 0;
}
inline bool operator>(const EncodableValue& a, const EncodableValue& b) {
  return CompareEncodableValues(a, b) > 0;
}
inline bool operator<=(const EncodableValue& a, const EncodableValue& b) {
  return CompareEncodableValues(a, b) <= 0;
}
inline bool operator>=(const EncodableValue& a, const EncodableValue& b) {
  return CompareEncodableValues(a, b) >= 0;
}

// Equality of alternative and content. Unlike equivalence under the ordering, doubles compare as
// IEEE numbers (a NaN equals nothing, 0.0 equals -0.0), and a custom value equals only itself,
// since nothing here can look inside it.
bool operator==(const EncodableValue& a, const EncodableValue& b);
inline bool operator!=(const EncodableValue& a, const EncodableValue& b) { return !(a == b); }

}  // namespace flutter

#endif  // VELMORAN_CODEC_ENCODABLE_VALUE_H_
