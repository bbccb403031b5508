#include "codec/encodable_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

namespace flutter {
namespace {

using namespace std::string_literals;

// Construction never turns a pointer (or nullptr) into a bool or a string by accident, and
// integers of unstated width do not silently pick an alternative.
static_assert(!std::is_constructible_v<EncodableValue, int*>);
static_assert(!std::is_constructible_v<EncodableValue, const void*>);
static_assert(!std::is_constructible_v<EncodableValue, EncodableValue*>);
static_assert(!std::is_constructible_v<EncodableValue, std::nullptr_t>);
static_assert(!std::is_constructible_v<EncodableValue, unsigned long long>);
static_assert(std::is_nothrow_move_constructible_v<EncodableValue>);

TEST(EncodableValueTest, EachConstructorPicksItsAlternative) {
  const char* text = "text";
  char mutable_text[] = "text";
  const struct {
    const char* name;
    EncodableValue value;
    size_t index;
  } kCases[] = {
      {"default", EncodableValue(), 0},
      {"monostate", EncodableValue(std::monostate()), 0},
      {"true", EncodableValue(true), 1},
      {"false", EncodableValue(false), 1},
      {"int literal", EncodableValue(7), 2},
      {"int32_t", EncodableValue(int32_t{-7}), 2},
      {"int16_t promotes", EncodableValue(int16_t{3}), 2},
      {"int64_t", EncodableValue(int64_t{7}), 3},
      {"double", EncodableValue(0.5), 4},
      {"float promotes", EncodableValue(0.5f), 4},
      {"string literal", EncodableValue("abc"), 5},
      {"const char pointer", EncodableValue(text), 5},
      {"char pointer", EncodableValue(static_cast<char*>(mutable_text)), 5},
      {"std::string", EncodableValue("abc"s), 5},
      {"string_view", EncodableValue(std::string_view("abc")), 5},
      {"bytes", EncodableValue(std::vector<uint8_t>{1}), 6},
      {"int32 list", EncodableValue(std::vector<int32_t>{1}), 7},
      {"int64 list", EncodableValue(std::vector<int64_t>{1}), 8},
      {"double list", EncodableValue(std::vector<double>{1}), 9},
      {"list", EncodableValue(EncodableList{}), 10},
      {"map", EncodableValue(EncodableMap{}), 11},
      {"custom", EncodableValue(CustomEncodableValue(42)), 12},
      {"float list", EncodableValue(std::vector<float>{1}), 13},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.value.index(), c.index);
  }
  EXPECT_TRUE(EncodableValue().IsNull());
  EXPECT_FALSE(EncodableValue(false).IsNull());
  EXPECT_EQ(std::get<std::string>(EncodableValue(text)), "text");
}

TEST(EncodableValueTest, TypedAccessNeverConverts) {
  EncodableValue small(5);
  EncodableValue large(int64_t{1} << 40);
  EncodableValue null;

  EXPECT_EQ(small.AsInt64(), 5);
  EXPECT_EQ(large.AsInt64(), int64_t{1} << 40);
  EXPECT_EQ(EncodableValue(int32_t{-1}).AsInt64(), -1);
  EXPECT_FALSE(EncodableValue(1.0).AsInt64().has_value());
  EXPECT_FALSE(EncodableValue(true).AsInt64().has_value());
  EXPECT_FALSE(null.AsInt64().has_value());

  EXPECT_EQ(small.GetIf<int64_t>(), nullptr);
  ASSERT_NE(small.GetIf<int32_t>(), nullptr);
  EXPECT_EQ(*small.GetIf<int32_t>(), 5);
  EXPECT_EQ(null.GetIf<std::string>(), nullptr);
  EXPECT_FALSE(std::holds_alternative<int64_t>(small));
}

TEST(EncodableValueTest, CopiesAreDeepAndIndependent) {
  EncodableValue source(EncodableList{
      EncodableValue(EncodableMap{{EncodableValue("k"), EncodableValue(EncodableList{1, 2})}})});
  EncodableValue copy = source;
  auto& inner = std::get<EncodableList>(
      std::get<EncodableMap>(std::get<EncodableList>(copy)[0]).at(EncodableValue("k")));
  inner.push_back(EncodableValue(3));

  const auto& source_inner = std::get<EncodableList>(
      std::get<EncodableMap>(std::get<EncodableList>(source)[0]).at(EncodableValue("k")));
  EXPECT_EQ(source_inner.size(), 2u);
  EXPECT_EQ(inner.size(), 3u);
  EXPECT_NE(source, copy);
}

TEST(EncodableValueTest, MovedFromValueKeepsAlternativeWithEmptyContent) {
  EncodableValue text("abcdefghijklmnopqrstuvwxyz, long enough to live on the heap");
  EncodableValue list(EncodableList{1, 2});
  EncodableValue map(EncodableMap{{1, 2}});
  EncodableValue moved_text = std::move(text);
  EncodableValue moved_list = std::move(list);
  EncodableValue moved_map = std::move(map);
  // NOLINTBEGIN(bugprone-use-after-move): the state after a move is what is checked
  EXPECT_EQ(text.index(), 5u);
  EXPECT_TRUE(std::get<std::string>(text).empty());
  EXPECT_TRUE(std::get<EncodableList>(list).empty());
  EXPECT_TRUE(std::get<EncodableMap>(map).empty());
  // NOLINTEND(bugprone-use-after-move)
  EXPECT_EQ(std::get<EncodableList>(moved_list).size(), 2u);
  EXPECT_EQ(std::get<EncodableMap>(moved_map).size(), 1u);
}

TEST(EncodableValueTest, CustomValueIsCopiedNotMovedAndComparesByIdentity) {
  EncodableValue custom(CustomEncodableValue(std::string("payload")));
  EncodableValue moved = std::move(custom);
  ASSERT_EQ(custom.index(), 12u);  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(*std::get<CustomEncodableValue>(custom).TryGet<std::string>(), "payload");
  EXPECT_EQ(*std::get<CustomEncodableValue>(moved).TryGet<std::string>(), "payload");
  EXPECT_EQ(std::get<CustomEncodableValue>(moved).TryGet<int>(), nullptr);

  // Two holders of equal objects are distinct keys; each is equal and equivalent only to itself.
  EncodableMap map;
  map.emplace(custom, 1);
  map.emplace(moved, 2);
  EXPECT_EQ(map.size(), 2u);
  EXPECT_EQ(custom, custom);
  EXPECT_NE(custom, moved);
  EXPECT_EQ(CompareEncodableValues(custom, custom), 0);
  EXPECT_NE(CompareEncodableValues(custom, moved), 0);
  EXPECT_EQ(CompareEncodableValues(custom, moved), -CompareEncodableValues(moved, custom));
}

TEST(EncodableValueTest, MapIteratesInAlternativeIndexOrder) {
  EncodableMap map;
  map.emplace(EncodableValue(int64_t{1}), EncodableValue());
  map.emplace(EncodableValue(int32_t{2}), EncodableValue());
  map.emplace(EncodableValue("a"), EncodableValue());
  map.emplace(EncodableValue(), EncodableValue());
  map.emplace(EncodableValue(true), EncodableValue());

  std::vector<EncodableValue> keys;
  for (const auto& entry : map) keys.push_back(entry.first);
  const std::vector<EncodableValue> expected = {EncodableValue(), EncodableValue(true),
                                                EncodableValue(int32_t{2}),
                                                EncodableValue(int64_t{1}), EncodableValue("a")};
  EXPECT_EQ(keys, expected);
}

TEST(EncodableValueTest, MapInsertionKeepsTheFirstOfEquivalentKeys) {
  EncodableMap map;
  map.emplace(EncodableValue(int32_t{7}), EncodableValue("old"));
  EXPECT_FALSE(map.emplace(EncodableValue(int32_t{7}), EncodableValue("new")).second);
  EXPECT_EQ(map.at(EncodableValue(int32_t{7})), EncodableValue("old"));
  EXPECT_TRUE(map.emplace(EncodableValue(int64_t{7}), EncodableValue("wide")).second);
  EXPECT_EQ(map.size(), 2u);

  // 0.0 and -0.0 are one key.
  EncodableMap doubles;
  doubles.emplace(EncodableValue(0.0), EncodableValue(1));
  EXPECT_FALSE(doubles.emplace(EncodableValue(-0.0), EncodableValue(2)).second);
  EXPECT_EQ(doubles.size(), 1u);
}

// A small constructor of values for the ordering table.
EncodableValue List(std::initializer_list<EncodableValue> elements) {
  return EncodableValue(EncodableList(elements));
}
EncodableValue Map(std::initializer_list<std::pair<const EncodableValue, EncodableValue>> entries) {
  return EncodableValue(EncodableMap(entries));
}

TEST(EncodableValueTest, OrderingWithinAlternatives) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const char* name;
    EncodableValue a;
    EncodableValue b;
    int expected;  // sign of CompareEncodableValues(a, b)
  } kCases[] = {
      {"null ~ null", EncodableValue(), EncodableValue(), 0},
      {"null < false", EncodableValue(), EncodableValue(false), -1},
      {"false < true", EncodableValue(false), EncodableValue(true), -1},
      {"int32 5 < int64 1", EncodableValue(5), EncodableValue(int64_t{1}), -1},
      {"int32 signed", EncodableValue(-1), EncodableValue(0), -1},
      {"int64 signed", EncodableValue(int64_t{-1}), EncodableValue(int64_t{0}), -1},
      {"double", EncodableValue(-0.5), EncodableValue(0.25), -1},
      {"0.0 ~ -0.0", EncodableValue(0.0), EncodableValue(-0.0), 0},
      {"1.0 < NaN", EncodableValue(1.0), EncodableValue(nan), -1},
      {"infinity < NaN", EncodableValue(HUGE_VAL), EncodableValue(nan), -1},
      {"NaN ~ NaN", EncodableValue(nan), EncodableValue(-nan), 0},
      {"B < a", EncodableValue("B"), EncodableValue("a"), -1},
      {"ab < abc", EncodableValue("ab"), EncodableValue("abc"), -1},
      {"0x7F < 0x80", EncodableValue("\x7F"), EncodableValue("\x80"), -1},
      {"a < a\\0", EncodableValue("a"), EncodableValue(std::string("a\0", 2)), -1},
      {"equal strings", EncodableValue("abc"), EncodableValue("abc"), 0},
      {"bytes unsigned", EncodableValue(std::vector<uint8_t>{0x7F}),
       EncodableValue(std::vector<uint8_t>{0x80}), -1},
      {"bytes prefix", EncodableValue(std::vector<uint8_t>{1}),
       EncodableValue(std::vector<uint8_t>{1, 0}), -1},
      {"int32 list", EncodableValue(std::vector<int32_t>{1, 2}),
       EncodableValue(std::vector<int32_t>{2}), -1},
      {"int64 list prefix", EncodableValue(std::vector<int64_t>{1}),
       EncodableValue(std::vector<int64_t>{1, 0}), -1},
      {"double list NaN last", EncodableValue(std::vector<double>{nan, 0.0}),
       EncodableValue(std::vector<double>{1.0, 1.0}), 1},
      {"double list NaNs equivalent", EncodableValue(std::vector<double>{nan, 0.0}),
       EncodableValue(std::vector<double>{nan, 1.0}), -1},
      {"float list NaN last", EncodableValue(std::vector<float>{1.0f}),
       EncodableValue(std::vector<float>{std::nanf("")}), -1},
      {"float list", EncodableValue(std::vector<float>{1.0f}),
       EncodableValue(std::vector<float>{1.5f}), -1},
      {"empty list < [null]", List({}), List({EncodableValue()}), -1},
      {"[1] < [1, 0]", List({1}), List({1, 0}), -1},
      {"[1, 2] < [2]", List({1, 2}), List({2}), -1},
      {"nested lists", List({List({1, 2})}), List({List({1, 3})}), -1},
      {"empty map < {1: 2}", Map({}), Map({{1, 2}}), -1},
      {"{1: 2} < {1: 3}", Map({{1, 2}}), Map({{1, 3}}), -1},
      {"{1: 9} < {2: 0}", Map({{1, 9}}), Map({{2, 0}}), -1},
      {"equal maps", Map({{1, List({2})}}), Map({{1, List({2})}}), 0},
      {"float list after custom", EncodableValue(std::vector<float>{}),
       EncodableValue(CustomEncodableValue(1)), 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    int order = CompareEncodableValues(c.a, c.b);
    EXPECT_EQ((order > 0) - (order < 0), c.expected);
    int reverse = CompareEncodableValues(c.b, c.a);
    EXPECT_EQ((reverse > 0) - (reverse < 0), -c.expected);
    EXPECT_EQ(c.a < c.b, c.expected < 0);
  }
}

