#include "sim/call_faults.h"

namespace sim {
namespace {

// Occurrence 0 means every call; otherwise the call whose count equals it.
bool isOccurrence(int occurrence, int count) {
    return occurrence == 0 || occurrence == count;
}

std::size_t indexOf(D2xxFunction function) {
    return static_cast<std::size_t>(function);
}

}  // namespace

int callCount(const State& state, const Target& target, D2xxFunction function) {
    if (target.anyDevice) {
        return state.callsOnAnyDevice[indexOf(function)];
    }
    auto found = state.callsPerDevice.find(target.serial);
    return found == state.callsPerDevice.end() ? 0 : found->second[indexOf(function)];
}

bool callFails(State& state, const std::string* serial, D2xxFunction function, FT_STATUS& status) {
    ++state.callsOnAnyDevice[indexOf(function)];
    if (serial != nullptr) {
        ++state.callsPerDevice[*serial][indexOf(function)];
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
            isOccurrence(rule.occurrence, callCount(state, rule.target, D2xxFunction::Write))) {
            return rule.accepted < requested ? rule.accepted : requested;
        }
    }
    return requested;
}

}  // namespace sim
