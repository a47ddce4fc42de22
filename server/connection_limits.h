// The connections usb3k-server holds, in two classes with bounds of their own, so that clients
// without a token cannot lock out those with one:
// - unauthenticated: from accept until a request's header is authorized (a probe's request leaves
//   its connection here). At most maxUnauthenticated, and maxPerAddress from one client address;
//   a new connection always gets in, and the oldest unauthenticated one (of its address when that
//   address is at its bound, else of all) is closed to make room.
// - authenticated: once a header is authorized, at most maxConnections, and maxPerToken for each
//   token.
// A slot is held while its connection lives and given back when the slot is destroyed.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class ConnectionLimits {
  public:
    class Slot;

    ConnectionLimits(std::size_t maxConnections, std::size_t maxPerToken,
                     std::size_t maxUnauthenticated, std::size_t maxPerAddress);

    // A new connection from `address`, unauthenticated; it may close an older one to make room.
    std::unique_ptr<Slot> openConnection(const std::string& address);
    // How the slot's connection is closed when it makes room for a newer one: called on any
    // thread, once, at once when that has happened already.
    void onEvict(Slot& slot, std::function<void()> close);
    // Moves the connection to the authenticated bound: false, and nothing moved, when
    // maxConnections are authenticated already.
    bool authenticate(Slot& slot);
    // Counts the connection for `tokenName`: false, and nothing counted, when that token holds
    // maxPerToken connections already. A slot counts for one token at a time.
    bool claimForToken(Slot& slot, const std::string& tokenName);

    // Every connection, of either class.
    std::size_t open() const;

  private:
    void release(Slot& slot);
    // Takes `slot` out of the unauthenticated bound.
    void leaveUnauthenticated(Slot& slot);

    mutable std::mutex mutex_;
    std::size_t maxConnections_;
    std::size_t maxPerToken_;
    std::size_t maxUnauthenticated_;
    std::size_t maxPerAddress_;
    std::size_t open_ = 0;
    std::size_t authenticated_ = 0;
    // Oldest first.
    std::list<Slot*> unauthenticated_;
    std::map<std::string, std::size_t> perAddress_;
    std::map<std::string, std::size_t> perToken_;
};

class ConnectionLimits::Slot {
  public:
    Slot(ConnectionLimits& limits, std::string address)
        : limits_(limits), address_(std::move(address)) {}
    ~Slot() { limits_.release(*this); }
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;

    std::chrono::steady_clock::time_point opened() const { return opened_; }

  private:
    friend class ConnectionLimits;
    enum class State { Unauthenticated, Evicted, Authenticated };

    ConnectionLimits& limits_;
    std::string address_;
    std::chrono::steady_clock::time_point opened_ = std::chrono::steady_clock::now();
    State state_ = State::Unauthenticated;
    std::list<Slot*>::iterator where_;
    std::function<void()> close_;
    std::string tokenName_;
    bool hasToken_ = false;
};
