// velmoran-host, run in-process: the JSON and hex it reads, the text it prints, the annotated
// decoder, and calls into the plugin library this build makes.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "codec/byte_streams.h"
#include "codec/encodable_value.h"
#include "codec/standard_codec_serializer.h"
#include "host/cli/hex.h"
#include "host/cli/host_command.h"
#include "host/cli/message_annotation.h"
#include "host/cli/value_text.h"
#include "method/standard_method_codec.h"
#include "tests/stderr_capture.h"

#if !defined(_WIN32)
#include "winver/winver_emulation.h"
#endif

namespace velmoran_host::cli {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

const std::string kInvalidRead(flutter::kInvalidReadDiagnostic);

std::vector<uint8_t> Encode(const EncodableValue& value) {
  std::vector<uint8_t> bytes;
  flutter::ByteBufferStreamWriter writer(&bytes);
  flutter::StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  return bytes;
}

EncodableValue Decode(const std::vector<uint8_t>& bytes) {
  flutter::ByteBufferStreamReader reader(bytes.data(), bytes.size());
  return flutter::StandardCodecSerializer::GetInstance().ReadValue(&reader);
}

std::vector<uint8_t> Bytes(const std::string& hex) {
  ParsedHex parsed = ParseHex(hex);
  EXPECT_TRUE(parsed.ok) << hex << ": " << parsed.error;
  return parsed.bytes;
}

EncodableValue List(std::initializer_list<EncodableValue> elements) {
  return EncodableValue(EncodableList(elements));
}

std::string Nested(const std::string& open, int depth, const std::string& inner,
                   const std::string& close) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += open;
  text += inner;
  for (int i = 0; i < depth; ++i) text += close;
  return text;
}

// One run of the tool: what it printed, what it reported, and the library's own diagnostic lines.
struct ToolRun {
  int exit_code;
  std::string out;
  std::string err;
  std::vector<std::string> diagnostics;
};

ToolRun RunTool(const std::vector<std::string>& arguments, const HostEnvironment& environment,
                const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  ToolRun run;
  run.diagnostics = velmoran_testing::StderrLinesOf(
      [&] { run.exit_code = RunHostCommand(arguments, environment, in, out, err); });
  run.out = out.str();
  run.err = err.str();
  return run;
}

HostEnvironment NoPluginEnvironment() { return HostEnvironment{}; }

ToolRun RunTool(const std::vector<std::string>& arguments, const std::string& input = "") {
  return RunTool(arguments, NoPluginEnvironment(), input);
}

// Bad input is reported on exactly one line, and nothing is printed as a result.
void ExpectOneLineReport(const ToolRun& run, int exit_code) {
  EXPECT_EQ(run.exit_code, exit_code);
  EXPECT_EQ(run.out, "");
  ASSERT_FALSE(run.err.empty());
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  EXPECT_THAT(run.err, StartsWith("velmoran-host: "));
}

// --- JSON to values -----------------------------------------------------------------------

TEST(ParseJsonValueTest, MapsEachKindOfJsonToItsAlternative) {
  const int64_t kInt32Max = std::numeric_limits<int32_t>::max();
  const int64_t kInt32Min = std::numeric_limits<int32_t>::min();
  const struct {
    const char* json;
    EncodableValue expected;
  } kCases[] = {
      {"0", EncodableValue(int32_t{0})},
      {"-0", EncodableValue(int32_t{0})},
      {"2147483647", EncodableValue(static_cast<int32_t>(kInt32Max))},
      {"2147483648", EncodableValue(kInt32Max + 1)},
      {"-2147483648", EncodableValue(static_cast<int32_t>(kInt32Min))},
      {"-2147483649", EncodableValue(kInt32Min - 1)},
      {"9223372036854775807", EncodableValue(std::numeric_limits<int64_t>::max())},
      {"-9223372036854775808", EncodableValue(std::numeric_limits<int64_t>::min())},
      {"1.0", EncodableValue(1.0)},
      {"-0.5", EncodableValue(-0.5)},
      {"1e2", EncodableValue(100.0)},
      {"2147483648.0", EncodableValue(2147483648.0)},
      {"\"\"", EncodableValue(std::string())},
      {"\"10\"", EncodableValue("10")},
      {"\"caf\\u00e9 \\\"q\\\"\"", EncodableValue("caf\xc3\xa9 \"q\"")},
      {"true", EncodableValue(true)},
      {"false", EncodableValue(false)},
      {"null", EncodableValue()},
      {"[]", EncodableValue(EncodableList())},
      {"{}", EncodableValue(EncodableMap())},
      {" [1, 4294967296, 0.25, \"x\", null] ",
       List({EncodableValue(int32_t{1}), EncodableValue(int64_t{4294967296}), EncodableValue(0.25),
             EncodableValue("x"), EncodableValue()})},
      {R"({"b": [true, {"c": []}], "a": 2})",
       EncodableValue(EncodableMap{
           {EncodableValue("a"), EncodableValue(int32_t{2})},
           {EncodableValue("b"),
            List({EncodableValue(true),
                  EncodableValue(
                      EncodableMap{{EncodableValue("c"), EncodableValue(EncodableList())}})})}})},
      // The last of duplicate keys wins, as JSON readers generally do.
      {R"({"k": 1, "k": 2})",
       EncodableValue(EncodableMap{{EncodableValue("k"), EncodableValue(int32_t{2})}})},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.json);
    ParsedValue parsed = ParseJsonValue(row.json);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.value.index(), row.expected.index());
    EXPECT_EQ(parsed.value, row.expected);
  }
}

