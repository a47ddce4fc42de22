// How usb3k-server reads what it is told: options on the command line and in its configuration
// file, the rule about what it may serve, and --check-config's report.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "server/d2xx_state.h"
#include "server/server_options.h"

// Read when --config names no other file; a missing default file means no settings.
constexpr const char* kServerConfigPath = "/etc/usb3k/server.conf";

struct ServerCommand {
    enum class Action { Serve, CheckConfig, Help, Version };
    Action action = Action::Serve;
    ServerOptions options;
    // Not empty when the command line or the configuration file is wrong: one line naming the
    // option, or the file and line. Exit with 1 for CheckConfig, else 2.
    std::string error;
};

// Reads the arguments that follow the program's name and the configuration file (--config, else
// `defaultConfig`): the file's settings first, the command line's over them. --help and --version
// win over everything else.
ServerCommand parseServerCommand(const std::vector<std::string>& args,
                                 const std::string& defaultConfig = kServerConfigPath);

// The --help text, with every option's default, ending with a line feed.
std::string serverUsage();

// Whether `options` may be served on the numeric address `host` (the --listen address's, or that
// of a socket systemd passed): TLS needs both a certificate and a key, and an address other than
// loopback needs TLS and tokens unless `insecure`. False with `error` when it may not; `warning`
// is set when only `insecure` lets it through, to be logged on every start.
bool servingAllowed(const ServerOptions& options, const std::string& host, std::string& error,
                    std::string& warning);

// --check-config: checks everything a start would (the address, the token file's permissions and
// tokens, the certificate and key and that they belong together, the rule above) and writes to
// `report` what would be served and each problem found, then what D2XX says (`d2xx`): a D2XX
// that fails is a warning. True when it would start.
bool checkServerOptions(const ServerOptions& options, const D2xxState& d2xx, std::ostream& report);
