// Live streams on a running usb3k-server over emulated USB-3000s, for scripts/measure-server:
// STREAMS WebSocket streams at once, each sending messages of 25 frames (two ahead of their
// answers) for SECONDS, every block checked against the emulator's speech. Prints the frames, the
// wrong blocks and the frames a second; exits 1 when a block was wrong or a stream failed.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>
#include <vector>

#include "bench/vcw_frames.h"
#include "tests/server/decode_clients.h"

using namespace decode_clients;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: stream_load PORT STREAMS SECONDS\n";
        return 2;
    }
    const auto port = static_cast<uint16_t>(std::atoi(argv[1]));
    const int streams = std::atoi(argv[2]);
    const std::chrono::seconds duration(std::atoi(argv[3]));
    const std::vector<uint8_t> vcw = pseudoRandomFrames(50);
    const std::vector<uint8_t> speech = emulatedSpeech(vcw);
    std::atomic<std::size_t> frames{0};
    std::atomic<std::size_t> wrong{0};
    std::atomic<int> failed{0};
    const auto begin = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int s = 0; s < streams; ++s) {
        threads.emplace_back([&] {
            try {
                StreamClient client(port, "/v1/stream");
                while (std::chrono::steady_clock::now() - begin < duration) {
                    wrong += wrongBlocks(client.decode(vcw, 25, 2), speech);
                    frames += vcw.size() / FRAME_BYTES;
                }
                client.close();
            } catch (const std::exception& failure) {
                std::cerr << "stream_load: " << failure.what() << "\n";
                ++failed;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
    std::cout << "frames=" << frames << " wrong=" << wrong << " failed=" << failed
              << " fps=" << static_cast<double>(frames) / took.count() << "\n";
    return wrong == 0 && failed == 0 ? 0 : 1;
}
