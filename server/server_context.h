// What every connection of usb3k-server shares: the options, the device pool, the metrics, the
// token list (swapped whole when SIGHUP reloads it), the decode threads, the connection limits,
// and the work in progress that a drain has to reach.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "server/connection_limits.h"
#include "server/decode_workers.h"
#include "server/device_pool.h"
#include "server/log_throttle.h"
#include "server/server_metrics.h"
#include "server/server_options.h"
#include "server/token_list.h"

// A connection, as the drain and a reload of the tokens see it. Every call comes from any thread;
// each connection moves onto its own strand before it acts.
class WorkItem {
  public:
    virtual ~WorkItem() = default;
    // SIGTERM: a connection between requests closes; work in progress goes on.
    virtual void drainStarted() = 0;
    // The drain time-out: work in progress ends now, with a reason.
    virtual void drainExpired() = 0;
    // The token list was reloaded: work whose token is no longer in it ends now.
    virtual void tokensReloaded(std::shared_ptr<const TokenList> tokens) = 0;
};

// Counts a request or stream as active in the metrics while it lives.
class ActiveWork {
  public:
    ActiveWork(ServerMetrics& metrics, bool stream);
    ~ActiveWork();
    ActiveWork(const ActiveWork&) = delete;
    ActiveWork& operator=(const ActiveWork&) = delete;

  private:
    ServerMetrics& metrics_;
    bool stream_;
};

class ServerContext {
  public:
    ServerContext(const ServerOptions& options, DevicePool& pool, ServerMetrics& metrics,
                  std::shared_ptr<const TokenList> tokens);

    const ServerOptions options;
    DevicePool& pool;
    ServerMetrics& metrics;
    ConnectionLimits limits;
    std::unique_ptr<DecodeWorkers> workers = std::make_unique<DecodeWorkers>();
    // The answers made from the device pool (/v1/devices, /readyz, /metrics), one at a time on one
    // thread of their own: any number of clients may ask at once, and none needs a thread.
    std::unique_ptr<DecodeWorkers> poolAnswers = std::make_unique<DecodeWorkers>(1);
    // A client that fails its TLS handshakes over and over writes one line a second at most.
    LogThrottle tlsFailureLog{std::chrono::seconds(1)};
    // So do connections closed to make room, which a flood of idle connections makes many of.
    LogThrottle evictionLog{std::chrono::seconds(1)};

    // Gives a lease back on a decode thread: giving it back may open the device for the next
    // waiter, which takes a moment.
    void giveBack(std::shared_ptr<DeviceLease> lease);

    // Null for a server without tokens.
    std::shared_ptr<const TokenList> tokens() const;
    // Swaps the list, then tells the work in progress, which ends if its token is gone.
    void setTokens(std::shared_ptr<const TokenList> tokens);

    bool draining() const { return draining_.load(); }

    // Work in progress registers while it lives, so that a drain reaches it.
    void add(const std::shared_ptr<WorkItem>& item);
    void remove(WorkItem* item);
    std::size_t active() const;

    // Starts the drain: `idle` is called (once, on any thread) as soon as no work is left.
    void beginDrain(std::function<void()> idle);
    void expireDrain();

  private:
    std::vector<std::shared_ptr<WorkItem>> items() const;

    std::shared_ptr<const TokenList> tokens_;
    std::atomic<bool> draining_{false};
    mutable std::mutex mutex_;
    std::map<WorkItem*, std::weak_ptr<WorkItem>> items_;
    std::function<void()> idle_;
};
