// What a frame costs over usb3k-server against in process: one frame decoded on the decoders layer
// directly, and one frame as a one-frame message of a live stream (WebSocket) through the real
// server on loopback, over the emulator without pacing and paced by its timing model. Each
// repetition is one frame, timed by hand, so that the statistics over the repetitions (mean,
// median, the 99th percentile) are those of single frames.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "bench/vcw_frames.h"
#include "decoders/decoder_handles.h"
#include "server/registry_device_pool.h"
#include "server/server.h"
#include "tests/server/decode_clients.h"

namespace {

using namespace decode_clients;
using Clock = std::chrono::steady_clock;

const std::string LOCAL_SERIAL = "EMU30001";
const std::string SERVED_SERIAL = "EMU30002";
// Frames per benchmark: each repetition is one.
constexpr int FRAMES_UNPACED = 5000;
constexpr int FRAMES_PACED = 500;

// Two emulated USB-3000s: one open in this process on the decoders layer, one behind the server,
// held by one open stream.
class Environment {
  public:
    explicit Environment(bool paced) : paced(paced) {
        sim_reset();
        sim_record_transcript(0);
        sim_clear_devices();
        sim_add_device(SIM_USB3000_ID, LOCAL_SERIAL.c_str(), SIM_DEFAULT_DESCRIPTION);
        sim_add_device(SIM_USB3000_ID, SERVED_SERIAL.c_str(), SIM_DEFAULT_DESCRIPTION);
        // The device's work the same for every frame (the model's mean), so that what differs
        // between the two roads is theirs.
        sim_set_device_work(2000, 2000);
        sim_set_paced(paced ? 1 : 0);
        std::string opened;
        ready = openDecoder(&LOCAL_SERIAL, handle, opened).failure == HandleFailure::None;
        server = std::make_unique<Server>(options, pool, metrics, nullptr);
        net::io_context io;
        tcp::acceptor socket(io, loopback(0));
        std::string error;
        ready = ready && server->open({socket.release()}, error);
        if (!ready)
            return;
        server->start(2);
        stream =
            std::make_unique<StreamClient>(server->port(), "/v1/stream?device=" + SERVED_SERIAL);
        // The first frames warm both roads up.
        for (int i = 0; i < 10; ++i) {
            stream->decode(vcw, 1, 1);
            int32_t decoded = 0;
            decodeOnHandle(handle, vcw.data(), 1, pcm.data(), decoded);
        }
    }

    ~Environment() {
        if (stream)
            stream->close();
        stream.reset();
        server.reset();
        closeDecoder(handle);
        sim_set_paced(0);
    }

    const bool paced;
    bool ready = false;
    int64_t handle = 0;
    const std::vector<uint8_t> vcw = pseudoRandomFrames(1);
    std::vector<uint8_t> pcm = std::vector<uint8_t>(BLOCK_BYTES);
    ServerOptions options;
    RegistryDevicePool pool{options};
    ServerMetrics metrics;
    std::unique_ptr<Server> server;
    std::unique_ptr<StreamClient> stream;
};

// One environment at a time, made again when the benchmark asks for the other timing.
Environment& environment(bool paced) {
    static std::unique_ptr<Environment> current;
    if (!current || current->paced != paced) {
        current.reset();
        current = std::make_unique<Environment>(paced);
    }
    return *current;
}

double percentile99(const std::vector<double>& values) {
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    return sorted[(sorted.size() - 1) * 99 / 100];
}

template <class Decode>
void timeOneFrame(benchmark::State& state, Decode decode) {
    Environment& env = environment(state.range(0) != 0);
    if (!env.ready) {
        state.SkipWithError("emulated devices or server not ready");
        return;
    }
    for (auto _ : state) {
        const auto begin = Clock::now();
        const bool whole = decode(env);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - begin).count());
        if (!whole) {
            state.SkipWithError("a frame was not decoded");
            return;
        }
    }
}

void BM_FrameInProcess(benchmark::State& state) {
    timeOneFrame(state, [](Environment& env) {
        int32_t decoded = 0;
        decodeOnHandle(env.handle, env.vcw.data(), 1, env.pcm.data(), decoded);
        return decoded == 1;
    });
}

void BM_FrameOverStream(benchmark::State& state) {
    timeOneFrame(state, [](Environment& env) {
        return env.stream->decode(env.vcw, 1, 1).size() == BLOCK_BYTES;
    });
}

void frameStatistics(benchmark::internal::Benchmark* b, int paced) {
    b->ArgName("paced")
        ->Arg(paced)
        ->Iterations(1)
        ->Repetitions(paced != 0 ? FRAMES_PACED : FRAMES_UNPACED)
        ->ComputeStatistics("p99", percentile99)
        ->ReportAggregatesOnly(true)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
}

void unpaced(benchmark::internal::Benchmark* b) {
    frameStatistics(b, 0);
}

void paced(benchmark::internal::Benchmark* b) {
    frameStatistics(b, 1);
}

// Without pacing first, then paced: the environment is made once for each.
BENCHMARK(BM_FrameInProcess)->Apply(unpaced);
BENCHMARK(BM_FrameOverStream)->Apply(unpaced);
BENCHMARK(BM_FrameInProcess)->Apply(paced);
BENCHMARK(BM_FrameOverStream)->Apply(paced);

}  // namespace

BENCHMARK_MAIN();
