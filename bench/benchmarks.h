#ifndef VELMORAN_BENCH_BENCHMARKS_H_
#define VELMORAN_BENCH_BENCHMARKS_H_

#include <cstdint>

#include <benchmark/benchmark.h>

namespace velmoran_bench {

// Registers, payload by payload, every implementation's encode and decode benchmark, so that
// the implementations of one payload run next to each other. Names are
// "<payload>/<encode|decode|copy>/<implementation>"; bench/ratio_table.py reads them.
void RegisterCodecBenchmarks();

// Registers the round trips of "getPlatformVersion" through the headless host:
// "round_trip/<path>".
void RegisterRoundTripBenchmarks();

// Adds the aggregate "min" (the fastest repetition) to a registered benchmark, next to the
// mean, median, standard deviation and coefficient of variation that repetitions report.
benchmark::internal::Benchmark* WithMinimum(benchmark::internal::Benchmark* benchmark);

// Adds the counter "allocs_per_op": global operator new calls per iteration since
// allocations_before, which the caller read right before its timed loop, less `excluded` ones
// that the harness itself made in the loop.
void ReportAllocations(benchmark::State& state, uint64_t allocations_before, uint64_t excluded = 0);

}  // namespace velmoran_bench

#endif  // VELMORAN_BENCH_BENCHMARKS_H_
