#include "server/server_config.h"

#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <sstream>
#include <utility>

#include "server/listen_address.h"
#include "server/option_table.h"

namespace {

constexpr const char* kSynopsis = "usage: usb3k-server [OPTION...]";

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

using Setting = std::pair<const ServerOption*, std::string>;

// The file's `name = value` lines, blank lines and `#` comments skipped. A missing file is no
// error only when it is the default one.
bool readConfigFile(const std::string& path, bool named, std::vector<Setting>& settings,
                    std::string& error) {
    struct stat status {};
    if (!named && stat(path.c_str(), &status) != 0 && errno == ENOENT) {
        return true;
    }
    std::ifstream file(path);
    if (!file) {
        error = path + ": cannot be read";
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::string where = path + ", line " + std::to_string(number) + ": ";
        std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            error = where + "expected name = value";
            return false;
        }
        std::string name = trimmed(line.substr(0, equals));
        const ServerOption* option = findServerOption(name);
        if (option == nullptr) {
            error = where + "unknown setting \"" + name + "\"";
            return false;
        }
        std::string value = trimmed(line.substr(equals + 1));
        std::string problem;
        ServerOptions probe;
        if (!option->apply(probe, value, problem)) {
            error = where + name + ": " + problem;
            return false;
        }
        settings.emplace_back(option, std::move(value));
    }
    return true;
}

}  // namespace

ServerCommand parseServerCommand(const std::vector<std::string>& args,
                                 const std::string& defaultConfig) {
    ServerCommand command;
    std::vector<Setting> given;
    std::string configPath = defaultConfig;
    bool configNamed = false;
    bool checkOnly = false;
    // Whatever else the command line holds.
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            command.action = ServerCommand::Action::Help;
            return command;
        }
        if (arg == "--version") {
            command.action = ServerCommand::Action::Version;
            return command;
        }
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--check-config") {
            checkOnly = true;
            continue;
        }
        std::size_t equals = arg.find('=');
        std::string name = arg.substr(0, equals);
        if (name.rfind("--", 0) != 0) {
            command.error =
                "unexpected argument \"" + arg + "\"; usb3k-server --help lists the options";
            break;
        }
        name = name.substr(2);
        const ServerOption* option = findServerOption(name);
        if (option == nullptr && name != "config") {
            command.error = "unknown option --" + name + "; usb3k-server --help lists the options";
            break;
        }
        std::string value;
        if (option != nullptr && option->isFlag()) {
            if (equals != std::string::npos) {
                command.error = "--" + name + " takes no value";
                break;
            }
            value = "true";
        } else if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            command.error = "--" + name + " needs a value";
            break;
        }
        if (option == nullptr) {
            configPath = value;
            configNamed = true;
            continue;
        }
        std::string problem;
        ServerOptions probe;
        if (!option->apply(probe, value, problem)) {
            command.error = "--" + name + ": " + problem;
            break;
        }
        given.emplace_back(option, std::move(value));
    }
    if (checkOnly) {
        command.action = ServerCommand::Action::CheckConfig;
    }
    if (!command.error.empty()) {
        return command;
    }
    std::vector<Setting> settings;
    if (!readConfigFile(configPath, configNamed, settings, command.error)) {
        return command;
    }
    // The command line's settings come last, so that they win.
    settings.insert(settings.end(), given.begin(), given.end());
    for (const Setting& setting : settings) {
        std::string unused;
        setting.first->apply(command.options, setting.second, unused);
    }
    return command;
}

std::string serverUsage() {
    std::ostringstream text;
    text << kSynopsis << "\n\n"
         << "Serves this machine's USB-3000s over HTTP and WebSocket: POST /v1/decode, GET\n"
         << "/v1/stream, GET /v1/devices, /healthz, /readyz and /metrics.\n\n";
    const ServerOptions defaults;
    for (const ServerOption& option : serverOptionTable()) {
        std::string left = "  --" + std::string(option.name);
        if (!option.isFlag()) {
            left += " " + std::string(option.valueName);
        }
        text << left;
        text << std::string(left.size() < 34 ? 34 - left.size() : 1, ' ') << option.help;
        std::string shown = option.show(defaults);
        if (!option.isFlag() && !shown.empty()) {
            text << " (default " << shown << ")";
        }
        text << "\n";
    }
    text << "  --config FILE                   settings as `name = value` lines, the names above\n"
         << "                                  (default " << kServerConfigPath
         << "; the command line wins)\n"
         << "  --check-config                  check the settings, print what would be served\n"
         << "  -h, --help                      print this text\n"
         << "  --version                       print the program's version\n\n"
         << "Durations are seconds, or a number followed by s, m or h (30, 30s, 2m). Options that\n"
         << "take a value accept it as the next argument or after '=' (--listen=[::1]:8443).\n";
    return text.str();
}
