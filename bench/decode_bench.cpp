#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/vcw_frames.h"
#include "device/frame_packing.h"
#include "device/link_settings.h"
#include "device/usb3k.h"
#include "sim/usb3k_sim.h"

namespace {

// Frames in one call of the multi-device benchmark.
constexpr std::size_t PACED_CALL_FRAMES = 25;

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

// One call of 50 frames, the chunk the demo decodes at a time, on a ready device whose link uses
// a latency timer of `latencyMs` (0: the library's default).
void decodeFrames(benchmark::State& state, bool paced, int latencyMs) {
    sim_reset();
    sim_record_transcript(0);
    sim_set_paced(paced ? 1 : 0);
    if (latencyMs > 0) {
        setenv(LATENCY_TIMER_VARIABLE, std::to_string(latencyMs).c_str(), 1);
    }
    USB3K device(SIM_DEFAULT_SERIAL);
    unsetenv(LATENCY_TIMER_VARIABLE);
    if (!device.ready || device.reset() != 0 || device.stopCodec() != 0 || device.setRate() != 0) {
        state.SkipWithError("emulated device not ready");
        return;
    }
    const std::vector<uint8_t> vcw = pseudoRandomFrames(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(device.decode(vcw));
    }
    const double frames = static_cast<double>(state.iterations() * state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    // A frame is 20 ms of speech.
    state.counters["x_real_time"] = benchmark::Counter(frames * 0.020, benchmark::Counter::kIsRate);
    if (paced) {
        // What the timing model allows at best: line, device work and the latency tail.
        state.counters["model_limit_fps"] = 1.0 / sim_model_frame_seconds(device.latencyTimer());
        state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    }
    sim_set_paced(0);
}

void BM_DecodeVirtualTime(benchmark::State& state) {
    decodeFrames(state, false, 0);
}
BENCHMARK(BM_DecodeVirtualTime)->Arg(50)->UseRealTime();

// The timing model in real time, at latency timers of 1, 2 and 4 ms (the default).
void BM_DecodePacedLine(benchmark::State& state) {
    decodeFrames(state, true, static_cast<int>(state.range(1)));
}
BENCHMARK(BM_DecodePacedLine)
    ->ArgNames({"frames", "latency_ms"})
    ->Args({50, 1})
    ->Args({50, 2})
    ->Args({50, 4})
    ->Iterations(4)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Several paced devices, each with its own timeline, decoded from 1, 2 or 4 threads: thread t
// decodes on device t mod devices, holding that device's lock for each call, as the library's
// registry of open devices does. One iteration is one call of every thread; aggregate frames a
// second should grow with the devices, not with the threads.
void BM_DecodePacedDevices(benchmark::State& state) {
    const auto deviceCount = static_cast<std::size_t>(state.range(0));
    const auto threadCount = static_cast<std::size_t>(state.range(1));
    sim_reset();
    sim_record_transcript(0);
    sim_clear_devices();
    std::vector<std::unique_ptr<USB3K>> devices;
    std::vector<std::mutex> locks(deviceCount);
    for (std::size_t i = 0; i < deviceCount; ++i) {
        const std::string serial = "EMU3000" + std::to_string(i + 1);
        sim_add_device(SIM_USB3000_ID, serial.c_str(), SIM_DEFAULT_DESCRIPTION);
        devices.push_back(std::make_unique<USB3K>(serial));
        if (!devices.back()->ready || devices.back()->reset() != 0 ||
            devices.back()->stopCodec() != 0 || devices.back()->setRate() != 0) {
            state.SkipWithError("emulated device not ready");
            return;
        }
    }
    sim_set_paced(1);
    const std::vector<uint8_t> vcw = pseudoRandomFrames(PACED_CALL_FRAMES);
    for (auto _ : state) {
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < threadCount; ++t) {
            threads.emplace_back([&, t] {
                std::lock_guard<std::mutex> lock(locks[t % deviceCount]);
                benchmark::DoNotOptimize(devices[t % deviceCount]->decode(vcw));
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
    }
    state.counters["fps"] = benchmark::Counter(
        static_cast<double>(state.iterations() * threadCount * PACED_CALL_FRAMES),
        benchmark::Counter::kIsRate);
    sim_set_paced(0);
}
BENCHMARK(BM_DecodePacedDevices)
    ->ArgNames({"devices", "threads"})
    ->ArgsProduct({{1, 2, 4}, {1, 2, 4}})
    ->Iterations(4)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
