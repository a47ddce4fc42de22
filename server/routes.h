// The answers usb3k-server gives without a device: health, readiness, metrics, the device list,
// and the refusals of /v1/ requests. Each is a status, a content type, headers and a body, which
// the HTTP session writes.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "server/device_pool.h"

class ServerContext;

struct Reply {
    unsigned status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
};

// `text` and an end of line as the body.
Reply textReply(unsigned status, const std::string& text);

Reply healthReply();
// 200 when a device is ready and the server is not draining, else 503: when D2XX failed, with
// the reason and its fix.
Reply readyReply(ServerContext& context);
Reply metricsReply(ServerContext& context);
Reply devicesReply(ServerContext& context);

// 401 with `WWW-Authenticate: Bearer`.
Reply unauthorizedReply();
// 503 with Retry-After: the queue time-out, the queue full, no device, the server draining.
Reply unavailableReply(const std::string& text, unsigned retryAfterSeconds);
// The answer to a refused lease.
Reply refusalReply(LeaseRefusal refusal, const std::string& serialNumber, ServerContext& context);
// A whole second, at least 1, that a refused client should wait before it asks again.
unsigned retryAfterSeconds(ServerContext& context);
