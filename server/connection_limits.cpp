#include "server/connection_limits.h"

ConnectionLimits::ConnectionLimits(std::size_t maxConnections, std::size_t maxPerToken)
    : maxConnections_(maxConnections), maxPerToken_(maxPerToken) {}

std::unique_ptr<ConnectionLimits::Slot> ConnectionLimits::openConnection() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_ >= maxConnections_)
        return nullptr;
    ++open_;
    return std::make_unique<Slot>(*this);
}

bool ConnectionLimits::claimForToken(Slot& slot, const std::string& tokenName) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (slot.hasToken_ && slot.tokenName_ == tokenName)
        return true;
    std::size_t& count = perToken_[tokenName];
    if (count >= maxPerToken_) {
        if (count == 0)
            perToken_.erase(tokenName);
        return false;
    }
    ++count;
    if (slot.hasToken_ && --perToken_[slot.tokenName_] == 0)
        perToken_.erase(slot.tokenName_);
    slot.tokenName_ = tokenName;
    slot.hasToken_ = true;
    return true;
}

std::size_t ConnectionLimits::open() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

void ConnectionLimits::release(Slot& slot) {
    std::lock_guard<std::mutex> lock(mutex_);
    --open_;
    if (slot.hasToken_ && --perToken_[slot.tokenName_] == 0)
        perToken_.erase(slot.tokenName_);
}
