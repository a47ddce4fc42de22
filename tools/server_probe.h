// usb3k-probe --server: a usb3k-server's USB-3000s and one timed decode there, in the report's
// style, with the probe's exit statuses. Built only where the server is.
#pragma once

#include <ostream>
#include <string>

#include "tools/probe_options.h"
#include "tools/server_uri.h"

// What probing a server needs, read from the options.
struct ServerProbe {
    ServerUri uri;
    std::string token;  // never written anywhere
    std::string caFile;
    std::string serialNumber;  // empty: any free USB-3000
    unsigned frames = 0;
};

// Reads the URI and the token file the options name; false with `error`, a usage error, when
// either is wrong.
bool prepareServerProbe(const ProbeOptions& options, ServerProbe& probe, std::string& error);

// Lists the server's USB-3000s and times one decode of probe.frames frames; writes the report
// that follows the version line and returns the exit status.
int probeServer(const ServerProbe& probe, std::ostream& out);
