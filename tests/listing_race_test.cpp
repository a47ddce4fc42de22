// Two threads list the devices while a third opens and closes a decoder on one device and a
// fourth initializes and shuts down the bridge on the other: no open or initialize fails, and a
// listing names only those real holders. (A shutdown with no list is in InitializeTest.)
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/bridge_lifecycle.h"
#include "decoders/decoder_handles.h"
#include "sim_test_support.h"

namespace {

constexpr int ROUNDS = 300;
using ListingRace = SimTest;

// Runs `step` (true: it failed) ROUNDS times, then on while another thread is short of ROUNDS (at
// most 20 * ROUNDS), so that the threads overlap however they are scheduled. Returns the failures.
int race(std::atomic<int>& shortOfRounds, int& tries, const std::function<bool()>& step) {
    int failures = 0;
    for (; tries < 20 * ROUNDS && (tries < ROUNDS || shortOfRounds > 0);) {
        failures += step() ? 1 : 0;
        shortOfRounds -= ++tries == ROUNDS ? 1 : 0;
    }
    return failures;
}

TEST_F(ListingRace, NoOpenInitializeOrListingMeetsAListing) {
    sim_record_transcript(0);
    sim_add_device(SIM_USB3000_ID, "EMU30002", SIM_DEFAULT_DESCRIPTION);
    putEnvironment("USB3K_SERIAL=EMU30002");  // the bridge's device; decoders open EMU30001
    std::atomic<int> shortOfRounds{4};
    int tries[4] = {}, failures[4] = {};
    const auto list = [] {
        std::vector<AttachedUsb3000> devices;
        listUsb3000s(devices);
        bool lied = false;
        for (const AttachedUsb3000& device : devices) {
            const bool bridges = device.serialNumber == "EMU30002";
            lied |= !device.usable &&
                    device.reason != (bridges ? "in use by USB3KBridge" : "in use by a decoder");
        }
        return lied;
    };
    const auto open = [] {
        const std::string serial = SIM_DEFAULT_SERIAL;
        int64_t handle = 0;
        std::string opened;
        const bool failed = openDecoder(&serial, handle, opened).failure != HandleFailure::None;
        closeDecoder(handle);
        return failed;
    };
    BridgeState bridge;
    const auto initialize = [&] {
        std::lock_guard<std::mutex> hold(bridge.lock);
        const bool failed = !initializeDevice(bridge);
        shutdownDevices(bridge);
        return failed;
    };
    const std::function<bool()> steps[4] = {list, list, open, initialize};
    std::vector<std::thread> threads;
    for (int role = 0; role < 4; ++role) {
        threads.emplace_back(
            [&, role] { failures[role] = race(shortOfRounds, tries[role], steps[role]); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    putEnvironment("USB3K_SERIAL=");
    EXPECT_EQ(failures[0] + failures[1], 0) << "false listings of " << tries[0] + tries[1];
    EXPECT_EQ(failures[2], 0) << "failed opens of " << tries[2];
    EXPECT_EQ(failures[3], 0) << "failed initializes of " << tries[3];
    EXPECT_EQ(sim_open_handles(), 0);
}

}  // namespace