// The ordering written out literally: at each position ask whether a's element is before b's,
// then whether b's is before a's. Exponential on deep equal trees, fine on small ones; the
// three-way comparison must agree with it everywhere.
bool LiteralBefore(const EncodableValue& a, const EncodableValue& b);

template <typename Sequence, typename Before>
bool LiteralSequenceBefore(const Sequence& a, const Sequence& b, Before before) {
  auto x = a.begin();
  auto y = b.begin();
  for (; x != a.end() && y != b.end(); ++x, ++y) {
    if (before(*x, *y)) return true;
    if (before(*y, *x)) return false;
  }
  return x == a.end() && y != b.end();
}

bool LiteralBefore(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) return a.index() < b.index();
  // Numbers in order, NaNs after all of them.
  auto numbers = [](double x, double y) { return !std::isnan(x) && (std::isnan(y) || x < y); };
  auto unsigned_bytes = [](char x, char y) {
    return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  };
  switch (a.index()) {
    case 1:
      return std::get<bool>(a) < std::get<bool>(b);
    case 2:
      return std::get<int32_t>(a) < std::get<int32_t>(b);
    case 4:
      return numbers(std::get<double>(a), std::get<double>(b));
    case 5:
      return LiteralSequenceBefore(std::get<std::string>(a), std::get<std::string>(b),
                                   unsigned_bytes);
    case 9:
      return LiteralSequenceBefore(std::get<std::vector<double>>(a),
                                   std::get<std::vector<double>>(b), numbers);
    case 10:
      return LiteralSequenceBefore(std::get<EncodableList>(a), std::get<EncodableList>(b),
                                   LiteralBefore);
    case 11:
      return LiteralSequenceBefore(
          std::get<EncodableMap>(a), std::get<EncodableMap>(b), [](const auto& p, const auto& q) {
            return LiteralBefore(p.first, q.first) ||
                   (!LiteralBefore(q.first, p.first) && LiteralBefore(p.second, q.second));
          });
    default:
      return false;  // only null among the remaining generated alternatives
  }
}

