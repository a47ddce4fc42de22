// What systemd gives usb3k-server and what it tells systemd: the listening sockets of its socket
// unit, and its readiness and stopping. Without systemd both do nothing.
#pragma once

#include <vector>

// The descriptors systemd passed (socket activation), taken from the environment; empty when
// none were.
std::vector<int> systemdSockets();
// "READY=1", "STOPPING=1", "RELOADING=1"...
void notifySystemd(const char* state);
