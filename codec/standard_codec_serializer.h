#ifndef VELMORAN_CODEC_STANDARD_CODEC_SERIALIZER_H_
#define VELMORAN_CODEC_STANDARD_CODEC_SERIALIZER_H_

#include <cstdint>

#include "codec/byte_streams.h"
#include "codec/encodable_value.h"

namespace flutter {

// Writes values in the standard message codec and reads them back. Every byte it writes is part
// of the wire format shared with the application on the other side of the engine.
//
// The serializer holds no state. Lists and maps are written and read element by element through
// the virtual WriteValue and ReadValueOfType, so a derived serializer that gives meaning to its
// own type bytes (codec extensions, for CustomEncodableValue) is used at every depth.
//
// Reading is hardened against hostile messages: a size that announces more than the rest of the
// message can hold is refused before anything is allocated for it, a list or map whose bytes run
// out stops there, and containers nest at most kMaxNestingDepth deep.
class StandardCodecSerializer {
 public:
  // Deeper than any real message nests. A level takes about 350 bytes of stack in an optimised
  // build and under 1 KiB in a debug one, so a reader at this depth uses a small part of a
  // 1 MiB thread stack (the default on Windows).
  static constexpr uint32_t kMaxNestingDepth = 128;
  // The largest size the size form can carry. Larger strings, lists and maps are written as null.
  static constexpr uint64_t kMaxSize = 0xFFFFFFFFu;

  virtual ~StandardCodecSerializer();
  StandardCodecSerializer(const StandardCodecSerializer&) = delete;
  StandardCodecSerializer& operator=(const StandardCodecSerializer&) = delete;

  // The process-wide default serializer, created on first use (safely, also when several
  // threads get there at once) and never destroyed, like the codecs that refer to it.
  static const StandardCodecSerializer& GetInstance();

  // Writes one value: its type byte, then its payload.
  virtual void WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const;

  // Reads the rest of one value whose type byte has already been read. An unknown type byte is
  // reported and reads as null without consuming anything more.
  virtual EncodableValue ReadValueOfType(uint8_t type, ByteStreamReader* stream) const;

  // Reads one whole value: its type byte, then ReadValueOfType of it.
  EncodableValue ReadValue(ByteStreamReader* stream) const;

  // The size form: one byte below 254; 254 and 16 bits up to 65,535; 255 and 32 bits beyond.
  // A size beyond kMaxSize is reported and nothing is written.
  void WriteSize(uint64_t size, ByteStreamWriter* stream) const;
  // Accepts any of the three forms, also one longer than needed; a failed read gives 0.
  uint64_t ReadSize(ByteStreamReader* stream) const;

 protected:
  StandardCodecSerializer();
};

}  // namespace flutter

#endif  // VELMORAN_CODEC_STANDARD_CODEC_SERIALIZER_H_
