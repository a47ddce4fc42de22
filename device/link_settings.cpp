#include "device/link_settings.h"

#include <cstdlib>

UCHAR latencyTimerWanted(std::string& problem) {
    const char* text = std::getenv(LATENCY_TIMER_VARIABLE);
    if (text == nullptr || *text == '\0') {
        return LATENCY_TIMER_MS;
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < LATENCY_TIMER_MIN_MS || value > LATENCY_TIMER_MAX_MS) {
        problem =
            std::string(" - ") + LATENCY_TIMER_VARIABLE + " is not a number from 1 to 16: " + text;
        return LATENCY_TIMER_MS;
    }
    return static_cast<UCHAR>(value);
}
