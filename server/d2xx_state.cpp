#include "server/d2xx_state.h"

std::vector<std::string> d2xxTroubleLines(const D2xxState& state) {
    std::vector<std::string> lines{"no USB-3000 can be used: " + state.failure};
    if (!state.cause.empty()) {
        lines.push_back("likely cause: " + state.cause);
    }
    lines.push_back("to fix: " + state.fix);
    return lines;
}

std::string d2xxSummary(const D2xxState& state) {
    if (!state.failure.empty()) {
        return state.failure;
    }
    switch (state.usb3000s) {
        case 0:
            return "loaded, no USB-3000 attached";
        case 1:
            return "loaded, 1 USB-3000 attached";
        default:
            return "loaded, " + std::to_string(state.usb3000s) + " USB-3000s attached";
    }
}