TEST(ParseJsonValueTest, RefusesWhatTheWireCannotCarryAndMalformedText) {
  const struct {
    std::string json;
    const char* reason;
  } kCases[] = {
      {"9223372036854775808", "outside the signed 64-bit range"},
      {"18446744073709551615", "outside the signed 64-bit range"},
      {"-9223372036854775809", "outside the signed 64-bit range"},
      {"123456789012345678901234567890", "outside the signed 64-bit range"},
      {"[1, 18446744073709551616]", "outside the signed 64-bit range"},
      {"1e400", "malformed JSON"},
      {"", "malformed JSON"},
      {"   ", "malformed JSON"},
      {"[1,", "malformed JSON"},
      {"[1,]", "malformed JSON"},
      {"{\"a\" 1}", "malformed JSON"},
      {"{1: 2}", "malformed JSON"},
      {"nul", "malformed JSON"},
      {"'x'", "malformed JSON"},
      {"1 2", "malformed JSON"},
      {"\"\xff\"", "malformed JSON"},
      {Nested("[", 129, "", "]"), "nested deeper than 128"},
      {Nested("{\"a\": ", 129, "1", "}"), "nested deeper than 128"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.json.substr(0, 40));
    ParsedValue parsed = ParseJsonValue(row.json);
    EXPECT_FALSE(parsed.ok);
    EXPECT_THAT(parsed.error, HasSubstr(row.reason));
    EXPECT_EQ(parsed.error.find('\n'), std::string::npos);
  }
}

TEST(ParseJsonValueTest, TheDeepestAcceptedValueReadsBackWhole) {
  ParsedValue parsed = ParseJsonValue(Nested("[", 128, "7", "]"));
  ASSERT_TRUE(parsed.ok) << parsed.error;
  std::vector<std::string> diagnostics;
  EncodableValue decoded;
  diagnostics = velmoran_testing::StderrLinesOf([&] { decoded = Decode(Encode(parsed.value)); });
  EXPECT_THAT(diagnostics, IsEmpty());
  EXPECT_EQ(decoded, parsed.value);
}

// --- values to text ---------------------------------------------------------------------

TEST(FormatValueTest, WritesJsonWhereThereIsJsonAndAReadableFormElsewhere) {
  const double kNaN = std::numeric_limits<double>::quiet_NaN();
  const double kInfinity = std::numeric_limits<double>::infinity();
  const struct {
    EncodableValue value;
    const char* text;
  } kCases[] = {
      {EncodableValue(), "null"},
      {EncodableValue(true), "true"},
      {EncodableValue(false), "false"},
      {EncodableValue(int32_t{-5}), "-5"},
      {EncodableValue(std::numeric_limits<int64_t>::min()), "-9223372036854775808"},
      {EncodableValue(1.0), "1.0"},
      {EncodableValue(-0.0), "-0.0"},
      {EncodableValue(0.1), "0.1"},
      {EncodableValue(1.0 / 3), "0.3333333333333333"},
      {EncodableValue(1e300), "1e+300"},
      {EncodableValue(kNaN), "NaN"},
      {EncodableValue(kInfinity), "Infinity"},
      {EncodableValue(-kInfinity), "-Infinity"},
      {EncodableValue(""), "\"\""},
      {EncodableValue("10"), "\"10\""},
      {EncodableValue("a\"b\\c\n\t\x01\x7f"), R"("a\"b\\c\n\t\u0001\u007f")"},
      {EncodableValue("caf\xc3\xa9 \xf0\x9f\x98\x80"), "\"caf\xc3\xa9 \xf0\x9f\x98\x80\""},
      // Not UTF-8: a stray continuation byte, a cut sequence, an overlong form, a surrogate.
      {EncodableValue("\x80x\xc3"), R"("\x80x\xc3")"},
      {EncodableValue("\xc0\xaf\xed\xa0\x80"), R"("\xc0\xaf\xed\xa0\x80")"},
      {EncodableValue(std::string("a\0b", 3)), R"("a\u0000b")"},
      {EncodableValue(std::vector<uint8_t>{1, 255}), "uint8[1, 255]"},
      {EncodableValue(std::vector<int32_t>{}), "int32[]"},
      {EncodableValue(std::vector<int32_t>{-1, 2}), "int32[-1, 2]"},
      {EncodableValue(std::vector<int64_t>{int64_t{1} << 40}), "int64[1099511627776]"},
      {EncodableValue(std::vector<float>{0.1f, 2.0f}), "float32[0.1, 2.0]"},
      {EncodableValue(std::vector<double>{0.1, kNaN}), "float64[0.1, NaN]"},
      {List({EncodableValue(int32_t{1}), List({}), EncodableValue("x")}), "[1, [], \"x\"]"},
      {EncodableValue(EncodableMap{{EncodableValue("b"), EncodableValue()},
                                   {EncodableValue("a"), List({EncodableValue(true)})}}),
       R"({"a": [true], "b": null})"},
      {EncodableValue(EncodableMap{{EncodableValue(int32_t{1}), EncodableValue(true)}}),
       "{1: true}"},
      {EncodableValue(flutter::CustomEncodableValue(5)), "<custom>"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(FormatValue(row.value), row.text);
  }
}

// What prints as JSON reads back as the same value, so printed answers can be fed back in.
TEST(FormatValueTest, JsonFormsReadBackAsTheSameValue) {
  const EncodableValue kValues[] = {
      EncodableValue(int32_t{-7}),
      EncodableValue(int64_t{1} << 33),
      EncodableValue(2.0),
      EncodableValue(-1.5e-7),
      EncodableValue(123456789.125),
      EncodableValue(std::numeric_limits<double>::max()),
      EncodableValue(std::numeric_limits<double>::denorm_min()),
      EncodableValue("\"quoted\"\n\x1f caf\xc3\xa9"),
      List({EncodableValue(), EncodableValue(false), List({EncodableValue(0.5)})}),
      EncodableValue(EncodableMap{{EncodableValue("k"), EncodableValue(EncodableMap{})}}),
  };
  for (const EncodableValue& value : kValues) {
    std::string text = FormatValue(value);
    SCOPED_TRACE(text);
    ParsedValue parsed = ParseJsonValue(text);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.value, value);
  }
}

