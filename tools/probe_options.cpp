#include "tools/probe_options.h"

namespace {

constexpr unsigned MAX_FRAMES = 10000;

constexpr const char* SYNOPSIS =
    "usage: usb3k-probe [--serial S] [--frames N] [--trace] [-h | --help] [--version]";

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
    "Exit status: 0 every USB-3000 probed fine, 1 a USB-3000 failed, 2 wrong usage,\n"
    "3 no D2XX library could be loaded, 4 no USB-3000 found.\n";

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
        } else if (name == "--serial" || name == "--frames") {
            std::string value;
            if (equals != arg.npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 == args.size()) {
                return usageError(arg + " needs a value");
            } else {
                value = args[++i];
            }
            if (name == "--serial") {
                if (value.empty()) {
                    return usageError("--serial needs a serial number");
                }
                options.serialNumber = value;
                options.serialFromEnvironment = false;
            } else if (!parseFrames(value, options.frames)) {
                return usageError("--frames wants a number from 1 to " +
                                  std::to_string(MAX_FRAMES) + ", not '" + value + "'");
            }
        } else {
            return usageError("unknown argument '" + arg + "'");
        }
    }
    return options;
}

std::string probeUsage() {
    return std::string(SYNOPSIS) + "\n" + USAGE_BODY;
}

const char* probeSynopsis() {
    return SYNOPSIS;
}
