#ifndef VELMORAN_HOST_CLI_HEX_H_
#define VELMORAN_HOST_CLI_HEX_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmoran_host::cli {

// Bytes read from hex text, or why the text is not hex.
struct ParsedHex {
  bool ok = false;
  std::vector<uint8_t> bytes;
  std::string error;  // one line, set when !ok
};

// Reads bytes written as pairs of hex digits in either case, with an optional 0x or 0X in front
// of the first one and any whitespace between pairs (never inside one): "0x0d01", "0D 01",
// "0d\n01". Empty text is zero bytes.
ParsedHex ParseHex(std::string_view text);

// Two lower-case digits per byte, separated by single spaces: "0d 01 07".
std::string FormatHex(const std::vector<uint8_t>& bytes);

}  // namespace velmoran_host::cli

#endif  // VELMORAN_HOST_CLI_HEX_H_
