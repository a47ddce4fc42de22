#include "server/signals.h"

#include "server/request_log.h"
#include "server/server.h"
#include "server/systemd.h"

Signals::Signals(Server& server) : server_(server) {
    wait();
    thread_ = std::thread([this] { io_.run(); });
}

Signals::~Signals() {
    io_.stop();
    thread_.join();
}

void Signals::wait() {
    signals_.async_wait([this](boost::system::error_code ec, int signal) {
        if (ec)
            return;
        ServerContext& context = server_.context();
        if (signal == SIGHUP) {
            const std::string& path = context.options.tokenFile;
            if (path.empty()) {
                logServer("SIGHUP: no token file to reload");
            } else {
                std::string error;
                std::unique_ptr<TokenList> tokens = TokenList::load(path, error);
                if (tokens) {
                    context.setTokens(std::move(tokens));
                    logServer("SIGHUP: tokens reloaded from " + path);
                } else {
                    logServer("SIGHUP: tokens kept as they were: " + error);
                }
            }
        } else {
            notifySystemd("STOPPING=1");
            server_.drain();
        }
        wait();
    });
}
