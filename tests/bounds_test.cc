// What a hostile message can cost, measured. Whatever bytes arrive on a channel, decoding them
// must take heap memory in proportion to the message's own size, never in proportion to what a
// size field claims, and time in proportion to the message's size.
//
// Memory: this test binary replaces the global operator new and delete with versions that count
// the bytes in use and their peak, and every table of messages is decoded in a forked child
// whose address space is capped (where the build allows it) and whose allocations have a
// budget, so that a message that does make the library allocate without bound fails its row
// instead of taking the machine down. Each message is decoded three ways: as a value by the
// serializer, as the arguments of a method call, and as the result in a success envelope.
//
// Time: the shapes that are slowest per byte are decoded at two sizes, 8 times apart; the time
// must grow about linearly, far below the 64 times that a quadratic decoder would take.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <new>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

#include "codec/byte_streams.h"
#include "codec/encodable_value.h"
#include "codec/standard_codec_serializer.h"
#include "method/method_result.h"
#include "method/standard_method_codec.h"
#include "tests/byte_fixtures.h"
#include "tests/size_claims.h"

// Sanitizer runtimes reserve terabytes of address space up front, so no cap on it can be set
// relative to what the library needs; there the allocation budget alone holds the line.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELMORAN_SANITIZED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define VELMORAN_SANITIZED_BUILD 1
#endif
#endif
#ifndef VELMORAN_SANITIZED_BUILD
#define VELMORAN_SANITIZED_BUILD 0
#endif

namespace {

// ---------------------------------------------------------------------------------------------
// Heap accounting. Each block carries its size in a header ahead of it, so that unsized deletes
// can be counted too. The test is single-threaded; the counters are atomic only so that nothing
// is undefined should gtest allocate on another thread.

constexpr size_t kHeader = alignof(std::max_align_t);

std::atomic<size_t> heap_in_use{0};
std::atomic<size_t> heap_peak{0};
// While non-zero, the bytes that may be in use at once; asking for more ends the child process
// that set it, and so does an allocation that fails (see EndChild).
std::atomic<size_t> heap_budget{0};
enum class Refusal { kOverBudget, kOutOfAddressSpace };
void (*refusal_handler)(Refusal refusal, size_t request) = nullptr;

void* CountedAllocate(size_t size) {
  const size_t budget = heap_budget.load(std::memory_order_relaxed);
  if (budget != 0 && (size > budget || heap_in_use.load() > budget - size)) {
    refusal_handler(Refusal::kOverBudget, size);
  }
  void* block =
      size <= std::numeric_limits<size_t>::max() - kHeader ? std::malloc(size + kHeader) : nullptr;
  if (block == nullptr) {
    // In a child, end it here: an exception would unwind into the test framework, which would
    // carry on running tests in the child.
    if (refusal_handler != nullptr) refusal_handler(Refusal::kOutOfAddressSpace, size);
    throw std::bad_alloc();
  }
  std::memcpy(block, &size, sizeof size);
  const size_t in_use = heap_in_use.fetch_add(size) + size;
  size_t peak = heap_peak.load();
  while (in_use > peak && !heap_peak.compare_exchange_weak(peak, in_use)) {
  }
  return static_cast<char*>(block) + kHeader;
}

void CountedFree(void* pointer) {
  if (pointer == nullptr) return;
  char* block = static_cast<char*>(pointer) - kHeader;
  size_t size;
  std::memcpy(&size, block, sizeof size);
  heap_in_use.fetch_sub(size);
  std::free(block);
}

}  // namespace

void* operator new(size_t size) { return CountedAllocate(size); }
void* operator new[](size_t size) { return CountedAllocate(size); }
void operator delete(void* pointer) noexcept { CountedFree(pointer); }
void operator delete[](void* pointer) noexcept { CountedFree(pointer); }
void operator delete(void* pointer, size_t) noexcept { CountedFree(pointer); }
void operator delete[](void* pointer, size_t) noexcept { CountedFree(pointer); }

