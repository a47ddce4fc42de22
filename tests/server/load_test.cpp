// usb3k-server under load: four USB-3000s emulated in real time (the emulator's timing model,
// paced) behind the real server on loopback, sixteen clients on them at once, every block of
// speech checked, and the frames a second they get against what the same four devices give in
// process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "decoders/decoder_handles.h"
#include "server/registry_device_pool.h"
#include "server/server.h"
#include "tests/server/decode_clients.h"
#include "tests/sim_test_support.h"

namespace {

using namespace decode_clients;
using Clock = std::chrono::steady_clock;

constexpr std::size_t DEVICES = 4;
// Each device has four clients, all asking at once, each naming its device so that every device
// gets the same work: two live streams that send their frames in messages of 25 (half a second of
// speech), two ahead of their answers, and two clients that POST their frames in two requests.
// A request or stream is a lease of the device, opened and prepared for it: some 10 to 20 ms of
// the device's time, under 2 % of the 75 to 150 frames (1 to 2 s) each lease decodes here.
constexpr std::size_t STREAM_FRAMES = 150;
constexpr std::size_t STREAM_MESSAGE_FRAMES = 25;
constexpr std::size_t STREAM_AHEAD = 2;
constexpr std::size_t POST_REQUESTS = 2;
constexpr std::size_t POST_FRAMES = 75;
constexpr std::size_t FRAMES_PER_DEVICE = 2 * STREAM_FRAMES + 2 * POST_REQUESTS * POST_FRAMES;

std::string serialOf(std::size_t device) {
    return "EMU3000" + std::to_string(device + 1);
}

// One client's frames and the speech they must bring back.
struct Work {
    std::size_t device = 0;
    bool stream = false;
    std::vector<std::vector<uint8_t>> vcw;  // per request; a stream has one
    std::vector<std::vector<uint8_t>> speech;
};

Work workOf(std::size_t device, bool stream, uint32_t seed) {
    Work work;
    work.device = device;
    work.stream = stream;
    const std::size_t requests = stream ? 1 : POST_REQUESTS;
    for (std::size_t r = 0; r < requests; ++r) {
        work.vcw.push_back(testFrames(stream ? STREAM_FRAMES : POST_FRAMES, seed * 16 + r));
        work.speech.push_back(emulatedSpeech(work.vcw.back()));
    }
    return work;
}

class LoadTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        sim_record_transcript(0);
        sim_clear_devices();
        for (std::size_t d = 0; d < DEVICES; ++d) {
            sim_add_device(SIM_USB3000_ID, serialOf(d).c_str(), SIM_DEFAULT_DESCRIPTION);
        }
        sim_set_paced(1);
    }
    void TearDown() override { sim_set_paced(0); }

    std::atomic<std::size_t> wrong_{0};
};

// First in process, four threads each opening one device on the decoders layer and decoding
// FRAMES_PER_DEVICE frames in one call; then the sixteen clients over the network. Both times run
// from before the first open to the last block, so each includes one open per device and the
// network's time also the server's further leases.
TEST_F(LoadTest, SixteenClientsGetEveryBlockRightAtTheDevicesPace) {
    std::vector<std::vector<uint8_t>> local;
    std::vector<std::vector<uint8_t>> localSpeech;
    for (std::size_t d = 0; d < DEVICES; ++d) {
        local.push_back(testFrames(FRAMES_PER_DEVICE, 100 + d));
        localSpeech.push_back(emulatedSpeech(local.back()));
    }
    auto begin = Clock::now();
    std::vector<std::thread> threads;
    for (std::size_t d = 0; d < DEVICES; ++d) {
        threads.emplace_back([this, d, &vcw = local[d], &speech = localSpeech[d]] {
            const std::string serial = serialOf(d);
            std::vector<uint8_t> pcm(FRAMES_PER_DEVICE * BLOCK_BYTES);
            int64_t handle = 0;
            std::string opened;
            int32_t decoded = 0;
            if (openDecoder(&serial, handle, opened).failure == HandleFailure::None) {
                decodeOnHandle(handle, vcw.data(), static_cast<int32_t>(FRAMES_PER_DEVICE),
                               pcm.data(), decoded);
                closeDecoder(handle);
            }
            wrong_ += wrongBlocks(pcm, speech);
        });
    }
    for (std::thread& thread : threads) thread.join();
    const std::chrono::duration<double> inProcessTime = Clock::now() - begin;
    ASSERT_EQ(wrong_, 0u) << "in process";

    ServerOptions options;
    RegistryDevicePool pool(options);
    ServerMetrics metrics;
    Server server(options, pool, metrics, nullptr);
    net::io_context io;
    tcp::acceptor socket(io, loopback(0));
    std::string error;
    ASSERT_TRUE(server.open({socket.release()}, error)) << error;
    server.start(2);
    const uint16_t port = server.port();

    std::vector<Work> clients;
    for (std::size_t d = 0; d < DEVICES; ++d) {
        for (std::size_t c = 0; c < 4; ++c) clients.push_back(workOf(d, c < 2, d * 4 + c));
    }
    std::atomic<std::size_t> events{0};
    std::atomic<std::size_t> badAnswers{0};
    testing::internal::CaptureStderr();  // the server's line per request and stream
    begin = Clock::now();
    threads.clear();
    for (const Work& work : clients) {
        threads.emplace_back([&, this] {
            const std::string device = "device=" + serialOf(work.device);
            try {
                if (work.stream) {
                    StreamClient client(port, "/v1/stream?" + device);
                    auto speech = client.decode(work.vcw[0], STREAM_MESSAGE_FRAMES, STREAM_AHEAD);
                    client.close();
                    wrong_ += wrongBlocks(speech, work.speech[0]);
                    events += client.events;
                    return;
                }
                for (std::size_t r = 0; r < work.vcw.size(); ++r) {
                    PostResult result =
                        postDecode(port, "/v1/decode?format=pcm&" + device, work.vcw[r]);
                    if (result.status != 200 || result.concealed != "0")
                        ++badAnswers;
                    wrong_ += wrongBlocks(result.speech, work.speech[r]);
                }
            } catch (const std::exception& failure) {
                ++badAnswers;
                std::cout << "client of " << device << ": " << failure.what() << "\n";
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    const std::chrono::duration<double> networkTime = Clock::now() - begin;
    const std::string log = testing::internal::GetCapturedStderr();

    EXPECT_EQ(wrong_, 0u);
    EXPECT_EQ(events, 0u);
    EXPECT_EQ(badAnswers, 0u) << log;
    const std::vector<PooledDevice> devices = pool.devices();
    EXPECT_EQ(devices.size(), DEVICES);
    for (const PooledDevice& device : devices) {
        EXPECT_EQ(device.framesDecoded, FRAMES_PER_DEVICE) << device.serialNumber;
        EXPECT_EQ(device.framesConcealed, 0u) << device.serialNumber;
    }
    const double frames = static_cast<double>(DEVICES * FRAMES_PER_DEVICE);
    const double inProcess = frames / inProcessTime.count();
    const double network = frames / networkTime.count();
    std::cout << DEVICES * FRAMES_PER_DEVICE << " frames on " << DEVICES
              << " paced devices: in process " << inProcess << " frames/s, over the network "
              << network << " frames/s (" << 100 * network / inProcess << " %)\n";
    RecordProperty("in_process_fps", std::to_string(inProcess));
    RecordProperty("network_fps", std::to_string(network));
    EXPECT_GE(network, 0.95 * inProcess);
}

}  // namespace
