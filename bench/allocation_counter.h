#ifndef VELMORAN_BENCH_ALLOCATION_COUNTER_H_
#define VELMORAN_BENCH_ALLOCATION_COUNTER_H_

#include <cstdint>

namespace velmoran_bench {

// How many times the calling thread has called a global operator new (any form) so far. The
// benchmark binary replaces the global operator new and delete with counting ones; allocations
// made with malloc directly (msgpack-c's buffers and zones do that) are not counted.
uint64_t AllocationCount();

}  // namespace velmoran_bench

#endif  // VELMORAN_BENCH_ALLOCATION_COUNTER_H_
