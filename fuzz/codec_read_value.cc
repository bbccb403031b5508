// The default serializer reading one value from arbitrary bytes.
//
// Whatever the bytes, reading must stay within the message and the nesting bound, report no
// more lines than the message has bytes (plus two), and yield a value that the serializer can
// write and read back exactly. The first writing may differ from the input (a longer size form
// than needed, the second string type, other padding bytes, a map's duplicate keys), but from
// then on the encoding is a fixed point: reading it back is clean and writing that again gives
// the same bytes. Encodings are compared rather than values, since a NaN equals nothing.

#include <cstddef>
#include <cstdint>

#include "codec/byte_streams.h"
#include "codec/encodable_value.h"
#include "codec/standard_codec_serializer.h"
#include "fuzz/fuzz_support.h"

using flutter::ByteBufferStreamReader;
using flutter::EncodableValue;
using flutter::StandardCodecSerializer;
using velmoran_fuzz::Bytes;
using velmoran_fuzz::DiagnosticLinesOf;

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  velmoran_fuzz::Diagnostics();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const StandardCodecSerializer& serializer = StandardCodecSerializer::GetInstance();

  ByteBufferStreamReader reader(data, size);
  EncodableValue first;
  const uint64_t first_lines = DiagnosticLinesOf([&] { first = serializer.ReadValue(&reader); });
  VELMORAN_FUZZ_CHECK(reader.nesting_depth() == 0);
  // At most one alignment skip may pass the end.
  VELMORAN_FUZZ_CHECK(reader.position() <= size + 7);
  VELMORAN_FUZZ_CHECK(first_lines <= size + 2);
  VELMORAN_FUZZ_CHECK(velmoran_fuzz::MaxContainerDepth(first) <=
                      StandardCodecSerializer::kMaxNestingDepth);

  Bytes encoded;
  VELMORAN_FUZZ_CHECK(DiagnosticLinesOf([&] { encoded = velmoran_fuzz::Encode(first); }) == 0);
  // A value read without a complaint is written in at most 4.5 times the bytes it was read
  // from: every size form, type byte and payload is at most as long as any form the reader
  // accepts, but map entries are written in key order, so an aligned value may land where it
  // needs more padding than it had. The worst case is an empty 64-bit list, read from 2 bytes
  // and written with up to 7 more.
  if (first_lines == 0) VELMORAN_FUZZ_CHECK(2 * encoded.size() <= 9 * reader.position());

  const velmoran_fuzz::ExactCopy copy(encoded);
  ByteBufferStreamReader again(copy.data(), copy.size());
  EncodableValue second;
  VELMORAN_FUZZ_CHECK(DiagnosticLinesOf([&] { second = serializer.ReadValue(&again); }) == 0);
  VELMORAN_FUZZ_CHECK(again.position() == encoded.size());
  VELMORAN_FUZZ_CHECK(velmoran_fuzz::Encode(second) == encoded);
  return 0;
}
