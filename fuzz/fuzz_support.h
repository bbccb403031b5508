#ifndef VELMORAN_FUZZ_FUZZ_SUPPORT_H_
#define VELMORAN_FUZZ_FUZZ_SUPPORT_H_

// What the fuzz targets share: checks that stop the fuzzer, a way to see the library's
// diagnostic lines without letting them reach the terminal, and the value helpers the
// round-trip properties need.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <streambuf>
#include <utility>
#include <vector>

#include "codec/byte_streams.h"
#include "codec/encodable_value.h"
#include "codec/standard_codec_serializer.h"

namespace velmoran_fuzz {

// Stops the run as a crash, so that libFuzzer saves the input. The message goes to the real
// standard error (stdio, not std::cerr, which the counter below swallows).
[[noreturn]] inline void Fail(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property violated: %s\n", file, line, condition);
  std::fflush(stderr);
  __builtin_trap();
}

#define VELMORAN_FUZZ_CHECK(condition)                                       \
  do {                                                                       \
    if (!(condition)) ::velmoran_fuzz::Fail(#condition, __FILE__, __LINE__); \
  } while (0)

// Installed as std::cerr's buffer, through which every diagnostic line of the library goes: it
// counts the lines, so that a target can tell whether a decode was clean, and drops them, since
// writing millions of them to the terminal would slow fuzzing to a crawl. With
// VELMORAN_FUZZ_VERBOSE set in the environment they are passed on as well.
class DiagnosticCounter : public std::streambuf {
 public:
  explicit DiagnosticCounter(std::streambuf* forward) : forward_(forward) {}

  uint64_t lines() const { return lines_; }

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    if (c == '\n') ++lines_;
    if (forward_ != nullptr) forward_->sputc(static_cast<char>(c));
    return c;
  }

  std::streamsize xsputn(const char* text, std::streamsize count) override {
    lines_ += static_cast<uint64_t>(std::count(text, text + count, '\n'));
    if (forward_ != nullptr) forward_->sputn(text, count);
    return count;
  }

  int sync() override { return forward_ != nullptr ? forward_->pubsync() : 0; }

 private:
  std::streambuf* forward_;
  uint64_t lines_ = 0;
};

// The counter, installed on the first call. Never destroyed: std::cerr is flushed at exit,
// after the destructors of function-local statics may have run.
inline DiagnosticCounter& Diagnostics() {
  static DiagnosticCounter* const counter = [] {
    std::streambuf* forward = std::getenv("VELMORAN_FUZZ_VERBOSE") ? std::cerr.rdbuf() : nullptr;
    auto* installed = new DiagnosticCounter(forward);
    std::cerr.rdbuf(installed);
    return installed;
  }();
  return *counter;
}

// How many diagnostic lines the statement writes.
template <typename Statement>
uint64_t DiagnosticLinesOf(Statement&& statement) {
  const uint64_t before = Diagnostics().lines();
  statement();
  return Diagnostics().lines() - before;
}

using Bytes = std::vector<uint8_t>;

inline Bytes Encode(const flutter::EncodableValue& value) {
  Bytes bytes;
  flutter::ByteBufferStreamWriter writer(&bytes);
  flutter::StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  return bytes;
}

// An exactly-sized heap copy, so that AddressSanitizer catches a read one byte past the end,
// which the spare capacity of a vector would hide.
class ExactCopy {
 public:
  explicit ExactCopy(const Bytes& bytes)
      : size_(bytes.size()), bytes_(new uint8_t[bytes.empty() ? 1 : bytes.size()]) {
    if (!bytes.empty()) std::memcpy(bytes_.get(), bytes.data(), bytes.size());
  }
  const uint8_t* data() const { return bytes_.get(); }
  size_t size() const { return size_; }

 private:
  size_t size_;
  std::unique_ptr<uint8_t[]> bytes_;
};

// How many containers deep the tree goes (0 for a scalar), without recursing.
inline size_t MaxContainerDepth(const flutter::EncodableValue& root) {
  std::vector<std::pair<const flutter::EncodableValue*, size_t>> pending = {{&root, 0}};
  size_t deepest = 0;
  while (!pending.empty()) {
    auto [value, depth] = pending.back();
    pending.pop_back();
    if (const auto* list = value->GetIf<flutter::EncodableList>()) {
      deepest = std::max(deepest, depth + 1);
      for (const auto& element : *list) pending.push_back({&element, depth + 1});
    } else if (const auto* map = value->GetIf<flutter::EncodableMap>()) {
      deepest = std::max(deepest, depth + 1);
      for (const auto& entry : *map) {
        pending.push_back({&entry.first, depth + 1});
        pending.push_back({&entry.second, depth + 1});
      }
    }
  }
  return deepest;
}

}  // namespace velmoran_fuzz

#endif  // VELMORAN_FUZZ_FUZZ_SUPPORT_H_
