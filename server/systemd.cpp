#include "server/systemd.h"

#include <systemd/sd-daemon.h>

std::vector<int> systemdSockets() {
    std::vector<int> sockets;
    int count = sd_listen_fds(1);
    for (int i = 0; i < count; ++i) sockets.push_back(SD_LISTEN_FDS_START + i);
    return sockets;
}

void notifySystemd(const char* state) {
    sd_notify(0, state);
}
