#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "device/frame_packing.h"
#include "device/usb3k.h"
#include "sim/usb3k_sim.h"

namespace {

std::vector<uint8_t> framesOf(std::size_t count) {
    std::vector<uint8_t> vcw(count * VCW_FRAME_SIZE);
    uint32_t state = 0x12345678;
    for (uint8_t& byte : vcw) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return vcw;
}

void BM_InterleaveFrame(benchmark::State& state) {
    const std::vector<uint8_t> frame = framesOf(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(interleaveFrame(frame.data()));
    }
}
BENCHMARK(BM_InterleaveFrame);

void BM_PackFrame(benchmark::State& state) {
    const std::vector<uint8_t> frame = framesOf(1);
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
    const std::vector<uint8_t> vcw = framesOf(static_cast<std::size_t>(state.range(0)));
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
