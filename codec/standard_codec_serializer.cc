#include "codec/standard_codec_serializer.h"

#include <cstring>
#include <iterator>
#include <string>
#include <type_traits>
#include <typeinfo>

#include "codec/diagnostic.h"

namespace flutter {

namespace {

// Type bytes of the wire format.
enum class Type : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLegacyString = 5,
  kDouble = 6,
  kString = 7,
  kUint8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kDoubleList = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};
constexpr uint8_t kLastKnownType = static_cast<uint8_t>(Type::kFloat32List);

// Where the serializer writes and reads. Through a stream's virtual operations in general; but
// when the serializer is exactly StandardCodecSerializer and the stream exactly a byte buffer
// stream, through the buffer stream's own operations called directly, with no dispatch per byte,
// and nested values written and read without going back through the virtual entry points (no
// derived serializer can be listening). Both ways write and read the same bytes, through the same
// code below.
struct StreamSink {
  const StandardCodecSerializer& serializer;
  ByteStreamWriter* stream;
  void Byte(uint8_t byte) { stream->WriteByte(byte); }
  void Bytes(const uint8_t* source, uint64_t length) { stream->WriteBytes(source, length); }
  void Pad(uint8_t alignment) { stream->PadToAlignment(alignment); }
  void Element(const EncodableValue& value) { serializer.WriteValue(value, stream); }
};

struct BufferSink {
  const StandardCodecSerializer& serializer;
  ByteBufferStreamWriter* stream;
  void Byte(uint8_t byte) { stream->ByteBufferStreamWriter::WriteByte(byte); }
  void Bytes(const uint8_t* source, uint64_t length) {
    stream->ByteBufferStreamWriter::WriteBytes(source, length);
  }
  void Pad(uint8_t alignment) { stream->ByteBufferStreamWriter::PadToAlignment(alignment); }
  void Element(const EncodableValue& value);
};

struct StreamSource {
  const StandardCodecSerializer& serializer;
  ByteStreamReader* stream;
  uint8_t Byte() { return stream->ReadByte(); }
  void Bytes(uint8_t* destination, uint64_t length) { stream->ReadBytes(destination, length); }
  void Skip(uint8_t alignment) { stream->SkipToAlignment(alignment); }
  uint64_t Remaining() const { return stream->RemainingBytes(); }
  // An arbitrary stream cannot lend its bytes: the caller reads them into a value of its own.
  static constexpr bool kLendsBytes = false;
  const uint8_t* Span(uint64_t) { return nullptr; }
  EncodableValue Element() { return serializer.ReadValue(stream); }
};

struct BufferSource {
  const StandardCodecSerializer& serializer;
  ByteBufferStreamReader* stream;
  uint8_t Byte() { return stream->ByteBufferStreamReader::ReadByte(); }
  void Bytes(uint8_t* destination, uint64_t length) {
    stream->ByteBufferStreamReader::ReadBytes(destination, length);
  }
  void Skip(uint8_t alignment) { stream->ByteBufferStreamReader::SkipToAlignment(alignment); }
  uint64_t Remaining() const { return stream->ByteBufferStreamReader::RemainingBytes(); }
  static constexpr bool kLendsBytes = true;
  const uint8_t* Span(uint64_t length) { return stream->ReadSpan(length); }
  EncodableValue Element();
};

template <typename Sink>
void WriteType(Type type, Sink& sink) {
  sink.Byte(static_cast<uint8_t>(type));
}

template <typename T, typename Sink>
void WriteNumber(T number, Sink& sink) {
  sink.Bytes(reinterpret_cast<const uint8_t*>(&number), sizeof number);
}

template <typename T, typename Source>
T ReadNumber(Source& source) {
  T number{};
  source.Bytes(reinterpret_cast<uint8_t*>(&number), sizeof number);
  return number;
}

void ReportOversize(uint64_t size) {
  WriteDiagnosticLine("Size out of range in StandardCodecSerializer::WriteSize: " +
                      std::to_string(size));
}

template <typename Sink>
void WriteSizeTo(uint64_t size, Sink& sink) {
  if (size < 254) {
    sink.Byte(static_cast<uint8_t>(size));
  } else if (size <= 0xFFFF) {
    sink.Byte(254);
    WriteNumber(static_cast<uint16_t>(size), sink);
  } else if (size <= StandardCodecSerializer::kMaxSize) {
    sink.Byte(255);
    WriteNumber(static_cast<uint32_t>(size), sink);
  } else {
    ReportOversize(size);
  }
}

template <typename Source>
uint64_t ReadSizeFrom(Source& source) {
  uint8_t first = source.Byte();
  if (first < 254) return first;
  if (first == 254) return ReadNumber<uint16_t>(source);
  return ReadNumber<uint32_t>(source);
}

// Typed lists are aligned to their element width after the size, also when they are empty: the
// reader skips to the alignment whatever the count, so the writer pads whatever the count too.
template <typename T, typename Sink>
void WriteTypedList(const std::vector<T>& list, Sink& sink) {
  WriteSizeTo(list.size(), sink);
  sink.Pad(sizeof(T));
  if (!list.empty()) {
    sink.Bytes(reinterpret_cast<const uint8_t*>(list.data()), list.size() * sizeof(T));
  }
}

// Reads the elements of a typed list out of bytes that need not be aligned in memory (they are
// aligned only from the start of the message), so that a list is built straight from them.
template <typename T>
class UnalignedElements {
 public:
  using iterator_category = std::random_access_iterator_tag;
  using value_type = T;
  using difference_type = std::ptrdiff_t;
  using pointer = const T*;
  using reference = T;

