// usb3k-server over emulated USB-3000s paced by the emulator's timing model, as a process of its
// own, for scripts/measure-server to read its CPU time and memory: the server and device pool that
// usb3k-server runs, on 127.0.0.1, without tokens, until SIGTERM or SIGINT has drained it.
#include <cstdlib>
#include <iostream>
#include <string>

#include <boost/asio/ip/tcp.hpp>

#include "server/registry_device_pool.h"
#include "server/server.h"
#include "server/signals.h"
#include "sim/usb3k_sim.h"

int main(int argc, char** argv) {
    if (argc != 2 || std::atoi(argv[1]) < 1) {
        std::cerr << "usage: emulated_server DEVICES\n";
        return 2;
    }
    const int devices = std::atoi(argv[1]);
    sim_clear_devices();
    for (int d = 1; d <= devices; ++d) {
        const std::string serial = "EMU3" + std::to_string(10000 + d).substr(1);
        sim_add_device(SIM_USB3000_ID, serial.c_str(), SIM_DEFAULT_DESCRIPTION);
    }
    sim_set_paced(1);

    ServerOptions options;
    RegistryDevicePool pool(options);
    ServerMetrics metrics;
    Server server(options, pool, metrics, nullptr);
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor socket(
        io, boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
    std::string error;
    if (!server.open({socket.release()}, error)) {
        std::cerr << "emulated_server: " << error << "\n";
        return 1;
    }
    Signals signals(server);
    server.start(2);
    std::cout << "listening on 127.0.0.1:" << server.port() << std::endl;
    server.wait();
    return 0;
}
