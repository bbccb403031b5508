#include "codec/byte_streams.h"

#include <cstring>

#include "codec/diagnostic.h"

namespace flutter {

ByteStreamReader::~ByteStreamReader() = default;
ByteStreamWriter::~ByteStreamWriter() = default;

bool ByteBufferStreamReader::CanRead(uint64_t length) const {
  if (position_ <= size_ && length <= size_ - position_) return true;
  WriteDiagnosticLine(kInvalidReadDiagnostic);
  return false;
}

uint8_t ByteBufferStreamReader::ReadByte() {
  if (!CanRead(1)) return 0;
  return bytes_[position_++];
}

void ByteBufferStreamReader::ReadBytes(uint8_t* destination, uint64_t length) {
  if (!CanRead(length)) return;
  if (length > 0) std::memcpy(destination, bytes_ + position_, static_cast<size_t>(length));
  position_ += length;
}

void ByteBufferStreamReader::SkipToAlignment(uint8_t alignment) {
  if (alignment == 0) return;
  uint64_t remainder = position_ % alignment;
  if (remainder != 0) position_ += alignment - remainder;
}

uint64_t ByteBufferStreamReader::RemainingBytes() const {
  return position_ < size_ ? size_ - position_ : 0;
}

void ByteBufferStreamWriter::WriteByte(uint8_t byte) { buffer_->push_back(byte); }

void ByteBufferStreamWriter::WriteBytes(const uint8_t* source, uint64_t length) {
  if (length == 0) return;
  buffer_->insert(buffer_->end(), source, source + length);
}

void ByteBufferStreamWriter::PadToAlignment(uint8_t alignment) {
  if (alignment == 0) return;
  size_t remainder = buffer_->size() % alignment;
  if (remainder == 0) return;
  for (size_t i = remainder; i < alignment; ++i) WriteByte(0);
}

}  // namespace flutter