// --- hex ----------------------------------------------------------------------------------

TEST(ParseHexTest, ReadsPairsWithOptionalPrefixAndWhitespaceBetweenPairs) {
  const struct {
    const char* text;
    std::vector<uint8_t> bytes;
  } kCases[] = {
      {"", {}},
      {"  \n", {}},
      {"0x", {}},
      {"00", {0x00}},
      {"0d01", {0x0d, 0x01}},
      {"0D 01 ff FF", {0x0d, 0x01, 0xff, 0xff}},
      {"0x0a0B", {0x0a, 0x0b}},
      {"  0X 7f\t80\r\n", {0x7f, 0x80}},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.text);
    ParsedHex parsed = ParseHex(row.text);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.bytes, row.bytes);
  }
}

TEST(ParseHexTest, RefusesOddDigitsAndOtherCharacters) {
  const struct {
    const char* text;
    const char* reason;
  } kCases[] = {
      {"0", "column 1 has no second digit"},
      {"0d1", "column 3 has no second digit"},
      {"0 d", "column 1 has no second digit"},
      {"0g", "'g' at column 2 is not a hex digit"},
      {"zz", "'z' at column 1 is not a hex digit"},
      {"0d,01", "',' at column 3 is not a hex digit"},
      {"0d 0x01", "'x' at column 5 is not a hex digit"},
      {"x0d", "'x' at column 1 is not a hex digit"},
      {"0d\x01", "byte 0x01 at column 3 is not a hex digit"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.text);
    ParsedHex parsed = ParseHex(row.text);
    EXPECT_FALSE(parsed.ok);
    EXPECT_THAT(parsed.error, StartsWith("malformed hex: "));
    EXPECT_THAT(parsed.error, HasSubstr(row.reason));
  }
}

TEST(FormatHexTest, WritesTwoLowerCaseDigitsPerByte) {
  EXPECT_EQ(FormatHex({}), "");
  EXPECT_EQ(FormatHex({0x00, 0xab, 0x0F}), "00 ab 0f");
  std::vector<uint8_t> every_byte;
  for (int i = 0; i < 256; ++i) every_byte.push_back(static_cast<uint8_t>(i));
  ParsedHex back = ParseHex(FormatHex(every_byte));
  ASSERT_TRUE(back.ok);
  EXPECT_EQ(back.bytes, every_byte);
}

// --- encode -------------------------------------------------------------------------------

TEST(EncodeCommandTest, PrintsTheCodecBytesOfTheValue) {
  const struct {
    const char* json;
    EncodableValue value;
  } kCases[] = {
      {"null", EncodableValue()},
      {"-1", EncodableValue(int32_t{-1})},
      {"-2147483649", EncodableValue(int64_t{-2147483649})},
      {"0.5", EncodableValue(0.5)},
      {"\"getPlatformVersion\"", EncodableValue("getPlatformVersion")},
      {R"([1, [2.5], {"k": false}])",
       List({EncodableValue(int32_t{1}), List({EncodableValue(2.5)}),
             EncodableValue(EncodableMap{{EncodableValue("k"), EncodableValue(false)}})})},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.json);
    ToolRun run = RunTool({"encode", row.json});
    EXPECT_EQ(run.exit_code, kExitOk);
    EXPECT_EQ(run.out, FormatHex(Encode(row.value)) + "\n");
    EXPECT_EQ(run.err, "");
  }
}

