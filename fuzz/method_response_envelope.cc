// The standard method codec processing a response envelope made of arbitrary bytes.
//
// The result is given at most one answer, and only when the codec says it took the bytes as an
// envelope: a second answer stops the fuzzer on the spot, and so does a return value that
// disagrees with the number of answers. An answer that was given is one the codec can send
// again: encoded as an envelope and processed once more, it gives the same answer, cleanly.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "fuzz/fuzz_support.h"
#include "method/method_result.h"
#include "method/standard_method_codec.h"

using flutter::EncodableValue;
using flutter::StandardMethodCodec;
using velmoran_fuzz::Bytes;
using velmoran_fuzz::DiagnosticLinesOf;

namespace {

// Records the one answer it may get as the envelope that would carry it.
class OneShotResult : public flutter::MethodResult<EncodableValue> {
 public:
  int answers() const { return answers_; }
  const Bytes& envelope() const { return envelope_; }

 protected:
  void OnSuccess(const EncodableValue* result) override {
    Answer();
    // The codec reports a null result as success without a value.
    VELMORAN_FUZZ_CHECK(result == nullptr || !result->IsNull());
    envelope_ = *StandardMethodCodec::GetInstance().EncodeSuccessEnvelope(result);
  }

  void OnError(const std::string& code, const std::string& message,
               const EncodableValue* details) override {
    Answer();
    VELMORAN_FUZZ_CHECK(details == nullptr || !details->IsNull());
    envelope_ = *StandardMethodCodec::GetInstance().EncodeErrorEnvelope(code, message, details);
  }

  // No envelope stands for this answer: an empty response is the channel's business.
  void OnNotImplemented() override {
    velmoran_fuzz::Fail("a response envelope answered as not implemented", __FILE__, __LINE__);
  }

 private:
  // A second answer stops the run right here, with the codec's frame on the stack.
  void Answer() {
    ++answers_;
    VELMORAN_FUZZ_CHECK(answers_ == 1);
  }

  int answers_ = 0;
  Bytes envelope_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  velmoran_fuzz::Diagnostics();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();

  OneShotResult result;
  bool processed = false;
  const uint64_t lines = DiagnosticLinesOf(
      [&] { processed = codec.DecodeAndProcessResponseEnvelope(data, size, &result); });
  VELMORAN_FUZZ_CHECK(processed == (result.answers() == 1));
  // Each line pays for a byte the reader went past, except for at most two per value where the
  // bytes ran out: the flag and up to three values.
  VELMORAN_FUZZ_CHECK(lines <= size + 7);
  if (!processed) return 0;

  const velmoran_fuzz::ExactCopy copy(result.envelope());
  OneShotResult again;
  bool processed_again = false;
  VELMORAN_FUZZ_CHECK(DiagnosticLinesOf([&] {
                        processed_again = codec.DecodeAndProcessResponseEnvelope(
                            copy.data(), copy.size(), &again);
                      }) == 0);
  VELMORAN_FUZZ_CHECK(processed_again);
  VELMORAN_FUZZ_CHECK(again.answers() == 1);
  VELMORAN_FUZZ_CHECK(again.envelope() == result.envelope());
  return 0;
}
