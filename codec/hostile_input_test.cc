// Hostile messages. Whatever bytes arrive from the other side of the engine, reading them must
// terminate quickly, never touch memory outside the message, allocate nothing a size field merely
// claims, nest no deeper than the serializer's bound, and report what it refused with a number of
// diagnostic lines proportional to the message, not to what the message pretends to hold.
//
// Every read below works on its own exactly-sized heap copy of the message, so that under
// AddressSanitizer a read one byte past the end is caught.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "codec/byte_streams.h"
#include "codec/encodable_value.h"
#include "codec/standard_codec_serializer.h"
#include "tests/byte_fixtures.h"
#include "tests/size_claims.h"
#include "tests/stderr_capture.h"

namespace flutter {
namespace {

using ::testing::ElementsAre;
using velmoran_testing::StderrLinesOf;

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kMaxDepth = StandardCodecSerializer::kMaxNestingDepth;

const std::string kInvalidRead(kInvalidReadDiagnostic);
const std::string kNestingTooDeep =
    "Nesting deeper than 128 in StandardCodecSerializer::ReadValueOfType";
const std::string kUnknownTypePrefix = "Unknown type in StandardCodecSerializer::ReadValueOfType: ";

const StandardCodecSerializer& Serializer() { return StandardCodecSerializer::GetInstance(); }

using velmoran_testing::Concat;

using velmoran_testing::Encode;

size_t AlignUp(size_t offset, size_t width) { return (offset + width - 1) / width * width; }

// The three ways a size can be written; the reader accepts each for any size it can carry.
enum class SizeForm { kOneByte, kTwoBytes, kFourBytes };

Bytes SizeBytes(SizeForm form, uint32_t size) {
  switch (form) {
    case SizeForm::kOneByte:
      return {static_cast<uint8_t>(size)};
    case SizeForm::kTwoBytes:
      return {0xFE, static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8)};
    case SizeForm::kFourBytes:
      break;
  }
  return {0xFF, static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
          static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)};
}

const char* FormName(SizeForm form) {
  switch (form) {
    case SizeForm::kOneByte:
      return "one byte";
    case SizeForm::kTwoBytes:
      return "FE form";
    case SizeForm::kFourBytes:
      break;
  }
  return "FF form";
}

struct ReadResult {
  EncodableValue value;
  std::vector<std::string> lines;
  uint64_t position = 0;
  uint32_t nesting_depth = 0;
};

// Reads one value from an exactly-sized heap copy of `size` bytes.
ReadResult Read(const uint8_t* bytes, size_t size) {
  std::unique_ptr<uint8_t[]> own(new uint8_t[size]);
  if (size > 0) std::memcpy(own.get(), bytes, size);
  ByteBufferStreamReader reader(own.get(), size);
  ReadResult result;
  result.lines = StderrLinesOf([&] { result.value = Serializer().ReadValue(&reader); });
  result.position = reader.position();
  result.nesting_depth = reader.nesting_depth();
  return result;
}

ReadResult Read(const Bytes& message) { return Read(message.data(), message.size()); }

// Number of elements (entries, bytes) of the alternatives that have one; a value no size can
// match for the others.
size_t ElementCount(const EncodableValue& value) {
  switch (value.index()) {
    case 5:
      return std::get<std::string>(value).size();
    case 6:
      return std::get<std::vector<uint8_t>>(value).size();
    case 7:
      return std::get<std::vector<int32_t>>(value).size();
    case 8:
      return std::get<std::vector<int64_t>>(value).size();
    case 9:
      return std::get<std::vector<double>>(value).size();
    case 10:
      return std::get<EncodableList>(value).size();
    case 11:
      return std::get<EncodableMap>(value).size();
    case 13:
      return std::get<std::vector<float>>(value).size();
  }
  return static_cast<size_t>(-1);
}

template <typename T>
Bytes RawBytes(const std::vector<T>& list) {
  Bytes bytes(list.size() * sizeof(T));
  if (!bytes.empty()) std::memcpy(bytes.data(), list.data(), bytes.size());
  return bytes;
}