TEST(EncodeCommandTest, MatchesTheWireFormatByteForByte) {
  std::string x254_hex = "07 fe fe 00";
  for (int i = 0; i < 254; ++i) x254_hex += " 78";
  const struct {
    std::string json;
    std::string hex;
  } kCases[] = {
      {R"({"a": 1})", "0d 01 07 01 61 03 01 00 00 00"},
      {"[1.0]", "0c 01 06 00 00 00 00 00 00 00 00 00 00 00 f0 3f"},
      {"4294967296", "04 00 00 00 00 01 00 00 00"},
      {"\"\"", "07 00"},
      // 254 bytes take the 0xFE size form.
      {"\"" + std::string(254, 'x') + "\"", x254_hex},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.json.substr(0, 20));
    ToolRun run = RunTool({"encode", row.json});
    EXPECT_EQ(run.exit_code, kExitOk);
    EXPECT_EQ(run.out, row.hex + "\n");
  }
}

TEST(EncodeCommandTest, ReadsJsonFromStandardInputOrSplitOverArguments) {
  EXPECT_EQ(RunTool({"encode", "-"}, "{\"a\":\n 1}\n").out, "0d 01 07 01 61 03 01 00 00 00\n");
  // As the shell splits [1, 2] without quotes.
  EXPECT_EQ(RunTool({"encode", "[1,", "2]"}).out, RunTool({"encode", "[1, 2]"}).out);
}

// --- decode -------------------------------------------------------------------------------

struct AnnotationCase {
  const char* name;
  MessageLayout layout;
  std::vector<uint8_t> bytes;
  std::string lines;
  std::vector<std::string> diagnostics;
};

void ExpectAnnotations(const std::vector<AnnotationCase>& cases) {
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    std::ostringstream out;
    auto diagnostics = velmoran_testing::StderrLinesOf(
        [&] { WriteAnnotatedMessage(row.bytes.data(), row.bytes.size(), row.layout, out); });
    EXPECT_EQ(out.str(), row.lines);
    EXPECT_EQ(diagnostics, row.diagnostics);
  }
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(AnnotatedDecoderTest, ShowsSizeFormsPaddingAndNesting) {
  const std::string x254(254, 'x');
  const std::string x253(253, 'x');
  ExpectAnnotations({
      {"double alone: 7 bytes of padding",
       MessageLayout::kValues,
       Encode(EncodableValue(1.0)),
       "0  type 6 double, padding 7 at 1: 1.0\n",
       {}},
      {"double in a list: padding counts from the message start",
       MessageLayout::kValues,
       Bytes("0c 01 06 00 00 00 00 00 00 00 00 00 00 00 f0 3f"),
       "0  type 12 list, size 1 (1-byte form)\n"
       "2    [0] type 6 double, padding 5 at 3: 1.0\n",
       {}},
      {"map",
       MessageLayout::kValues,
       Bytes("0d 01 07 01 61 03 01 00 00 00"),
       "0  type 13 map, size 1 (1-byte form)\n"
       "2    key[0] type 7 string, size 1 (1-byte form): \"a\"\n"
       "5    value[0] type 3 int32: 1\n",
       {}},
      {"253 bytes: still the 1-byte form",
       MessageLayout::kValues,
       Encode(EncodableValue(x253)),
       "0  type 7 string, size 253 (1-byte form): \"" + x253 + "\"\n",
       {}},
      {"254 bytes: the 0xFE form",
       MessageLayout::kValues,
       Encode(EncodableValue(x254)),
       "0  type 7 string, size 254 (0xFE + 16-bit form): \"" + x254 + "\"\n",
       {}},
      {"a size in a longer form than needed",
       MessageLayout::kValues,
       Bytes("08 ff 02 00 00 00 05 06"),
       "0  type 8 uint8 list, size 2 (0xFF + 32-bit form): uint8[5, 6]\n",
       {}},
      {"typed lists align after the size",
       MessageLayout::kValues,
       Bytes("09 02 00 00 01 00 00 00 02 00 00 00 0e 01 00 00 00 00 80 3f"),
       " 0  type 9 int32 list, size 2 (1-byte form), padding 2 at 2: int32[1, 2]\n"
       "12  type 14 float32 list, size 1 (1-byte form), padding 2 at 14: float32[1.0]\n",
       {}},
      {"second form of the string type",
       MessageLayout::kValues,
       Bytes("05 03 31 32 33"),
       "0  type 5 string, size 3 (1-byte form): \"123\"\n",
       {}},
      {"values after the first, at every depth",
       MessageLayout::kValues,
       Bytes("0c 02 0c 01 01 04 ff ff ff ff ff ff ff ff 02 00"),
       " 0  type 12 list, size 2 (1-byte form)\n"
       " 2    [0] type 12 list, size 1 (1-byte form)\n"
       " 4      [0] type 1 true: true\n"
       " 5    [1] type 4 int64: -1\n"
       "14  type 2 false: false\n"
       "15  type 0 null: null\n",
       {}},
  });
}

