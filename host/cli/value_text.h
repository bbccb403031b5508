#ifndef VELMORAN_HOST_CLI_VALUE_TEXT_H_
#define VELMORAN_HOST_CLI_VALUE_TEXT_H_

#include <string>
#include <string_view>

#include "codec/encodable_value.h"

namespace velmoran_host::cli {

// A value read from JSON text, or why the text is no value.
struct ParsedValue {
  bool ok = false;
  flutter::EncodableValue value;
  std::string error;  // one line, set when !ok
};

// Reads one JSON value as the application's side of a channel would send it:
//   integers -> the 32-bit alternative when they fit, the 64-bit one otherwise;
//   other numbers -> double; strings -> string; true/false -> bool; null -> null;
//   arrays -> EncodableList; objects -> EncodableMap with string keys (the last of duplicate
//   keys wins, as in JSON generally).
// Refused: malformed JSON, integers outside the signed 64-bit range (the wire has no unsigned
// integers, and a double would silently lose digits), and containers nested deeper than the
// standard codec reads.
ParsedValue ParseJsonValue(std::string_view text);

// Writes a value for people and scripts: valid JSON wherever the value has a JSON form, so a
// string prints as "10" and an empty one as "". Integers of both widths print as plain numbers,
// doubles always with a fraction or exponent (1.0). What JSON cannot say is written in a
// readable form that no JSON parser accepts, so it cannot be mistaken for JSON:
//   NaN, Infinity, -Infinity                         non-finite doubles
//   uint8[1, 2] int32[..] int64[..] float32[..] float64[..]   typed lists
//   {1: true}                                        maps with keys that are not strings
//   "\xff"                                           bytes of a string that are not UTF-8
//   <custom>                                         a custom value
std::string FormatValue(const flutter::EncodableValue& value);

// A double or float in the shortest form that reads back as the same number.
std::string FormatDouble(double number);
std::string FormatFloat(float number);

// A string as a JSON string literal; bytes that are not UTF-8 become \xNN.
std::string QuoteString(std::string_view text);

}  // namespace velmoran_host::cli

#endif  // VELMORAN_HOST_CLI_VALUE_TEXT_H_