// The content of a string, byte list or numeric list as the bytes it was read from.
Bytes ContentBytes(const EncodableValue& value) {
  switch (value.index()) {
    case 5: {
      const std::string& text = std::get<std::string>(value);
      return Bytes(text.begin(), text.end());
    }
    case 6:
      return std::get<std::vector<uint8_t>>(value);
    case 7:
      return RawBytes(std::get<std::vector<int32_t>>(value));
    case 8:
      return RawBytes(std::get<std::vector<int64_t>>(value));
    case 9:
      return RawBytes(std::get<std::vector<double>>(value));
    case 13:
      return RawBytes(std::get<std::vector<float>>(value));
  }
  ADD_FAILURE() << "no byte content in alternative " << value.index();
  return {};
}

// How many containers deep the tree goes (0 for a scalar), without recursing.
size_t MaxContainerDepth(const EncodableValue& root) {
  std::vector<std::pair<const EncodableValue*, size_t>> pending = {{&root, 0}};
  size_t deepest = 0;
  while (!pending.empty()) {
    auto [value, depth] = pending.back();
    pending.pop_back();
    if (const auto* list = value->GetIf<EncodableList>()) {
      deepest = std::max(deepest, depth + 1);
      for (const EncodableValue& element : *list) pending.push_back({&element, depth + 1});
    } else if (const auto* map = value->GetIf<EncodableMap>()) {
      deepest = std::max(deepest, depth + 1);
      for (const auto& entry : *map) {
        pending.push_back({&entry.first, depth + 1});
        pending.push_back({&entry.second, depth + 1});
      }
    }
  }
  return deepest;
}

bool IsReadDiagnostic(const std::string& line) {
  if (line == kInvalidRead || line == kNestingTooDeep) return true;
  if (line.compare(0, kUnknownTypePrefix.size(), kUnknownTypePrefix) != 0) return false;
  const std::string number = line.substr(kUnknownTypePrefix.size());
  for (int type = 15; type <= 255; ++type) {
    if (number == std::to_string(type)) return true;
  }
  return false;
}

// What must hold after reading any message of `size` bytes, however malformed: the reader is back
// at nesting depth 0, the result nests no deeper than the bound, the diagnostics are the reader's
// own and few, and the position is at most one alignment skip (< 8 bytes) beyond the end.
void ExpectContained(const ReadResult& result, size_t size) {
  EXPECT_EQ(result.nesting_depth, 0u);
  EXPECT_LE(MaxContainerDepth(result.value), kMaxDepth);
  EXPECT_LE(result.position, size + 7);
  EXPECT_LE(result.lines.size(), size + 2);
  size_t foreign = 0;
  for (const std::string& line : result.lines) {
    if (!IsReadDiagnostic(line)) ++foreign;
  }
  EXPECT_EQ(foreign, 0u) << "first line: " << result.lines.front();
}

// The type bytes that announce a size, with what they read as.
struct SizedType {
  uint8_t type;
  const char* name;
  size_t index;  // alternative read
  size_t width;  // bytes per element
  bool aligned;  // elements aligned to their width
};

const SizedType kSizedTypes[] = {
    {5, "string, second form", 5, 1, false},
    {7, "string", 5, 1, false},
    {8, "byte list", 6, 1, false},
    {9, "int32 list", 7, 4, true},
    {10, "int64 list", 8, 8, true},
    {11, "double list", 9, 8, true},
    {12, "list", 10, 1, false},
    {13, "map", 11, 1, false},
    {14, "float list", 13, 4, true},
};

TEST(HostileInput, HugeSizeClaimsAreRefusedBeforeTheBody) {
  // What follows the size: nothing, or bytes that would each read as a value (true).
  const size_t trailing_lengths[] = {0, 5, 24};

  for (const SizedType& sized : kSizedTypes) {
    for (const velmoran_testing::SizeClaim& claim : velmoran_testing::HugeSizeClaims()) {
      for (size_t trailing : trailing_lengths) {
        SCOPED_TRACE(std::string(sized.name) + ", claim " + claim.name + ", " +
                     std::to_string(trailing) + " bytes after the size");
        const Bytes message = Concat({{sized.type}, claim.size, Bytes(trailing, 0x01)});
        const ReadResult result = Read(message);

        EXPECT_EQ(result.value.index(), sized.index);
        EXPECT_EQ(ElementCount(result.value), 0u);
        EXPECT_THAT(result.lines, ElementsAre(kInvalidRead));
        const size_t after_size = 1 + claim.size.size();
        EXPECT_EQ(result.position, sized.aligned ? AlignUp(after_size, sized.width) : after_size);
        ExpectContained(result, message.size());
      }
    }
  }
}

