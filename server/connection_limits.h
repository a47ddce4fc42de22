// The connections usb3k-server holds: all of them, and those of each token, each under its limit.
// A slot is held while its connection lives and given back when the slot is destroyed.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class ConnectionLimits {
  public:
    class Slot;

    ConnectionLimits(std::size_t maxConnections, std::size_t maxPerToken);

    // A connection's slot, or null when maxConnections are open.
    std::unique_ptr<Slot> openConnection();
    // Counts the connection for `tokenName`: false, and nothing counted, when that token holds
    // maxPerToken connections already. A slot counts for one token at a time.
    bool claimForToken(Slot& slot, const std::string& tokenName);

    std::size_t open() const;

  private:
    void release(Slot& slot);

    mutable std::mutex mutex_;
    std::size_t maxConnections_;
    std::size_t maxPerToken_;
    std::size_t open_ = 0;
    std::map<std::string, std::size_t> perToken_;
};

class ConnectionLimits::Slot {
  public:
    explicit Slot(ConnectionLimits& limits) : limits_(limits) {}
    ~Slot() { limits_.release(*this); }
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;

  private:
    friend class ConnectionLimits;
    ConnectionLimits& limits_;
    std::string tokenName_;
    bool hasToken_ = false;
};
