#include "host/cli/value_text.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <type_traits>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "codec/standard_codec_serializer.h"

namespace velmoran_host::cli {

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

using Json = nlohmann::json;

// Builds the value straight from the parser's events rather than from a parsed nlohmann::json:
// the events carry the literal text of every number that does not fit 64 bits, so an integer
// beyond them can be refused instead of arriving as a double with its last digits lost, and
// errors are reported through a callback, so nothing is thrown.
class ValueBuilder : public nlohmann::json_sax<Json> {
 public:
  bool null() override { return Add(EncodableValue()); }
  bool boolean(bool value) override { return Add(EncodableValue(value)); }

  bool number_integer(number_integer_t value) override { return AddInteger(value); }

  bool number_unsigned(number_unsigned_t value) override {
    if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      return Fail("integer " + std::to_string(value) + " is outside the signed 64-bit range");
    }
    return AddInteger(static_cast<int64_t>(value));
  }

  bool number_float(number_float_t value, const string_t& literal) override {
    // The parser passes integers that overflow 64 bits on as doubles; their literal shows them.
    if (literal.find_first_of(".eE") == string_t::npos) {
      return Fail("integer " + literal + " is outside the signed 64-bit range");
    }
    if (!std::isfinite(value)) return Fail("number " + literal + " is outside the double range");
    return Add(EncodableValue(static_cast<double>(value)));
  }

  bool string(string_t& value) override { return Add(EncodableValue(std::move(value))); }

  bool binary(binary_t&) override { return Fail("binary values are not JSON"); }

  bool start_object(std::size_t) override { return Open(true); }
  bool key(string_t& name) override {
    frames_.back().key = std::move(name);
    return true;
  }
  bool end_object() override {
    EncodableMap map = std::move(frames_.back().map);
    frames_.pop_back();
    return Add(EncodableValue(std::move(map)));
  }

  bool start_array(std::size_t) override { return Open(false); }
  bool end_array() override {
    EncodableList list = std::move(frames_.back().list);
    frames_.pop_back();
    return Add(EncodableValue(std::move(list)));
  }

  bool parse_error(std::size_t, const std::string&, const Json::exception& error) override {
    // "[json.exception.parse_error.101] parse error at line 1, column 2: ..." -> from "parse".
    std::string text = error.what();
    size_t end_of_tag = text.find("] ");
    if (end_of_tag != std::string::npos) text.erase(0, end_of_tag + 2);
    return Fail("malformed JSON: " + text);
  }

  ParsedValue Take() {
    ParsedValue parsed;
    parsed.ok = error_.empty() && root_set_;
    parsed.error = error_.empty() && !root_set_ ? "malformed JSON: no value" : error_;
    if (parsed.ok) parsed.value = std::move(root_);
    return parsed;
  }

 private:
  struct Frame {
    bool is_map;
    EncodableList list;
    EncodableMap map;
    std::string key;
  };

  bool AddInteger(int64_t value) {
    if (value >= std::numeric_limits<int32_t>::min() &&
        value <= std::numeric_limits<int32_t>::max()) {
      return Add(EncodableValue(static_cast<int32_t>(value)));
    }
    return Add(EncodableValue(value));
  }

  bool Open(bool is_map) {
    // The other side stops reading at this depth, so a deeper message could never arrive whole.
    if (frames_.size() >= flutter::StandardCodecSerializer::kMaxNestingDepth) {
      return Fail("arrays and objects nested deeper than " +
                  std::to_string(flutter::StandardCodecSerializer::kMaxNestingDepth) +
                  " cannot be read back");
    }
    frames_.push_back(Frame{is_map, {}, {}, {}});
    return true;
  }

  bool Add(EncodableValue value) {
    if (frames_.empty()) {
      root_ = std::move(value);
      root_set_ = true;
    } else if (frames_.back().is_map) {
      Frame& frame = frames_.back();
      frame.map.insert_or_assign(EncodableValue(std::move(frame.key)), std::move(value));
    } else {
      frames_.back().list.push_back(std::move(value));
    }
    return true;
  }

  bool Fail(std::string error) {
    if (error_.empty()) error_ = std::move(error);
    return false;
  }

  std::vector<Frame> frames_;
  EncodableValue root_;
  bool root_set_ = false;
  std::string error_;
};