// Element i of a body: bytes below 0x40, so no float or double made of them is a NaN (which could
// lose its bits when copied), and for lists 01 and 02 alternately, which read as true and false.
uint8_t BodyByte(const SizedType& sized, size_t i) {
  if (sized.type == 12) return i % 2 == 0 ? 0x01 : 0x02;
  return static_cast<uint8_t>((i * 7 + 3) % 64);
}

// A claim that exactly fits is read in full, whatever its form; one element more, or one byte
// less of the body, is refused as a whole.
TEST(HostileInput, ClaimThatExactlyFitsIsReadAndOneMoreIsRefused) {
  struct Row {
    SizeForm form;
    uint32_t count;
  };
  const Row rows[] = {
      {SizeForm::kOneByte, 0},       {SizeForm::kOneByte, 3},    {SizeForm::kOneByte, 252},
      {SizeForm::kTwoBytes, 3},      {SizeForm::kTwoBytes, 300}, {SizeForm::kFourBytes, 3},
      {SizeForm::kFourBytes, 70000},
  };

  for (const SizedType& sized : kSizedTypes) {
    if (sized.type == 13) continue;  // maps: MapClaimBoundaries
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(sized.name) + ", " + FormName(row.form) + ", count " +
                   std::to_string(row.count));
      Bytes body(row.count * sized.width);
      for (size_t i = 0; i < body.size(); ++i) body[i] = BodyByte(sized, i);
      const Bytes header = Concat({{sized.type}, SizeBytes(row.form, row.count)});
      const size_t body_start = sized.aligned ? AlignUp(header.size(), sized.width) : header.size();
      const Bytes padding(body_start - header.size(), 0);

      {
        SCOPED_TRACE("exact fit");
        const Bytes message = Concat({header, padding, body});
        const ReadResult result = Read(message);
        EXPECT_TRUE(result.lines.empty()) << result.lines.front();
        EXPECT_EQ(result.position, message.size());
        EXPECT_EQ(result.value.index(), sized.index);
        EXPECT_EQ(ElementCount(result.value), row.count);
        if (result.value.index() != sized.index || ElementCount(result.value) != row.count) {
          // Nothing more to compare.
        } else if (sized.type == 12) {
          const auto& list = std::get<EncodableList>(result.value);
          size_t mismatches = 0;
          for (size_t i = 0; i < list.size(); ++i) {
            if (!(list[i] == EncodableValue(i % 2 == 0))) ++mismatches;
          }
          EXPECT_EQ(mismatches, 0u);
        } else {
          EXPECT_TRUE(ContentBytes(result.value) == body);
        }
        ExpectContained(result, message.size());
      }

      const Bytes one_more = Concat({{sized.type}, SizeBytes(row.form, row.count + 1)});
      std::vector<std::pair<const char*, Bytes>> refused = {
          {"one element more", Concat({one_more, padding, body})}};
      if (!body.empty()) {
        Bytes one_byte_short = Concat({header, padding, body});
        one_byte_short.pop_back();
        refused.push_back({"one byte short", std::move(one_byte_short)});
      }
      for (const auto& [name, message] : refused) {
        SCOPED_TRACE(name);
        const ReadResult result = Read(message);
        EXPECT_THAT(result.lines, ElementsAre(kInvalidRead));
        EXPECT_EQ(result.position, body_start);
        EXPECT_EQ(result.value.index(), sized.index);
        EXPECT_EQ(ElementCount(result.value), 0u);
        ExpectContained(result, message.size());
      }
    }
  }
}