namespace flutter {
namespace {

using Bytes = std::vector<uint8_t>;

// The bound every message must keep: peak extra heap ≤ kHeapPerByte × size + kHeapConstant.
//
// The costliest bytes are the elements of a list that take one byte each (01, true): each
// becomes a whole EncodableValue in the list's vector, and a vector grows by doubling, so just
// after it reallocates, the old buffer (n values) and the new one (2n) are alive together: 3
// values' worth per element at worst. Maps cost less per byte (a node of two values and the
// tree links for at least two bytes, a key and its mapped value), every other payload at most
// its own size, and nesting is bounded. The constant covers what does not grow with the
// message: the text of a diagnostic line, the method call object. The most measured beyond the
// per-byte part is 47 bytes, for the empty message and its one line.
constexpr size_t kHeapPerByte = 3 * sizeof(EncodableValue);
constexpr size_t kHeapConstant = 512;

size_t HeapBound(size_t message_size) { return kHeapPerByte * message_size + kHeapConstant; }

const StandardCodecSerializer& Serializer() { return StandardCodecSerializer::GetInstance(); }
const StandardMethodCodec& Codec() { return StandardMethodCodec::GetInstance(); }

// Drops everything written to std::cerr, through which the library writes its diagnostics:
// hostile messages make thousands of them, and this test measures cost, not text.
class DiscardingBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

class SilencedDiagnostics {
 public:
  SilencedDiagnostics() : saved_(std::cerr.rdbuf(&discard_)) {}
  ~SilencedDiagnostics() { std::cerr.rdbuf(saved_); }
  SilencedDiagnostics(const SilencedDiagnostics&) = delete;
  SilencedDiagnostics& operator=(const SilencedDiagnostics&) = delete;

