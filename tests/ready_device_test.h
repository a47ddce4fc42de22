// A fixture for suites that exchange packets with an identified device: the emulator powered on
// afresh, a ready device on it, and a transcript that starts with the test's own exchanges.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "device/usb3k.h"
#include "sim/usb3k_sim.h"
#include "sim_test_support.h"

class ReadyDeviceTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        device = std::make_unique<USB3K>(SIM_DEFAULT_SERIAL);
        ASSERT_TRUE(device->ready);
        prepare();
        sim_clear_transcript();
    }

    // What a suite needs of the device beyond identification, done before the transcript starts.
    virtual void prepare() {}

    std::unique_ptr<USB3K> device;
};
