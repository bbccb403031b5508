// The standard codec (ours) against two MessagePack implementations, on payloads P1 to P5.
//
// Encoding turns a value tree that exists before the timed loop into a new byte buffer, which is
// destroyed inside the loop. Decoding turns bytes into a new owning value tree, destroyed inside
// the loop too. Each implementation starts from its natural representation of the same content:
//   ours            flutter::EncodableValue, through StandardCodecSerializer (P1: the method
//                   codec), ByteBufferStreamWriter and ByteBufferStreamReader;
//   msgpack         msgpack-c packing native C++ data (structs declared with MSGPACK_DEFINE_MAP,
//                   std::map, std::vector) into a msgpack::sbuffer; decoding with msgpack::unpack
//                   into its object_handle;
//   msgpack_object  msgpack-c packing a dynamic msgpack::object tree, the counterpart of a value
//                   tree (encode only: decoding always yields such a tree);
//   nlohmann        nlohmann::json with json::to_msgpack and json::from_msgpack.
// MessagePack has no typed arrays, so P3 and P4 go to both peers as one binary blob (bin), the
// fairest form they have. For P3 and P4, copying the 16 MiB with memcpy into a preallocated
// buffer and into a new std::vector<uint8_t> gives the physical limit.

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <msgpack.hpp>
#include <nlohmann/json.hpp>

#include "bench/allocation_counter.h"
#include "bench/benchmarks.h"
#include "bench/payloads.h"
#include "codec/byte_streams.h"
#include "codec/encodable_value.h"
#include "codec/standard_codec_serializer.h"
#include "method/method_call.h"
#include "method/method_result.h"
#include "method/standard_method_codec.h"

namespace velmoran_bench {

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using Json = nlohmann::json;

// msgpack-c's native forms of the payloads.
struct MsgpackCall {
  std::string method;
  msgpack::type::nil_t arguments;
  MSGPACK_DEFINE(method, arguments)
};

struct MsgpackEnvelope {
  int32_t flag;
  std::string result;
  MSGPACK_DEFINE(flag, result)
};

struct MsgpackRecord {
  int64_t id;
  std::string name;
  double score;
  bool active;
  std::vector<std::string> tags;
  std::vector<double> pos;
  MSGPACK_DEFINE_MAP(id, name, score, active, tags, pos)
};

// A blob packed as bin, for P3 and P4.
struct MsgpackBlob {
  const uint8_t* data;
  size_t size;

  template <typename Packer>
  void msgpack_pack(Packer& packer) const {
    packer.pack_bin(static_cast<uint32_t>(size));
    packer.pack_bin_body(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size));
  }
};

// Answers of DecodeAndProcessResponseEnvelope land here; it keeps only what the check needs.
class MinimalResult : public flutter::MethodResult<EncodableValue> {
 public:
  size_t successes = 0;
  size_t result_size = 0;

 protected:
  void OnSuccess(const EncodableValue* result) override {
    ++successes;
    const std::string* text = result != nullptr ? result->GetIf<std::string>() : nullptr;
    result_size = text != nullptr ? text->size() : 0;
  }
  void OnError(const std::string&, const std::string&, const EncodableValue*) override {}
  void OnNotImplemented() override {}
};

std::vector<uint8_t> OursEncode(const EncodableValue& value) {
  std::vector<uint8_t> bytes;
  flutter::ByteBufferStreamWriter writer(&bytes);
  flutter::StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  return bytes;
}

EncodableValue OursDecode(const std::vector<uint8_t>& bytes) {
  flutter::ByteBufferStreamReader reader(bytes.data(), bytes.size());
  return flutter::StandardCodecSerializer::GetInstance().ReadValue(&reader);
}

template <typename T>
std::vector<uint8_t> MsgpackEncode(const T& source) {
  msgpack::sbuffer buffer;
  msgpack::pack(buffer, source);
  return std::vector<uint8_t>(buffer.data(), buffer.data() + buffer.size());
}