 private:
  DiscardingBuffer discard_;
  std::streambuf* saved_;
};

// ---------------------------------------------------------------------------------------------
// The three decoders a message meets. Each destroys what it decoded before returning, so that
// the peak covers the whole life of the decoded value. MeasureOne hands them an exactly-sized
// heap copy of the message, so that a sanitizer sees a read one byte past its end.

// Takes any answer and keeps nothing.
class DiscardingResult : public MethodResult<EncodableValue> {
 protected:
  void OnSuccess(const EncodableValue*) override {}
  void OnError(const std::string&, const std::string&, const EncodableValue*) override {}
  void OnNotImplemented() override {}
};

struct Decoder {
  const char* name;
  Bytes prefix;  // what comes before the value in the message
  void (*decode)(const uint8_t* bytes, size_t size);
};

const Decoder kDecoders[] = {
    {"value",
     {},
     [](const uint8_t* bytes, size_t size) {
       ByteBufferStreamReader reader(bytes, size);
       EncodableValue value = Serializer().ReadValue(&reader);
     }},
    // The arguments of a call named "m": they start three bytes in, which moves every
    // alignment.
    {"method call arguments",
     {0x07, 0x01, 'm'},
     [](const uint8_t* bytes, size_t size) { auto call = Codec().DecodeMethodCall(bytes, size); }},
    {"success envelope result",
     {0x00},
     [](const uint8_t* bytes, size_t size) {
       DiscardingResult result;
       Codec().DecodeAndProcessResponseEnvelope(bytes, size, &result);
     }},
};

using velmoran_testing::Concat;

Bytes Repeat(const Bytes& unit, size_t times) {
  Bytes all;
  all.reserve(unit.size() * times);
  for (size_t i = 0; i < times; ++i) all.insert(all.end(), unit.begin(), unit.end());
  return all;
}

using velmoran_testing::Encode;

// The size form the writer would choose.
Bytes Size(uint32_t size) {
  Bytes bytes;
  ByteBufferStreamWriter writer(&bytes);
  Serializer().WriteSize(size, &writer);
  return bytes;
}

std::string Hex(const Bytes& bytes, size_t limit = 24) {
  std::string text;
  char digits[4];
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    std::snprintf(digits, sizeof digits, "%02X ", bytes[i]);
    text += digits;
  }
  if (bytes.size() > limit) text += "... (" + std::to_string(bytes.size()) + " bytes)";
  return text;
}

struct Case {
  std::string name;
  Bytes message;  // the value; each decoder puts its prefix in front
};

// ---------------------------------------------------------------------------------------------
// Measuring in a child process.

struct Measurement {
  size_t peak;  // extra heap at the peak, over what was in use before decoding
  size_t size;  // bytes of the whole message decoded
};

// What the child reports in place of a row's peak when the row's decoding asked for memory it
// could not have.
constexpr size_t kRefused = std::numeric_limits<size_t>::max();
constexpr int kExitOverBudget = 3;
constexpr int kExitOutOfAddressSpace = 4;
int report_fd = -1;

// In the child: a request past the budget, or one that fails under the address-space cap, is
// the finding. Reported as the row's measurement, with the request in place of the size, and
// the child ends at once (no destructors, no allocation).
[[noreturn]] void EndChild(Refusal refusal, size_t request) {
  const Measurement failure{kRefused, request};
  ssize_t ignored = write(report_fd, &failure, sizeof failure);
  (void)ignored;
  _exit(refusal == Refusal::kOverBudget ? kExitOverBudget : kExitOutOfAddressSpace);
}

// Virtual memory in use by this process now, from /proc.
size_t AddressSpaceInUse() {
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  unsigned long pages = 0;
  const int read = std::fscanf(statm, "%lu", &pages);
  std::fclose(statm);
  return read == 1 ? pages * static_cast<size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

bool UnderValgrind() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && std::strstr(preload, "vgpreload") != nullptr;
}

bool WriteAll(int fd, const void* data, size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = write(fd, next, size);
    if (written <= 0) return false;
    next += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

Measurement MeasureOne(const Decoder& decoder, const Case& row) {
  const Bytes message = Concat({decoder.prefix, row.message});
  std::unique_ptr<uint8_t[]> copy(new uint8_t[message.size() + (message.empty() ? 1 : 0)]);
  if (!message.empty()) std::memcpy(copy.get(), message.data(), message.size());
  const size_t before = heap_in_use.load();
  heap_peak.store(before);
  decoder.decode(copy.get(), message.size());
  return Measurement{heap_peak.load() - before, message.size()};
}

// Decodes every row in a child process and returns what each cost. The child's address space
// is capped at what it uses now plus room for the largest row's bound (outside sanitizer and
// valgrind builds), and its heap has a budget of that room, so one runaway row ends the child
// and is reported as that row's failure.
std::vector<Measurement> MeasureInChild(const Decoder& decoder, const std::vector<Case>& rows) {
  size_t largest = 0;
  for (const Case& row : rows) {
    largest = std::max(largest, decoder.prefix.size() + row.message.size());
  }
  const size_t room = 2 * HeapBound(largest) + (64u << 20);

  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) {
    ADD_FAILURE() << "pipe failed";
    return {};
  }
  std::cout.flush();
  std::fflush(stdout);
  const pid_t child = fork();
  if (child < 0) {
    ADD_FAILURE() << "fork failed";
    return {};
  }
  if (child == 0) {
    close(pipe_fds[0]);
    report_fd = pipe_fds[1];
    if (!VELMORAN_SANITIZED_BUILD && !UnderValgrind()) {
      const size_t cap = AddressSpaceInUse() + room;
      const rlimit limit{cap, cap};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(5);
    }
    SilencedDiagnostics silenced;
    refusal_handler = &EndChild;
    heap_budget.store(heap_in_use.load() + room);
    for (const Case& row : rows) {
      const Measurement measurement = MeasureOne(decoder, row);
      if (!WriteAll(report_fd, &measurement, sizeof measurement)) _exit(6);
    }
    _exit(0);
  }

  close(pipe_fds[1]);
  std::vector<Measurement> measurements;
  Measurement next;
  size_t filled = 0;
  while (true) {
    const ssize_t got =
        read(pipe_fds[0], reinterpret_cast<char*>(&next) + filled, sizeof next - filled);
    if (got <= 0) break;
    filled += static_cast<size_t>(got);
    if (filled == sizeof next) {
      measurements.push_back(next);
      filled = 0;
    }
  }
  close(pipe_fds[0]);
  int status = 0;
  waitpid(child, &status, 0);

  const bool clean_exit = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!clean_exit || measurements.size() != rows.size()) {
    const bool refused = !measurements.empty() && measurements.back().peak == kRefused;
    const size_t failed_row = measurements.size() - (refused ? 1 : 0);
    std::string what;
    if (refused) {
      what = "asked for " + std::to_string(measurements.back().size) + " bytes at once" +
             (WEXITSTATUS(status) == kExitOverBudget ? ", over the budget"
                                                     : ", refused under the address-space cap");
    } else if (WIFSIGNALED(status)) {
      what = "killed by signal " + std::to_string(WTERMSIG(status));
    } else {
      what = "exited with " + std::to_string(WEXITSTATUS(status));
    }
    if (failed_row < rows.size()) {
      ADD_FAILURE() << decoder.name << ": decoding " << rows[failed_row].name << " ("
                    << Hex(rows[failed_row].message) << ") " << what;
    } else {
      ADD_FAILURE() << decoder.name << ": the child process " << what;
    }
    measurements.resize(std::min(failed_row, rows.size()));
  }
  return measurements;
}

