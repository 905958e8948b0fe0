// Cost per byte of moving data through a byte buffer used as a queue: cutting
// 255-byte portions from its front, as the frame level does, must stay flat
// as the queue grows (linear overall, not quadratic).

#include <benchmark/benchmark.h>

#include "base/BinaryData.h"

namespace {

constexpr unsigned long kPortion = 255;
constexpr unsigned long kChunk = 4096;

void SetPerByteCounters(benchmark::State& state, unsigned long bytesPerIteration) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytesPerIteration));
    state.counters["time_per_byte"] = benchmark::Counter(
        static_cast<double>(bytesPerIteration),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// A filled buffer cut into portions until it is empty.
void BM_CutIntoPortions(benchmark::State& state) {
    const auto size = static_cast<unsigned long>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        T_BinaryData queue = BinaryDataFromRepeatedByte(0x5A, size);
        state.ResumeTiming();
        while (queue.Length() != 0) {
            const T_BinaryData portion = queue.Cut(0, kPortion);
            benchmark::DoNotOptimize(portion.GetData());
        }
    }
    SetPerByteCounters(state, size);
}

// Chunks appended while portions are cut from the front, the last portion
// kept until the next one goes (it waits for its acknowledgement). The queue
// grows to about half the bytes relayed.
void BM_RelayThroughQueue(benchmark::State& state) {
    const auto size = static_cast<unsigned long>(state.range(0));
    const T_BinaryData chunk = BinaryDataFromRepeatedByte(0xA5, kChunk);
    for (auto _ : state) {
        T_BinaryData queue;
        T_BinaryData lastPortion;
        for (unsigned long appended = 0; appended < size; appended += kChunk) {
            queue += chunk;
            for (int i = 0; i < 8; ++i) {
                lastPortion = queue.Cut(0, kPortion);
            }
        }
        while (queue.Length() != 0) {
            lastPortion = queue.Cut(0, kPortion);
        }
        benchmark::DoNotOptimize(lastPortion.GetData());
    }
    SetPerByteCounters(state, size);
}

BENCHMARK(BM_CutIntoPortions)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RelayThroughQueue)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
