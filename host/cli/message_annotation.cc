#include "host/cli/message_annotation.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "codec/byte_streams.h"
#include "codec/encodable_value.h"
#include "codec/standard_codec_serializer.h"
#include "host/cli/value_text.h"

namespace velmoran_host::cli {

namespace {

using flutter::ByteBufferStreamReader;
using flutter::ByteStreamReader;
using flutter::EncodableValue;
using flutter::StandardCodecSerializer;

constexpr size_t kNone = static_cast<size_t>(-1);

constexpr uint8_t kListType = 12;
constexpr uint8_t kMapType = 13;

// One call the serializer made on the reader.
struct ReadEvent {
  enum Kind { kByte, kBytes, kSkip } kind;
  uint64_t offset;  // the position before the call
  uint64_t length;  // bytes asked for, or skipped
  bool failed;      // ran past the end (the reader wrote its diagnostic line)
};

// One value the serializer read, in reading order (a value comes before its elements).
struct ValueRecord {
  uint8_t type;
  uint64_t type_offset;
  bool type_failed;
  size_t depth;
  size_t parent;       // index of the enclosing list or map, or kNone
  size_t ordinal;      // place among the parent's elements (keys and values counted apart)
  size_t first_event;  // the first read after the type byte
  size_t end_event;    // one past the last read of the value, elements included
  size_t element_count = 0;
  EncodableValue value;  // what was read, for values other than lists and maps
  std::string role;      // for a value at the top: its part of the message
  std::string note;      // for a value at the top: what the method codec makes of it
};

// The codec's buffer reader, keeping a record of every read and skip the serializer asks for.
class RecordingReader : public ByteBufferStreamReader {
 public:
  RecordingReader(const uint8_t* bytes, uint64_t size)
      : ByteBufferStreamReader(bytes, size), size_(size) {}

  uint8_t ReadByte() override {
    events.push_back({ReadEvent::kByte, position(), 1, !Fits(1)});
    return ByteBufferStreamReader::ReadByte();
  }

  void ReadBytes(uint8_t* destination, uint64_t length) override {
    events.push_back({ReadEvent::kBytes, position(), length, !Fits(length)});
    ByteBufferStreamReader::ReadBytes(destination, length);
  }

  void SkipToAlignment(uint8_t alignment) override {
    uint64_t before = position();
    ByteBufferStreamReader::SkipToAlignment(alignment);
    events.push_back({ReadEvent::kSkip, before, position() - before, false});
  }

  std::vector<ReadEvent> events;
  std::vector<ValueRecord> values;
  std::vector<size_t> open_values;  // the lists and maps being read, outermost first

 private:
  // The reader's own bounds rule: a skip may have left the position past the end.
  bool Fits(uint64_t length) const { return position() <= size_ && length <= size_ - position(); }