struct Worst {
  double ratio = 0;  // peak bytes per message byte
  std::string row;
  Measurement measurement{0, 0};
  // The most any row took beyond kHeapPerByte per message byte: what the constant must cover.
  size_t excess = 0;
};

// Decodes every row with every decoder, checks each against the bound and prints the worst
// peak per message byte among messages of at least min_size bytes (smaller ones are dominated
// by the constant).
void ExpectWithinBound(const char* table, const std::vector<Case>& rows, size_t min_size = 256) {
  Worst worst;
  for (const Decoder& decoder : kDecoders) {
    const std::vector<Measurement> measurements = MeasureInChild(decoder, rows);
    for (size_t i = 0; i < measurements.size(); ++i) {
      const Measurement& measurement = measurements[i];
      SCOPED_TRACE(std::string(decoder.name) + ", " + rows[i].name + ": " + Hex(rows[i].message));
      EXPECT_LE(measurement.peak, HeapBound(measurement.size))
          << measurement.size << " bytes took " << measurement.peak << " bytes of heap";
      const size_t per_byte_part = kHeapPerByte * measurement.size;
      if (measurement.peak > per_byte_part) {
        worst.excess = std::max(worst.excess, measurement.peak - per_byte_part);
      }
      if (measurement.size < min_size) continue;
      const double ratio = static_cast<double>(measurement.peak) / measurement.size;
      if (ratio > worst.ratio) {
        worst.ratio = ratio;
        worst.row = std::string(decoder.name) + ", " + rows[i].name;
        worst.measurement = measurement;
      }
    }
  }
  std::printf(
      "[ bounds   ] %s: %zu rows x %zu decoders; worst heap per message byte %.1f (bound %zu): "
      "%s, %zu bytes took %zu bytes; most beyond %zu per byte: %zu bytes (bound %zu)\n",
      table, rows.size(), sizeof kDecoders / sizeof kDecoders[0], worst.ratio, kHeapPerByte,
      worst.row.c_str(), worst.measurement.size, worst.measurement.peak, kHeapPerByte, worst.excess,
      kHeapConstant);
  std::fflush(stdout);
}

// ---------------------------------------------------------------------------------------------
// The hostile messages.

struct SizedType {
  uint8_t type;
  const char* name;
};

const SizedType kSizedTypes[] = {
    {5, "string, second type"}, {7, "string"},       {8, "byte list"}, {9, "int32 list"},
    {10, "int64 list"},         {11, "double list"}, {12, "list"},     {13, "map"},
    {14, "float list"},
};