  explicit UnalignedElements(const uint8_t* at) : at_(at) {}
  T operator*() const {
    T element;
    std::memcpy(&element, at_, sizeof(T));
    return element;
  }
  UnalignedElements& operator++() {
    at_ += sizeof(T);
    return *this;
  }
  UnalignedElements operator++(int) {
    UnalignedElements before = *this;
    at_ += sizeof(T);
    return before;
  }
  difference_type operator-(const UnalignedElements& other) const {
    return (at_ - other.at_) / static_cast<difference_type>(sizeof(T));
  }
  bool operator==(const UnalignedElements& other) const { return at_ == other.at_; }
  bool operator!=(const UnalignedElements& other) const { return at_ != other.at_; }

 private:
  const uint8_t* at_;
};

template <typename T, typename Source>
EncodableValue ReadTypedList(Source& source) {
  uint64_t count = ReadSizeFrom(source);
  source.Skip(sizeof(T));
  if (count > source.Remaining() / sizeof(T)) {
    WriteDiagnosticLine(kInvalidReadDiagnostic);
    return EncodableValue(std::vector<T>());
  }
  uint64_t length = count * sizeof(T);
  if constexpr (Source::kLendsBytes) {
    const uint8_t* span = source.Span(length);
    if (span == nullptr) return EncodableValue(std::vector<T>());  // reported by the source
    return EncodableValue(
        std::vector<T>(UnalignedElements<T>(span), UnalignedElements<T>(span + length)));
  }
  std::vector<T> list(static_cast<size_t>(count));
  source.Bytes(reinterpret_cast<uint8_t*>(list.data()), length);
  return EncodableValue(std::move(list));
}

// Strings and byte lists: a size in bytes, then the bytes.
template <typename Bytes, typename Source>
EncodableValue ReadByteRun(Source& source) {
  uint64_t size = ReadSizeFrom(source);
  if (size > source.Remaining()) {
    WriteDiagnosticLine(kInvalidReadDiagnostic);
    return EncodableValue(Bytes());
  }
  if (const uint8_t* span = source.Span(size)) {
    using Unit = typename Bytes::value_type;
    return EncodableValue(
        Bytes(reinterpret_cast<const Unit*>(span), reinterpret_cast<const Unit*>(span) + size));
  }
  Bytes bytes(static_cast<size_t>(size), 0);
  source.Bytes(reinterpret_cast<uint8_t*>(bytes.data()), size);
  return EncodableValue(std::move(bytes));
}

// The number of elements or bytes that follows the type byte, for the alternatives that carry
// one; 0 for the others.
uint64_t SizeOf(const EncodableValue& value) {
  return std::visit(
      [](const auto& content) -> uint64_t {
        using T = std::decay_t<decltype(content)>;
        if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, EncodableList> ||
                      std::is_same_v<T, EncodableMap> || std::is_same_v<T, std::vector<uint8_t>> ||
                      std::is_same_v<T, std::vector<int32_t>> ||
                      std::is_same_v<T, std::vector<int64_t>> ||
                      std::is_same_v<T, std::vector<double>> ||
                      std::is_same_v<T, std::vector<float>>) {
          return content.size();
        } else {
          return 0;
        }
      },
      static_cast<const EncodableValue::Variant&>(value));
}

}  // namespace