EncodableValue RandomValue(std::mt19937& random, int depth) {
  const double kDoubles[] = {0.0, -0.0, 1.0, std::numeric_limits<double>::quiet_NaN()};
  const char* kTexts[] = {"", "a", "ab", "\x80", "b"};
  int kind = std::uniform_int_distribution<int>(0, depth > 0 ? 7 : 5)(random);
  switch (kind) {
    case 0:
      return EncodableValue();
    case 1:
      return EncodableValue(random() % 2 == 0);
    case 2:
      return EncodableValue(static_cast<int32_t>(random() % 3));
    case 3:
      return EncodableValue(kDoubles[random() % 4]);
    case 4:
      return EncodableValue(kTexts[random() % 5]);
    case 5: {
      std::vector<double> list(random() % 3);
      for (double& d : list) d = kDoubles[random() % 4];
      return EncodableValue(list);
    }
    case 6: {
      EncodableList list;
      for (size_t n = random() % 3; n > 0; --n) list.push_back(RandomValue(random, depth - 1));
      return EncodableValue(list);
    }
    default: {
      EncodableMap map;
      for (size_t n = random() % 3; n > 0; --n) {
        map.emplace(RandomValue(random, 0), RandomValue(random, depth - 1));
      }
      return EncodableValue(map);
    }
  }
}