using velmoran_testing::SizeClaim;

// Size claims in each form the reader accepts. Most claim far more than any message here holds;
// a small one in the longest form checks that the form alone costs nothing.
std::vector<SizeClaim> Claims() {
  std::vector<SizeClaim> claims = velmoran_testing::HugeSizeClaims();
  claims.push_back({"7, FF form", {0xFF, 0x07, 0x00, 0x00, 0x00}});
  return claims;
}

TEST(Bounds, HugeSizeClaims) {
  std::vector<Case> rows;
  // Nothing after the size, a few bytes, one byte short of the largest one-byte claim, and more
  // than that but far less than the larger claims.
  const size_t trailing_lengths[] = {0, 6, 252, 1000};
  for (const SizedType& sized : kSizedTypes) {
    for (const SizeClaim& claim : Claims()) {
      for (size_t trailing : trailing_lengths) {
        rows.push_back({std::string(sized.name) + ", claim " + claim.name + ", " +
                            std::to_string(trailing) + " bytes after",
                        Concat({{sized.type}, claim.size, Bytes(trailing, 0x01)})});
      }
    }
    // The same claims one level down, where every enclosing container still waits for them.
    for (const SizeClaim& claim : Claims()) {
      rows.push_back({std::string(sized.name) + ", claim " + claim.name + ", in 100 nested lists",
                      Concat({Repeat({0x0C, 0x02}, 100), {sized.type}, claim.size})});
    }
  }
  ExpectWithinBound("huge size claims", rows);
}