TEST(AnnotatedDecoderTest, ShowsWhatTheLibraryDoesWithMalformedInput) {
  const std::string kUnknown15 = "Unknown type in StandardCodecSerializer::ReadValueOfType: 15";
  std::vector<uint8_t> too_deep;
  for (int i = 0; i < 129; ++i) too_deep = Concat(too_deep, Bytes("0c 01"));
  std::string too_deep_last_lines = "254" + std::string(2 + 127 * 2, ' ') +
                                    "[0] type 12 list, size 1 (1-byte form)\n"
                                    "256" +
                                    std::string(2 + 128 * 2, ' ') +
                                    "[0] type 12 list, not read: nested deeper than 128\n"
                                    "257  type 1 true: true\n";

  ExpectAnnotations({
      {"empty message",
       MessageLayout::kValues,
       {},
       "0  type 0 null, read past the end: null\n",
       {kInvalidRead}},
      {"unknown type byte: read as null, nothing consumed",
       MessageLayout::kValues,
       Bytes("0f 01"),
       "0  type 15 unknown, not a type of the format, read as null: null\n"
       "1  type 1 true: true\n",
       {kUnknown15}},
      {"list announcing more elements than bytes are left",
       MessageLayout::kValues,
       Bytes("0c 03"),
       "0  type 12 list, size 3 (1-byte form), refused: announces 3 elements, 0 bytes left\n",
       {kInvalidRead}},
      {"list whose bytes run out",
       MessageLayout::kValues,
       Bytes("0c 02 03 01 00 00 00"),
       "0  type 12 list, size 2 (1-byte form), stopped after 1 of 2 elements: the bytes ran "
       "out\n"
       "2    [0] type 3 int32: 1\n",
       {kInvalidRead}},
      {"map whose bytes run out after a whole entry",
       MessageLayout::kValues,
       Bytes("0d 02 03 01 00 00 00 01"),
       "0  type 13 map, size 2 (1-byte form), stopped after 1 of 2 entries: the bytes ran out\n"
       "2    key[0] type 3 int32: 1\n"
       "7    value[0] type 1 true: true\n",
       {kInvalidRead}},
      {"map announcing more entries than bytes are left",
       MessageLayout::kValues,
       Bytes("0d 02 00"),
       "0  type 13 map, size 2 (1-byte form), refused: announces 2 entries, 1 byte left\n"
       "2  type 0 null: null\n",
       {kInvalidRead}},
      {"string announcing more bytes than are left",
       MessageLayout::kValues,
       Bytes("07 05 61"),
       "0  type 7 string, size 5 (1-byte form), refused: announces 5 bytes, 1 left: \"\"\n"
       "2  type 97 unknown, not a type of the format, read as null: null\n",
       {kInvalidRead, "Unknown type in StandardCodecSerializer::ReadValueOfType: 97"}},
      {"size cut short",
       MessageLayout::kValues,
       Bytes("07 fe 03"),
       "0  type 7 string, size 0 (0xFE + 16-bit form), size read past the end: \"\"\n"
       "2  type 3 int32, read past the end at 3: 0\n",
       {kInvalidRead, kInvalidRead}},
      {"int32 cut short: a failed read leaves the position, so its bytes read as values",
       MessageLayout::kValues,
       Bytes("03 01 02"),
       "0  type 3 int32, read past the end at 1: 0\n"
       "1  type 1 true: true\n"
       "2  type 2 false: false\n",
       {kInvalidRead}},
      {"empty typed list whose padding runs past the end",
       MessageLayout::kValues,
       Bytes("0b 00"),
       "0  type 11 float64 list, size 0 (1-byte form), padding 6 at 2, read past the end at 8: "
       "float64[]\n",
       {kInvalidRead}},
  });

  // The list the reader refuses leaves its size byte unread, which then reads as true.
  std::ostringstream out;
  auto diagnostics = velmoran_testing::StderrLinesOf([&] {
    WriteAnnotatedMessage(too_deep.data(), too_deep.size(), MessageLayout::kValues, out);
  });
  EXPECT_THAT(diagnostics,
              ElementsAre("Nesting deeper than 128 in StandardCodecSerializer::ReadValueOfType"));
  std::string text = out.str();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 130);
  ASSERT_GE(text.size(), too_deep_last_lines.size());
  EXPECT_EQ(text.substr(text.size() - too_deep_last_lines.size()), too_deep_last_lines);
}

