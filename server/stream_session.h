// GET /v1/stream once its client holds a device: the WebSocket handshake, then binary messages
// of 1 to maxMessageFrames whole frames in, one binary message of their speech out for each, in
// order, with the stream's events as JSON text messages. At most maxInFlight messages are read
// and not yet answered: reading stops there, so a slow reader holds memory bounded.
//
// Close codes: 1003 a text message, 1007 a message that is not whole frames, 1009 one larger
// than maxMessageFrames frames, 1008 no message for the idle time-out, 1001 the server draining,
// 4001 the device gone, 4002 the device not responding, 4003 its token revoked by a reload of
// the token list.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include "server/connection_limits.h"
#include "server/device_pool.h"
#include "server/net_types.h"
#include "server/request_log.h"
#include "server/token_list.h"
#include "server/transport.h"

class ServerContext;
class ActiveWork;

struct StreamStart {
    beast::http::request<beast::http::string_body> upgrade;
    std::unique_ptr<DeviceLease> lease;
    std::unique_ptr<ConnectionLimits::Slot> slot;
    std::unique_ptr<ActiveWork> active;
    RequestLog log;
    // The token the stream was admitted with; none without tokens.
    std::optional<TokenList::Digest> token;
};

void runStreamSession(ServerContext& context, Transport&& stream, StreamStart start);
