// usb3k-server's device pool over the emulator: devices and their states, a named device, a queue
// that is bounded and served in turns across tokens, withdrawn tickets, and a cancelled wait.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "server/registry_device_pool.h"
#include "sim_test_support.h"

namespace {

const char* const SECOND = "EMU30002";

struct Quiet final : StreamListener {
    void frameConcealed(uint64_t, const std::vector<std::string>&) override {}
    void deviceAway(const std::string&, uint64_t) override { onAway(); }
    void deviceBack(const std::string&, uint64_t) override {}
    std::function<void()> onAway;
};

class DevicePoolTest : public SimTest {
  protected:
    // Asks for a lease that must be granted at once.
    std::unique_ptr<DeviceLease> leaseNow(DevicePool& pool, const std::string& serial) {
        std::unique_ptr<DeviceLease> lease;
        pool.acquire(serial, "t", [&](LeaseResult result) { lease = std::move(result.lease); });
        EXPECT_TRUE(lease);
        return lease;
    }
    static DeviceState stateOf(DevicePool& pool, const std::string& serial) {
        for (const PooledDevice& device : pool.devices()) {
            if (device.serialNumber == serial) {
                return device.state;
            }
        }
        ADD_FAILURE() << serial << " not among the devices";
        return DeviceState::Free;
    }
};

TEST_F(DevicePoolTest, DevicesTheirStatesAndANamedDevice) {
    ASSERT_GE(sim_add_device(SIM_USB3000_ID, SECOND, "USB-3000 (second)"), 0);
    ServerOptions options;
    options.reconnectTimeout = std::chrono::seconds(30);
    RegistryDevicePool pool(options);
    std::vector<PooledDevice> rows = pool.devices();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].serialNumber, SIM_DEFAULT_SERIAL);
    EXPECT_EQ(rows[0].description, SIM_DEFAULT_DESCRIPTION);
    EXPECT_TRUE(rows[0].usable);
    EXPECT_EQ(rows[0].productId, SIM_PRODUCT_ID_TEXT);
    EXPECT_EQ(rows[0].version, SIM_VERSION_TEXT);
    EXPECT_EQ(rows[0].state, DeviceState::Free);
    EXPECT_TRUE(pool.anyReady());

    std::unique_ptr<DeviceLease> second = leaseNow(pool, SECOND);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->serialNumber(), SECOND);
    LeaseResult unknown;
    pool.acquire("EMU39999", "t", [&](LeaseResult result) { unknown = std::move(result); });
    EXPECT_EQ(unknown.refusal, LeaseRefusal::NoSuchDevice);

    const std::vector<uint8_t> vcw = testFrames(20, 51);
    std::vector<uint8_t> pcm(20 * 320);
    Quiet quiet;
    EXPECT_EQ(second->decode(vcw.data(), 20, pcm.data(), quiet).frames, 20u);
    rows = pool.devices();
    EXPECT_EQ(rows[1].state, DeviceState::Busy);
    EXPECT_TRUE(rows[1].usable);
    EXPECT_EQ(rows[1].framesDecoded, 20u);
    EXPECT_EQ(rows[0].framesDecoded, 0u);

    // Unplugged mid-stream: away while the lease waits for it; a cancel ends the wait at once.
    sim_detach_device(SECOND);
    DeviceState whileAway = DeviceState::Free;
    quiet.onAway = [&] {
        whileAway = stateOf(pool, SECOND);
        second->cancel();
    };
    const auto start = std::chrono::steady_clock::now();
    const StreamOutcome outcome = second->decode(vcw.data(), 20, pcm.data(), quiet);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(outcome.end, StreamEnd::Cancelled);
    EXPECT_EQ(whileAway, DeviceState::Away);
    EXPECT_EQ(stateOf(pool, SECOND), DeviceState::Away);
    second.reset();
    EXPECT_EQ(pool.devices().size(), 1u) << "an unplugged device nobody holds is not listed";
}