TEST(AnnotatedDecoderTest, ReadsMethodCallsAndEnvelopesAsTheMethodCodecDoes) {
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  EncodableValue details(std::vector<int32_t>{7});
  EncodableValue ten("10");
  ExpectAnnotations({
      {"call without arguments, and a byte the codec ignores",
       MessageLayout::kMethodCall,
       Concat(*codec.EncodeMethodCall(flutter::MethodCall<>("getPlatformVersion", nullptr)),
              {0x01}),
       " 0  method type 7 string, size 18 (1-byte form): \"getPlatformVersion\"\n"
       "20  arguments type 0 null: null\n"
       "21  extra type 1 true: true\n",
       {}},
      {"call whose name is not a string: the codec reads no arguments",
       MessageLayout::kMethodCall,
       Bytes("03 01 00 00 00 07 00"),
       "0  method type 3 int32, not a string, so no method call: 1\n"
       "5  extra type 7 string, size 0 (1-byte form): \"\"\n",
       {}},
      {"success envelope",
       MessageLayout::kEnvelope,
       *codec.EncodeSuccessEnvelope(&ten),
       "0  flag 0 (success)\n"
       "1  result type 7 string, size 2 (1-byte form): \"10\"\n",
       {}},
      {"error envelope with an empty message and details",
       MessageLayout::kEnvelope,
       *codec.EncodeErrorEnvelope("E", "", &details),
       "0  flag 1 (error)\n"
       "1  code type 7 string, size 1 (1-byte form): \"E\"\n"
       "4  message type 0 null: null\n"
       "5  details type 9 int32 list, size 1 (1-byte form), padding 1 at 7: int32[7]\n",
       {}},
      {"no envelope: the codec stops at the flag",
       MessageLayout::kEnvelope,
       Bytes("02 01"),
       "0  flag 2 (not an envelope)\n"
       "1  extra type 1 true: true\n",
       {}},
      {"empty response",
       MessageLayout::kEnvelope,
       {},
       "0  flag 0 (success), read past the end\n"
       "0  result type 0 null, read past the end: null\n",
       {kInvalidRead, kInvalidRead}},
  });
}

TEST(DecodeCommandTest, ReadsHexFromArgumentsOrStandardInput) {
  const std::string kExpected =
      "0  type 12 list, size 1 (1-byte form)\n"
      "2    [0] type 6 double, padding 5 at 3: 1.0\n";
  const std::string kHex = "0c 01 06 00 00 00 00 00 00 00 00 00 00 00 f0 3f";
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::string input;
  } kCases[] = {
      {"one argument", {"decode", kHex}, ""},
      {"split by the shell", {"decode", "0x0c01", "06000000000000", "00", "00000000f03f"}, ""},
      {"standard input", {"decode", "-"}, "0c01 06000000000000\n0000000000 f03f\n"},
      {"--as value", {"decode", "--as", "value", kHex}, ""},
      {"--as=value", {"decode", "--as=value", kHex}, ""},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    ToolRun run = RunTool(row.arguments, row.input);
    EXPECT_EQ(run.exit_code, kExitOk);
    EXPECT_EQ(run.out, kExpected);
    EXPECT_EQ(run.err, "");
  }
}

// --- the command line ---------------------------------------------------------------------

TEST(CommandLineTest, HelpPrintsTheUsage) {
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{"--help"},
                                                    {"-h"},
                                                    {"help"},
                                                    {"call", "--help"},
                                                    {"decode", "00", "--help"}}) {
    SCOPED_TRACE(arguments.back());
    ToolRun run = RunTool(arguments);
    EXPECT_EQ(run.exit_code, kExitOk);
    EXPECT_EQ(run.out, UsageText());
    EXPECT_EQ(run.err, "");
  }
  EXPECT_THAT(UsageText(), HasSubstr("velmoran-host call"));
  EXPECT_THAT(UsageText(), HasSubstr("velmoran-host decode"));
  EXPECT_THAT(UsageText(), HasSubstr("velmoran-host encode"));
}

TEST(CommandLineTest, BadInputGetsOneLineAndExitCodeOne) {
  const struct {
    std::vector<std::string> arguments;
    const char* report;
  } kCases[] = {
      {{}, "no command"},
      {{"frob"}, "unknown command \"frob\""},
      {{"encode", "--as", "call", "1"}, "encode has no option --as"},
      {{"decode", "--plugin", "x", "00"}, "decode has no option --plugin"},
      {{"call", "--bogus", "m"}, "call has no option --bogus"},
      {{"call", "--channel", "a", "--channel=b", "m"}, "--channel is given twice"},
      {{"call", "m", "--plugin"}, "--plugin needs a value"},
      {{"call"}, "call needs a METHOD"},
      {{"encode"}, "encode needs JSON"},
      {{"decode"}, "decode needs HEX"},
      {{"decode", "--as", "blob", "00"}, "--as takes value, call or envelope, not \"blob\""},
      {{"encode", "[1,"}, "malformed JSON"},
      {{"encode", "18446744073709551615"}, "outside the signed 64-bit range"},
      {{"decode", "0d1"}, "malformed hex"},
      {{"decode", "0d", "0g"}, "malformed hex"},
      {{"call", "m", "{\"a\":"}, "ARGS: malformed JSON"},
      {{"call", "--windows-version", "6", "m"}, "--windows-version"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.report);
    ToolRun run = RunTool(row.arguments);
    ExpectOneLineReport(run, kExitUsage);
    EXPECT_THAT(run.err, HasSubstr(row.report));
  }
}

// Operands that start with a dash are not options: negative numbers, and "--" ends options.
TEST(CommandLineTest, OnlyDoubleDashWordsAreOptions) {
  EXPECT_EQ(RunTool({"encode", "-1"}).out, FormatHex(Encode(EncodableValue(int32_t{-1}))) + "\n");
  EXPECT_EQ(RunTool({"encode", "--", "\"--as\""}).out,
            FormatHex(Encode(EncodableValue("--as"))) + "\n");
}

