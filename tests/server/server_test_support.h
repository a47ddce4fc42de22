// usb3k-server's tests on loopback: frames and the fake's speech for them, and a fixture that
// serves a fake device pool in process (the clients are in test_clients.h).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "server/server.h"
#include "tests/server/fake_device_pool.h"
#include "tests/server/test_clients.h"

inline std::string frames(std::size_t count) {
    std::string vcw(count * 7, '\0');
    for (std::size_t i = 0; i < vcw.size(); ++i) vcw[i] = static_cast<char>(i * 13 + i / 7);
    return vcw;
}

// The fake's speech for `vcw`, silence at the concealed lease frames from `first` on.
inline std::string speechFor(const std::string& vcw, const std::set<uint64_t>& concealed,
                             uint64_t first = 0) {
    std::string pcm;
    for (std::size_t f = 0; f < vcw.size() / 7; ++f) {
        auto block = speechOf(reinterpret_cast<const uint8_t*>(vcw.data()) + f * 7);
        if (concealed.count(first + f) != 0)
            block.assign(320, 0);
        pcm.append(block.begin(), block.end());
    }
    return pcm;
}

class ServerTest : public ::testing::Test {
  protected:
    void start(int devices = 1) {
        pool_ = std::make_unique<FakeDevicePool>(devices);
        startOn(*pool_);
    }

    void startOn(DevicePool& pool) {
        options_.tokenFile = "(the test's)";
        auto tokens = std::make_shared<TokenList>(
            std::vector<TokenList::Token>{{"alice", TOKEN}, {"bob", "secret-of-bob"}});
        server_ = std::make_unique<Server>(options_, pool, metrics_, tokens);
        // A socket on a port the system chooses, passed as systemd passes its sockets.
        net::io_context io;
        tcp::acceptor socket(io, tcp::endpoint(net::ip::make_address("127.0.0.1"), 0));
        std::string error;
        ASSERT_TRUE(server_->open({socket.release()}, error)) << error;
        server_->start(2);
        port_ = server_->port();
    }

    // Waits, bounded, until the fake's device `index` is free.
    bool freeWithin(std::chrono::milliseconds limit, std::size_t index = 0) {
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (pool_->devices()[index].state == DeviceState::Free)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    ServerOptions options_;
    ServerMetrics metrics_;
    std::unique_ptr<FakeDevicePool> pool_;
    std::unique_ptr<Server> server_;
    uint16_t port_ = 0;
};
