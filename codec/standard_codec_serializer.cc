#include "codec/standard_codec_serializer.h"

#include <string>
#include <type_traits>

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

void WriteType(Type type, ByteStreamWriter* stream) {
  stream->WriteByte(static_cast<uint8_t>(type));
}

template <typename T>
void WriteNumber(T number, ByteStreamWriter* stream) {
  stream->WriteBytes(reinterpret_cast<const uint8_t*>(&number), sizeof number);
}

template <typename T>
T ReadNumber(ByteStreamReader* stream) {
  T number{};
  stream->ReadBytes(reinterpret_cast<uint8_t*>(&number), sizeof number);
  return number;
}

void ReportOversize(uint64_t size) {
  WriteDiagnosticLine("Size out of range in StandardCodecSerializer::WriteSize: " +
                      std::to_string(size));
}

// Typed lists are aligned to their element width after the size, also when they are empty: the
// reader skips to the alignment whatever the count, so the writer pads whatever the count too.
template <typename T>
void WriteTypedList(const std::vector<T>& list, const StandardCodecSerializer& serializer,
                    ByteStreamWriter* stream) {
  serializer.WriteSize(list.size(), stream);
  stream->PadToAlignment(sizeof(T));
  if (!list.empty()) {
    stream->WriteBytes(reinterpret_cast<const uint8_t*>(list.data()), list.size() * sizeof(T));
  }
}

template <typename T>
EncodableValue ReadTypedList(const StandardCodecSerializer& serializer, ByteStreamReader* stream) {
  uint64_t count = serializer.ReadSize(stream);
  stream->SkipToAlignment(sizeof(T));
  if (count > stream->RemainingBytes() / sizeof(T)) {
    WriteDiagnosticLine(kInvalidReadDiagnostic);
    return EncodableValue(std::vector<T>());
  }
  std::vector<T> list(static_cast<size_t>(count));
  stream->ReadBytes(reinterpret_cast<uint8_t*>(list.data()), count * sizeof(T));
  return EncodableValue(std::move(list));
}

