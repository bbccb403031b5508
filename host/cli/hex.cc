#include "host/cli/hex.h"

#include <utility>

namespace velmoran_host::cli {

namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// How an offending character is named: printable ones as themselves, others by code, so that
// the error line stays one readable line whatever the input held.
std::string Describe(char c) {
  unsigned code = static_cast<unsigned char>(c);
  if (code >= 0x21 && code <= 0x7E) return std::string("'") + c + "'";
  static const char kHex[] = "0123456789abcdef";
  return std::string("byte 0x") + kHex[code >> 4] + kHex[code & 0xF];
}

ParsedHex Fail(std::string error) {
  ParsedHex parsed;
  parsed.error = std::move(error);
  return parsed;
}

}  // namespace

ParsedHex ParseHex(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  if (text.size() - i >= 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    i += 2;
  }
  ParsedHex parsed;
  while (true) {
    while (i < text.size() && IsSpace(text[i])) ++i;
    if (i == text.size()) break;
    int high = HexDigitValue(text[i]);
    if (high < 0) {
      return Fail("malformed hex: " + Describe(text[i]) + " at column " + std::to_string(i + 1) +
                  " is not a hex digit");
    }
    if (i + 1 == text.size() || IsSpace(text[i + 1])) {
      return Fail("malformed hex: the digit at column " + std::to_string(i + 1) +
                  " has no second digit (bytes are two digits each)");
    }
    int low = HexDigitValue(text[i + 1]);
    if (low < 0) {
      return Fail("malformed hex: " + Describe(text[i + 1]) + " at column " +
                  std::to_string(i + 2) + " is not a hex digit");
    }
    parsed.bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    i += 2;
  }
  parsed.ok = true;
  return parsed;
}

std::string FormatHex(const std::vector<uint8_t>& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) text += ' ';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0xF];
  }
  return text;
}

}  // namespace velmoran_host::cli