// A map announces entries; every entry takes at least two bytes, but only a count beyond the
// bytes left is refused outright. A count that the bytes cannot satisfy but do not rule out reads
// the entries there are and stops with one line.
TEST(HostileInput, MapClaimBoundaries) {
  struct Row {
    SizeForm form;
    uint32_t entries;
  };
  const Row rows[] = {{SizeForm::kOneByte, 3},
                      {SizeForm::kTwoBytes, 3},
                      {SizeForm::kTwoBytes, 300},
                      {SizeForm::kFourBytes, 3}};

  for (const Row& row : rows) {
    EncodableMap map;
    Bytes body;
    ByteBufferStreamWriter body_writer(&body);
    for (uint32_t i = 0; i < row.entries; ++i) {
      const EncodableValue key(static_cast<int32_t>(i));
      const EncodableValue mapped(i % 2 == 0);
      Serializer().WriteValue(key, &body_writer);
      Serializer().WriteValue(mapped, &body_writer);
      map.emplace(key, mapped);
    }
    const uint32_t body_size = static_cast<uint32_t>(body.size());

    struct Claim {
      const char* name;
      uint32_t count;
      bool refused;
      bool runs_out;
    };
    const Claim claims[] = {
        {"exact", row.entries, false, false},
        {"one entry more", row.entries + 1, false, true},
        {"as many entries as bytes", body_size, false, true},
        {"one more than bytes", body_size + 1, true, false},
        {"2^32 - 1", 0xFFFFFFFFu, true, false},
    };
    for (const Claim& claim : claims) {
      if (row.form == SizeForm::kOneByte && claim.count > 253) continue;
      if (row.form == SizeForm::kTwoBytes && claim.count > 0xFFFF) continue;
      SCOPED_TRACE(std::string(FormName(row.form)) + ", " + std::to_string(row.entries) +
                   " entries, claim " + claim.name);
      const Bytes size = SizeBytes(row.form, claim.count);
      const Bytes message = Concat({{13}, size, body});
      const ReadResult result = Read(message);

      const auto* read = result.value.GetIf<EncodableMap>();
      if (read == nullptr) {
        ADD_FAILURE() << "read alternative " << result.value.index() << ", not a map";
        continue;
      }
      if (claim.refused) {
        EXPECT_THAT(result.lines, ElementsAre(kInvalidRead));
        EXPECT_TRUE(read->empty());
        EXPECT_EQ(result.position, 1 + size.size());
      } else {
        if (claim.runs_out) {
          EXPECT_THAT(result.lines, ElementsAre(kInvalidRead));
        } else {
          EXPECT_TRUE(result.lines.empty());
        }
        EXPECT_TRUE(*read == map);
        EXPECT_EQ(result.position, message.size());
      }
      ExpectContained(result, message.size());
    }
  }
}

// A container whose bytes run out keeps what it read and reports once, not once per element it
// was still owed; enclosing containers likewise add one line each.
TEST(HostileInput, ContainersThatRunOutStopWithOneLine) {
  const EncodableValue kTrue(true);
  const EncodableValue kFalse(false);
  struct Row {
    const char* name;
    Bytes message;
    EncodableValue expected;
    size_t lines;
  };
  std::vector<Row> rows = {
      {"list of 3 holding 2",
       {0x0C, 0x03, 0x0C, 0x01, 0x01, 0x02},
       EncodableList{EncodableList{kTrue}, kFalse},
       1},
      {"map value missing",
       {0x0D, 0x02, 0x01, 0x02, 0x00},
       EncodableMap{{kTrue, kFalse}, {EncodableValue(), EncodableValue()}},
       1},
      {"map value missing, then entries",
       {0x0D, 0x03, 0x01, 0x02, 0x02},
       EncodableMap{{kTrue, kFalse}, {kFalse, EncodableValue()}},
       2},
      // The inner claim of 2 does not fit in the 1 byte left: refused without reading it, so
      // the outer list reads that byte as its own second element.
      {"refused inner list",
       {0x0C, 0x02, 0x0C, 0x02, 0x01},
       EncodableList{EncodableList{}, kTrue},
       1},
      {"refused innermost, outer runs out",
       {0x0C, 0x02, 0x0C, 0x01, 0x0C, 0x01},
       EncodableList{EncodableValue(EncodableList{EncodableValue(EncodableList{})})},
       2},
  };
  // 50 lists of 2, nested in their first element, and nothing else: the innermost claim is
  // refused, and each enclosing list finds no byte for its second element.
  {
    Row nested{"50 lists of 2 nested", {}, EncodableList{}, 50};
    for (int i = 0; i < 50; ++i) {
      nested.message.push_back(0x0C);
      nested.message.push_back(0x02);
    }
    for (int i = 1; i < 50; ++i) nested.expected = EncodableList{nested.expected};
    rows.push_back(std::move(nested));
  }

  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ReadResult result = Read(row.message);
    EXPECT_TRUE(result.value == row.expected);
    EXPECT_EQ(result.lines.size(), row.lines);
    EXPECT_THAT(result.lines, ::testing::Each(kInvalidRead));
    EXPECT_EQ(result.position, row.message.size());
    ExpectContained(result, row.message.size());
  }
}

// Chains of single-element containers, each holding the next as its only element (lists) or as
// the mapped value of a null key (maps), the innermost holding null.
enum class Chain { kLists, kMaps, kAlternating };

