// A fault soak: thousands of frames over the emulator in calls of random length, with random line
// faults of every kind. Whatever the link does, no frame may ever receive another frame's speech,
// a glitch may cost only the frame it hit and the rest of its call, and the call after it decodes
// completely; an answer that arrived whole and verified is kept even when stray bytes follow it.
// Deterministic: fixed seeds, virtual time. USB3K_SOAK_FRAMES and USB3K_SOAK_SEED
// make a longer run of the same test (scripts/soak).
#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ready_device_test.h"
#include "sim_test_support.h"
#include "soak_settings.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr std::size_t SPEECH_BLOCK = 320;
constexpr int MAX_CALL_FRAMES = 60;
// One frame in this many is hit by a fault, in a call that starts with the link in step.
constexpr uint32_t FAULT_ODDS = 60;

enum class Fault {
    Unanswered,
    Late,
    WrongStart,
    ShortAnswer,
    Oversized,
    MissingField,
    Duplicated,
    LengthTooShort,
    LengthTooLong,
    Trailing,
    AfterPurge,
    AfterWrite,
    ReadFails,
    WriteFails,
    ShortWrite,
    QueueQueryFails,
    PurgeFails,
    LateAfterGlitch,
};
constexpr int FRAME_FAULT_KINDS = static_cast<int>(Fault::QueueQueryFails) + 1;
constexpr int FAULT_KINDS = static_cast<int>(Fault::LateAfterGlitch) + 1;

const char* nameOf(Fault fault) {
    static const char* const names[] = {
        "unanswered",        "late",        "wrong start",        "short answer", "oversized",
        "missing field",     "duplicated",  "length short",       "length long",  "trailing bytes",
        "after purge",       "after write", "read fails",         "write fails",  "short write",
        "queue query fails", "purge fails", "late after a glitch"};
    return names[static_cast<int>(fault)];
}

// Faults after which the answer is still whole and its parity field vouches for it: the frame
// keeps its speech and the link is brought back in step before the next frame's request.
bool answerKept(Fault fault) {
    return fault == Fault::Duplicated || fault == Fault::Trailing ||
           fault == Fault::QueueQueryFails;
}

struct Totals {
    long frames = 0;
    long decoded = 0;
    long wrongFrames = 0;
    long calls = 0;
    std::map<std::string, long> glitches;
    long framesLost = 0;
    long mostLostInOneGlitch = 0;
};

class DeviceSoak : public ReadyDeviceTest {
  protected:
    void prepare() override {
        ASSERT_EQ(device->reset(), 0);
        ASSERT_EQ(device->stopCodec(), 0);
        ASSERT_EQ(device->setRate(), 0);
        sim_record_transcript(0);
    }

    uint32_t next(uint32_t bound) { return static_cast<uint32_t>(random() % bound); }

    static int count(const char* function) { return sim_call_count(SIM_DEFAULT_SERIAL, function); }