  uint64_t size_;
};

// The standard serializer, unchanged, except that it notes where each value starts and ends.
// Every element of a list or map is read through ReadValueOfType, so elements at every depth
// are seen.
class RecordingSerializer : public StandardCodecSerializer {
 public:
  EncodableValue ReadValueOfType(uint8_t type, ByteStreamReader* stream) const override {
    auto* reader = dynamic_cast<RecordingReader*>(stream);
    if (reader == nullptr || reader->events.empty()) {
      return StandardCodecSerializer::ReadValueOfType(type, stream);
    }
    // ReadValue has just read the type byte.
    const ReadEvent& type_read = reader->events.back();
    size_t index = reader->values.size();
    ValueRecord record;
    record.type = type;
    record.type_offset = type_read.offset;
    record.type_failed = type_read.failed;
    record.depth = reader->open_values.size();
    record.parent = reader->open_values.empty() ? kNone : reader->open_values.back();
    record.ordinal = 0;
    if (record.parent != kNone) record.ordinal = reader->values[record.parent].element_count++;
    record.first_event = reader->events.size();
    record.end_event = record.first_event;
    reader->values.push_back(std::move(record));

    reader->open_values.push_back(index);
    EncodableValue value = StandardCodecSerializer::ReadValueOfType(type, stream);
    reader->open_values.pop_back();

    ValueRecord& done = reader->values[index];
    done.end_event = reader->events.size();
    if (type != kListType && type != kMapType) done.value = value;
    return value;
  }
};

const char* TypeName(uint8_t type) {
  static const char* const kNames[] = {
      "null",       "true",         "false",  "int32",      "int64",
      "string",     "double",       "string", "uint8 list", "int32 list",
      "int64 list", "float64 list", "list",   "map",        "float32 list",
  };
  return type < sizeof kNames / sizeof kNames[0] ? kNames[type] : "unknown";
}

bool HasSize(uint8_t type) { return type == 5 || (type >= 7 && type <= 14); }

// Element width of the typed lists, 1 for strings and byte lists, 0 for the rest.
uint64_t PayloadWidth(uint8_t type) {
  switch (type) {
    case 5:
    case 7:
    case 8:
      return 1;
    case 9:
    case 14:
      return 4;
    case 10:
    case 11:
      return 8;
    default:
      return 0;
  }
}

uint64_t ReadLittleEndian(const uint8_t* bytes, uint64_t offset, uint64_t length) {
  uint64_t number = 0;
  for (uint64_t i = length; i > 0; --i) number = (number << 8) | bytes[offset + i - 1];
  return number;
}

std::string Counted(uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

struct Line {
  uint64_t offset;
  std::string text;
};

class Annotator {
 public:
  Annotator(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size), reader_(bytes, size) {}

  // Reads one whole value as the given part of the message.
  EncodableValue ReadValue(const std::string& role) {
    last_top_level_ = reader_.values.size();
    EncodableValue value = serializer_.ReadValue(&reader_);
    reader_.values[last_top_level_].role = role;
    return value;
  }

  // Adds a note to the line of the value ReadValue read last.
  void NoteLastValue(const std::string& note) { reader_.values[last_top_level_].note = note; }

  uint8_t ReadFlag() {
    uint64_t offset = reader_.position();
    bool failed = reader_.RemainingBytes() == 0;
    uint8_t flag = reader_.ReadByte();
    std::string text = "flag " + std::to_string(flag);
    text += flag == 0 ? " (success)" : flag == 1 ? " (error)" : " (not an envelope)";
    if (failed) text += ", read past the end";
    flag_line_ = Line{offset, text};
    return flag;
  }

  bool BytesLeft() const { return reader_.RemainingBytes() > 0; }

  void Write(std::ostream& out) {
    std::vector<Line> lines;
    if (flag_line_.has_value()) lines.push_back(*flag_line_);
    for (size_t i = 0; i < reader_.values.size(); ++i) lines.push_back(Describe(i));
    uint64_t widest = 0;
    for (const Line& line : lines) widest = std::max(widest, line.offset);
    size_t width = std::to_string(widest).size();
    for (const Line& line : lines) {
      std::string offset = std::to_string(line.offset);
      out << std::string(width - offset.size(), ' ') << offset << "  " << line.text << '\n';
    }
  }

 private:
  std::string RoleOf(size_t index) const {
    const ValueRecord& record = reader_.values[index];
    if (record.parent == kNone) return record.role.empty() ? "" : record.role + " ";
    const ValueRecord& parent = reader_.values[record.parent];
    std::string place =
        std::to_string(parent.type == kMapType ? record.ordinal / 2 : record.ordinal);
    if (parent.type != kMapType) return "[" + place + "] ";
    return (record.ordinal % 2 == 0 ? "key[" : "value[") + place + "] ";
  }

  // The reads that belong to the value itself: up to its first element, if it has any.
  size_t OwnEventsEnd(size_t index) const {
    const ValueRecord& record = reader_.values[index];
    if (record.element_count > 0) return reader_.values[index + 1].first_event - 1;
    return record.end_event;
  }

  Line Describe(size_t index) const {
    const ValueRecord& record = reader_.values[index];
    std::string text(record.depth * 2, ' ');
    text += RoleOf(index);
    text += "type " + std::to_string(record.type) + " " + TypeName(record.type);

    std::vector<std::string> details;
    if (record.type_failed) details.push_back("read past the end");
    if (record.type > 14) details.push_back("not a type of the format, read as null");

    const std::vector<ReadEvent>& events = reader_.events;
    size_t next = record.first_event;
    size_t end = OwnEventsEnd(index);
    bool size_read = false;
    uint64_t size = 0;
    if (HasSize(record.type) && next < end && events[next].kind == ReadEvent::kByte) {
      size_read = true;
      const ReadEvent& first = events[next++];
      std::string form = "1-byte";
      if (!first.failed) {
        uint8_t lead = bytes_[first.offset];
        size = lead;
        if (lead >= 254) {
          form = lead == 254 ? "0xFE + 16-bit" : "0xFF + 32-bit";
          size = 0;
          if (next < end && events[next].kind == ReadEvent::kBytes) {
            const ReadEvent& rest = events[next++];
            if (!rest.failed) size = ReadLittleEndian(bytes_, rest.offset, rest.length);
            if (rest.failed) details.push_back("size read past the end");
          }
        }
      } else {
        details.push_back("size read past the end");
      }
      details.insert(details.begin(), "size " + std::to_string(size) + " (" + form + " form)");
    } else if (HasSize(record.type) && !record.type_failed) {
      // Only lists and maps read nothing at all: they are refused at the nesting bound.
      details.push_back("not read: nested deeper than " +
                        std::to_string(StandardCodecSerializer::kMaxNestingDepth));
    }

    bool payload_read = false;
    for (; next < end; ++next) {
      const ReadEvent& event = events[next];
      if (event.kind == ReadEvent::kSkip) {
        if (event.length > 0) {
          details.push_back("padding " + std::to_string(event.length) + " at " +
                            std::to_string(event.offset));
        }
        continue;
      }
      payload_read = true;
      if (event.failed) details.push_back("read past the end at " + std::to_string(event.offset));
    }

    uint64_t position_after_size =
        end > record.first_event ? PositionAfter(end - 1) : record.type_offset + 1;
    uint64_t left = position_after_size < size_ ? size_ - position_after_size : 0;
    uint64_t width = PayloadWidth(record.type);
    if (size_read && width > 0 && !payload_read) {
      details.push_back("refused: announces " + Counted(size * width, "byte", "bytes") + ", " +
                        std::to_string(left) + " left");
    }
    if (size_read && (record.type == kListType || record.type == kMapType)) {
      bool is_map = record.type == kMapType;
      uint64_t expected = is_map ? size * 2 : size;
      uint64_t read = is_map ? record.element_count / 2 : record.element_count;
      std::string announced =
          is_map ? Counted(size, "entry", "entries") : Counted(size, "element", "elements");
      if (record.element_count == 0 && expected > 0) {
        details.push_back("refused: announces " + announced + ", " +
                          Counted(left, "byte", "bytes") + " left");
      } else if (record.element_count < expected) {
        details.push_back("stopped after " + std::to_string(read) + " of " + announced +
                          ": the bytes ran out");
      }
    }
    if (!record.note.empty()) details.push_back(record.note);

    for (const std::string& detail : details) text += ", " + detail;
    if (record.type != kListType && record.type != kMapType) {
      text += ": " + FormatValue(record.value);
    }
    return Line{record.type_offset, text};
  }

  // Where the reader stood after the given read.
  uint64_t PositionAfter(size_t event_index) const {
    const ReadEvent& event = reader_.events[event_index];
    if (event.kind == ReadEvent::kSkip) return event.offset + event.length;
    return event.failed ? event.offset : event.offset + event.length;
  }

  const uint8_t* bytes_;
  size_t size_;
  RecordingReader reader_;
  RecordingSerializer serializer_;
  size_t last_top_level_ = 0;
  std::optional<Line> flag_line_;
};

}  // namespace

bool ParseMessageLayout(std::string_view name, MessageLayout* layout) {
  if (name == "value") {
    *layout = MessageLayout::kValues;
  } else if (name == "call") {
    *layout = MessageLayout::kMethodCall;
  } else if (name == "envelope") {
    *layout = MessageLayout::kEnvelope;
  } else {
    return false;
  }
  return true;
}

void WriteAnnotatedMessage(const uint8_t* bytes, size_t size, MessageLayout layout,
                           std::ostream& out) {
  Annotator annotator(bytes, size);
  std::string extra_role;
  switch (layout) {
    case MessageLayout::kValues:
      annotator.ReadValue("");
      break;
    case MessageLayout::kMethodCall:
      extra_role = "extra";
      // The method codec reads no arguments after a name that is not a string.
      if (annotator.ReadValue("method").GetIf<std::string>() == nullptr) {
        annotator.NoteLastValue("not a string, so no method call");
      } else {
        annotator.ReadValue("arguments");
      }
      break;
    case MessageLayout::kEnvelope: {
      extra_role = "extra";
      uint8_t flag = annotator.ReadFlag();
      if (flag == 0) {
        annotator.ReadValue("result");
      } else if (flag == 1) {
        annotator.ReadValue("code");
        annotator.ReadValue("message");
        annotator.ReadValue("details");
      }
      break;
    }
  }
  while (annotator.BytesLeft()) annotator.ReadValue(extra_role);
  annotator.Write(out);
}

}  // namespace velmoran_host::cli
