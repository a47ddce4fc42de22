// What the command line asks the probe to do.
#pragma once

#include <string>
#include <vector>

struct ProbeOptions {
    enum class Action { Probe, Help, Version, UsageError };
    Action action = Action::Probe;
    std::string error;                   // for UsageError: what is wrong, as one line
    std::string serialNumber;            // --serial: only this USB-3000; empty: every one
    bool serialFromEnvironment = false;  // serialNumber came from USB3K_SERIAL, not --serial
    unsigned frames = 20;                // --frames: frames to decode and time
    bool trace = false;                  // --trace: the library's wire trace on standard error
    std::string server;     // --server: a usb3k-server's URI, probed instead of this machine
    std::string tokenFile;  // --token-file: the file holding the server's token
    std::string caFile;     // --ca-file: a certificate or authority to trust over https://
};

// Reads the arguments that follow the program's name. The first --help or --version, or the first
// mistake, decides the action. --server needs --token-file, which and --ca-file go only with it.
// `serialFromEnvironment` is USB3K_SERIAL's value (null when unset): the device to probe unless
// --serial names another, as the library itself keeps only that one; not with --server, whose
// devices are not this machine's.
ProbeOptions parseProbeOptions(const std::vector<std::string>& args,
                               const char* serialFromEnvironment = nullptr);

// The --help text, ending with a line feed.
std::string probeUsage();
// One line naming the options, for a usage error.
const char* probeSynopsis();