    // Aims `fault` at frame `frame` of a call that starts with the link in step: the call's first
    // frame checks the receive queue before its request, and every frame checks it after its
    // answer, so each frame's D2XX calls can be counted ahead.
    void inject(Fault fault, int frame) {
        const int request = sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL) + frame + 1;
        const auto answer = [&](int kind, int value) {
            sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, request, kind, value);
        };
        switch (fault) {
            case Fault::Unanswered:
                return answer(SIM_ANSWER_NONE, 0);
            case Fault::Late:
                return answer(SIM_ANSWER_LATE, 1 + static_cast<int>(next(2)));
            case Fault::WrongStart:
                return answer(SIM_ANSWER_WRONG_START, static_cast<int>(0x62 + next(0x9E)));
            case Fault::ShortAnswer:
                return answer(SIM_ANSWER_SHORT, static_cast<int>(next(328)));
            case Fault::Oversized:
                return answer(SIM_ANSWER_OVERSIZED, static_cast<int>(509 + next(65027)));
            case Fault::MissingField:
                return answer(SIM_ANSWER_MISSING_FIELD, 0);
            case Fault::Duplicated:
                return answer(SIM_ANSWER_DUPLICATED, 0);
            case Fault::LengthTooShort:
                return answer(SIM_ANSWER_LENGTH, static_cast<int>(next(324)));
            case Fault::LengthTooLong:
                return answer(SIM_ANSWER_LENGTH, static_cast<int>(325 + next(184)));
            case Fault::Trailing:
                return answer(SIM_ANSWER_TRAILING, static_cast<int>(1 + next(20)));
            case Fault::AfterPurge:
                return answer(SIM_ANSWER_AFTER_PURGE, 1);
            case Fault::AfterWrite:
                return answer(SIM_ANSWER_AFTER_WRITE, 1);
            case Fault::ReadFails:
                return sim_fail_call(SIM_DEFAULT_SERIAL, "FT_Read", FT_IO_ERROR,
                                     count("FT_Read") + 2 * frame + 1 + static_cast<int>(next(2)));
            case Fault::WriteFails:
                return sim_fail_call(SIM_DEFAULT_SERIAL, "FT_Write", FT_IO_ERROR,
                                     count("FT_Write") + frame + 1);
            case Fault::ShortWrite:
                return sim_short_write(SIM_DEFAULT_SERIAL, count("FT_Write") + frame + 1, next(15));
            case Fault::QueueQueryFails:
                return sim_fail_call(SIM_DEFAULT_SERIAL, "FT_GetQueueStatus", FT_IO_ERROR,
                                     count("FT_GetQueueStatus") + frame + 2);
            case Fault::PurgeFails:
                return sim_fail_call(SIM_DEFAULT_SERIAL, "FT_Purge", FT_IO_ERROR,
                                     count("FT_Purge") + 1);
            case Fault::LateAfterGlitch:
                return;
        }
    }

    // Decodes `frames` frames of random length calls; the first glitch of a call stops it.
    Totals soak(long frames, uint32_t seed) {
        random.seed(seed);
        Totals totals;
        testing::internal::CaptureStderr();
        while (totals.frames < frames) {
            const int callFrames = 1 + static_cast<int>(next(MAX_CALL_FRAMES));
            const Bytes vcw = testFrames(static_cast<std::size_t>(callFrames), random());

            // A call after a glitch starts by bringing the link back in step: its purge may fail
            // (the whole call is lost), and otherwise the call must decode completely.
            bool planned = false;
            Fault fault = Fault::PurgeFails;
            int hit = callFrames;
            if (lastCallGlitched) {
                // The first answer comes late too: had the request gone out over stale bytes, or
                // with an answer still on its way, nothing would show that frame the wrong speech.
                const uint32_t draw = next(5);
                if (draw < 2) {
                    planned = true;
                    fault = draw == 0 ? Fault::PurgeFails : Fault::LateAfterGlitch;
                    hit = 0;
                    inject(Fault::Late, 0);
                }
            } else {
                for (int frame = 0; frame < callFrames && !planned; ++frame) {
                    if (next(FAULT_ODDS) == 0) {
                        planned = true;
                        fault = static_cast<Fault>(next(FRAME_FAULT_KINDS));
                        hit = frame;
                    }
                }
            }
            if (planned && fault != Fault::LateAfterGlitch) {
                inject(fault, hit);
            }

            const Bytes speech = device->decode(vcw);
            sim_clear_faults();

            EXPECT_EQ(speech.size() % SPEECH_BLOCK, 0u);
            const long decoded = static_cast<long>(speech.size() / SPEECH_BLOCK);
            const Bytes expected = speechForFrames(vcw);
            for (long block = 0; block < decoded; ++block) {
                if (!std::equal(speech.begin() + block * SPEECH_BLOCK,
                                speech.begin() + (block + 1) * SPEECH_BLOCK,
                                expected.begin() + block * SPEECH_BLOCK)) {
                    ++totals.wrongFrames;
                }
            }
            // The glitch costs exactly the frame it hit and the rest of its call, or nothing when
            // the answer it hit was kept.
            const long wanted = planned && answerKept(fault) ? callFrames : hit;
            EXPECT_EQ(decoded, wanted) << (planned ? nameOf(fault) : "no fault") << " at frame "
                                       << hit << " of " << callFrames << ", call " << totals.calls;
            if (planned) {
                ++totals.glitches[nameOf(fault)];
                totals.framesLost += callFrames - decoded;
                totals.mostLostInOneGlitch =
                    std::max(totals.mostLostInOneGlitch, static_cast<long>(callFrames - decoded));
            }
            lastCallGlitched = decoded < callFrames;
            totals.frames += callFrames;
            totals.decoded += decoded;
            ++totals.calls;
        }
        testing::internal::GetCapturedStderr();
        return totals;
    }

    static void print(const Totals& totals, uint32_t seed) {
        long glitches = 0;
        for (const auto& kind : totals.glitches) {
            glitches += kind.second;
        }
        std::cout << "soak seed " << seed << ": " << totals.frames << " frames in " << totals.calls
                  << " calls, " << totals.decoded << " decoded, " << totals.wrongFrames
                  << " wrong; " << glitches << " glitches, " << totals.framesLost
                  << " frames lost (at most " << totals.mostLostInOneGlitch << " in one)\n";
        for (const auto& kind : totals.glitches) {
            std::cout << "  " << kind.first << ": " << kind.second << "\n";
        }
    }

    std::mt19937 random;
    // Whether the last call stopped early: the next call then starts by resynchronising.
    bool lastCallGlitched = false;
};

TEST_F(DeviceSoak, NoFrameEverGetsAnotherFramesSpeech) {
    const std::vector<uint32_t> seeds = soakSeeds();
    std::set<std::string> kindsMet;
    for (const uint32_t seed : seeds) {
        const Totals totals = soak(soakFrames(8000), seed);
        print(totals, seed);
        EXPECT_EQ(totals.wrongFrames, 0) << "seed " << seed;
        for (const auto& kind : totals.glitches) {
            kindsMet.insert(kind.first);
        }
    }
    if (seeds.size() > 1) {
        EXPECT_EQ(kindsMet.size(), static_cast<std::size_t>(FAULT_KINDS));
    }
}

}  // namespace
