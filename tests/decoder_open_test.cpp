// Opening a decoder's device below JNI: a chip held elsewhere (by another process, or through
// another class loader's copy of the library) is named as the likely cause, with its fix.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoders/decoder_handles.h"
#include "device/usb3k.h"
#include "sim_test_support.h"

namespace {

using Lines = std::vector<std::string>;

class DecoderOpen : public SimTest {};

TEST_F(DecoderOpen, ADeviceAnotherProcessHoldsIsNamedWithItsFix) {
    // The emulator lives in this process: a device held here stands for one held by another.
    const USB3K elsewhere(SIM_DEFAULT_SERIAL);
    int64_t handle = 0;
    std::string opened;
    HandleOutcome outcome;
    const Lines err = stderrLinesOf([&] { outcome = openDecoder(nullptr, handle, opened); });
    EXPECT_EQ(outcome.failure, HandleFailure::NotReady);
    EXPECT_EQ(err, (Lines{"USB3K::USB3K - FT_OpenEx failed: 3",
                          "Usb3kDecoder::open - USB-3000 device EMU30001 is not ready"}));
    EXPECT_EQ(outcome.advice.cause,
              "another class loader of this JVM, or another process, has the device open (D2XX "
              "lists it as opened)");
    EXPECT_EQ(outcome.advice.fix, "close the decoder or the program that holds it, then try again");
    EXPECT_EQ(handle, 0);
}

}  // namespace
