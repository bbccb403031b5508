#ifndef VELMORAN_HOST_CLI_MESSAGE_ANNOTATION_H_
#define VELMORAN_HOST_CLI_MESSAGE_ANNOTATION_H_

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string_view>

namespace velmoran_host::cli {

// What a message is expected to hold.
enum class MessageLayout {
  kValues,      // one value, then further values as long as bytes remain
  kMethodCall,  // the method name, then the arguments
  kEnvelope,    // a flag byte, then the result (flag 0) or code, message and details (flag 1)
};

// "value", "call" or "envelope"; false for anything else.
bool ParseMessageLayout(std::string_view name, MessageLayout* layout);

// Reads a standard-codec message with the codec's own serializer and byte reader, exactly as a
// channel would, and writes what each read did, one line per value, in reading order:
//
//   OFFSET  INDENT[ROLE ]type T NAME[, size N (FORM form)][, padding K at P][, NOTE][: VALUE]
//
// OFFSET is the decimal offset of the value's type byte. INDENT is two spaces per enclosing
// list or map. ROLE names the value's place: [i] for a list element, key[i] and value[i] for a
// map entry, method/arguments of a call, result or code/message/details of an envelope, and
// extra for values after those (which the method codec ignores). FORM is 1-byte, 0xFE + 16-bit
// or 0xFF + 32-bit. Padding is the alignment the reader skipped before the payload. VALUE is
// FormatValue of what was read, for every value but lists and maps, whose elements follow on
// their own lines. NOTEs tell where the reader ran past the end, refused a size the message
// cannot hold, stopped a list or map whose bytes ran out, or met an unknown type byte. An
// envelope starts with a line for the flag: OFFSET  flag F (success|error|not an envelope).
//
// Bytes left after the layout's values are read as further values. The library's own
// diagnostic lines go to standard error as it reads; malformed input never stops the reading.
void WriteAnnotatedMessage(const uint8_t* bytes, size_t size, MessageLayout layout,
                           std::ostream& out);

}  // namespace velmoran_host::cli

#endif  // VELMORAN_HOST_CLI_MESSAGE_ANNOTATION_H_
