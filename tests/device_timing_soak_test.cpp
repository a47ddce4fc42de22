// The fault soak over the emulator's timing model: the device works 1 to 3 ms per request, its
// answers cross the line and the chip's USB packets, and faults strike at moments that no host
// call chooses: a bit flipped or a byte lost in an answer's header or speech, noise after an
// answer, an answer 250 to 700 ms late, a device silent for about a second, a device unplugged
// for 0.2 to 2 s (back elsewhere on the bus, refusing its first opens and waiting for a reset, as
// after a real re-plug: the soak then reopens it, as an application does today). Calls of 1 to 60
// frames follow each other back to back or after a pause. No block may differ from its frame's
// speech, a glitch may cost only the frame it hit and the rest of its call, and the call after it
// decodes completely. Deterministic: fixed seeds, virtual time. USB3K_SOAK_FRAMES and
// USB3K_SOAK_SEED make a longer run (scripts/soak).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "d2xx/d2xx.h"
#include "ready_device_test.h"
#include "sim_test_support.h"
#include "soak_settings.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr std::size_t SPEECH_BLOCK = 320;
constexpr uint32_t ANSWER_BYTES = 328;
constexpr uint32_t HEADER_BYTES = 4;
constexpr int MAX_CALL_FRAMES = 60;
// One frame in this many is hit, in a call that does not follow a glitch.
constexpr uint32_t FAULT_ODDS = 40;

struct Kind {
    const char* name;
    int fault;
    // The fault's value, drawn from the soak's generator.
    uint32_t (*value)(std::mt19937&);
};

uint32_t below(std::mt19937& random, uint32_t bound) {
    return static_cast<uint32_t>(random() % bound);
}

const Kind KINDS[] = {
    {"bit flipped in the header", SIM_ANSWER_BIT_FLIP,
     [](std::mt19937& r) { return below(r, HEADER_BYTES * 8); }},
    {"bit flipped in the speech", SIM_ANSWER_BIT_FLIP,
     [](std::mt19937& r) {
         return HEADER_BYTES * 8 + below(r, (ANSWER_BYTES - HEADER_BYTES) * 8);
     }},
    {"byte lost in the header", SIM_ANSWER_BYTE_LOST,
     [](std::mt19937& r) { return below(r, HEADER_BYTES); }},
    {"byte lost in the speech", SIM_ANSWER_BYTE_LOST,
     [](std::mt19937& r) { return HEADER_BYTES + below(r, ANSWER_BYTES - HEADER_BYTES); }},
    {"noise after the answer", SIM_ANSWER_NOISE, [](std::mt19937& r) { return 1 + below(r, 80); }},
    {"answer 250-700 ms late", SIM_ANSWER_DELAYED,
     [](std::mt19937& r) { return 250 + below(r, 451); }},
    {"device silent ~1 s", SIM_DEVICE_SILENT, [](std::mt19937& r) { return 900 + below(r, 201); }},
    {"unplugged 0.2-2 s", SIM_DEVICE_UNPLUGGED,
     [](std::mt19937& r) { return 200 + below(r, 1801); }},
};
constexpr int KIND_COUNT = sizeof KINDS / sizeof KINDS[0];

struct KindTotals {
    long injected = 0;
    long glitches = 0;  // hits that cost frames
    long framesLost = 0;
    long mostLost = 0;
    long laterCallsLost = 0;
};

struct Totals {
    long frames = 0;
    long decoded = 0;
    long wrongBlocks = 0;      // another frame's speech
    long corruptedBlocks = 0;  // speech no frame of the call has
    long laterCalls = 0;
    long laterCallsBackToBack = 0;
    std::map<int, KindTotals> kinds;
};

class DeviceTimingSoak : public ReadyDeviceTest {
  protected:
    void prepare() override {
        sim_set_timing(1);
        ASSERT_EQ(device->reset(), 0);
        ASSERT_EQ(device->stopCodec(), 0);
        ASSERT_EQ(device->setRate(), 0);
        sim_record_transcript(0);
        sim_set_removed_handle_status(FT_IO_ERROR);
        sim_refuse_opens_after_replug(SIM_DEFAULT_SERIAL, 2, FT_DEVICE_NOT_FOUND);
        sim_needs_reset_after_replug(SIM_DEFAULT_SERIAL, 1);
    }

    // What an application does today when its device is gone: it waits (in steps of 100 ms, at
    // most 5 s) until the device is listed again, then opens it anew, trying up to 5 times while
    // the driver refuses, and prepares it.
    void reopen() {
        for (int waits = 0; waits < 50 && sim_location_id(SIM_DEFAULT_SERIAL) == 0; ++waits) {
            sim_advance_us(SIM_DEFAULT_SERIAL, 100000);
        }
        device.reset();
        for (int tries = 0; tries < 5 && (device == nullptr || !device->ready); ++tries) {
            device = std::make_unique<USB3K>(SIM_DEFAULT_SERIAL);
        }
        ASSERT_TRUE(device->ready) << "the device is back and opens";
        prepare();
    }

