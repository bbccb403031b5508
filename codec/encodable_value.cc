#include "codec/encodable_value.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <type_traits>

namespace flutter {

namespace {

template <typename T>
int CompareNumbers(T a, T b) {
  if (a < b) return -1;
  if (b < a) return 1;
  return 0;  // equal, or a NaN involved
}

// Floating-point numbers in numeric order, with every NaN after every number and all NaNs
// equivalent. IEEE less-than alone would make a NaN equivalent to every number, which is no
// ordering a map can keep: keys would go missing from lookups.
template <typename T>
int CompareFloating(T a, T b) {
  bool a_is_nan = std::isnan(a);
  bool b_is_nan = std::isnan(b);
  if (a_is_nan || b_is_nan) return a_is_nan == b_is_nan ? 0 : (a_is_nan ? 1 : -1);
  return CompareNumbers(a, b);
}

int CompareBytes(const void* a, size_t a_size, const void* b, size_t b_size) {
  size_t common = a_size < b_size ? a_size : b_size;
  int order = common == 0 ? 0 : std::memcmp(a, b, common);
  if (order != 0) return order < 0 ? -1 : 1;
  return CompareNumbers(a_size, b_size);
}

// Element by element, the first element that decides decides; a list that runs out first comes
// first. Every element pair is compared exactly once.
template <typename Sequence, typename CompareElements>
int CompareSequences(const Sequence& a, const Sequence& b, CompareElements compare_elements) {
  auto a_it = a.begin();
  auto b_it = b.begin();
  for (; a_it != a.end() && b_it != b.end(); ++a_it, ++b_it) {
    int order = compare_elements(*a_it, *b_it);
    if (order != 0) return order;
  }
  if (a_it == a.end()) return b_it == b.end() ? 0 : -1;
  return 1;
}

template <typename T>
int CompareNumberLists(const std::vector<T>& a, const std::vector<T>& b) {
  return CompareSequences(a, b, [](T x, T y) {
    if constexpr (std::is_floating_point_v<T>) {
      return CompareFloating(x, y);
    } else {
      return CompareNumbers(x, y);
    }
  });
}

int CompareMapEntries(const EncodableMap::value_type& a, const EncodableMap::value_type& b) {
  int order = CompareEncodableValues(a.first, b.first);
  return order != 0 ? order : CompareEncodableValues(a.second, b.second);
}

}  // namespace

std::optional<int64_t> EncodableValue::AsInt64() const {
  if (const auto* small = std::get_if<int32_t>(this)) return *small;
  if (const auto* large = std::get_if<int64_t>(this)) return *large;
  return std::nullopt;
}

int CompareEncodableValues(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) return a.index() < b.index() ? -1 : 1;
  switch (a.index()) {
    case 0:
      return 0;
    case 1:
      return CompareNumbers<int>(std::get<1>(a), std::get<1>(b));
    case 2:
      return CompareNumbers(std::get<2>(a), std::get<2>(b));
    case 3:
      return CompareNumbers(std::get<3>(a), std::get<3>(b));
    case 4:
      return CompareFloating(std::get<4>(a), std::get<4>(b));
    case 5: {
      const std::string& x = std::get<5>(a);
      const std::string& y = std::get<5>(b);
      return CompareBytes(x.data(), x.size(), y.data(), y.size());
    }
    case 6: {
      const std::vector<uint8_t>& x = std::get<6>(a);
      const std::vector<uint8_t>& y = std::get<6>(b);
      return CompareBytes(x.data(), x.size(), y.data(), y.size());
    }
    case 7:
      return CompareNumberLists(std::get<7>(a), std::get<7>(b));
    case 8:
      return CompareNumberLists(std::get<8>(a), std::get<8>(b));
    case 9:
      return CompareNumberLists(std::get<9>(a), std::get<9>(b));
    case 10:
      return CompareSequences(std::get<10>(a), std::get<10>(b), CompareEncodableValues);
    case 11:
      return CompareSequences(std::get<11>(a), std::get<11>(b), CompareMapEntries);
    case 12: {
      // A custom value is equivalent only to itself: order by where the holders lie.
      const void* x = &std::get<12>(a);
      const void* y = &std::get<12>(b);
      std::less<const void*> before;
      return before(x, y) ? -1 : (before(y, x) ? 1 : 0);
    }
    case 13:
      return CompareNumberLists(std::get<13>(a), std::get<13>(b));
  }
  return 0;  // valueless_by_exception: only after a failed allocation
}

bool operator==(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) return false;
  return std::visit(
      [&b](const auto& x) -> bool {
        using T = std::decay_t<decltype(x)>;
        const T& y = std::get<T>(b);
        if constexpr (std::is_same_v<T, CustomEncodableValue>) {
          return &x == &y;
        } else {
          return x == y;
        }
      },
      static_cast<const EncodableValue::Variant&>(a));
}

}  // namespace flutter
