#include "server/routes.h"

#include "server/json_texts.h"
#include "server/server_context.h"

Reply textReply(unsigned status, const std::string& text) {
    Reply reply;
    reply.status = status;
    reply.body = text + "\n";
    return reply;
}

Reply healthReply() {
    return textReply(200, "alive");
}

Reply readyReply(ServerContext& context) {
    if (context.draining())
        return textReply(503, "draining");
    if (!context.pool.anyReady()) {
        const D2xxState d2xx = context.pool.d2xxState();
        if (d2xx.failure.empty())
            return textReply(503, "no usable USB-3000 is attached");
        std::string text;
        for (const std::string& line : d2xxTroubleLines(d2xx))
            text += (text.empty() ? "" : "\n") + line;
        return textReply(503, text);
    }
    return textReply(200, "ready");
}

Reply metricsReply(ServerContext& context) {
    Reply reply;
    reply.contentType = "text/plain; version=0.0.4; charset=utf-8";
    reply.body = context.metrics.render(context.pool.devices(), context.pool.queueLength());
    return reply;
}

Reply devicesReply(ServerContext& context) {
    Reply reply;
    reply.contentType = "application/json";
    reply.body = devicesJson(context.pool.devices());
    return reply;
}

Reply unauthorizedReply() {
    Reply reply = textReply(401, "a valid bearer token is needed (Authorization: Bearer TOKEN)");
    reply.headers.emplace_back("WWW-Authenticate", "Bearer");
    return reply;
}

Reply unavailableReply(const std::string& text, unsigned retryAfterSeconds) {
    Reply reply = textReply(503, text);
    reply.headers.emplace_back("Retry-After", std::to_string(retryAfterSeconds));
    return reply;
}

unsigned retryAfterSeconds(ServerContext& context) {
    auto seconds = context.options.queueTimeout.count() / 2;
    return seconds < 1 ? 1 : static_cast<unsigned>(seconds);
}

Reply refusalReply(LeaseRefusal refusal, const std::string& serialNumber, ServerContext& context) {
    switch (refusal) {
        case LeaseRefusal::NoSuchDevice:
            return textReply(404,
                             "no USB-3000 with serial number " + serialNumber + " is attached");
        case LeaseRefusal::QueueFull:
            return unavailableReply("too many requests are waiting for a device",
                                    retryAfterSeconds(context));
        case LeaseRefusal::NoDevice:
        case LeaseRefusal::None:
            break;
    }
    return unavailableReply("no usable USB-3000 is attached", retryAfterSeconds(context));
}
