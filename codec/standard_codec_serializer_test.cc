#include "codec/standard_codec_serializer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "tests/hex.h"
#include "tests/point_serializer.h"
#include "tests/stderr_capture.h"

namespace flutter {
namespace {

using ::testing::ElementsAre;
using velmoran_testing::StderrLinesOf;

const std::string kInvalidRead(kInvalidReadDiagnostic);
const std::string kUnhandledCustom =
    "Unhandled custom type in StandardCodecSerializer::WriteValue. "
    "Custom types require codec extensions.";

using velmoran_testing::Hex;

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const StandardCodecSerializer& Serializer() { return StandardCodecSerializer::GetInstance(); }

// Writes value after `prefix` bytes already in the message; returns the whole message.
std::vector<uint8_t> Encode(const EncodableValue& value, size_t prefix = 0,
                            const StandardCodecSerializer& serializer = Serializer()) {
  std::vector<uint8_t> bytes(prefix, 0xAA);
  ByteBufferStreamWriter writer(&bytes);
  serializer.WriteValue(value, &writer);
  return bytes;
}

struct Decoded {
  EncodableValue value;
  uint64_t position;
};

// Reads one value starting `prefix` bytes into the message.
Decoded Decode(const std::vector<uint8_t>& bytes, size_t prefix = 0,
               const StandardCodecSerializer& serializer = Serializer()) {
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  for (size_t i = 0; i < prefix; ++i) reader.ReadByte();
  EncodableValue value = serializer.ReadValue(&reader);
  return {std::move(value), reader.position()};
}

// Adds nothing, yet is not the standard serializer itself: values then go through the virtual
// operations at every depth rather than the direct path to the buffer, and both must agree.
class PassThroughSerializer : public StandardCodecSerializer {};

// Both ways a value reaches the buffer.
std::vector<std::pair<const char*, const StandardCodecSerializer*>> BothPaths() {
  static const PassThroughSerializer pass_through;
  return {{"direct", &Serializer()}, {"through virtual operations", &pass_through}};
}

EncodableValue List(std::initializer_list<EncodableValue> elements) {
  return EncodableValue(EncodableList(elements));
}

// Values whose encoding is fixed byte for byte, both ways.
TEST(StandardCodecSerializerTest, WireFormatOfEveryAlternative) {
  const struct {
    const char* name;
    EncodableValue value;
    size_t prefix;
    const char* hex;  // the whole message, prefix included
  } kCases[] = {
      {"null", EncodableValue(), 0, "00"},
      {"true", EncodableValue(true), 0, "01"},
      {"false", EncodableValue(false), 0, "02"},
      {"int32 1", EncodableValue(1), 0, "03 01 00 00 00"},
      {"int32 min", EncodableValue(INT32_MIN), 0, "03 00 00 00 80"},
      {"int64 -1", EncodableValue(int64_t{-1}), 0, "04 FF FF FF FF FF FF FF FF"},
      {"int64 is never aligned", EncodableValue(int64_t{2}), 1, "AA 04 02 00 00 00 00 00 00 00"},
      {"double 1.0", EncodableValue(1.0), 0, "06 00 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F"},
      {"double after one byte", EncodableValue(1.0), 1,
       "AA 06 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F"},
      {"double at offset 7", EncodableValue(-2.0), 7,
       "AA AA AA AA AA AA AA 06 00 00 00 00 00 00 00 C0"},
      {"empty string", EncodableValue(""), 0, "07 00"},
      {"string", EncodableValue("abc"), 0, "07 03 61 62 63"},
      {"string with zero byte", EncodableValue(std::string("a\0b", 3)), 0, "07 03 61 00 62"},
      {"bytes", EncodableValue(std::vector<uint8_t>{1, 2, 3}), 0, "08 03 01 02 03"},
      {"bytes are never aligned", EncodableValue(std::vector<uint8_t>{9}), 3, "AA AA AA 08 01 09"},
      {"int32 list", EncodableValue(std::vector<int32_t>{1, 2}), 0,
       "09 02 00 00 01 00 00 00 02 00 00 00"},
      {"int64 list", EncodableValue(std::vector<int64_t>{-1}), 0,
       "0A 01 00 00 00 00 00 00 FF FF FF FF FF FF FF FF"},
      {"double list", EncodableValue(std::vector<double>{1.0}), 0,
       "0B 01 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F"},
      {"float list", EncodableValue(std::vector<float>{1.0f}), 0, "0E 01 00 00 00 00 80 3F"},
      {"float list already aligned", EncodableValue(std::vector<float>{1.0f}), 2,
       "AA AA 0E 01 00 00 80 3F"},
      {"empty int32 list pads", EncodableValue(std::vector<int32_t>{}), 1, "AA 09 00 00"},
      {"empty int64 list pads", EncodableValue(std::vector<int64_t>{}), 0,
       "0A 00 00 00 00 00 00 00"},
      {"empty double list pads", EncodableValue(std::vector<double>{}), 0,
       "0B 00 00 00 00 00 00 00"},
      {"empty float list pads", EncodableValue(std::vector<float>{}), 0, "0E 00 00 00"},
      {"empty list", EncodableValue(EncodableList{}), 0, "0C 00"},
      {"empty map", EncodableValue(EncodableMap{}), 0, "0D 00"},
      {"list of list", List({List({1})}), 0, "0C 01 0C 01 03 01 00 00 00"},
      {"double in a list aligns from the message start", List({1.0}), 0,
       "0C 01 06 00 00 00 00 00 00 00 00 00 00 00 F0 3F"},
      {"map in key order", EncodableValue(EncodableMap{{2, true}, {1, false}}), 0,
       "0D 02 03 01 00 00 00 02 03 02 00 00 00 01"},
      {"empty typed list followed by a value",
       List({EncodableValue(std::vector<int64_t>{}), EncodableValue(7)}), 0,
       "0C 02 0A 00 00 00 00 00 03 07 00 00 00"},
      {"mixed list",
       List({EncodableValue("k"), EncodableValue(std::vector<int32_t>{5}), EncodableValue(0.5)}), 0,
       "0C 03 07 01 6B 09 01 00 05 00 00 00 06 00 00 00 00 00 00 00 00 00 E0 3F"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> expected = Hex(c.hex);
    std::vector<std::string> lines;
    std::vector<uint8_t> encoded;
    for (const auto& [path, serializer] : BothPaths()) {
      SCOPED_TRACE(path);
      lines = StderrLinesOf([&] { encoded = Encode(c.value, c.prefix, *serializer); });
      EXPECT_EQ(encoded, expected);
      EXPECT_THAT(lines, ElementsAre());

      Decoded decoded;
      lines = StderrLinesOf([&] { decoded = Decode(expected, c.prefix, *serializer); });
      EXPECT_EQ(decoded.value, c.value);
      EXPECT_EQ(decoded.position, expected.size());
      EXPECT_THAT(lines, ElementsAre());
    }
  }
}

TEST(StandardCodecSerializerTest, StringSizeForms) {
  const struct {
    size_t length;
    const char* header;
  } kCases[] = {{253, "07 FD"},         {254, "07 FE FE 00"},         {258, "07 FE 02 01"},
                {65535, "07 FE FF FF"}, {65536, "07 FF 00 00 01 00"}, {70000, "07 FF 70 11 01 00"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.length);
    std::string text(c.length, 'x');
    text.back() = 'y';
    std::vector<uint8_t> expected =
        Concat(Hex(c.header), std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(Encode(EncodableValue(text)), expected);
    EXPECT_EQ(Decode(expected).value, EncodableValue(text));
  }
}

TEST(StandardCodecSerializerTest, SizeFormBoundaries) {
  const struct {
    uint64_t size;
    const char* hex;
  } kCases[] = {{0, "00"},
                {253, "FD"},
                {254, "FE FE 00"},
                {258, "FE 02 01"},
                {65535, "FE FF FF"},
                {65536, "FF 00 00 01 00"},
                {0xFFFFFFFFu, "FF FF FF FF FF"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.size);
    std::vector<uint8_t> bytes;
    ByteBufferStreamWriter writer(&bytes);
    Serializer().WriteSize(c.size, &writer);
    EXPECT_EQ(bytes, Hex(c.hex));
    ByteBufferStreamReader reader(bytes.data(), bytes.size());
    EXPECT_EQ(Serializer().ReadSize(&reader), c.size);
    EXPECT_EQ(reader.position(), bytes.size());
  }

  // Beyond 32 bits there is no form: nothing is written rather than a truncated size.
  std::vector<uint8_t> bytes;
  ByteBufferStreamWriter writer(&bytes);
  auto lines = StderrLinesOf([&] { Serializer().WriteSize(uint64_t{1} << 32, &writer); });
  EXPECT_TRUE(bytes.empty());
  EXPECT_THAT(lines,
              ElementsAre("Size out of range in StandardCodecSerializer::WriteSize: 4294967296"));
}

TEST(StandardCodecSerializerTest, TooLargeForTheSizeFormIsWrittenAsNull) {
  // 4 GiB and one byte: the smallest value the size form cannot carry.
  std::vector<uint8_t> huge(static_cast<size_t>(StandardCodecSerializer::kMaxSize) + 1);
  EncodableList list;
  list.emplace_back(std::move(huge));
  list.emplace_back(5);
  std::vector<uint8_t> encoded;
  auto lines = StderrLinesOf([&] { encoded = Encode(EncodableValue(std::move(list))); });
  EXPECT_EQ(encoded, Hex("0C 02 00 03 05 00 00 00"));
  EXPECT_THAT(lines,
              ElementsAre("Size out of range in StandardCodecSerializer::WriteSize: 4294967296"));
}

TEST(StandardCodecSerializerTest, CustomValuesAreWrittenAsNullWithADiagnostic) {
  EncodableValue value = List({EncodableValue(CustomEncodableValue(3.5)), EncodableValue(5)});
  std::vector<uint8_t> encoded;
  auto lines = StderrLinesOf([&] { encoded = Encode(value); });
  EXPECT_EQ(encoded, Hex("0C 02 00 03 05 00 00 00"));
  EXPECT_THAT(lines, ElementsAre(kUnhandledCustom));
  EXPECT_EQ(Decode(encoded).value, List({EncodableValue(), EncodableValue(5)}));
}

// What reading gives for messages the writer never produces.
TEST(StandardCodecSerializerTest, ReadingUnusualAndDamagedMessages) {
  const struct {
    const char* name;
    const char* hex;
    EncodableValue expected;
    uint64_t position;
    std::vector<std::string> lines;
  } kCases[] = {
      {"unknown type 15",
       "0F",
       EncodableValue(),
       1,
       {"Unknown type in StandardCodecSerializer::ReadValueOfType: 15"}},
      {"unknown type 255 consumes nothing more",
       "FF 03 01 00 00 00",
       EncodableValue(),
       1,
       {"Unknown type in StandardCodecSerializer::ReadValueOfType: 255"}},
      {"second string form", "05 03 31 32 33", EncodableValue("123"), 5, {}},
      {"longer size form than needed", "07 FE 03 00 61 62 63", EncodableValue("abc"), 7, {}},
      {"longest size form for a short string", "07 FF 01 00 00 00 7A", EncodableValue("z"), 7, {}},
      {"duplicate map key keeps the first",
       "0D 02 03 01 00 00 00 01 03 01 00 00 00 02",
       EncodableValue(EncodableMap{{1, true}}),
       14,
       {}},
      {"padding bytes are skipped whatever they hold",
       "06 11 22 33 44 55 66 77 00 00 00 00 00 00 F0 3F",
       EncodableValue(1.0),
       16,
       {}},
      {"empty list no bytes left", "0C 00", EncodableValue(EncodableList{}), 2, {}},
      {"empty float list without its padding",
       "0E 00",
       EncodableValue(std::vector<float>{}),
       4,
       {kInvalidRead}},
      {"int32 cut short reads 0", "03 01 02", EncodableValue(0), 1, {kInvalidRead}},
      {"int64 cut short reads 0", "04 01", EncodableValue(int64_t{0}), 1, {kInvalidRead}},
      {"double cut short reads 0.0",
       "06 00 00 00 00 00 00 00 F0 3F",
       EncodableValue(0.0),
       8,
       {kInvalidRead}},
      {"size cut short reads 0", "07 FE 01", EncodableValue(""), 2, {kInvalidRead}},
      {"string claims 256 bytes that are missing",
       "07 FE 00 01",
       EncodableValue(""),
       4,
       {kInvalidRead}},
      {"list claims 3 elements with none left",
       "0C 03",
       EncodableValue(EncodableList{}),
       2,
       {kInvalidRead}},
      {"list runs out after its first element",
       "0C 02 0C 01",
       List({EncodableValue(EncodableList{})}),
       4,
       {kInvalidRead, kInvalidRead}},
      {"map runs out after its first entry",
       "0D 02 01 02",
       EncodableValue(EncodableMap{{true, false}}),
       4,
       {kInvalidRead}},
      {"map value cut short",
       "0D 01 01 03 01 00",
       EncodableValue(EncodableMap{{true, 0}}),
       4,
       {kInvalidRead}},
      {"empty message", "", EncodableValue(), 0, {kInvalidRead}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    for (const auto& [path, serializer] : BothPaths()) {
      SCOPED_TRACE(path);
      Decoded decoded;
      auto lines = StderrLinesOf([&] { decoded = Decode(Hex(c.hex), 0, *serializer); });
      EXPECT_EQ(decoded.value, c.expected);
      EXPECT_EQ(decoded.position, c.position);
      EXPECT_EQ(lines, c.lines);
    }
  }
}

TEST(StandardCodecSerializerTest, EveryValueRoundTrips) {
  EncodableMap record{
      {"id", int64_t{1} << 40},
      {"name", "velmoran"},
      {"score", 0.25},
      {"tags", List({"a", "b"})},
      {"pixels", std::vector<uint8_t>(300, 7)},
      {"samples", std::vector<float>{1.5f, -2.5f, 3.0f}},
      {"ids", std::vector<int64_t>{1, -2, 3}},
      {"weights", std::vector<double>{0.5, -0.25}},
      {"offsets", std::vector<int32_t>{-1, 0, 1}},
      {EncodableValue(), false},
      {List({1, 2}), EncodableMap{{"nested", true}}},
  };
  EncodableValue value = List({record, record, "tail", std::vector<double>{}});
  for (size_t prefix = 0; prefix < 8; ++prefix) {
    SCOPED_TRACE("prefix " + std::to_string(prefix));
    std::vector<uint8_t> encoded = Encode(value, prefix);
    Decoded decoded = Decode(encoded, prefix);
    EXPECT_EQ(decoded.value, value);
    EXPECT_EQ(decoded.position, encoded.size());
  }
}

using velmoran_testing::Point;
using velmoran_testing::PointSerializer;

const Point* PointIn(const EncodableValue& value) {
  const auto* custom = value.GetIf<CustomEncodableValue>();
  return custom == nullptr ? nullptr : custom->TryGet<Point>();
}

TEST(StandardCodecSerializerTest, DerivedSerializerIsUsedAtEveryDepth) {
  PointSerializer serializer;
  EncodableValue value(EncodableMap{
      {"origin", CustomEncodableValue(Point{1, 2})},
      {"path", List({List({CustomEncodableValue(Point{3, 4})})})},
  });
  std::vector<uint8_t> encoded;
  auto lines = StderrLinesOf([&] { encoded = Encode(value, 0, serializer); });
  EXPECT_THAT(lines, ElementsAre());
  EXPECT_EQ(encoded, Hex("0D 02 07 06 6F 72 69 67 69 6E 80 03 01 00 00 00 03 02 00 00 00 "
                         "07 04 70 61 74 68 0C 01 0C 01 80 03 03 00 00 00 03 04 00 00 00"));

  Decoded decoded = Decode(encoded, 0, serializer);
  EXPECT_EQ(decoded.position, encoded.size());
  const auto& map = std::get<EncodableMap>(decoded.value);
  const Point* origin = PointIn(map.at(EncodableValue("origin")));
  ASSERT_NE(origin, nullptr);
  EXPECT_EQ(origin->x, 1);
  EXPECT_EQ(origin->y, 2);
  const auto& path = std::get<EncodableList>(map.at(EncodableValue("path")));
  const Point* inner = PointIn(std::get<EncodableList>(path.at(0)).at(0));
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->x, 3);
  EXPECT_EQ(inner->y, 4);

  // The default serializer does not know the type and says so.
  auto default_lines = StderrLinesOf([&] { Decode(encoded); });
  EXPECT_THAT(default_lines,
              testing::Contains("Unknown type in StandardCodecSerializer::ReadValueOfType: 128"));
}

// Records where the stack stands each time a type byte is read, by nesting depth.
class StackProbeReader : public ByteBufferStreamReader {
 public:
  using ByteBufferStreamReader::ByteBufferStreamReader;
  uint8_t ReadByte() override {
    volatile char marker = 0;
    if (stack_at_depth.size() <= nesting_depth()) stack_at_depth.resize(nesting_depth() + 1);
    stack_at_depth[nesting_depth()] = reinterpret_cast<uintptr_t>(&marker);
    return static_cast<uint8_t>(ByteBufferStreamReader::ReadByte() + marker);
  }
  std::vector<uintptr_t> stack_at_depth;
};

TEST(StandardCodecSerializerTest, NestingBoundFitsASmallPartOfAOneMebibyteStack) {
  std::vector<uint8_t> message;
  for (int i = 0; i < 64; ++i) message.insert(message.end(), {0x0C, 0x01});
  message.push_back(0x00);
  StackProbeReader reader(message.data(), message.size());
  Serializer().ReadValue(&reader);
  ASSERT_GE(reader.stack_at_depth.size(), 64u);
  // Stacks grow downwards on every supported platform.
  uintptr_t per_level = (reader.stack_at_depth[8] - reader.stack_at_depth[40]) / 32;
  std::cout << "stack per nesting level: " << per_level << " bytes\n";
#if defined(__SANITIZE_ADDRESS__)
  const uintptr_t kBudget = 1024 * 1024;  // sanitizers inflate frames on purpose
#else
  const uintptr_t kBudget = 256 * 1024;
#endif
  EXPECT_LT(per_level * StandardCodecSerializer::kMaxNestingDepth, kBudget);
}

TEST(StandardCodecSerializerTest, DefaultInstanceIsOneObject) {
  EXPECT_EQ(&StandardCodecSerializer::GetInstance(), &StandardCodecSerializer::GetInstance());
}

}  // namespace
}  // namespace flutter
