#ifndef VELMORAN_BENCH_PAYLOADS_H_
#define VELMORAN_BENCH_PAYLOADS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velmoran_bench {

// The content of the benchmark payloads, independent of any format. It is generated from a fixed
// seed, so every run and every machine measures the same data; each implementation then gets it
// in its own natural representation, built once, outside the timed loops.

// The seed of every payload ("velmoran" in ASCII).
inline constexpr uint64_t kPayloadSeed = 0x76656c6d6f72616eu;

// The method call of P1 and the text of its success envelope.
inline constexpr char kMethodName[] = "getPlatformVersion";
inline constexpr char kVersionText[] = "10";

// One element of P2.
struct Record {
  int64_t id;
  std::string name;  // 10 to 14 characters
  double score;
  bool active;
  std::vector<std::string> tags;  // three short strings
  std::vector<double> pos;        // two doubles
};

inline constexpr size_t kRecordCount = 10000;           // P2
inline constexpr size_t kFloatCount = 4194304;          // P3: 16 MiB of floats
inline constexpr size_t kByteCount = 16 * 1024 * 1024;  // P4
inline constexpr size_t kIntegerMapSize = 1000;         // P5

struct Payloads {
  std::vector<Record> records;                               // P2
  std::vector<float> floats;                                 // P3
  std::vector<uint8_t> bytes;                                // P4
  std::vector<std::pair<std::string, int32_t>> int_entries;  // P5, keys unique and ascending
};

// Generated on the first call; the same content on every call and in every run.
const Payloads& GetPayloads();

}  // namespace velmoran_bench

#endif  // VELMORAN_BENCH_PAYLOADS_H_
