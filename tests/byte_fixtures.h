#ifndef VELMORAN_TESTS_BYTE_FIXTURES_H_
#define VELMORAN_TESTS_BYTE_FIXTURES_H_

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "codec/byte_streams.h"
#include "codec/encodable_value.h"
#include "codec/standard_codec_serializer.h"

namespace velmoran_testing {

// The parts one after another, for messages assembled from pieces of the wire format.
inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const std::vector<uint8_t>& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// The value as the default serializer writes it, from the first byte of a message.
inline std::vector<uint8_t> Encode(const flutter::EncodableValue& value) {
  std::vector<uint8_t> bytes;
  flutter::ByteBufferStreamWriter writer(&bytes);
  flutter::StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  return bytes;
}

}  // namespace velmoran_testing

#endif  // VELMORAN_TESTS_BYTE_FIXTURES_H_
