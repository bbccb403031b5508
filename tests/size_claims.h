#ifndef VELMORAN_TESTS_SIZE_CLAIMS_H_
#define VELMORAN_TESTS_SIZE_CLAIMS_H_

#include <cstdint>
#include <vector>

namespace velmoran_testing {

// A size as a hostile message may announce it, in each form the reader accepts.
struct SizeClaim {
  const char* name;
  std::vector<uint8_t> size;
};

// Claims far beyond what any test message holds: the reader must refuse each before
// allocating for it.
inline const std::vector<SizeClaim>& HugeSizeClaims() {
  static const std::vector<SizeClaim> claims = {
      {"253, one byte", {0xFD}},
      {"254, FE form", {0xFE, 0xFE, 0x00}},
      {"65535, FE form", {0xFE, 0xFF, 0xFF}},
      {"65536, FF form", {0xFF, 0x00, 0x00, 0x01, 0x00}},
      {"2^31, FF form", {0xFF, 0x00, 0x00, 0x00, 0x80}},
      {"2^32 - 1, FF form", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  return claims;
}

}  // namespace velmoran_testing

#endif  // VELMORAN_TESTS_SIZE_CLAIMS_H_