bool IsListLevel(Chain chain, size_t level) {
  return chain == Chain::kLists || (chain == Chain::kAlternating && level % 2 == 0);
}

Bytes ChainHeader(Chain chain, size_t level) {
  return IsListLevel(chain, level) ? Bytes{0x0C, 0x01} : Bytes{0x0D, 0x01, 0x00};
}

Bytes ChainMessage(Chain chain, size_t levels) {
  Bytes message;
  for (size_t level = 0; level < levels; ++level) {
    const Bytes header = ChainHeader(chain, level);
    message.insert(message.end(), header.begin(), header.end());
  }
  message.push_back(0x00);
  return message;
}

// Walks a chain read back: `levels` containers of the right kinds, each with one element, the
// innermost holding null.
void ExpectChain(const EncodableValue& root, Chain chain, size_t levels) {
  const EncodableValue* current = &root;
  for (size_t level = 0; level < levels; ++level) {
    SCOPED_TRACE("level " + std::to_string(level));
    if (IsListLevel(chain, level)) {
      const auto* list = current->GetIf<EncodableList>();
      ASSERT_NE(list, nullptr);
      ASSERT_EQ(list->size(), 1u);
      current = &list->front();
    } else {
      const auto* map = current->GetIf<EncodableMap>();
      ASSERT_NE(map, nullptr);
      ASSERT_EQ(map->size(), 1u);
      EXPECT_TRUE(map->begin()->first.IsNull());
      current = &map->begin()->second;
    }
  }
  EXPECT_TRUE(current->IsNull());
}

TEST(HostileInput, NestingStopsAtTheBound) {
  struct Row {
    const char* name;
    Chain chain;
    size_t levels;
  };
  const Row rows[] = {
      {"lists", Chain::kLists, 1},
      {"lists", Chain::kLists, kMaxDepth - 1},
      {"lists", Chain::kLists, kMaxDepth},
      {"lists", Chain::kLists, kMaxDepth + 1},
      {"lists", Chain::kLists, 100 * kMaxDepth},
      {"maps", Chain::kMaps, kMaxDepth},
      {"maps", Chain::kMaps, kMaxDepth + 1},
      {"maps", Chain::kMaps, 100 * kMaxDepth},
      {"alternating", Chain::kAlternating, kMaxDepth},
      {"alternating", Chain::kAlternating, kMaxDepth + 1},
      {"alternating", Chain::kAlternating, 100 * kMaxDepth},
  };

  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name) + ", " + std::to_string(row.levels) + " levels");
    const Bytes message = ChainMessage(row.chain, row.levels);
    ReadResult result = Read(message);

    if (row.levels <= kMaxDepth) {
      EXPECT_TRUE(result.lines.empty()) << result.lines.front();
      EXPECT_EQ(result.position, message.size());
      ExpectChain(result.value, row.chain, row.levels);
    } else {
      // The container one level too deep reads as null right after its type byte.
      EXPECT_THAT(result.lines, ElementsAre(kNestingTooDeep));
      size_t expected_position = 1;
      for (size_t level = 0; level < kMaxDepth; ++level) {
        expected_position += ChainHeader(row.chain, level).size();
      }
      EXPECT_EQ(result.position, expected_position);
      ExpectChain(result.value, row.chain, kMaxDepth);
    }
    EXPECT_EQ(result.nesting_depth, 0u);
    EXPECT_EQ(MaxContainerDepth(result.value), std::min<size_t>(row.levels, kMaxDepth));
    result.value = EncodableValue();  // tearing the tree down must not recurse out of stack
  }
}

// Maps nested in the key position: a refused map leaves its size and the rest to be read as the
// values of the enclosing maps, which may open maps again. However the bytes fall, the result
// stays within the bound and every refusal is one line.
TEST(HostileInput, NestingThroughMapKeysStaysBounded) {
  const size_t depths[] = {kMaxDepth, kMaxDepth + 1, 100 * kMaxDepth};
  for (size_t levels : depths) {
    SCOPED_TRACE(std::to_string(levels) + " levels");
    // M(0) = 00; M(k) = 0D 01 M(k-1) 00: each map's only key is the next map, mapped to null.
    Bytes message;
    for (size_t i = 0; i < levels; ++i) {
      message.push_back(0x0D);
      message.push_back(0x01);
    }
    message.insert(message.end(), levels + 1, 0x00);
    const ReadResult result = Read(message);

    if (levels <= kMaxDepth) {
      EXPECT_TRUE(result.lines.empty());
      EXPECT_EQ(result.position, message.size());
      EXPECT_EQ(MaxContainerDepth(result.value), levels);
    } else {
      EXPECT_THAT(result.lines, ::testing::Each(kNestingTooDeep));
      EXPECT_GE(result.lines.size(), 1u);
      EXPECT_EQ(MaxContainerDepth(result.value), kMaxDepth);
    }
    ExpectContained(result, message.size());
  }
}