TEST(WindowsVersionTest, ReadsMajorMinorAndServicePack) {
  const struct {
    const char* text;
    uint32_t major;
    uint32_t minor;
    uint16_t service_pack;
  } kCases[] = {
      {"10.0", 10, 0, 0},
      {"6.1.1", 6, 1, 1},
      {"0.0.0", 0, 0, 0},
      {"006.03", 6, 3, 0},
      {"4294967295.4294967295.65535", 4294967295u, 4294967295u, 65535},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.text);
    WindowsVersion version;
    std::string error;
    ASSERT_TRUE(ParseWindowsVersion(row.text, &version, &error)) << error;
    EXPECT_EQ(version.major, row.major);
    EXPECT_EQ(version.minor, row.minor);
    EXPECT_EQ(version.service_pack_major, row.service_pack);
  }
}

TEST(WindowsVersionTest, RefusesAnythingElse) {
  for (const char* text : {"", "6", "6.", ".1", "6.1.", "6.1.1.1", "a.b", "6.-1", "+6.1", " 6.1",
                           "6.1 ", "4294967296.0", "6.4294967296", "6.1.65536", "0x6.1"}) {
    SCOPED_TRACE(text);
    WindowsVersion version;
    std::string error;
    EXPECT_FALSE(ParseWindowsVersion(text, &version, &error));
    EXPECT_FALSE(error.empty());
  }
}

// --- call, against the plugin library this build makes -------------------------------------

class CallCommandTest : public ::testing::Test {
 protected:
  static HostEnvironment BuiltPlugin() {
    return HostEnvironment{"", "", VELMORAN_TEST_PLUGIN_PATH};
  }

#if !defined(_WIN32)
  CallCommandTest() : version_before_(VelmoranGetEmulatedWindowsVersion()) {}
  ~CallCommandTest() override { VelmoranResetEmulatedWindowsVersion(); }

  // The tool puts back the version the emulated system reported before it.
  void ExpectVersionRestored() const {
    VelmoranWindowsVersion now = VelmoranGetEmulatedWindowsVersion();
    EXPECT_EQ(now.major_version, version_before_.major_version);
    EXPECT_EQ(now.minor_version, version_before_.minor_version);
    EXPECT_EQ(now.build_number, version_before_.build_number);
    EXPECT_EQ(now.service_pack_major, version_before_.service_pack_major);
  }

  VelmoranWindowsVersion version_before_;
#endif
};

#if !defined(_WIN32)
TEST_F(CallCommandTest, AnswersGetPlatformVersionForTheEmulatedWindows) {
  const struct {
    const char* version;
    const char* answer;
  } kCases[] = {
      {"10.0", "\"10\"\n"}, {"11.0", "\"10\"\n"}, {"6.3", "\"8\"\n"},
      {"6.2", "\"8\"\n"},   {"6.1", "\"7\"\n"},   {"6.1.1", "\"7\"\n"},
      {"6.0.2", "\"\"\n"},  {"6.0", "\"\"\n"},    {"5.1.3", "\"\"\n"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.version);
    ToolRun run =
        RunTool({"call", "--windows-version", row.version, "getPlatformVersion"}, BuiltPlugin());
    EXPECT_EQ(run.exit_code, kExitOk);
    EXPECT_EQ(run.out, row.answer);
    EXPECT_EQ(run.err, "");
    EXPECT_THAT(run.diagnostics, IsEmpty());
    ExpectVersionRestored();
  }
}

TEST_F(CallCommandTest, ArgumentsDoNotChangeTheAnswer) {
  for (const char* arguments : {"null", "{\"a\": [1, 2.5]}", "[\"x\"]", "\"text\""}) {
    SCOPED_TRACE(arguments);
    ToolRun run = RunTool({"call", "--windows-version=6.2", "--plugin", VELMORAN_TEST_PLUGIN_PATH,
                           "getPlatformVersion", arguments},
                          NoPluginEnvironment());
    EXPECT_EQ(run.exit_code, kExitOk);
    EXPECT_EQ(run.out, "\"8\"\n");
  }
}
#endif