// Shortest of the precisions 1..max_digits that reads back as the same number; always shows
// that it is not an integer.
template <typename Number>
std::string FormatFloatingPoint(Number number, int max_digits) {
  if (std::isnan(number)) return "NaN";
  if (std::isinf(number)) return number < 0 ? "-Infinity" : "Infinity";
  char buffer[40];
  for (int digits = 1; digits <= max_digits; ++digits) {
    std::snprintf(buffer, sizeof buffer, "%.*g", digits, static_cast<double>(number));
    Number back;
    if constexpr (std::is_same_v<Number, float>) {
      back = std::strtof(buffer, nullptr);
    } else {
      back = std::strtod(buffer, nullptr);
    }
    if (back == number) break;
  }
  std::string text = buffer;
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

// Length of the UTF-8 sequence at text[i], or 0 when the bytes there are not one.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  uint8_t lead = byte(i);
  size_t length;
  uint8_t low = 0x80;
  uint8_t high = 0xBF;  // bounds of the second byte, narrower where overlongs or surrogates lie
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

template <typename Element, typename Format>
std::string FormatTypedList(const char* name, const std::vector<Element>& list, Format format) {
  std::string text = name;
  text += '[';
  for (size_t i = 0; i < list.size(); ++i) {
    if (i > 0) text += ", ";
    text += format(list[i]);
  }
  text += ']';
  return text;
}

}  // namespace

ParsedValue ParseJsonValue(std::string_view text) {
  ValueBuilder builder;
  Json::sax_parse(text, &builder);
  return builder.Take();
}

std::string FormatDouble(double number) { return FormatFloatingPoint(number, 17); }

std::string FormatFloat(float number) { return FormatFloatingPoint(number, 9); }

std::string QuoteString(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string quoted = "\"";
  for (size_t i = 0; i < text.size();) {
    uint8_t c = static_cast<uint8_t>(text[i]);
    if (c >= 0x80) {
      size_t length = Utf8SequenceLength(text, i);
      if (length == 0) {
        quoted += "\\x";
        quoted += kHex[c >> 4];
        quoted += kHex[c & 0xF];
        ++i;
      } else {
        quoted.append(text.substr(i, length));
        i += length;
      }
      continue;
    }
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\b':
        quoted += "\\b";
        break;
      case '\f':
        quoted += "\\f";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\t':
        quoted += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          quoted += "\\u00";
          quoted += kHex[c >> 4];
          quoted += kHex[c & 0xF];
        } else {
          quoted += static_cast<char>(c);
        }
    }
    ++i;
  }
  quoted += '"';
  return quoted;
}

std::string FormatValue(const EncodableValue& value) {
  auto integer = [](auto number) { return std::to_string(number); };
  switch (value.index()) {
    case 0:
      return "null";
    case 1:
      return std::get<bool>(value) ? "true" : "false";
    case 2:
      return std::to_string(std::get<int32_t>(value));
    case 3:
      return std::to_string(std::get<int64_t>(value));
    case 4:
      return FormatDouble(std::get<double>(value));
    case 5:
      return QuoteString(std::get<std::string>(value));
    case 6:
      return FormatTypedList("uint8", std::get<std::vector<uint8_t>>(value),
                             [](uint8_t byte) { return std::to_string(byte); });
    case 7:
      return FormatTypedList("int32", std::get<std::vector<int32_t>>(value), integer);
    case 8:
      return FormatTypedList("int64", std::get<std::vector<int64_t>>(value), integer);
    case 9:
      return FormatTypedList("float64", std::get<std::vector<double>>(value), FormatDouble);
    case 10: {
      std::string text = "[";
      const auto& list = std::get<EncodableList>(value);
      for (size_t i = 0; i < list.size(); ++i) {
        if (i > 0) text += ", ";
        text += FormatValue(list[i]);
      }
      return text + "]";
    }
    case 11: {
      std::string text = "{";
      bool first = true;
      for (const auto& [key, mapped] : std::get<EncodableMap>(value)) {
        if (!first) text += ", ";
        first = false;
        text += FormatValue(key) + ": " + FormatValue(mapped);
      }
      return text + "}";
    }
    case 12:
      return "<custom>";
    case 13:
      return FormatTypedList("float32", std::get<std::vector<float>>(value), FormatFloat);
  }
  return "<unknown>";
}

}  // namespace velmoran_host::cli
