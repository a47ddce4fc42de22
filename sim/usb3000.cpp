#include "sim/usb3000.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "sim/answer_queue.h"
#include "sim/channel_layout.h"
#include "sim/tone.h"
#include "sim/usb3k_sim.h"
#include "sim/wire_format.h"

namespace sim {
namespace {

constexpr uint8_t RATE_TABLE_34 = 34;
// The status a stop codec or rate table answer carries when the device accepts the request, and
// the one it gives a rate table it does not have.
constexpr uint8_t STATUS_ACCEPTED = 0;
constexpr uint8_t STATUS_NO_SUCH_TABLE = 1;
// What SIM_ANSWER_TRAILING sends after the answer: not the start byte, so that a run of them can
// never be taken for the start of the next answer.
constexpr uint8_t STRAY_BYTE = 0xEE;

int requestKind(uint8_t field) {
    switch (field) {
        case ID_PRODUCT_ID:
            return SIM_REQ_PRODUCT_ID;
        case ID_VERSION:
            return SIM_REQ_VERSION;
        case ID_RESET:
            return SIM_REQ_RESET;
        case ID_STOP_CODEC:
            return SIM_REQ_STOP_CODEC;
        case ID_RATE_TABLE:
            return SIM_REQ_RATE;
        default:
            return SIM_REQ_CHANNEL;
    }
}

// The first rule for this request, counting requests of its kind on this device.
const AnswerRule* ruleFor(const State& state, const Device& device, int kind) {
    const int occurrence = device.requests[kind];
    for (const AnswerRule& rule : state.answerRules) {
        if (rule.request == kind && rule.target.matches(device.serial) &&
            (rule.occurrence == 0 || rule.occurrence == occurrence)) {
            return &rule;
        }
    }
    return nullptr;
}

std::vector<uint8_t> textField(uint8_t id, const char* text) {
    const std::size_t length = std::strlen(text);
    std::vector<uint8_t> field(1 + length + 1, 0);  // identifier, text, terminating zero
    field[0] = id;
    std::memcpy(field.data() + 1, text, length);
    return field;
}

uint8_t statusFor(const AnswerRule* rule, uint8_t healthy) {
    return rule != nullptr && rule->fault == SIM_ANSWER_STATUS ? static_cast<uint8_t>(rule->value)
                                                               : healthy;
}

// The answer of a healthy device, and the request's effect on the device.
std::vector<uint8_t> answerFor(Device& device, int kind, const Request& request, uint64_t codeword,
                               const AnswerRule* rule) {
    switch (kind) {
        case SIM_REQ_PRODUCT_ID:
            return buildPacket(TYPE_CONTROL, textField(ID_PRODUCT_ID, SIM_PRODUCT_ID_TEXT));
        case SIM_REQ_VERSION:
            return buildPacket(TYPE_CONTROL, textField(ID_VERSION, SIM_VERSION_TEXT));
        case SIM_REQ_RESET:
            return buildPacket(TYPE_CONTROL, {ID_READY});
        case SIM_REQ_STOP_CODEC:
            return buildPacket(TYPE_CONTROL, {ID_STOP_CODEC, statusFor(rule, STATUS_ACCEPTED)});
        case SIM_REQ_RATE: {
            const bool known = request.data[0] == RATE_TABLE_34;
            const uint8_t status = statusFor(rule, known ? STATUS_ACCEPTED : STATUS_NO_SUCH_TABLE);
            if (known && status == STATUS_ACCEPTED) {
                device.rate34Layout = true;
            }
            return buildPacket(TYPE_CONTROL, {ID_RATE_TABLE, status});
        }
        default: {
            // The speech field: identifier, the sample count, then the samples.
            std::array<uint8_t, 2 + SPEECH_BYTES> field;
            field[0] = ID_SPEECH;
            field[1] = static_cast<uint8_t>(SPEECH_SAMPLES);
            speechForCodeword(codeword, field.data() + 2);
            return buildPacket(TYPE_SPEECH, field.data(), field.size());
        }
    }
}

// Where a fault's value points in an answer, counted round again past its end.
std::size_t positionIn(const std::vector<uint8_t>& answer, int value) {
    return static_cast<std::size_t>(std::max(value, 0)) % answer.size();
}

// Damage done to an answer on its way; the device itself acted on the request as usual.
void applyLineFault(Device& device, std::vector<uint8_t>& answer, const AnswerRule& rule) {
    if (answer.empty()) {
        return;
    }
    switch (rule.fault) {
        case SIM_ANSWER_BIT_FLIP:
            answer[positionIn(answer, rule.value / 8)] ^=
                static_cast<uint8_t>(1u << (rule.value % 8));
            break;
        case SIM_ANSWER_BYTE_LOST:
            answer.erase(answer.begin() +
                         static_cast<std::ptrdiff_t>(positionIn(answer, rule.value)));
            break;
        case SIM_ANSWER_NOISE:
            for (int i = 0; i < rule.value; ++i) {
                answer.push_back(static_cast<uint8_t>(device.random()));
            }
            break;
        case SIM_ANSWER_WRONG_START:
            answer[0] = static_cast<uint8_t>(rule.value);
            break;
        case SIM_ANSWER_SHORT:
            answer.resize(std::min(answer.size(), static_cast<std::size_t>(rule.value)));
            break;
        case SIM_ANSWER_OVERSIZED:
        case SIM_ANSWER_LENGTH:
            answer[1] = static_cast<uint8_t>((rule.value >> 8) & 0xFF);
            answer[2] = static_cast<uint8_t>(rule.value & 0xFF);
            break;
        case SIM_ANSWER_DUPLICATED: {
            const std::vector<uint8_t> once = answer;
            answer.insert(answer.end(), once.begin(), once.end());
            break;
        }
        case SIM_ANSWER_TRAILING:
            answer.insert(answer.end(), static_cast<std::size_t>(std::max(rule.value, 0)),
                          STRAY_BYTE);
            break;
        default:
            break;
    }
}

// The host event a held-back answer waits for, and how many of them.
struct Hold {
    HostEvent event = HostEvent::None;
    int count = 0;
};

Hold holdFor(const AnswerRule* rule) {
    if (rule == nullptr) {
        return {};
    }
    switch (rule->fault) {
        case SIM_ANSWER_LATE:
            return {HostEvent::ReadTimeout, rule->value};
        case SIM_ANSWER_AFTER_PURGE:
            return {HostEvent::ReceivePurge, std::max(rule->value, 1)};
        case SIM_ANSWER_AFTER_WRITE:
            return {HostEvent::Write, std::max(rule->value, 1)};
        default:
            return {};
    }
}

// The device stops answering from `arrival` on, as the hang fault `rule` says.
void startHang(Device& device, const AnswerRule& rule, Clock::time_point arrival) {
    device.hung = true;
    device.resetEndsHang = rule.fault == SIM_DEVICE_HANGS_UNTIL_RESET;
    device.hungForever = device.resetEndsHang || rule.value <= 0;
    device.hungUntil = arrival + std::chrono::milliseconds(std::max(rule.value, 0));
}

// Whether a hung device comes back for a request of `kind` reaching it at `arrival`: when its
// time is up, or with a reset request when a reset ends its hang.
bool hangEnds(Device& device, int kind, Clock::time_point arrival) {
    const bool timeUp = !device.hungForever && arrival >= device.hungUntil;
    const bool reset = device.resetEndsHang && kind == SIM_REQ_RESET;
    if (timeUp || reset) {
        device.hung = false;
    }
    return !device.hung;
}

// When the device, in the timing model, has worked on a request that reached it at `arrival`
// and may start to answer it.
Clock::time_point workDone(Device& device, const State& state, Clock::time_point arrival) {
    const auto span = static_cast<unsigned long>((state.workMax - state.workMin).count());
    const auto drawn = span == 0 ? 0 : device.random() % (span + 1);
    return arrival + state.workMin + std::chrono::microseconds(drawn);
}

// Acts on one well-formed request; returns why when the device refuses it, otherwise null.
const char* handleRequest(State& state, Device& device, const Request& request,
                          Clock::time_point arrival) {
    const int kind = requestKind(request.field);
    uint64_t codeword = 0;
    if (kind == SIM_REQ_CHANNEL) {
        const bool readable = device.rate34Layout
                                  ? codewordFromRate34Layout(request.data.data(), codeword)
                                  : codewordFromPlainLayout(request.data.data(), codeword);
        if (!readable) {
            return device.rate34Layout ? "malformed packet: channel field not in the rate-34 layout"
                                       : "malformed packet: channel field not in the plain layout";
        }
    }
    ++device.requests[kind];
    const AnswerRule* rule = ruleFor(state, device, kind);
    if (rule != nullptr && rule->fault == SIM_DEVICE_UNPLUGGED) {
        // The request is lost with the device, which leaves the list before the host's next call.
        device.unplugPlanned = true;
        device.unplugAt = arrival;
        device.awayFor = std::chrono::milliseconds(std::max(rule->value, 0));
        state.plugEventsPlanned = true;
        return nullptr;
    }
    if (rule != nullptr &&
        (rule->fault == SIM_DEVICE_HANGS || rule->fault == SIM_DEVICE_HANGS_UNTIL_RESET)) {
        startHang(device, *rule, arrival);
    } else if (device.hung && !hangEnds(device, kind, arrival)) {
        return nullptr;
    }
    if (device.hung) {
        return nullptr;
    }
    if (kind == SIM_REQ_RESET) {
        device.awaitsReset = false;
    } else if (kind == SIM_REQ_CHANNEL && device.awaitsReset) {
        return "channel request before a reset since power-on, not answered";
    }
    if (rule != nullptr && rule->fault == SIM_DEVICE_SILENT) {
        device.silentUntil = arrival + std::chrono::milliseconds(rule->value);
    }
    if (state.timing && arrival < device.silentUntil) {
        return nullptr;
    }
    Clock::time_point answerAt = arrival;
    if (state.timing) {
        answerAt = workDone(device, state, arrival);
        if (rule != nullptr && rule->fault == SIM_ANSWER_DELAYED) {
            answerAt += std::chrono::milliseconds(rule->value);
        }
    }
    if (rule != nullptr && rule->fault == RAW_ANSWER) {
        sendAnswer(state, device, rule->rawBytes, HostEvent::None, 0, answerAt);
        return nullptr;
    }
    if (rule != nullptr && (rule->fault == SIM_ANSWER_NONE || rule->fault == SIM_DEVICE_SILENT)) {
        return nullptr;
    }
    std::vector<uint8_t> answer;
    if (rule != nullptr && rule->fault == SIM_ANSWER_MISSING_FIELD) {
        answer = buildPacket(kind == SIM_REQ_CHANNEL ? TYPE_SPEECH : TYPE_CONTROL, {});
    } else {
        answer = answerFor(device, kind, request, codeword, rule);
    }
    if (rule != nullptr) {
        applyLineFault(device, answer, *rule);
    }
    const Hold hold = holdFor(rule);
    sendAnswer(state, device, std::move(answer), hold.event, hold.count, answerAt);
    return nullptr;
}

}  // namespace

std::vector<std::string> deliverToDevice(State& state, Device& device, const uint8_t* bytes,
                                         std::size_t count, Clock::time_point arrival) {
    std::vector<std::string> notes;
    if (count > 0) {
        // Answers held for this write go out before the device reads it.
        hostEvent(state, device, HostEvent::Write, arrival);
    }
    if (!device.isUsb3000()) {
        return notes;
    }
    // A refused packet's line, built only while the transcript records.
    const auto refused = [&state, &device, &notes](auto&& why) {
        if (state.recording) {
            notes.push_back(device.serial + " sim: " + why());
        }
    };
    std::size_t offset = 0;
    while (offset < count) {
        const ParseResult parsed = parseRequest(bytes + offset, count - offset);
        switch (parsed.outcome) {
            case Parse::BadStart:
                refused([&] {
                    return "bad start byte " + hexByte(bytes[offset]) + ", " +
                           std::to_string(parsed.consumed) + " bytes dropped";
                });
                break;
            case Parse::Incomplete:
                refused([&] {
                    return "incomplete packet, " + std::to_string(parsed.consumed) +
                           " bytes dropped";
                });
                break;
            case Parse::BadParity:
                refused([] { return std::string("bad parity"); });
                break;
            case Parse::Malformed:
                refused([&] { return "malformed packet: " + describeMalformation(parsed); });
                break;
            case Parse::Complete: {
                const char* refusal = handleRequest(state, device, parsed.request, arrival);
                if (refusal != nullptr) {
                    refused([refusal] { return std::string(refusal); });
                }
                break;
            }
        }
        offset += parsed.consumed;
    }
    return notes;
}

}  // namespace sim