TEST(Bounds, NestingFarPastTheBound) {
  constexpr size_t kLevels = 100 * StandardCodecSerializer::kMaxNestingDepth;
  std::vector<Case> rows = {
      {"lists of one", Concat({Repeat({0x0C, 0x01}, kLevels), {0x00}})},
      {"lists of two, nothing inside", Repeat({0x0C, 0x02}, kLevels)},
      {"lists of 2^32 - 1", Repeat({0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, kLevels)},
      {"maps in keys", Concat({Repeat({0x0D, 0x01}, kLevels), Bytes(kLevels + 1, 0x00)})},
      {"maps in values", Concat({Repeat({0x0D, 0x01, 0x00}, kLevels), {0x00}})},
      {"lists and maps alternating",
       Concat({Repeat({0x0C, 0x01, 0x0D, 0x01, 0x00}, kLevels / 2), {0x00}})},
      // A wide list of chains one level too deep: in each, the innermost list reads as null
      // right after its type byte, and its size byte and the chain's closing null then read as
      // two more elements of the wide list.
      {"400 chains one level too deep",
       Concat({{0x0C},
               Size(3 * 400),
               Repeat(Concat({Repeat({0x0C, 0x01}, StandardCodecSerializer::kMaxNestingDepth),
                              {0x00}}),
                      400)})},
  };
  ExpectWithinBound("nesting past the bound", rows);
}

// Valid messages to cut and corrupt: every alternative, every size form, aligned values at
// odd offsets, and a long flat list.
std::vector<std::pair<std::string, Bytes>> ValidMessages() {
  EncodableMap inner;
  inner.emplace(EncodableValue("floats"), EncodableValue(std::vector<float>{1.5f, -2.0f}));
  inner.emplace(EncodableValue(int32_t{9}), EncodableValue(std::vector<int64_t>{}));
  EncodableMap root;
  root.emplace(EncodableValue(), EncodableValue(true));
  root.emplace(EncodableValue(int32_t{1}), EncodableValue(int64_t{1} << 40));
  root.emplace(EncodableValue(0.5), EncodableValue(std::string(300, 'x')));
  root.emplace(EncodableValue("bytes"), EncodableValue(std::vector<uint8_t>{0, 1, 254, 255}));
  root.emplace(EncodableValue("ints"), EncodableValue(std::vector<int32_t>{1, -1}));
  root.emplace(EncodableValue("doubles"), EncodableValue(std::vector<double>{0.25, -8.0}));
  root.emplace(EncodableValue("list"),
               EncodableValue(EncodableList{EncodableValue(false), EncodableValue(2.5),
                                            EncodableValue(std::move(inner)),
                                            EncodableValue(EncodableList{})}));

  EncodableList flat;
  for (int i = 0; i < 300; ++i) flat.push_back(EncodableValue(i % 2 == 0));

  return {{"map of every alternative", Encode(EncodableValue(std::move(root)))},
          {"list of 300 bools", Encode(EncodableValue(std::move(flat)))}};
}

TEST(Bounds, TruncationAtEveryByte) {
  std::vector<Case> rows;
  for (const auto& [name, message] : ValidMessages()) {
    for (size_t length = 0; length < message.size(); ++length) {
      rows.push_back({name + ", cut to " + std::to_string(length) + " bytes",
                      Bytes(message.begin(), message.begin() + length)});
    }
  }
  ExpectWithinBound("truncation at every byte", rows);
}

TEST(Bounds, UnknownTypeBytesEverywhere) {
  std::vector<Case> rows;
  const uint8_t unknown[] = {0x0F, 0x80, 0xFF};
  for (const auto& [name, message] : ValidMessages()) {
    for (uint8_t type : unknown) {
      for (size_t at = 0; at < message.size(); ++at) {
        Bytes corrupt = message;
        corrupt[at] = type;
        rows.push_back({name + ", byte " + std::to_string(at) + " set to " + std::to_string(type),
                        std::move(corrupt)});
      }
    }
  }
  ExpectWithinBound("unknown type bytes everywhere", rows);
}

// Shapes that make the most of each byte, as lists (or maps) of count repetitions of one
// element; the costliest shapes for memory and for time.
struct Shape {
  const char* name;
  uint8_t container;  // 0x0C list, 0x0D map
  std::function<Bytes(size_t i)> element;
};

const std::vector<Shape>& Shapes() {
  static const std::vector<Shape> shapes = {
      {"trues", 0x0C, [](size_t) { return Bytes{0x01}; }},
      {"nulls", 0x0C, [](size_t) { return Bytes{0x00}; }},
      {"unknown types", 0x0C, [](size_t) { return Bytes{0x0F}; }},
      {"empty lists", 0x0C,
       [](size_t) {
         return Bytes{0x0C, 0x00};
       }},
      {"empty maps", 0x0C,
       [](size_t) {
         return Bytes{0x0D, 0x00};
       }},
      {"lists of one true", 0x0C,
       [](size_t) {
         return Bytes{0x0C, 0x01, 0x01};
       }},
      {"one-byte strings", 0x0C,
       [](size_t) {
         return Bytes{0x07, 0x01, 'x'};
       }},
      {"one-byte byte lists", 0x0C,
       [](size_t) {
         return Bytes{0x08, 0x01, 0x2A};
       }},
      {"empty int64 lists", 0x0C,
       [](size_t) {
         return Bytes{0x0A, 0x00};
       }},
      {"lists that claim 2^32 - 1", 0x0C,
       [](size_t) { return Bytes{0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}; }},
      {"int32s", 0x0C, [](size_t i) { return Encode(EncodableValue(static_cast<int32_t>(i))); }},
      {"ascending int32 keys to true", 0x0D,
       [](size_t i) {
         return Concat({Encode(EncodableValue(static_cast<int32_t>(i))), {0x01}});
       }},
      {"descending int32 keys to true", 0x0D,
       [](size_t i) {
         return Concat({Encode(EncodableValue(static_cast<int32_t>(1000000 - i))), {0x01}});
       }},
      {"one-byte string keys to null", 0x0D,
       [](size_t i) {
         return Bytes{0x07, 0x01, static_cast<uint8_t>(i), 0x00};
       }},
      {"the same key again and again", 0x0D,
       [](size_t) {
         return Bytes{0x01, 0x01};
       }},
      // Keys that are equal down to their bottom: every comparison walks all 20 levels.
      {"deep equal keys", 0x0D,
       [](size_t) {
         return Concat({Repeat({0x0C, 0x01}, 20), {0x03, 0x01, 0x00, 0x00, 0x00}, {0x01}});
       }},
  };
  return shapes;
}

// A container of the shape holding as many elements as fit in about target_size bytes.
Bytes ShapeMessage(const Shape& shape, size_t target_size) {
  Bytes elements;
  size_t count = 0;
  while (elements.size() < target_size) {
    const Bytes element = shape.element(count);
    elements.insert(elements.end(), element.begin(), element.end());
    ++count;
  }
  return Concat({{shape.container}, Size(static_cast<uint32_t>(count)), elements});
}

TEST(Bounds, CostliestShapes) {
  std::vector<Case> rows;
  // A count in one byte and in the FE form for every shape, and in the FF form (at least 65536
  // elements) for the costliest.
  const size_t sizes[] = {200, 4000};
  for (const Shape& shape : Shapes()) {
    for (size_t size : sizes) {
      rows.push_back({std::string(shape.name) + ", about " + std::to_string(size) + " bytes",
                      ShapeMessage(shape, size)});
    }
  }
  // 2^16 + 1 elements: the list has just grown from 2^16 to 2^17 values, the worst moment.
  rows.push_back({"trues, 65537 of them", ShapeMessage(Shapes().front(), 65537)});
  ExpectWithinBound("costliest shapes", rows);
}

// The processor time this thread has used so far. Wall-clock time would also count the moments
// the thread waits for a core: on a loaded machine (tests run side by side) a long decode is
// preempted many times and a short one hardly ever, which skews the ratio by the load rather
// than by the decoder.
double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The fastest of several runs, so that cache misses and interrupts of one run do not count.
// Stops after the first run that takes longer than give_up_after seconds: a decoder that slow
// has failed already, and more runs would only keep the test from ending.
double FastestDecodeSeconds(const Bytes& message,
                            double give_up_after = std::numeric_limits<double>::max()) {
  SilencedDiagnostics silenced;
  double fastest = std::numeric_limits<double>::max();
  for (int run = 0; run < 5; ++run) {
    const double start = ThreadSeconds();
    kDecoders[0].decode(message.data(), message.size());
    const double took = ThreadSeconds() - start;
    fastest = std::min(fastest, took);
    if (took > give_up_after) break;
  }
  return fastest;
}

TEST(Bounds, DecodingTimeGrowsLinearly) {
  constexpr size_t kSmall = 4 * 1024;
  constexpr size_t kFactor = 8;
  // Linear growth gives about 8; cache effects on the larger trees add some. A decoder that
  // does quadratic work somewhere gives 64.
  constexpr double kMaxRatio = 30;
  double worst_ratio = 0;
  std::string worst_shape;
  for (const Shape& shape : Shapes()) {
    SCOPED_TRACE(shape.name);
    const Bytes small = ShapeMessage(shape, kSmall);
    const Bytes large = ShapeMessage(shape, kSmall * kFactor);
    const double small_seconds = FastestDecodeSeconds(small);
    const double large_seconds = FastestDecodeSeconds(large, kMaxRatio * small_seconds);
    // Below the clock's resolution the ratio says nothing; the shape is fast enough anyway.
    const double ratio = large_seconds / std::max(small_seconds, 1e-6);
    EXPECT_LT(ratio, kMaxRatio) << small.size() << " bytes took " << small_seconds << " s, "
                                << large.size() << " bytes " << large_seconds << " s";
    if (ratio > worst_ratio) {
      worst_ratio = ratio;
      worst_shape = shape.name;
    }
  }
  std::printf("[ bounds   ] decoding %zux the bytes took at most %.1fx the time (%s)\n", kFactor,
              worst_ratio, worst_shape.c_str());
  std::fflush(stdout);
}

}  // namespace
}  // namespace flutter