// Strings and byte lists: a size in bytes, then the bytes.
template <typename Bytes>
EncodableValue ReadByteRun(const StandardCodecSerializer& serializer, ByteStreamReader* stream) {
  uint64_t size = serializer.ReadSize(stream);
  if (size > stream->RemainingBytes()) {
    WriteDiagnosticLine(kInvalidReadDiagnostic);
    return EncodableValue(Bytes());
  }
  Bytes bytes(static_cast<size_t>(size), 0);
  stream->ReadBytes(reinterpret_cast<uint8_t*>(bytes.data()), size);
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

void StandardCodecSerializer::WriteValue(const EncodableValue& value,
                                         ByteStreamWriter* stream) const {
  // A size the size form cannot carry would be written truncated and desynchronise everything
  // after it; a null keeps the message well formed.
  uint64_t size = SizeOf(value);
  if (size > kMaxSize) {
    ReportOversize(size);
    WriteType(Type::kNull, stream);
    return;
  }
  switch (value.index()) {
    case 0:
      WriteType(Type::kNull, stream);
      return;
    case 1:
      WriteType(std::get<bool>(value) ? Type::kTrue : Type::kFalse, stream);
      return;
    case 2:
      WriteType(Type::kInt32, stream);
      WriteNumber(std::get<int32_t>(value), stream);
      return;
    case 3:
      WriteType(Type::kInt64, stream);
      WriteNumber(std::get<int64_t>(value), stream);
      return;
    case 4:
      WriteType(Type::kDouble, stream);
      stream->PadToAlignment(8);
      WriteNumber(std::get<double>(value), stream);
      return;
    case 5: {
      const std::string& text = std::get<std::string>(value);
      WriteType(Type::kString, stream);
      WriteSize(text.size(), stream);
      if (!text.empty()) {
        stream->WriteBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
      }
      return;
    }
    case 6: {
      const auto& bytes = std::get<std::vector<uint8_t>>(value);
      WriteType(Type::kUint8List, stream);
      WriteSize(bytes.size(), stream);
      if (!bytes.empty()) stream->WriteBytes(bytes.data(), bytes.size());
      return;
    }
    case 7:
      WriteType(Type::kInt32List, stream);
      WriteTypedList(std::get<std::vector<int32_t>>(value), *this, stream);
      return;
    case 8:
      WriteType(Type::kInt64List, stream);
      WriteTypedList(std::get<std::vector<int64_t>>(value), *this, stream);
      return;
    case 9:
      WriteType(Type::kDoubleList, stream);
      WriteTypedList(std::get<std::vector<double>>(value), *this, stream);
      return;
    case 10: {
      const auto& list = std::get<EncodableList>(value);
      WriteType(Type::kList, stream);
      WriteSize(list.size(), stream);
      for (const EncodableValue& element : list) WriteValue(element, stream);
      return;
    }
    case 11: {
      const auto& map = std::get<EncodableMap>(value);
      WriteType(Type::kMap, stream);
      WriteSize(map.size(), stream);
      for (const auto& entry : map) {
        WriteValue(entry.first, stream);
        WriteValue(entry.second, stream);
      }
      return;
    }
    case 12:
      WriteType(Type::kNull, stream);
      WriteDiagnosticLine(
          "Unhandled custom type in StandardCodecSerializer::WriteValue. "
          "Custom types require codec extensions.");
      return;
    case 13:
      WriteType(Type::kFloat32List, stream);
      WriteTypedList(std::get<std::vector<float>>(value), *this, stream);
      return;
  }
}

EncodableValue StandardCodecSerializer::ReadValueOfType(uint8_t type,
                                                        ByteStreamReader* stream) const {
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
      return EncodableValue(ReadNumber<int32_t>(stream));
    case Type::kInt64:
      return EncodableValue(ReadNumber<int64_t>(stream));
    case Type::kDouble:
      stream->SkipToAlignment(8);
      return EncodableValue(ReadNumber<double>(stream));
    case Type::kLegacyString:
    case Type::kString:
      return ReadByteRun<std::string>(*this, stream);
    case Type::kUint8List:
      return ReadByteRun<std::vector<uint8_t>>(*this, stream);
    case Type::kInt32List:
      return ReadTypedList<int32_t>(*this, stream);
    case Type::kInt64List:
      return ReadTypedList<int64_t>(*this, stream);
    case Type::kDoubleList:
      return ReadTypedList<double>(*this, stream);
    case Type::kFloat32List:
      return ReadTypedList<float>(*this, stream);
    case Type::kList:
    case Type::kMap:
      break;
  }

  // Lists and maps. Every element takes at least one byte, so a count beyond the bytes left is
  // refused outright; and once the bytes run out, the elements still owed would all read as
  // failed nulls, so the container stops there with one diagnostic instead. Together this keeps
  // what a message can make the reader allocate, print and do proportional to its own size.
  const bool is_map = static_cast<Type>(type) == Type::kMap;
  if (stream->nesting_depth() >= kMaxNestingDepth) {
    WriteDiagnosticLine("Nesting deeper than " + std::to_string(kMaxNestingDepth) +
                        " in StandardCodecSerializer::ReadValueOfType");
    return EncodableValue();
  }
  uint64_t count = ReadSize(stream);
  if (count > stream->RemainingBytes()) {
    WriteDiagnosticLine(kInvalidReadDiagnostic);
    return is_map ? EncodableValue(EncodableMap()) : EncodableValue(EncodableList());
  }

  stream->EnterNesting();
  EncodableValue result;
  if (is_map) {
    EncodableMap map;
    for (uint64_t i = 0; i < count; ++i) {
      if (stream->RemainingBytes() == 0) {
        WriteDiagnosticLine(kInvalidReadDiagnostic);
        break;
      }
      EncodableValue key = ReadValue(stream);
      EncodableValue mapped = ReadValue(stream);
      // Keys usually arrive in ascending order, as this serializer writes them: hinting the end
      // makes each insertion constant time then. An equivalent key already there wins.
      map.emplace_hint(map.end(), std::move(key), std::move(mapped));
    }
    result = EncodableValue(std::move(map));
  } else {
    EncodableList list;
    for (uint64_t i = 0; i < count; ++i) {
      if (stream->RemainingBytes() == 0) {
        WriteDiagnosticLine(kInvalidReadDiagnostic);
        break;
      }
      list.push_back(ReadValue(stream));
    }
    result = EncodableValue(std::move(list));
  }
  stream->LeaveNesting();
  return result;
}

void StandardCodecSerializer::WriteSize(uint64_t size, ByteStreamWriter* stream) const {
  if (size < 254) {
    stream->WriteByte(static_cast<uint8_t>(size));
  } else if (size <= 0xFFFF) {
    stream->WriteByte(254);
    WriteNumber(static_cast<uint16_t>(size), stream);
  } else if (size <= kMaxSize) {
    stream->WriteByte(255);
    WriteNumber(static_cast<uint32_t>(size), stream);
  } else {
    ReportOversize(size);
  }
}

uint64_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
  uint8_t first = stream->ReadByte();
  if (first < 254) return first;
  if (first == 254) return ReadNumber<uint16_t>(stream);
  return ReadNumber<uint32_t>(stream);
}

}  // namespace flutter
