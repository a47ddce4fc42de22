// Every setting of usb3k-server, with the one name it has on the command line (`--name`) and in
// the configuration file (`name = value`): how its value is read, and how it is shown.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "server/server_options.h"

struct ServerOption {
    const char* name;
    // What the value is, for --help; empty for a flag, which takes no value on the command line
    // and true or false in the file.
    const char* valueName;
    const char* help;
    // Reads `value` into `options`; false with `error` saying what a good value is.
    std::function<bool(ServerOptions&, const std::string& value, std::string& error)> apply;
    // The setting's value in `options` as it would be written.
    std::function<std::string(const ServerOptions&)> show;

    bool isFlag() const { return *valueName == '\0'; }
};

// In the order --help and --check-config list them.
const std::vector<ServerOption>& serverOptionTable();

// Null when no setting has that name.
const ServerOption* findServerOption(const std::string& name);

// A duration as the settings write it: whole seconds, or a number followed by s, m or h.
bool parseDuration(const std::string& text, std::chrono::seconds& duration);
std::string showDuration(std::chrono::seconds duration);
