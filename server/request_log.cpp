#include "server/request_log.h"

#include <cstdio>

void RequestLog::write(const std::string& outcome) const {
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.3f", seconds);
    std::string line = "usb3k-server: " + client + " token=" + tokenName + " " + what +
                       " device=" + device + " frames=" + std::to_string(frames) +
                       " concealed=" + std::to_string(concealed) + " duration=" + duration +
                       "s outcome=" + outcome + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void logServer(const std::string& message) {
    std::string line = "usb3k-server: " + message + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}
