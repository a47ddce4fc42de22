#include "tools/probe_options.h"

namespace {

constexpr unsigned MAX_FRAMES = 10000;

constexpr const char* SYNOPSIS =
    "usage: usb3k-probe [--serial S] [--frames N] [--trace] [-h | --help] [--version]";
constexpr const char* SERVER_SYNOPSIS =
    "       usb3k-probe --server URI --token-file FILE [--ca-file FILE] [--serial S] [--frames N]";

// What follows the synopsis in the --help text.
constexpr const char* USAGE_BODY =
    "\n"
    "Lists the FTDI devices that D2XX reports and checks each USB-3000 among them the way the\n"
    "usb3k library uses it: opens and configures it, reads its product ID and version, runs\n"
    "reset, stop codec and rate table 34, and times N decodes of one frame each. For a bug\n"
    "report, paste the whole output together with standard error (usb3k-probe 2>&1).\n"
    "\n"
    "  --serial S   probe only the USB-3000 with serial number S (default: $USB3K_SERIAL when\n"
    "               set, as the library does; otherwise every USB-3000)\n"
    "  --frames N   frames to decode and time, 1 to 10000 (default 20)\n"
    "  --trace      write every packet to standard error too (USB3K_TRACE=1)\n"
    "  -h, --help   print this text\n"
    "  --version    print the program's version\n"
    "Options that take a value accept it as the next argument or after '=' (--frames=5).\n"
    "\n"
    "\n"
    "A usb3k-server instead (Linux builds): lists its USB-3000s and times one decode of N\n"
    "frames there, on the USB-3000 --serial names or on any free one.\n"
    "  --server URI       the server: http://HOST[:PORT] or https://HOST[:PORT]\n"
    "  --token-file FILE  the file holding the token: its first line that is neither blank nor\n"
    "                     a # comment, the token alone (not the server's name:token)\n"
    "  --ca-file FILE     over https://, trust this certificate or authority (PEM) besides the\n"
    "                     system's\n"
    "\n"
    "Exit status: 0 every USB-3000 probed fine, 1 a USB-3000 failed, 2 wrong usage,\n"
    "3 no D2XX library could be loaded, 4 no USB-3000 found, 5 the server failed (not\n"
    "reached, not trusted, the token refused, or draining).\n";

// A whole number from 1 to MAX_FRAMES, in decimal digits only.
bool parseFrames(const std::string& text, unsigned& frames) {
    if (text.empty() || text.find_first_not_of("0123456789") != text.npos) {
        return false;
    }
    unsigned value = 0;
    for (char digit : text) {
        value = value * 10 + static_cast<unsigned>(digit - '0');
        if (value > MAX_FRAMES) {
            return false;
        }
    }
    if (value == 0) {
        return false;
    }
    frames = value;
    return true;
}

// What each option that takes a value is missing when its value is empty.
const char* missingValue(const std::string& name) {
    if (name == "--serial") {
        return "--serial needs a serial number";
    }
    if (name == "--server") {
        return "--server needs a URI";
    }
    return name == "--token-file" ? "--token-file needs a file" : "--ca-file needs a file";
}

ProbeOptions usageError(const std::string& error) {
    ProbeOptions options;
    options.action = ProbeOptions::Action::UsageError;
    options.error = error;
    return options;
}

}  // namespace

ProbeOptions parseProbeOptions(const std::vector<std::string>& args,
                               const char* serialFromEnvironment) {
    ProbeOptions options;
    if (serialFromEnvironment != nullptr && *serialFromEnvironment != '\0') {
        options.serialNumber = serialFromEnvironment;
        options.serialFromEnvironment = true;
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.action = ProbeOptions::Action::Help;
            return options;
        }
        if (arg == "--version") {
            options.action = ProbeOptions::Action::Version;
            return options;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (arg == "--trace") {
            options.trace = true;
        } else if (name == "--serial" || name == "--frames" || name == "--server" ||
                   name == "--token-file" || name == "--ca-file") {
            std::string value;
            if (equals != arg.npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 == args.size()) {
                return usageError(arg + " needs a value");
            } else {
                value = args[++i];
            }
            if (name == "--frames") {
                if (!parseFrames(value, options.frames)) {
                    return usageError("--frames wants a number from 1 to " +
                                      std::to_string(MAX_FRAMES) + ", not '" + value + "'");
                }
            } else if (value.empty()) {
                return usageError(missingValue(name));
            } else if (name == "--serial") {
                options.serialNumber = value;
                options.serialFromEnvironment = false;
            } else if (name == "--server") {
                options.server = value;
            } else if (name == "--token-file") {
                options.tokenFile = value;
            } else {
                options.caFile = value;
            }
        } else {
            return usageError("unknown argument '" + arg + "'");
        }
    }
    if (options.server.empty()) {
        if (!options.tokenFile.empty() || !options.caFile.empty()) {
            return usageError("--token-file and --ca-file go with --server");
        }
        return options;
    }
    if (options.tokenFile.empty()) {
        return usageError("--server needs --token-file FILE");
    }
    if (options.trace) {
        return usageError("--trace shows this machine's packets; it does not go with --server");
    }
    if (options.serialFromEnvironment) {
        options.serialNumber.clear();
        options.serialFromEnvironment = false;
    }
    return options;
}

std::string probeUsage() {
    return std::string(SYNOPSIS) + "\n" + SERVER_SYNOPSIS + "\n" + USAGE_BODY;
}

const char* probeSynopsis() {
    return SYNOPSIS;
}
