#include "bench/payloads.h"

#include <map>
#include <random>

namespace velmoran_bench {

namespace {

// std::mt19937_64's output sequence is fixed by the C++ standard, unlike the standard
// distributions, so the values are derived from it by hand.
class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}

  uint64_t Next() { return engine_(); }
  // In [low, high]; the modulo bias is irrelevant here.
  uint64_t Between(uint64_t low, uint64_t high) { return low + Next() % (high - low + 1); }
  // In [0, 1), with 53 random bits.
  double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  std::string Text(size_t length) {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string text(length, ' ');
    for (char& c : text) c = kAlphabet[Next() % (sizeof kAlphabet - 1)];
    return text;
  }

 private:
  std::mt19937_64 engine_;
};

Payloads Generate() {
  Random random(kPayloadSeed);
  Payloads payloads;

  payloads.records.reserve(kRecordCount);
  for (size_t i = 0; i < kRecordCount; ++i) {
    Record record;
    record.id = static_cast<int64_t>(random.Next() >> 1);  // non-negative, most above 2^32
    record.name = random.Text(random.Between(10, 14));
    record.score = random.Unit() * 100.0;
    record.active = (random.Next() & 1) != 0;
    for (int t = 0; t < 3; ++t) record.tags.push_back(random.Text(random.Between(3, 8)));
    record.pos = {random.Unit() * 2000.0 - 1000.0, random.Unit() * 2000.0 - 1000.0};
    payloads.records.push_back(std::move(record));
  }

  payloads.floats.resize(kFloatCount);
  for (float& f : payloads.floats) f = static_cast<float>(random.Unit() * 2.0 - 1.0);

  payloads.bytes.resize(kByteCount);
  for (size_t i = 0; i < kByteCount; i += 8) {
    uint64_t bits = random.Next();
    for (size_t b = 0; b < 8; ++b) payloads.bytes[i + b] = static_cast<uint8_t>(bits >> (8 * b));
  }

  std::map<std::string, int32_t> entries;
  while (entries.size() < kIntegerMapSize) {
    entries.emplace(random.Text(random.Between(6, 12)),
                    static_cast<int32_t>(static_cast<uint32_t>(random.Next())));
  }
  payloads.int_entries.assign(entries.begin(), entries.end());
  return payloads;
}

}  // namespace

const Payloads& GetPayloads() {
  static const Payloads* const payloads = new Payloads(Generate());
  return *payloads;
}

}  // namespace velmoran_bench
