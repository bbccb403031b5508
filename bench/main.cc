// velmoran_bench: see bench/codec_benchmarks.cc and bench/round_trip_benchmarks.cc for what is
// measured, and tools/run-benchmarks for how to run it and read the ratios.

#include <cstdio>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <benchmark/benchmark.h>

#include "bench/benchmarks.h"
#include "bench/payloads.h"

int main(int argc, char** argv) {
#if defined(__GLIBC__)
  // The 16 MiB buffers come from the heap and freed memory stays there, instead of glibc
  // adapting its mmap and trim thresholds as it goes: otherwise whether a benchmark pays page
  // faults for fresh memory depends on which benchmark ran before it.
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
#endif
  // Registered in this order, payload by payload, so that the implementations of one payload
  // run next to each other.
  velmoran_bench::RegisterCodecBenchmarks();
  velmoran_bench::RegisterRoundTripBenchmarks();
  char seed[32];
  std::snprintf(seed, sizeof seed, "0x%016llx",
                static_cast<unsigned long long>(velmoran_bench::kPayloadSeed));
  benchmark::AddCustomContext("payload_seed", seed);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
