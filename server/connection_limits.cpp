#include "server/connection_limits.h"

#include <algorithm>

ConnectionLimits::ConnectionLimits(std::size_t maxConnections, std::size_t maxPerToken,
                                   std::size_t maxUnauthenticated, std::size_t maxPerAddress)
    : maxConnections_(maxConnections),
      maxPerToken_(maxPerToken),
      maxUnauthenticated_(maxUnauthenticated),
      maxPerAddress_(maxPerAddress) {}

std::unique_ptr<ConnectionLimits::Slot> ConnectionLimits::openConnection(
    const std::string& address) {
    auto slot = std::make_unique<Slot>(*this, address);
    std::function<void()> close;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Slot* oldest = nullptr;
        if (perAddress_[address] >= maxPerAddress_) {
            auto found = std::find_if(unauthenticated_.begin(), unauthenticated_.end(),
                                      [&](const Slot* held) { return held->address_ == address; });
            oldest = found == unauthenticated_.end() ? nullptr : *found;
        } else if (unauthenticated_.size() >= maxUnauthenticated_) {
            oldest = unauthenticated_.front();
        }
        if (oldest != nullptr) {
            leaveUnauthenticated(*oldest);
            oldest->state_ = Slot::State::Evicted;
            close = std::move(oldest->close_);
        }
        ++open_;
        ++perAddress_[address];
        slot->where_ = unauthenticated_.insert(unauthenticated_.end(), slot.get());
    }
    if (close)
        close();
    return slot;
}

void ConnectionLimits::onEvict(Slot& slot, std::function<void()> close) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (slot.state_ != Slot::State::Evicted) {
            slot.close_ = std::move(close);
            return;
        }
    }
    close();
}

bool ConnectionLimits::authenticate(Slot& slot) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (slot.state_ == Slot::State::Authenticated)
        return true;
    if (authenticated_ >= maxConnections_)
        return false;
    if (slot.state_ == Slot::State::Unauthenticated)
        leaveUnauthenticated(slot);
    slot.state_ = Slot::State::Authenticated;
    slot.close_ = nullptr;
    ++authenticated_;
    return true;
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

void ConnectionLimits::leaveUnauthenticated(Slot& slot) {
    unauthenticated_.erase(slot.where_);
    if (--perAddress_[slot.address_] == 0)
        perAddress_.erase(slot.address_);
}

void ConnectionLimits::release(Slot& slot) {
    std::lock_guard<std::mutex> lock(mutex_);
    --open_;
    if (slot.state_ == Slot::State::Unauthenticated)
        leaveUnauthenticated(slot);
    else if (slot.state_ == Slot::State::Authenticated)
        --authenticated_;
    if (slot.hasToken_ && --perToken_[slot.tokenName_] == 0)
        perToken_.erase(slot.tokenName_);
}
