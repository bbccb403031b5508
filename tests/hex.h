#ifndef VELMORAN_TESTS_HEX_H_
#define VELMORAN_TESTS_HEX_H_

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace velmoran_testing {

// "06 00 F0 3F" -> the bytes, for byte fixtures written as they appear on the wire.
inline std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    bytes.push_back(static_cast<uint8_t>(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
    i += 2;
  }
  return bytes;
}

}  // namespace velmoran_testing

#endif  // VELMORAN_TESTS_HEX_H_
