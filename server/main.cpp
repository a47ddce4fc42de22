// usb3k-server: the host's USB-3000s served over HTTP and WebSocket.
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "server/registry_device_pool.h"
#include "server/request_log.h"
#include "server/server.h"
#include "server/server_config.h"
#include "server/signals.h"
#include "server/systemd.h"

namespace {

// Threads serving the network; decodes run on threads of their own.
std::size_t networkThreads() {
    unsigned cores = std::thread::hardware_concurrency();
    if (cores < 2)
        return 2;
    return cores > 4 ? 4 : cores;
}

// What a listing found D2XX to be, when that changed: the failure and its fix, or D2XX working
// again.
void logD2xx(const D2xxState& d2xx) {
    if (d2xx.failure.empty()) {
        logServer("D2XX " + d2xxSummary(d2xx));
        return;
    }
    for (const std::string& line : d2xxTroubleLines(d2xx)) logServer(line);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    ServerCommand command = parseServerCommand(args);
    switch (command.action) {
        case ServerCommand::Action::Help:
            std::cout << serverUsage();
            return 0;
        case ServerCommand::Action::Version:
            std::cout << "usb3k-server " << USB3K_SERVER_VERSION << "\n";
            return 0;
        case ServerCommand::Action::CheckConfig:
            if (!command.error.empty()) {
                std::cerr << "usb3k-server: " << command.error << "\n";
                return 1;
            }
            return checkServerOptions(command.options, readD2xxState(), std::cout) ? 0 : 1;
        case ServerCommand::Action::Serve:
            break;
    }
    if (!command.error.empty()) {
        std::cerr << "usb3k-server: " << command.error << "\n";
        return 2;
    }
    const ServerOptions& options = command.options;
    std::shared_ptr<const TokenList> tokens;
    if (!options.tokenFile.empty()) {
        std::string error;
        tokens = TokenList::load(options.tokenFile, error);
        if (!tokens) {
            std::cerr << "usb3k-server: " << error << "\n";
            return 2;
        }
    }

    RegistryDevicePool pool(options, logD2xx);
    ServerMetrics metrics;
    Server server(options, pool, metrics, tokens);
    std::string error;
    if (!server.open(systemdSockets(), error)) {
        std::cerr << "usb3k-server: " << error << "\n";
        return 2;
    }
    Signals signals(server);
    server.start(networkThreads());
    // A listing now says at once when D2XX leaves the server no USB-3000; later ones, which try to
    // load D2XX again until it loads, say only what changed.
    pool.devices();
    notifySystemd("READY=1");
    server.wait();
    logServer("drained, exiting");
    return 0;
}