TEST(EncodableValueTest, ThreeWayComparisonAgreesWithTheLiteralOrdering) {
  std::mt19937 random(20261211);
  for (int i = 0; i < 20000; ++i) {
    EncodableValue a = RandomValue(random, 3);
    EncodableValue b = RandomValue(random, 3);
    int order = CompareEncodableValues(a, b);
    ASSERT_EQ(order < 0, LiteralBefore(a, b)) << "case " << i;
    ASSERT_EQ(order > 0, LiteralBefore(b, a)) << "case " << i;
  }
}

EncodableValue NestedList(int depth, int innermost) {
  EncodableValue value(innermost);
  for (int i = 0; i < depth; ++i) value = EncodableValue(EncodableList{value});
  return value;
}

TEST(EncodableValueTest, ComparingDeepEqualTreesTakesLinearTime) {
  // Asking "a before b?" and then "b before a?" at every level of two equal chains doubles the
  // work per level: 2^64 steps here. One three-way comparison per level makes it 64.
  EncodableValue a = NestedList(64, 1);
  EncodableValue b = NestedList(64, 1);
  EncodableValue c = NestedList(64, 2);
  EXPECT_EQ(CompareEncodableValues(a, b), 0);
  EXPECT_LT(CompareEncodableValues(a, c), 0);

  EncodableMap map;
  map.emplace(a, 1);
  EXPECT_FALSE(map.emplace(b, 2).second);
  EXPECT_TRUE(map.emplace(c, 3).second);
}

