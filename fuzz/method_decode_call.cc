// The standard method codec decoding a method call from arbitrary bytes.
//
// A call that comes back always has arguments, and it survives a round trip: encoded and
// decoded again it has the same name, and its encoding is a fixed point (compared as bytes, so
// that NaN arguments compare too). Decoding the codec's own encoding is clean.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "codec/encodable_value.h"
#include "fuzz/fuzz_support.h"
#include "method/method_call.h"
#include "method/standard_method_codec.h"

using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::StandardMethodCodec;
using velmoran_fuzz::DiagnosticLinesOf;

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  velmoran_fuzz::Diagnostics();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();

  std::unique_ptr<MethodCall<EncodableValue>> call;
  const uint64_t lines = DiagnosticLinesOf([&] { call = codec.DecodeMethodCall(data, size); });
  // Each line pays for a byte the reader went past, except for at most two per value where the
  // bytes ran out, and the line about the name: two values.
  VELMORAN_FUZZ_CHECK(lines <= size + 5);
  if (!call) return 0;
  VELMORAN_FUZZ_CHECK(call->arguments() != nullptr);

  const std::unique_ptr<std::vector<uint8_t>> encoded = codec.EncodeMethodCall(*call);
  VELMORAN_FUZZ_CHECK(encoded != nullptr);
  const velmoran_fuzz::ExactCopy copy(*encoded);
  std::unique_ptr<MethodCall<EncodableValue>> again;
  VELMORAN_FUZZ_CHECK(
      DiagnosticLinesOf([&] { again = codec.DecodeMethodCall(copy.data(), copy.size()); }) == 0);
  VELMORAN_FUZZ_CHECK(again != nullptr);
  VELMORAN_FUZZ_CHECK(again->method_name() == call->method_name());
  VELMORAN_FUZZ_CHECK(again->arguments() != nullptr);
  VELMORAN_FUZZ_CHECK(velmoran_fuzz::Encode(*again->arguments()) ==
                      velmoran_fuzz::Encode(*call->arguments()));
  VELMORAN_FUZZ_CHECK(*codec.EncodeMethodCall(*again) == *encoded);
  return 0;
}