    void check(const Bytes& vcw, const Bytes& speech, Totals& totals) {
        const Bytes expected = speechForFrames(vcw);
        for (std::size_t block = 0; block < speech.size() / SPEECH_BLOCK; ++block) {
            const auto at = [&](const Bytes& bytes, std::size_t index) {
                return bytes.begin() + static_cast<std::ptrdiff_t>(index * SPEECH_BLOCK);
            };
            if (std::equal(at(speech, block), at(speech, block + 1), at(expected, block))) {
                continue;
            }
            bool another = false;
            for (std::size_t other = 0; other < vcw.size() / 7 && !another; ++other) {
                another = std::equal(at(speech, block), at(speech, block + 1), at(expected, other));
            }
            ++(another ? totals.wrongBlocks : totals.corruptedBlocks);
        }
    }

    Totals soak(long frames, uint32_t seed) {
        std::mt19937 random(seed);
        Totals totals;
        int lastGlitchKind = -1;
        testing::internal::CaptureStderr();
        while (totals.frames < frames) {
            const int callFrames = 1 + static_cast<int>(below(random, MAX_CALL_FRAMES));
            const Bytes vcw = testFrames(static_cast<std::size_t>(callFrames), random());
            // Calls back to back half the time, otherwise after a pause of up to 1.5 s.
            const bool backToBack = below(random, 2) == 0;
            if (!backToBack) {
                sim_advance_us(SIM_DEFAULT_SERIAL, below(random, 1500000));
            }
            int kind = -1;
            int hit = callFrames;
            // The call after a glitch gets no fault of its own: it shows what the glitch costs
            // later.
            for (int frame = 0; frame < callFrames && kind < 0 && lastGlitchKind < 0; ++frame) {
                if (below(random, FAULT_ODDS) == 0) {
                    kind = static_cast<int>(below(random, KIND_COUNT));
                    hit = frame;
                    const int request =
                        sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL) + frame + 1;
                    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, request,
                                     KINDS[kind].fault,
                                     static_cast<int>(KINDS[kind].value(random)));
                }
            }

            const Bytes speech = device->decode(vcw);
            sim_clear_faults();
            if (kind >= 0 && KINDS[kind].fault == SIM_DEVICE_UNPLUGGED) {
                reopen();
            }
            const long decoded = static_cast<long>(speech.size() / SPEECH_BLOCK);
            check(vcw, speech, totals);

            if (lastGlitchKind >= 0) {
                ++totals.laterCalls;
                totals.laterCallsBackToBack += backToBack ? 1 : 0;
                if (decoded < callFrames) {
                    ++totals.kinds[lastGlitchKind].laterCallsLost;
                }
                EXPECT_EQ(decoded, callFrames)
                    << "the call after a glitch (" << KINDS[lastGlitchKind].name << ")"
                    << (backToBack ? ", back to back" : ", after a pause");
            }
            lastGlitchKind = -1;
            if (kind >= 0) {
                KindTotals& kindTotals = totals.kinds[kind];
                ++kindTotals.injected;
                // Only the frame hit and the rest of its call may be lost.
                EXPECT_GE(decoded, hit) << KINDS[kind].name << " at frame " << hit;
                const long lost = callFrames - decoded;
                if (lost > 0) {
                    ++kindTotals.glitches;
                    kindTotals.framesLost += lost;
                    kindTotals.mostLost = std::max(kindTotals.mostLost, lost);
                    lastGlitchKind = kind;
                }
            } else {
                EXPECT_EQ(decoded, callFrames) << "a call without a fault";
            }
            totals.frames += callFrames;
            totals.decoded += decoded;
        }
        testing::internal::GetCapturedStderr();
        return totals;
    }

    static void print(const Totals& totals, uint32_t seed) {
        std::cout << "timing soak seed " << seed << ": " << totals.frames << " frames, "
                  << totals.decoded << " decoded, " << totals.wrongBlocks << " wrong, "
                  << totals.corruptedBlocks << " corrupted; " << totals.laterCalls
                  << " calls after a glitch (" << totals.laterCallsBackToBack << " back to back); "
                  << sim_elapsed_us(SIM_DEFAULT_SERIAL) / 1000 << " ms of virtual time\n";
        std::cout << "  kind                       injected  glitches  lost/glitch mean  max"
                     "  later calls lost\n";
        for (const auto& [kind, t] : totals.kinds) {
            const double mean = t.glitches > 0 ? static_cast<double>(t.framesLost) / t.glitches : 0;
            std::cout << "  " << std::left << std::setw(27) << KINDS[kind].name << std::right
                      << std::setw(8) << t.injected << std::setw(10) << t.glitches << std::setw(18)
                      << std::fixed << std::setprecision(1) << mean << std::setw(5) << t.mostLost
                      << std::setw(18) << t.laterCallsLost << "\n";
        }
    }
};

TEST_F(DeviceTimingSoak, AGlitchNeverCostsALaterCallNorDeliversDamagedSpeech) {
    int kindsMet = 0;
    for (const uint32_t seed : soakSeeds()) {
        const Totals totals = soak(soakFrames(6000), seed);
        print(totals, seed);
        EXPECT_EQ(totals.wrongBlocks, 0) << "seed " << seed;
        EXPECT_EQ(totals.corruptedBlocks, 0) << "seed " << seed;
        kindsMet = std::max(kindsMet, static_cast<int>(totals.kinds.size()));
    }
    EXPECT_EQ(kindsMet, KIND_COUNT);
}

}  // namespace