// Trees of one element per level with an integer innermost: nested in lists, in map keys (the
// nested value is the only key, mapped to null), in map values (the only value, of the null key),
// or alternately in lists and map keys.
enum class Wrap { kList, kMapKey, kMapValue, kAlternating };

EncodableValue Wrapped(Wrap wrap, size_t levels, int32_t innermost) {
  EncodableValue value(innermost);
  for (size_t i = 0; i < levels; ++i) {
    if (wrap == Wrap::kList || (wrap == Wrap::kAlternating && i % 2 == 0)) {
      EncodableList list;
      list.push_back(std::move(value));
      value = EncodableValue(std::move(list));
    } else {
      EncodableMap map;
      if (wrap == Wrap::kMapValue) {
        map.emplace(EncodableValue(), std::move(value));
      } else {
        map.emplace(std::move(value), EncodableValue());
      }
      value = EncodableValue(std::move(map));
    }
  }
  return value;
}

// The integer at the bottom of a tree made by Wrapped.
int32_t Innermost(const EncodableValue& root) {
  const EncodableValue* current = &root;
  while (true) {
    if (const auto* list = current->GetIf<EncodableList>()) {
      if (list->size() != 1) break;
      current = &list->front();
    } else if (const auto* map = current->GetIf<EncodableMap>()) {
      if (map->size() != 1) break;
      const auto& entry = *map->begin();
      current = entry.first.IsNull() ? &entry.second : &entry.first;
    } else if (const auto* number = current->GetIf<int32_t>()) {
      return *number;
    } else {
      break;
    }
  }
  ADD_FAILURE() << "not a tree of one element per level";
  return -1;
}

// Keys that are equal, or differ only at the bottom, 64 levels down. Comparing them must cost
// time linear in their size: a comparison that asks "a before b?" and then "b before a?" at every
// level would take 2^64 steps and never finish.
TEST(HostileInput, EqualDeeplyNestedKeysCompareInLinearTime) {
  constexpr size_t kLevels = 64;
  struct Row {
    const char* name;
    Wrap wrap;
    std::vector<int32_t> innermost;  // of each key, in message order
  };
  const Row rows[] = {
      {"lists, two equal", Wrap::kList, {1, 1}},
      {"map keys, three equal", Wrap::kMapKey, {1, 1, 1}},
      {"map values, two equal", Wrap::kMapValue, {1, 1}},
      {"alternating, two equal", Wrap::kAlternating, {1, 1}},
      {"lists, differing at the bottom", Wrap::kList, {1, 2}},
      {"map keys, differing, descending", Wrap::kMapKey, {2, 1}},
      {"map values, two pairs", Wrap::kMapValue, {1, 2, 1, 2}},
      {"alternating, mixed", Wrap::kAlternating, {3, 1, 3, 2, 1}},
  };

  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes message;
    ByteBufferStreamWriter writer(&message);
    writer.WriteByte(13);
    Serializer().WriteSize(row.innermost.size(), &writer);
    for (size_t i = 0; i < row.innermost.size(); ++i) {
      Serializer().WriteValue(Wrapped(row.wrap, kLevels, row.innermost[i]), &writer);
      Serializer().WriteValue(EncodableValue(static_cast<int32_t>(i)), &writer);
    }

    // Each distinct key once, mapped to the index of its first occurrence.
    std::vector<std::pair<int32_t, int32_t>> expected;  // innermost, first index
    for (size_t i = 0; i < row.innermost.size(); ++i) {
      bool seen = false;
      for (const auto& entry : expected) seen = seen || entry.first == row.innermost[i];
      if (!seen) expected.push_back({row.innermost[i], static_cast<int32_t>(i)});
    }
    std::sort(expected.begin(), expected.end());

    const ReadResult result = Read(message);
    EXPECT_TRUE(result.lines.empty()) << result.lines.front();
    EXPECT_EQ(result.position, message.size());
    const auto* map = result.value.GetIf<EncodableMap>();
    if (map == nullptr) {
      ADD_FAILURE() << "read alternative " << result.value.index() << ", not a map";
      continue;
    }
    EXPECT_EQ(map->size(), expected.size());
    size_t i = 0;
    for (const auto& [key, mapped] : *map) {
      if (i == expected.size()) break;
      SCOPED_TRACE("entry " + std::to_string(i));
      EXPECT_EQ(Innermost(key), expected[i].first);
      EXPECT_TRUE(mapped == EncodableValue(expected[i].second));
      EXPECT_EQ(MaxContainerDepth(key), kLevels);
      ++i;
    }
    ExpectContained(result, message.size());

    EXPECT_EQ(CompareEncodableValues(Wrapped(row.wrap, kLevels, 1), Wrapped(row.wrap, kLevels, 1)),
              0);
    EXPECT_LT(CompareEncodableValues(Wrapped(row.wrap, kLevels, 1), Wrapped(row.wrap, kLevels, 2)),
              0);
    EXPECT_GT(CompareEncodableValues(Wrapped(row.wrap, kLevels, 2), Wrapped(row.wrap, kLevels, 1)),
              0);
  }
}

