// One connection's HTTP requests, plain or over TLS once its handshake is done: the routes, the
// bearer token of /v1/ requests, the wait for a device, and the hand-over of POST /v1/decode to
// its streamed answer and of GET /v1/stream to its WebSocket.
#pragma once

#include <memory>
#include <string>

#include "server/connection_limits.h"
#include "server/net_types.h"
#include "server/transport.h"

class ServerContext;

// `buffer` holds what was read of the connection already; `slot` counts it until it closes.
void runHttpSession(ServerContext& context, Transport&& stream, beast::flat_buffer&& buffer,
                    std::unique_ptr<ConnectionLimits::Slot> slot, std::string client);
