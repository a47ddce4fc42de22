#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench/vcw_frames.h"
#include "device/frame_packing.h"
#include "device/usb3k.h"
#include "sim/usb3k_sim.h"

namespace {

void BM_InterleaveFrame(benchmark::State& state) {
    const std::vector<uint8_t> frame = pseudoRandomFrames(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(interleaveFrame(frame.data()));
    }
}
BENCHMARK(BM_InterleaveFrame);

void BM_PackFrame(benchmark::State& state) {
    const std::vector<uint8_t> frame = pseudoRandomFrames(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(packFrame(7, frame.data()));
    }
}
BENCHMARK(BM_PackFrame);

// One call of 50 frames, the chunk the demo decodes at a time.
void decodeFrames(benchmark::State& state, bool paced) {
    sim_reset();
    sim_record_transcript(0);
    sim_set_paced(paced ? 1 : 0);
    USB3K device(SIM_DEFAULT_SERIAL);
    if (!device.ready || device.reset() != 0 || device.stopCodec() != 0 || device.setRate() != 0) {
        state.SkipWithError("emulated device not ready");
        return;
    }
    const std::vector<uint8_t> vcw = pseudoRandomFrames(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(device.decode(vcw));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    // A frame is 20 ms of speech.
    state.counters["x_real_time"] =
        benchmark::Counter(static_cast<double>(state.iterations() * state.range(0)) * 0.020,
                           benchmark::Counter::kIsRate);
    sim_set_paced(0);
}

void BM_DecodeVirtualTime(benchmark::State& state) {
    decodeFrames(state, false);
}
BENCHMARK(BM_DecodeVirtualTime)->Arg(50)->UseRealTime();

void BM_DecodePacedLine(benchmark::State& state) {
    decodeFrames(state, true);
}
BENCHMARK(BM_DecodePacedLine)->Arg(50)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