// Valid messages to cut and corrupt, each mixing alternatives so that every kind of payload, size
// form and alignment lies somewhere in it.
std::vector<std::pair<const char*, EncodableValue>> ValidTrees() {
  std::vector<std::pair<const char*, EncodableValue>> trees;

  {
    EncodableList inner_list{EncodableValue(), EncodableValue(true), EncodableValue(2.5),
                             EncodableValue(std::vector<int64_t>{1, -2})};
    EncodableMap inner_map;
    inner_map.emplace(EncodableValue("list"), EncodableValue(std::move(inner_list)));
    inner_map.emplace(EncodableValue(int32_t{7}),
                      EncodableValue(std::vector<float>{1.5f, -0.25f, 3.0f}));
    EncodableMap root;
    root.emplace(EncodableValue(), EncodableValue(false));
    root.emplace(EncodableValue(true), EncodableValue(int32_t{-1}));
    root.emplace(EncodableValue(int32_t{1}), EncodableValue(int64_t{1} << 40));
    root.emplace(EncodableValue(int64_t{2}), EncodableValue(-3.75));
    root.emplace(EncodableValue(0.5), EncodableValue(std::string(300, 'x')));
    root.emplace(EncodableValue("bytes"), EncodableValue(std::vector<uint8_t>{0, 1, 254, 255}));
    root.emplace(EncodableValue("ints"), EncodableValue(std::vector<int32_t>{1, -1, 1 << 30}));
    root.emplace(EncodableValue("doubles"), EncodableValue(std::vector<double>{0.25, -8.0}));
    root.emplace(EncodableValue("nested"),
                 EncodableValue(EncodableList{EncodableValue(std::move(inner_map)),
                                              EncodableValue(EncodableList{})}));
    root.emplace(EncodableValue(std::vector<uint8_t>{9}), EncodableValue(EncodableMap{}));
    trees.push_back({"map of every alternative", EncodableValue(std::move(root))});
  }

  trees.push_back(
      {"list with doubles at odd offsets",
       EncodableValue(EncodableList{
           EncodableValue(int32_t{5}), EncodableValue(1.0), EncodableValue(std::string(3, 'a')),
           EncodableValue(-2.0), EncodableValue(std::vector<double>{1.0, 2.0, 3.0}),
           EncodableValue(std::vector<uint8_t>(254, 0x0C)), EncodableValue(std::string(260, 'z')),
           EncodableValue(
               EncodableMap{{EncodableValue("k"), EncodableValue(std::vector<float>{0.5f})}})})});

  trees.push_back({"empty typed lists between values",
                   EncodableValue(EncodableList{
                       EncodableValue(std::vector<int32_t>{}), EncodableValue(true),
                       EncodableValue(std::vector<int64_t>{}), EncodableValue(false),
                       EncodableValue(std::vector<double>{}), EncodableValue(int32_t{3}),
                       EncodableValue(std::vector<float>{}), EncodableValue(std::vector<uint8_t>{}),
                       EncodableValue(std::string()), EncodableValue(std::vector<int64_t>{4})})});

  {
    EncodableValue value(EncodableList{EncodableValue(6.25), EncodableValue(int64_t{-9}),
                                       EncodableValue(std::vector<int32_t>{8, 9})});
    for (int level = 0; level < 12; ++level) {
      if (level % 2 == 0) {
        value = EncodableValue(EncodableList{EncodableValue(level), std::move(value)});
      } else {
        EncodableMap map;
        map.emplace(EncodableValue(std::string(static_cast<size_t>(level), 'k')), std::move(value));
        map.emplace(EncodableValue(static_cast<double>(level)), EncodableValue(true));
        value = EncodableValue(std::move(map));
      }
    }
    trees.push_back({"twelve levels, lists and maps", std::move(value)});
  }
  return trees;
}

