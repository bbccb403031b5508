#ifndef VELMORAN_CODEC_BYTE_STREAMS_H_
#define VELMORAN_CODEC_BYTE_STREAMS_H_

#include <cstdint>
#include <string_view>
#include <vector>

namespace flutter {

// The line every failed read writes, whether the bytes ran out or a size announced more than
// the message holds.
inline constexpr std::string_view kInvalidReadDiagnostic =
    "Invalid read in StandardCodecByteStreamReader";

// Reads a message front to back for a serializer. Fixed-width numbers are little-endian; a read
// past the end is reported and yields zeros, it never stops the caller.
class ByteStreamReader {
 public:
  ByteStreamReader() = default;
  virtual ~ByteStreamReader();
  ByteStreamReader(const ByteStreamReader&) = delete;
  ByteStreamReader& operator=(const ByteStreamReader&) = delete;

  // The next byte, or 0 when none is left.
  virtual uint8_t ReadByte() = 0;
  // Copies length bytes into destination, or leaves it untouched when fewer are left.
  virtual void ReadBytes(uint8_t* destination, uint64_t length) = 0;
  // Advances to the next multiple of alignment, counted from the start of the message.
  virtual void SkipToAlignment(uint8_t alignment) = 0;
  // How many bytes are left to read; 0 once the position is at or past the end. Lets a reader
  // of sizes refuse a claim the message cannot hold before allocating anything for it.
  virtual uint64_t RemainingBytes() const = 0;

  // How many containers enclose the value being read now. Serializers enter a level before
  // reading a container's elements and leave it afterwards, and go no deeper than their bound,
  // so that a hostile message cannot exhaust the stack.
  uint32_t nesting_depth() const { return nesting_depth_; }
  void EnterNesting() { ++nesting_depth_; }
  void LeaveNesting() { --nesting_depth_; }

 private:
  uint32_t nesting_depth_ = 0;
};

// Appends a message for a serializer.
class ByteStreamWriter {
 public:
  ByteStreamWriter() = default;
  virtual ~ByteStreamWriter();
  ByteStreamWriter(const ByteStreamWriter&) = delete;
  ByteStreamWriter& operator=(const ByteStreamWriter&) = delete;

  virtual void WriteByte(uint8_t byte) = 0;
  virtual void WriteBytes(const uint8_t* source, uint64_t length) = 0;
  // Appends zero bytes until the message length is a multiple of alignment.
  virtual void PadToAlignment(uint8_t alignment) = 0;
};

// Reads from a buffer the caller owns and keeps unchanged while the reader exists.
class ByteBufferStreamReader : public ByteStreamReader {
 public:
  ByteBufferStreamReader(const uint8_t* bytes, uint64_t size) : bytes_(bytes), size_(size) {}

  uint8_t ReadByte() override;
  void ReadBytes(uint8_t* destination, uint64_t length) override;
  void SkipToAlignment(uint8_t alignment) override;
  uint64_t RemainingBytes() const override;

  uint64_t position() const { return position_; }

 private:
  // The one bounds check that every read goes through: true when length bytes are there at the
  // position; otherwise reports the failed read.
  bool CanRead(uint64_t length) const;

  const uint8_t* bytes_;
  uint64_t size_;
  uint64_t position_ = 0;
};

// Appends to a byte vector the caller owns; never removes or rewrites what is already there.
class ByteBufferStreamWriter : public ByteStreamWriter {
 public:
  explicit ByteBufferStreamWriter(std::vector<uint8_t>* buffer) : buffer_(buffer) {}

  void WriteByte(uint8_t byte) override;
  void WriteBytes(const uint8_t* source, uint64_t length) override;
  // Pads through WriteByte, so a derived writer sees every padding byte too.
  void PadToAlignment(uint8_t alignment) override;

 private:
  std::vector<uint8_t>* buffer_;
};

}  // namespace flutter

#endif  // VELMORAN_CODEC_BYTE_STREAMS_H_