// Whether msgpack-c reads bytes back into an object that packs to the same bytes.
bool MsgpackRoundTrips(const std::vector<uint8_t>& bytes) {
  msgpack::object_handle handle =
      msgpack::unpack(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  msgpack::sbuffer again;
  msgpack::pack(again, handle.get());
  return again.size() == bytes.size() && std::memcmp(again.data(), bytes.data(), bytes.size()) == 0;
}

// One payload in every representation, with each implementation's encoding of it.
struct Payload {
  EncodableValue ours;
  Json json;
  std::vector<uint8_t> ours_bytes;
  std::vector<uint8_t> msgpack_bytes;
  std::vector<uint8_t> json_bytes;
};

// P2 and P5 also exist as native msgpack-c data and as a msgpack::object tree.
template <typename Native>
struct TreePayload : Payload {
  Native native;
  msgpack::zone zone;
  msgpack::object object;
};

void FinishPayload(Payload* payload) {
  payload->ours_bytes = OursEncode(payload->ours);
  payload->json_bytes = Json::to_msgpack(payload->json);
}

const TreePayload<std::vector<MsgpackRecord>>& P2() {
  static const auto* const payload = [] {
    auto* p = new TreePayload<std::vector<MsgpackRecord>>();
    const std::vector<Record>& records = GetPayloads().records;
    // One representation after the other, so that each one's allocations lie together as they
    // would in a program that builds only that one.
    EncodableList list;
    for (const Record& r : records) {
      EncodableList tags(r.tags.begin(), r.tags.end());
      EncodableList pos(r.pos.begin(), r.pos.end());
      list.emplace_back(EncodableMap{{EncodableValue("id"), EncodableValue(r.id)},
                                     {EncodableValue("name"), EncodableValue(r.name)},
                                     {EncodableValue("score"), EncodableValue(r.score)},
                                     {EncodableValue("active"), EncodableValue(r.active)},
                                     {EncodableValue("tags"), EncodableValue(std::move(tags))},
                                     {EncodableValue("pos"), EncodableValue(std::move(pos))}});
    }
    Json json = Json::array();
    for (const Record& r : records) {
      json.push_back(Json{{"id", r.id},
                          {"name", r.name},
                          {"score", r.score},
                          {"active", r.active},
                          {"tags", r.tags},
                          {"pos", r.pos}});
    }
    for (const Record& r : records) {
      p->native.push_back(MsgpackRecord{r.id, r.name, r.score, r.active, r.tags, r.pos});
    }
    p->ours = EncodableValue(std::move(list));
    p->json = std::move(json);
    p->object = msgpack::object(p->native, p->zone);
    p->msgpack_bytes = MsgpackEncode(p->native);
    FinishPayload(p);
    return p;
  }();
  return *payload;
}

const TreePayload<std::map<std::string, int32_t>>& P5() {
  static const auto* const payload = [] {
    auto* p = new TreePayload<std::map<std::string, int32_t>>();
    const auto& entries = GetPayloads().int_entries;
    EncodableMap map;
    for (const auto& [key, number] : entries)
      map.emplace(EncodableValue(key), EncodableValue(number));
    Json json = Json::object();
    for (const auto& [key, number] : entries) json[key] = number;
    for (const auto& [key, number] : entries) p->native.emplace(key, number);
    p->ours = EncodableValue(std::move(map));
    p->json = std::move(json);
    p->object = msgpack::object(p->native, p->zone);
    p->msgpack_bytes = MsgpackEncode(p->native);
    FinishPayload(p);
    return p;
  }();
  return *payload;
}

// P3 and P4: the raw bytes of the list, as our typed list, as a msgpack-c bin and as a
// nlohmann::json binary.
struct BlobPayload : Payload {
  std::vector<uint8_t> raw;
  // The list's bytes inside our encoded message (its last bytes), where our decoder copies
  // them from. The memcpy baselines copy from here too: a 16 MiB memcpy whose destination and
  // source lie at the same offset within a page runs about a fifth slower with glibc than one
  // whose offsets differ, as ours do (the message header shifts them), so copying from a
  // separate buffer would understate the limit.
  const uint8_t* in_message = nullptr;
};

template <typename Element>
BlobPayload* MakeBlobPayload(const std::vector<Element>& list) {
  auto* p = new BlobPayload();
  const auto* first = reinterpret_cast<const uint8_t*>(list.data());
  p->raw.assign(first, first + list.size() * sizeof(Element));
  p->ours = EncodableValue(list);
  p->json = Json::binary(p->raw);
  p->msgpack_bytes = MsgpackEncode(MsgpackBlob{p->raw.data(), p->raw.size()});
  FinishPayload(p);
  p->in_message = p->ours_bytes.data() + (p->ours_bytes.size() - p->raw.size());
  return p;
}

const BlobPayload& P3() {
  static const BlobPayload* const payload = MakeBlobPayload(GetPayloads().floats);
  return *payload;
}

const BlobPayload& P4() {
  static const BlobPayload* const payload = MakeBlobPayload(GetPayloads().bytes);
  return *payload;
}

// P1: the method call and its success envelope.
struct P1Data {
  std::unique_ptr<flutter::MethodCall<EncodableValue>> call;
  EncodableValue version;
  MsgpackCall native_call;
  MsgpackEnvelope native_envelope;
  msgpack::zone zone;
  msgpack::object call_object;
  msgpack::object envelope_object;
  Json json_call;
  Json json_envelope;
  std::vector<uint8_t> ours_call_bytes;
  std::vector<uint8_t> ours_envelope_bytes;
  std::vector<uint8_t> msgpack_call_bytes;
  std::vector<uint8_t> msgpack_envelope_bytes;
  std::vector<uint8_t> json_call_bytes;
  std::vector<uint8_t> json_envelope_bytes;
};

const flutter::StandardMethodCodec& Codec() { return flutter::StandardMethodCodec::GetInstance(); }

const P1Data& P1() {
  static const P1Data* const data = [] {
    auto* d = new P1Data();
    d->call = std::make_unique<flutter::MethodCall<EncodableValue>>(kMethodName, nullptr);
    d->version = EncodableValue(kVersionText);
    d->native_call = MsgpackCall{kMethodName, msgpack::type::nil_t()};
    d->native_envelope = MsgpackEnvelope{0, kVersionText};
    d->call_object = msgpack::object(d->native_call, d->zone);
    d->envelope_object = msgpack::object(d->native_envelope, d->zone);
    d->json_call = Json::array({kMethodName, nullptr});
    d->json_envelope = Json::array({0, kVersionText});
    d->ours_call_bytes = *Codec().EncodeMethodCall(*d->call);
    d->ours_envelope_bytes = *Codec().EncodeSuccessEnvelope(&d->version);
    d->msgpack_call_bytes = MsgpackEncode(d->native_call);
    d->msgpack_envelope_bytes = MsgpackEncode(d->native_envelope);
    d->json_call_bytes = Json::to_msgpack(d->json_call);
    d->json_envelope_bytes = Json::to_msgpack(d->json_envelope);
    return d;
  }();
  return *data;
}

// The timed loops. `run` does one whole operation and returns how many bytes it encoded or
// decoded; whatever it builds is destroyed before it returns.
enum class Counting { kAllocations, kNone };

template <typename Run>
void Measure(benchmark::State& state, Counting counting, Run run) {
  size_t bytes = 0;
  const uint64_t allocations_before = AllocationCount();
  for (auto _ : state) {
    bytes = run();
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["message_bytes"] = static_cast<double>(bytes);
  // msgpack-c allocates with malloc, which the counter does not see.
  if (counting == Counting::kAllocations) ReportAllocations(state, allocations_before);
}

template <typename Run>
void Register(const std::string& name, Counting counting, Run run) {
  WithMinimum(benchmark::RegisterBenchmark(
      name.c_str(), [counting, run](benchmark::State& state) { Measure(state, counting, run); }));
}

// Fails the benchmark before its loop when an implementation does not reproduce the payload.
template <typename Run>
void RegisterChecked(const std::string& name, Counting counting, bool (*check)(), Run run) {
  WithMinimum(
      benchmark::RegisterBenchmark(name.c_str(), [counting, check, run](benchmark::State& state) {
        if (!check()) {
          state.SkipWithError("the implementation did not reproduce the payload");
          return;
        }
        Measure(state, counting, run);
      }));
}

template <typename T>
size_t Keep(const T& bytes) {
  benchmark::DoNotOptimize(bytes.data());
  return bytes.size();
}

size_t UnpackMsgpack(const std::vector<uint8_t>& bytes) {
  msgpack::object_handle handle =
      msgpack::unpack(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  benchmark::DoNotOptimize(handle.get().type);
  return bytes.size();
}

size_t ParseJson(const std::vector<uint8_t>& bytes) {
  Json json = Json::from_msgpack(bytes.data(), bytes.data() + bytes.size());
  benchmark::DoNotOptimize(json.type());
  return bytes.size();
}

size_t PackMsgpack(const msgpack::object& object) {
  msgpack::sbuffer buffer;
  msgpack::pack(buffer, object);
  benchmark::DoNotOptimize(buffer.data());
  return buffer.size();
}

template <typename T>
size_t PackMsgpackNative(const T& native) {
  msgpack::sbuffer buffer;
  msgpack::pack(buffer, native);
  benchmark::DoNotOptimize(buffer.data());
  return buffer.size();
}

void RegisterP1() {
  // The method call.
  RegisterChecked(
      "P1_call/encode/ours", Counting::kAllocations,
      [] { return *Codec().EncodeMethodCall(*P1().call) == P1().ours_call_bytes; },
      [] { return Keep(*Codec().EncodeMethodCall(*P1().call)); });
  Register("P1_call/encode/msgpack", Counting::kNone,
           [] { return PackMsgpackNative(P1().native_call); });
  Register("P1_call/encode/msgpack_object", Counting::kNone,
           [] { return PackMsgpack(P1().call_object); });
  Register("P1_call/encode/nlohmann", Counting::kAllocations,
           [] { return Keep(Json::to_msgpack(P1().json_call)); });

  RegisterChecked(
      "P1_call/decode/ours", Counting::kAllocations,
      [] {
        const auto& bytes = P1().ours_call_bytes;
        auto call = Codec().DecodeMethodCall(bytes.data(), bytes.size());
        return call && call->method_name() == kMethodName && call->arguments() != nullptr &&
               call->arguments()->IsNull();
      },
      [] {
        const auto& bytes = P1().ours_call_bytes;
        auto call = Codec().DecodeMethodCall(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(call.get());
        return bytes.size();
      });
  RegisterChecked(
      "P1_call/decode/msgpack", Counting::kNone,
      [] { return MsgpackRoundTrips(P1().msgpack_call_bytes); },
      [] { return UnpackMsgpack(P1().msgpack_call_bytes); });
  RegisterChecked(
      "P1_call/decode/nlohmann", Counting::kAllocations,
      [] {
        const auto& bytes = P1().json_call_bytes;
        return Json::from_msgpack(bytes) == P1().json_call;
      },
      [] { return ParseJson(P1().json_call_bytes); });

  // The success envelope "10".
  RegisterChecked(
      "P1_envelope/encode/ours", Counting::kAllocations,
      [] { return *Codec().EncodeSuccessEnvelope(&P1().version) == P1().ours_envelope_bytes; },
      [] { return Keep(*Codec().EncodeSuccessEnvelope(&P1().version)); });
  Register("P1_envelope/encode/msgpack", Counting::kNone,
           [] { return PackMsgpackNative(P1().native_envelope); });
  Register("P1_envelope/encode/msgpack_object", Counting::kNone,
           [] { return PackMsgpack(P1().envelope_object); });
  Register("P1_envelope/encode/nlohmann", Counting::kAllocations,
           [] { return Keep(Json::to_msgpack(P1().json_envelope)); });

  RegisterChecked(
      "P1_envelope/decode/ours", Counting::kAllocations,
      [] {
        const auto& bytes = P1().ours_envelope_bytes;
        MinimalResult result;
        return Codec().DecodeAndProcessResponseEnvelope(bytes.data(), bytes.size(), &result) &&
               result.successes == 1 && result.result_size == 2;
      },
      [] {
        const auto& bytes = P1().ours_envelope_bytes;
        MinimalResult result;
        Codec().DecodeAndProcessResponseEnvelope(bytes.data(), bytes.size(), &result);
        benchmark::DoNotOptimize(result.result_size);
        return bytes.size();
      });
  RegisterChecked(
      "P1_envelope/decode/msgpack", Counting::kNone,
      [] { return MsgpackRoundTrips(P1().msgpack_envelope_bytes); },
      [] { return UnpackMsgpack(P1().msgpack_envelope_bytes); });
  RegisterChecked(
      "P1_envelope/decode/nlohmann", Counting::kAllocations,
      [] { return Json::from_msgpack(P1().json_envelope_bytes) == P1().json_envelope; },
      [] { return ParseJson(P1().json_envelope_bytes); });
}

// P2 and P5: value trees.
template <typename Tree, const Tree& (*getter)()>
void RegisterTree(const std::string& name) {
  RegisterChecked(
      name + "/encode/ours", Counting::kAllocations,
      [] { return OursEncode(getter().ours) == getter().ours_bytes; },
      [] { return Keep(OursEncode(getter().ours)); });
  RegisterChecked(
      name + "/encode/msgpack", Counting::kNone,
      [] { return MsgpackEncode(getter().native) == getter().msgpack_bytes; },
      [] { return PackMsgpackNative(getter().native); });
  RegisterChecked(
      name + "/encode/msgpack_object", Counting::kNone,
      [] { return MsgpackEncode(getter().object) == getter().msgpack_bytes; },
      [] { return PackMsgpack(getter().object); });
  Register(name + "/encode/nlohmann", Counting::kAllocations,
           [] { return Keep(Json::to_msgpack(getter().json)); });

  RegisterChecked(
      name + "/decode/ours", Counting::kAllocations,
      [] { return OursDecode(getter().ours_bytes) == getter().ours; },
      [] {
        EncodableValue value = OursDecode(getter().ours_bytes);
        benchmark::DoNotOptimize(value.index());
        return getter().ours_bytes.size();
      });
  RegisterChecked(
      name + "/decode/msgpack", Counting::kNone,
      [] { return MsgpackRoundTrips(getter().msgpack_bytes); },
      [] { return UnpackMsgpack(getter().msgpack_bytes); });
  RegisterChecked(
      name + "/decode/nlohmann", Counting::kAllocations,
      [] { return Json::from_msgpack(getter().json_bytes) == getter().json; },
      [] { return ParseJson(getter().json_bytes); });
}

// P3 and P4: one large typed list or byte list.
template <typename Element, const BlobPayload& (*Get)()>
void RegisterBlob(const std::string& name) {
  RegisterChecked(
      name + "/encode/ours", Counting::kAllocations,
      [] { return OursEncode(Get().ours) == Get().ours_bytes; },
      [] { return Keep(OursEncode(Get().ours)); });
  Register(name + "/encode/msgpack", Counting::kNone, [] {
    return PackMsgpackNative(MsgpackBlob{Get().raw.data(), Get().raw.size()});
  });
  Register(name + "/encode/nlohmann", Counting::kAllocations,
           [] { return Keep(Json::to_msgpack(Get().json)); });

  RegisterChecked(
      name + "/decode/ours", Counting::kAllocations,
      [] { return OursDecode(Get().ours_bytes) == Get().ours; },
      [] {
        EncodableValue value = OursDecode(Get().ours_bytes);
        benchmark::DoNotOptimize(value.GetIf<std::vector<Element>>()->data());
        return Get().ours_bytes.size();
      });
  RegisterChecked(
      name + "/decode/msgpack", Counting::kNone,
      [] { return MsgpackRoundTrips(Get().msgpack_bytes); },
      [] { return UnpackMsgpack(Get().msgpack_bytes); });
  RegisterChecked(
      name + "/decode/nlohmann", Counting::kAllocations,
      [] { return Json::from_msgpack(Get().json_bytes) == Get().json; },
      [] { return ParseJson(Get().json_bytes); });

  // The physical limit: the same 16 MiB copied once, out of our encoded message.
  WithMinimum(benchmark::RegisterBenchmark(
      (name + "/copy/memcpy_prealloc").c_str(), [](benchmark::State& state) {
        const BlobPayload& payload = Get();
        if (std::memcmp(payload.in_message, payload.raw.data(), payload.raw.size()) != 0) {
          state.SkipWithError("the message does not end with the list's bytes");
          return;
        }
        const size_t size = payload.raw.size();
        std::vector<uint8_t> target(size);
        Measure(state, Counting::kNone, [&] {
          std::memcpy(target.data(), payload.in_message, size);
          benchmark::DoNotOptimize(target.data());
          return size;
        });
      }));
  Register(name + "/copy/memcpy_new_vector", Counting::kAllocations, [] {
    const BlobPayload& payload = Get();
    // One allocation and one memmove.
    std::vector<uint8_t> copy(payload.in_message, payload.in_message + payload.raw.size());
    return Keep(copy);
  });
}

}  // namespace

benchmark::internal::Benchmark* WithMinimum(benchmark::internal::Benchmark* benchmark) {
  return benchmark->ComputeStatistics("min", [](const std::vector<double>& values) {
    return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
  });
}

void ReportAllocations(benchmark::State& state, uint64_t allocations_before, uint64_t excluded) {
  const uint64_t allocations = AllocationCount() - allocations_before - excluded;
  state.counters["allocs_per_op"] = benchmark::Counter(static_cast<double>(allocations) /
                                                       static_cast<double>(state.iterations()));
}

void RegisterCodecBenchmarks() {
  RegisterP1();
  RegisterTree<TreePayload<std::vector<MsgpackRecord>>, &P2>("P2_maps");
  RegisterBlob<float, &P3>("P3_floats");
  RegisterBlob<uint8_t, &P4>("P4_bytes");
  RegisterTree<TreePayload<std::map<std::string, int32_t>>, &P5>("P5_int_map");
}

}  // namespace velmoran_bench
