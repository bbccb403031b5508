#ifndef VELMORAN_TESTS_POINT_SERIALIZER_H_
#define VELMORAN_TESTS_POINT_SERIALIZER_H_

#include <cstdint>

#include "codec/standard_codec_serializer.h"

namespace velmoran_testing {

// A codec extension of the kind plugin authors write: points travel as type 128 with two
// 32-bit coordinates, at any depth.
struct Point {
  int32_t x;
  int32_t y;
};

class PointSerializer : public flutter::StandardCodecSerializer {
 public:
  static constexpr uint8_t kPointType = 128;

  void WriteValue(const flutter::EncodableValue& value,
                  flutter::ByteStreamWriter* stream) const override {
    if (const auto* custom = value.GetIf<flutter::CustomEncodableValue>()) {
      if (const Point* point = custom->TryGet<Point>()) {
        stream->WriteByte(kPointType);
        StandardCodecSerializer::WriteValue(flutter::EncodableValue(point->x), stream);
        StandardCodecSerializer::WriteValue(flutter::EncodableValue(point->y), stream);
        return;
      }
    }
    StandardCodecSerializer::WriteValue(value, stream);
  }

  flutter::EncodableValue ReadValueOfType(uint8_t type,
                                          flutter::ByteStreamReader* stream) const override {
    if (type != kPointType) return StandardCodecSerializer::ReadValueOfType(type, stream);
    Point point{};
    point.x = static_cast<int32_t>(ReadValue(stream).AsInt64().value_or(0));
    point.y = static_cast<int32_t>(ReadValue(stream).AsInt64().value_or(0));
    return flutter::EncodableValue(flutter::CustomEncodableValue(point));
  }
};

}  // namespace velmoran_testing

#endif  // VELMORAN_TESTS_POINT_SERIALIZER_H_
