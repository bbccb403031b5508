#ifndef VELMORAN_CODEC_BYTE_STREAMS_H_
#define VELMORAN_CODEC_BYTE_STREAMS_H_

#include <cstdint>
#include <cstring>
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

// Reads from a buffer the caller owns and keeps unchanged while the reader exists. Its
// operations are defined here, inline, so that the standard serializer can call them directly,
// without dispatch, when it reads from exactly this class.
class ByteBufferStreamReader : public ByteStreamReader {
 public:
  ByteBufferStreamReader(const uint8_t* bytes, uint64_t size) : bytes_(bytes), size_(size) {}

  uint8_t ReadByte() override {
    if (!CanRead(1)) return 0;
    return bytes_[position_++];
  }
  void ReadBytes(uint8_t* destination, uint64_t length) override {
    if (!CanRead(length)) return;
    if (length > 0) std::memcpy(destination, bytes_ + position_, static_cast<size_t>(length));
    position_ += length;
  }
  void SkipToAlignment(uint8_t alignment) override {
    if (alignment == 0) return;
    uint64_t remainder = position_ % alignment;
    if (remainder != 0) position_ += alignment - remainder;
  }
  uint64_t RemainingBytes() const override { return position_ < size_ ? size_ - position_ : 0; }

  // The next length bytes, in place, passed over as ReadBytes would copy them; null (after the
  // same report as a failed read) when fewer are left. Lets a reader build a value straight
  // from the message instead of zero-filling it first.
  const uint8_t* ReadSpan(uint64_t length) {
    if (!CanRead(length)) return nullptr;
    const uint8_t* span = bytes_ + position_;
    position_ += length;
    return span;
  }

  uint64_t position() const { return position_; }

 private:
  // The one bounds check that every read goes through: true when length bytes are there at the
  // position; otherwise reports the failed read.
  bool CanRead(uint64_t length) const {
    if (position_ <= size_ && length <= size_ - position_) return true;
    ReportInvalidRead();
    return false;
  }
  static void ReportInvalidRead();

  const uint8_t* bytes_;
  uint64_t size_;
  uint64_t position_ = 0;
};

// Appends to a byte vector the caller owns; never removes or rewrites what is already there.
// Defined inline, like the reader, for the same reason.
class ByteBufferStreamWriter : public ByteStreamWriter {
 public:
  explicit ByteBufferStreamWriter(std::vector<uint8_t>* buffer) : buffer_(buffer) {}

  void WriteByte(uint8_t byte) override { buffer_->push_back(byte); }
  void WriteBytes(const uint8_t* source, uint64_t length) override {
    if (length == 0) return;
    buffer_->insert(buffer_->end(), source, source + length);
  }
  // Pads through WriteByte, so a derived writer sees every padding byte too.
  void PadToAlignment(uint8_t alignment) override {
    if (alignment == 0) return;
    size_t remainder = buffer_->size() % alignment;
    if (remainder == 0) return;
    for (size_t i = remainder; i < alignment; ++i) WriteByte(0);
  }

 private:
  std::vector<uint8_t>* buffer_;
};

}  // namespace flutter

#endif  // VELMORAN_CODEC_BYTE_STREAMS_H_
