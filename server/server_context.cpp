#include "server/server_context.h"

ActiveWork::ActiveWork(ServerMetrics& metrics, bool stream) : metrics_(metrics), stream_(stream) {
    if (stream_) {
        metrics_.streamStarted();
    } else {
        metrics_.requestStarted();
    }
}

ActiveWork::~ActiveWork() {
    if (stream_) {
        metrics_.streamEnded();
    } else {
        metrics_.requestEnded();
    }
}

ServerContext::ServerContext(const ServerOptions& options, DevicePool& pool, ServerMetrics& metrics,
                             std::shared_ptr<const TokenList> tokens)
    : options(options),
      pool(pool),
      metrics(metrics),
      limits(options.maxConnections, options.maxConnectionsPerToken, options.maxUnauthenticated,
             options.maxConnectionsPerAddress),
      tokens_(std::move(tokens)) {}

void ServerContext::giveBack(std::shared_ptr<DeviceLease> lease) {
    if (!lease || !workers)
        return;
    workers->post([lease]() mutable { lease.reset(); });
}

std::shared_ptr<const TokenList> ServerContext::tokens() const {
    return std::atomic_load(&tokens_);
}

void ServerContext::setTokens(std::shared_ptr<const TokenList> tokens) {
    std::atomic_store(&tokens_, tokens);
    if (!tokens)
        return;
    for (const auto& item : items()) item->tokensReloaded(tokens);
}

void ServerContext::add(const std::shared_ptr<WorkItem>& item) {
    std::lock_guard<std::mutex> lock(mutex_);
    items_[item.get()] = item;
}

void ServerContext::remove(WorkItem* item) {
    std::function<void()> idle;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        items_.erase(item);
        if (items_.empty() && idle_) {
            idle = std::move(idle_);
            idle_ = nullptr;
        }
    }
    if (idle)
        idle();
}

std::size_t ServerContext::active() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return items_.size();
}

std::vector<std::shared_ptr<WorkItem>> ServerContext::items() const {
    std::vector<std::shared_ptr<WorkItem>> live;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : items_) {
        if (auto item = entry.second.lock())
            live.push_back(std::move(item));
    }
    return live;
}

void ServerContext::beginDrain(std::function<void()> idle) {
    draining_ = true;
    bool none;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        none = items_.empty();
        if (!none)
            idle_ = std::move(idle);
    }
    if (none) {
        idle();
        return;
    }
    for (const auto& item : items()) item->drainStarted();
}

void ServerContext::expireDrain() {
    for (const auto& item : items()) item->drainExpired();
}