StandardCodecSerializer::StandardCodecSerializer() = default;
StandardCodecSerializer::~StandardCodecSerializer() = default;

const StandardCodecSerializer& StandardCodecSerializer::GetInstance() {
  // Never destroyed: the codecs made for it live until the process ends, and a reply may still
  // be encoded on another thread while static objects are being destroyed at exit.
  static const StandardCodecSerializer* const instance = new StandardCodecSerializer();
  return *instance;
}

EncodableValue StandardCodecSerializer::ReadValue(ByteStreamReader* stream) const {
  uint8_t type = stream->ReadByte();
  return ReadValueOfType(type, stream);
}

namespace {

template <typename Sink>
void WriteValueTo(const EncodableValue& value, Sink& sink) {
  // A size the size form cannot carry would be written truncated and desynchronise everything
  // after it; a null keeps the message well formed.
  uint64_t size = SizeOf(value);
  if (size > StandardCodecSerializer::kMaxSize) {
    ReportOversize(size);
    WriteType(Type::kNull, sink);
    return;
  }
  switch (value.index()) {
    case 0:
      WriteType(Type::kNull, sink);
      return;
    case 1:
      WriteType(std::get<bool>(value) ? Type::kTrue : Type::kFalse, sink);
      return;
    case 2:
      WriteType(Type::kInt32, sink);
      WriteNumber(std::get<int32_t>(value), sink);
      return;
    case 3:
      WriteType(Type::kInt64, sink);
      WriteNumber(std::get<int64_t>(value), sink);
      return;
    case 4:
      WriteType(Type::kDouble, sink);
      sink.Pad(8);
      WriteNumber(std::get<double>(value), sink);
      return;
    case 5: {
      const std::string& text = std::get<std::string>(value);
      WriteType(Type::kString, sink);
      WriteSizeTo(text.size(), sink);
      if (!text.empty()) {
        sink.Bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
      }
      return;
    }
    case 6: {
      const auto& bytes = std::get<std::vector<uint8_t>>(value);
      WriteType(Type::kUint8List, sink);
      WriteSizeTo(bytes.size(), sink);
      if (!bytes.empty()) sink.Bytes(bytes.data(), bytes.size());
      return;
    }
    case 7:
      WriteType(Type::kInt32List, sink);
      WriteTypedList(std::get<std::vector<int32_t>>(value), sink);
      return;
    case 8:
      WriteType(Type::kInt64List, sink);
      WriteTypedList(std::get<std::vector<int64_t>>(value), sink);
      return;
    case 9:
      WriteType(Type::kDoubleList, sink);
      WriteTypedList(std::get<std::vector<double>>(value), sink);
      return;
    case 10: {
      const auto& list = std::get<EncodableList>(value);
      WriteType(Type::kList, sink);
      WriteSizeTo(list.size(), sink);
      for (const EncodableValue& element : list) sink.Element(element);
      return;
    }
    case 11: {
      const auto& map = std::get<EncodableMap>(value);
      WriteType(Type::kMap, sink);
      WriteSizeTo(map.size(), sink);
      for (const auto& entry : map) {
        sink.Element(entry.first);
        sink.Element(entry.second);
      }
      return;
    }
    case 12:
      WriteType(Type::kNull, sink);
      WriteDiagnosticLine(
          "Unhandled custom type in StandardCodecSerializer::WriteValue. "
          "Custom types require codec extensions.");
      return;
    case 13:
      WriteType(Type::kFloat32List, sink);
      WriteTypedList(std::get<std::vector<float>>(value), sink);
      return;
  }
}

template <typename Source>
EncodableValue ReadValueOfTypeFrom(uint8_t type, Source& source) {
  ByteStreamReader* stream = source.stream;
  if (type > kLastKnownType) {
    WriteDiagnosticLine("Unknown type in StandardCodecSerializer::ReadValueOfType: " +
                        std::to_string(type));
    return EncodableValue();
  }
  switch (static_cast<Type>(type)) {
    case Type::kNull:
      return EncodableValue();
    case Type::kTrue:
      return EncodableValue(true);
    case Type::kFalse:
      return EncodableValue(false);
    case Type::kInt32:
      return EncodableValue(ReadNumber<int32_t>(source));
    case Type::kInt64:
      return EncodableValue(ReadNumber<int64_t>(source));
    case Type::kDouble:
      source.Skip(8);
      return EncodableValue(ReadNumber<double>(source));
    case Type::kLegacyString:
    case Type::kString:
      return ReadByteRun<std::string>(source);
    case Type::kUint8List:
      return ReadByteRun<std::vector<uint8_t>>(source);
    case Type::kInt32List:
      return ReadTypedList<int32_t>(source);
    case Type::kInt64List:
      return ReadTypedList<int64_t>(source);
    case Type::kDoubleList:
      return ReadTypedList<double>(source);
    case Type::kFloat32List:
      return ReadTypedList<float>(source);
    case Type::kList:
    case Type::kMap:
      break;
  }

  // Lists and maps. Every element takes at least one byte, so a count beyond the bytes left is
  // refused outright; and once the bytes run out, the elements still owed would all read as
  // failed nulls, so the container stops there with one diagnostic instead. Together this keeps
  // what a message can make the reader allocate, print and do proportional to its own size.
  const bool is_map = static_cast<Type>(type) == Type::kMap;
  if (stream->nesting_depth() >= StandardCodecSerializer::kMaxNestingDepth) {
    WriteDiagnosticLine("Nesting deeper than " +
                        std::to_string(StandardCodecSerializer::kMaxNestingDepth) +
                        " in StandardCodecSerializer::ReadValueOfType");
    return EncodableValue();
  }
  uint64_t count = ReadSizeFrom(source);
  if (count > source.Remaining()) {
    WriteDiagnosticLine(kInvalidReadDiagnostic);
    return is_map ? EncodableValue(EncodableMap()) : EncodableValue(EncodableList());
  }

  stream->EnterNesting();
  EncodableValue result;
  if (is_map) {
    EncodableMap map;
    for (uint64_t i = 0; i < count; ++i) {
      if (source.Remaining() == 0) {
        WriteDiagnosticLine(kInvalidReadDiagnostic);
        break;
      }
      EncodableValue key = source.Element();
      EncodableValue mapped = source.Element();
      // Keys usually arrive in ascending order, as this serializer writes them: hinting the end
      // makes each insertion constant time then. An equivalent key already there wins.
      map.emplace_hint(map.end(), std::move(key), std::move(mapped));
    }
    result = EncodableValue(std::move(map));
  } else {
    EncodableList list;
    for (uint64_t i = 0; i < count; ++i) {
      if (source.Remaining() == 0) {
        WriteDiagnosticLine(kInvalidReadDiagnostic);
        break;
      }
      list.push_back(source.Element());
    }
    result = EncodableValue(std::move(list));
  }
  stream->LeaveNesting();
  return result;
}

void BufferSink::Element(const EncodableValue& value) { WriteValueTo(value, *this); }

EncodableValue BufferSource::Element() {
  uint8_t type = Byte();
  return ReadValueOfTypeFrom(type, *this);
}

// Whether nobody can be listening between the serializer and the buffer: neither a derived
// serializer with codec extensions nor a derived stream.
bool IsPlain(const StandardCodecSerializer& serializer) {
  return typeid(serializer) == typeid(StandardCodecSerializer);
}

}  // namespace

void StandardCodecSerializer::WriteValue(const EncodableValue& value,
                                         ByteStreamWriter* stream) const {
  if (IsPlain(*this) && typeid(*stream) == typeid(ByteBufferStreamWriter)) {
    BufferSink sink{*this, static_cast<ByteBufferStreamWriter*>(stream)};
    WriteValueTo(value, sink);
  } else {
    StreamSink sink{*this, stream};
    WriteValueTo(value, sink);
  }
}

EncodableValue StandardCodecSerializer::ReadValueOfType(uint8_t type,
                                                        ByteStreamReader* stream) const {
  if (IsPlain(*this) && typeid(*stream) == typeid(ByteBufferStreamReader)) {
    BufferSource source{*this, static_cast<ByteBufferStreamReader*>(stream)};
    return ReadValueOfTypeFrom(type, source);
  }
  StreamSource source{*this, stream};
  return ReadValueOfTypeFrom(type, source);
}

void StandardCodecSerializer::WriteSize(uint64_t size, ByteStreamWriter* stream) const {
  StreamSink sink{*this, stream};
  WriteSizeTo(size, sink);
}

uint64_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
  StreamSource source{*this, stream};
  return ReadSizeFrom(source);
}

}  // namespace flutter