TEST(HostileInput, ValidMessagesReadBackWhole) {
  for (const auto& [name, tree] : ValidTrees()) {
    SCOPED_TRACE(name);
    const Bytes message = Encode(tree);
    const ReadResult result = Read(message);
    EXPECT_TRUE(result.lines.empty()) << result.lines.front();
    EXPECT_EQ(result.position, message.size());
    EXPECT_TRUE(result.value == tree);
    EXPECT_EQ(result.nesting_depth, 0u);
  }
}

// Every prefix of a valid message is a message whose bytes run out somewhere: reading it must
// report that at least once and stay within bounds. A failed read leaves the position where it
// was, so the enclosing container may go on to read payload bytes as type bytes; the unknown
// types that this turns up are reported like any other.
TEST(HostileInput, TruncationAtEveryByte) {
  for (const auto& [name, tree] : ValidTrees()) {
    const Bytes message = Encode(tree);
    for (size_t length = 0; length < message.size(); ++length) {
      SCOPED_TRACE(std::string(name) + ", cut to " + std::to_string(length) + " of " +
                   std::to_string(message.size()) + " bytes");
      const ReadResult result = Read(message.data(), length);
      EXPECT_THAT(result.lines, ::testing::Contains(kInvalidRead));
      ExpectContained(result, length);
    }
  }
}

TEST(HostileInput, UnknownTypeBytesReadAsNullAndConsumeOnlyThemselves) {
  struct Context {
    const char* name;
    Bytes before;  // the unknown type byte follows
    Bytes after;
    size_t position;  // where reading ends
    EncodableValue expected;
  };
  const Context contexts[] = {
      {"alone, followed by a list", {}, {0x0C, 0x00}, 1, EncodableValue()},
      {"list element",
       {0x0C, 0x02},
       {0x01},
       4,
       EncodableList{EncodableValue(), EncodableValue(true)}},
      {"map key", {0x0D, 0x01}, {0x02}, 4, EncodableMap{{EncodableValue(), EncodableValue(false)}}},
      {"map value",
       {0x0D, 0x01, 0x01},
       {},
       4,
       EncodableMap{{EncodableValue(true), EncodableValue()}}},
  };
  for (const Context& context : contexts) {
    for (int type = 15; type <= 255; ++type) {
      SCOPED_TRACE(std::string(context.name) + ", type " + std::to_string(type));
      const Bytes message = Concat({context.before, {static_cast<uint8_t>(type)}, context.after});
      const ReadResult result = Read(message);
      EXPECT_THAT(result.lines, ElementsAre(kUnknownTypePrefix + std::to_string(type)));
      EXPECT_TRUE(result.value == context.expected);
      EXPECT_EQ(result.position, context.position);
      EXPECT_EQ(result.nesting_depth, 0u);
    }
  }
}

// Any byte of a valid message replaced by a type byte outside the format: a type byte becomes an
// unknown one, a size or payload byte takes a new meaning. None of it may escape the bounds.
TEST(HostileInput, UnknownTypeByteAtEveryPosition) {
  const uint8_t replacements[] = {0x0F, 0xFF};
  for (const auto& [name, tree] : ValidTrees()) {
    const Bytes message = Encode(tree);
    for (uint8_t replacement : replacements) {
      for (size_t at = 0; at < message.size(); ++at) {
        SCOPED_TRACE(std::string(name) + ", byte " + std::to_string(at) + " of " +
                     std::to_string(message.size()) + " set to " + std::to_string(replacement));
        Bytes corrupt = message;
        corrupt[at] = replacement;
        const ReadResult result = Read(corrupt);
        ExpectContained(result, corrupt.size());
        if (at == 0) {
          EXPECT_THAT(result.lines, ElementsAre(kUnknownTypePrefix + std::to_string(replacement)));
          EXPECT_TRUE(result.value.IsNull());
          EXPECT_EQ(result.position, 1u);
        }
      }
    }
  }
}

}  // namespace
}  // namespace flutter