// A device is opened to identify it once, when a listing first finds it attached: the listings of
// probes and scrapers after that cost it nothing, and one plugged in again is identified again.
TEST_F(DevicePoolTest, AListingOpensOnlyADeviceThatArrived) {
    ServerOptions options;
    RegistryDevicePool pool(options);
    auto opens = [] { return sim_call_count(SIM_DEFAULT_SERIAL, "FT_OpenEx"); };
    ASSERT_EQ(pool.devices().size(), 1u);
    EXPECT_EQ(opens(), 1);
    for (int i = 0; i < 20; ++i) {
        std::vector<PooledDevice> rows = pool.devices();
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_TRUE(rows[0].usable);
        EXPECT_EQ(rows[0].productId, SIM_PRODUCT_ID_TEXT);
        EXPECT_EQ(rows[0].version, SIM_VERSION_TEXT);
        EXPECT_TRUE(pool.anyReady());
    }
    EXPECT_EQ(opens(), 1) << "listings after the first open nothing";

    std::unique_ptr<DeviceLease> lease = leaseNow(pool, SIM_DEFAULT_SERIAL);
    const int withTheLease = opens();
    lease.reset();
    pool.devices();
    EXPECT_EQ(opens(), withTheLease) << "a device a lease gave back is known";

    sim_detach_device(SIM_DEFAULT_SERIAL);
    EXPECT_TRUE(pool.devices().empty());
    ASSERT_EQ(sim_reattach_device(SIM_DEFAULT_SERIAL), 1);
    EXPECT_TRUE(pool.devices()[0].usable);
    EXPECT_EQ(opens(), withTheLease + 1) << "a device plugged in again is identified again";
}

TEST_F(DevicePoolTest, WaitersAreServedInTurnsAcrossTokensWithinABoundedQueue) {
    ServerOptions options;
    options.maxQueued = 4;
    RegistryDevicePool pool(options);
    std::unique_ptr<DeviceLease> held = leaseNow(pool, "");
    ASSERT_TRUE(held);
    EXPECT_EQ(stateOf(pool, SIM_DEFAULT_SERIAL), DeviceState::Busy);

    // Granted in order of their grants; each holds the device until the test lets it go.
    std::vector<std::pair<std::string, std::unique_ptr<DeviceLease>>> grants;
    grants.reserve(8);
    auto ask = [&](const std::string& name, const std::string& token) {
        return pool.acquire("", token, [&grants, name](LeaseResult result) {
            grants.emplace_back(name, std::move(result.lease));
        });
    };
    ask("a1", "alice");
    ask("a2", "alice");
    const DevicePool::Ticket a3 = ask("a3", "alice");
    ask("b1", "bob");
    EXPECT_EQ(pool.queueLength(), 4u);
    LeaseResult full;
    pool.acquire("", "carol", [&](LeaseResult result) { full = std::move(result); });
    EXPECT_EQ(full.refusal, LeaseRefusal::QueueFull);
    EXPECT_TRUE(pool.withdraw(a3));
    EXPECT_FALSE(pool.withdraw(a3));
    EXPECT_EQ(pool.queueLength(), 3u);
    EXPECT_TRUE(grants.empty());

    // Each lease given back is granted on the releasing thread, to the next token's first waiter.
    held.reset();
    for (std::size_t served = 1; served <= 3; ++served) {
        ASSERT_EQ(grants.size(), served);
        ASSERT_TRUE(grants.back().second);
        EXPECT_EQ(pool.queueLength(), 3 - served);
        std::unique_ptr<DeviceLease> done = std::move(grants.back().second);
        done.reset();
    }
    EXPECT_EQ(grants[0].first, "a1");
    EXPECT_EQ(grants[1].first, "b1");
    EXPECT_EQ(grants[2].first, "a2");
    EXPECT_EQ(stateOf(pool, SIM_DEFAULT_SERIAL), DeviceState::Free);
}

}  // namespace