// Keys holding NaNs, alone or inside lists, stay findable: the order is one a map can keep.
TEST(EncodableValueTest, NaNKeysStayFindable) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const EncodableValue keys[] = {List({nan, 1}),      List({1.0, 3}),      List({1.0, 0}),
                                 List({3.0, 0}),      EncodableValue(nan), EncodableValue(2.0),
                                 EncodableValue(-nan)};
  EncodableMap map;
  for (const EncodableValue& key : keys) map.emplace(key, true);
  EXPECT_EQ(map.size(), 6u) << "the two NaN keys are one";
  for (const EncodableValue& key : keys) {
    SCOPED_TRACE(CompareEncodableValues(key, keys[0]));
    EXPECT_EQ(map.count(key), 1u);
  }
}

TEST(EncodableValueTest, EqualityIsAlternativeAndContent) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(EncodableValue(), EncodableValue());
  EXPECT_NE(EncodableValue(1), EncodableValue(int64_t{1}));
  EXPECT_NE(EncodableValue(1), EncodableValue(1.0));
  EXPECT_EQ(EncodableValue(0.0), EncodableValue(-0.0));
  EXPECT_NE(EncodableValue(nan), EncodableValue(nan));
  EXPECT_EQ(EncodableValue("a"), EncodableValue(std::string("a")));
  EXPECT_NE(EncodableValue("a"), EncodableValue(std::string("a\0", 2)));
  EXPECT_EQ(List({1, Map({{"k", List({2.5})}})}), List({1, Map({{"k", List({2.5})}})}));
  EXPECT_NE(List({1, Map({{"k", List({2.5})}})}), List({1, Map({{"k", List({2.0})}})}));
  EXPECT_NE(Map({{1, 2}}), Map({{1, 2}, {3, 4}}));
}

}  // namespace
}  // namespace flutter
