// What the command line asks the probe to do.
#pragma once

#include <string>
#include <vector>

struct ProbeOptions {
    enum class Action { Probe, Help, Version, UsageError };
    Action action = Action::Probe;
    std::string error;         // for UsageError: what is wrong, as one line
    std::string serialNumber;  // --serial: only this USB-3000; empty: every one
    unsigned frames = 20;      // --frames: frames to decode and time
    bool trace = false;        // --trace: the library's wire trace on standard error
};

// Reads the arguments that follow the program's name. The first --help or --version, or the first
// mistake, decides the action.
ProbeOptions parseProbeOptions(const std::vector<std::string>& args);

// The --help text, ending with a line feed.
std::string probeUsage();
// One line naming the options, for a usage error.
const char* probeSynopsis();