TEST_F(CallCommandTest, OtherMethodsAreNotImplemented) {
  for (const char* method : {"getplatformversion", "getPlatformVersion ", "", "foo"}) {
    SCOPED_TRACE(method);
    ToolRun run = RunTool({"call", method}, BuiltPlugin());
    EXPECT_EQ(run.exit_code, kExitOk);
    EXPECT_EQ(run.out, "not implemented\n");
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(CallCommandTest, AChannelNobodyListensOnIsAnsweredByTheEngine) {
  ToolRun run = RunTool({"call", "--channel", "elsewhere", "getPlatformVersion"}, BuiltPlugin());
  EXPECT_EQ(run.exit_code, kExitOk);
  EXPECT_EQ(run.out, "not implemented\n");
  EXPECT_EQ(
      run.err,
      "velmoran-host: nothing listens on channel \"elsewhere\"; the engine answered for it\n");
}

TEST_F(CallCommandTest, FindsThePluginBesideTheExecutableFirst) {
  std::string plugin = VELMORAN_TEST_PLUGIN_PATH;
  std::string directory = plugin.substr(0, plugin.find_last_of("/\\"));
  std::string file_name = plugin.substr(plugin.find_last_of("/\\") + 1);
  const struct {
    const char* name;
    HostEnvironment environment;
    int exit_code;
  } kCases[] = {
      // The built path names a library without the entry point: only the one beside answers.
      {"beside the executable", {directory, file_name, VELMORAN_TEST_HOST_LIBRARY_PATH}, kExitOk},
      {"not beside it: the built one", {directory, "absent-plugin.so", plugin}, kExitOk},
      {"no executable directory: the built one", {"", file_name, plugin}, kExitOk},
      {"neither", {directory, "absent-plugin.so", ""}, kExitLoadFailure},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    ToolRun run = RunTool({"call", "unknownMethod"}, row.environment);
    EXPECT_EQ(run.exit_code, row.exit_code);
    if (row.exit_code == kExitOk) {
      EXPECT_EQ(run.out, "not implemented\n");
    } else {
      ExpectOneLineReport(run, row.exit_code);
    }
  }
}

TEST_F(CallCommandTest, LibrariesThatCannotServeAreRefusedWithExitCodeTwo) {
  const struct {
    const char* name;
    std::string plugin;
    const char* report;
  } kCases[] = {
      {"missing", "/nonexistent/velmoran_plugin_library", "no plugin library at "},
      {"not a library", __FILE__, "cannot load "},
      {"without the entry point", VELMORAN_TEST_HOST_LIBRARY_PATH,
       "does not export VelmoranPluginRegisterWithRegistrar"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    ToolRun run = RunTool({"call", "--plugin", row.plugin, "getPlatformVersion"}, BuiltPlugin());
    ExpectOneLineReport(run, kExitLoadFailure);
    EXPECT_THAT(run.err, HasSubstr(row.report));
    EXPECT_THAT(run.err, HasSubstr(row.plugin));
  }
}

// Input is checked before anything is loaded, so a bad call sets nothing up.
TEST_F(CallCommandTest, BadInputIsRefusedBeforeLoading) {
  const struct {
    std::vector<std::string> arguments;
    const char* report;
  } kCases[] = {
      {{"call", "getPlatformVersion", "[1,"}, "ARGS: malformed JSON"},
      {{"call", "getPlatformVersion", "-9223372036854775809"}, "outside the signed 64-bit"},
      {{"call", "--windows-version", "6.x", "getPlatformVersion"}, "--windows-version"},
      {{"call", "--windows-version", "6.1.1.1", "getPlatformVersion"}, "--windows-version"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.report);
    ToolRun run = RunTool(row.arguments, BuiltPlugin());
    ExpectOneLineReport(run, kExitUsage);
    EXPECT_THAT(run.err, HasSubstr(row.report));
  }
}

// --- call, against a plugin that answers what a well-made plugin never does ----------------

HostEnvironment MisbehavingPlugin() {
  HostEnvironment environment{"", "", VELMORAN_TEST_MISBEHAVING_PLUGIN_PATH};
  environment.answer_timeout = std::chrono::milliseconds(50);
  return environment;
}

TEST(CallAnswerTest, PrintsEveryKindOfAnswer) {
  const struct {
    const char* channel;
    const char* out;
  } kCases[] = {
      {"error", "error {\"code\": \"E\", \"message\": \"M\", \"details\": [7]}\n"},
      {"empty", "null\n"},
      {"typed", "int32[5]\n"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.channel);
    ToolRun run = RunTool({"call", "--channel", row.channel, "anyMethod"}, MisbehavingPlugin());
    EXPECT_EQ(run.exit_code, kExitOk);
    EXPECT_EQ(run.out, row.out);
    EXPECT_EQ(run.err, "");
  }
}

TEST(CallAnswerTest, WrongAnswersGetExitCodeThree) {
  const struct {
    const char* channel;
    const char* out;
    const char* report;
  } kCases[] = {
      {"garbage", "", "velmoran-host: the answer is not a response envelope: 02 01\n"},
      {"silent", "", "velmoran-host: no answer on channel \"silent\" within 50 ms\n"},
      // The first answer counts; the second is the engine misuse the host reports.
      {"twice", "true\n", "velmoran-host: the plugin misused the engine: "},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.channel);
    ToolRun run = RunTool({"call", "--channel", row.channel, "anyMethod"}, MisbehavingPlugin());
    EXPECT_EQ(run.exit_code, kExitPluginFault);
    EXPECT_EQ(run.out, row.out);
    EXPECT_THAT(run.err, StartsWith(row.report));
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
}

#if defined(_WIN32)
TEST_F(CallCommandTest, TheWindowsVersionCannotBeChosenOnWindows) {
  ToolRun run = RunTool({"call", "--windows-version", "6.1", "getPlatformVersion"}, BuiltPlugin());
  ExpectOneLineReport(run, kExitUsage);
  EXPECT_THAT(run.err, HasSubstr("not available on Windows"));
}
#endif

}  // namespace
}  // namespace velmoran_host::cli
