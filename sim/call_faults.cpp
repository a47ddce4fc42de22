#include "sim/call_faults.h"

namespace sim {
namespace {

// Occurrence 0 means every call; otherwise the call whose count equals it.
bool isOccurrence(int occurrence, int count) {
    return occurrence == 0 || occurrence == count;
}

}  // namespace

int callCount(const State& state, const Target& target, const std::string& function) {
    if (target.anyDevice) {
        auto found = state.callsOnAnyDevice.find(function);
        return found == state.callsOnAnyDevice.end() ? 0 : found->second;
    }
    auto found = state.callsPerDevice.find({target.serial, function});
    return found == state.callsPerDevice.end() ? 0 : found->second;
}

bool callFails(State& state, const std::string* serial, const std::string& function,
               FT_STATUS& status) {
    ++state.callsOnAnyDevice[function];
    if (serial != nullptr) {
        ++state.callsPerDevice[{*serial, function}];
    }
    for (const CallFault& fault : state.callFaults) {
        if (fault.function != function) {
            continue;
        }
        if (!fault.target.anyDevice && (serial == nullptr || *serial != fault.target.serial)) {
            continue;
        }
        if (isOccurrence(fault.occurrence, callCount(state, fault.target, function))) {
            status = fault.status;
            return true;
        }
    }
    return false;
}

unsigned acceptedByWrite(const State& state, const std::string& serial, unsigned requested) {
    for (const ShortWrite& rule : state.shortWrites) {
        if (rule.target.matches(serial) &&
            isOccurrence(rule.occurrence, callCount(state, rule.target, "FT_Write"))) {
            return rule.accepted < requested ? rule.accepted : requested;
        }
    }
    return requested;
}

}  // namespace sim
