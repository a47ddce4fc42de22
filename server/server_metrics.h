// What GET /metrics exposes, in Prometheus' text format, every name prefixed `usb3k_`: frames
// decoded and concealed and the state of each device (read from the pool when scraped), streams
// and requests active, decodes cut short by reason, the queue's length, failed TLS handshakes,
// connections closed to make room, and the time per frame and the queue wait as histograms. Safe to
// call from any thread.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "server/device_pool.h"

class ServerMetrics {
  public:
    ServerMetrics();
    ~ServerMetrics();

    void requestStarted();
    void requestEnded();
    void streamStarted();
    void streamEnded();
    // What streams hold of their clients' messages and the answers not yet written: `messages`
    // and `bytes` more (or fewer, when negative).
    void streamHeld(double messages, double bytes);
    // A POST /v1/decode that ended before its last frame: `reason` is device_gone,
    // device_not_responding, server_draining or token_revoked.
    void decodeCutShort(const std::string& reason);
    // A TLS handshake that failed.
    void tlsHandshakeFailed();
    // A connection without an authorized request closed to make room for a newer one.
    void connectionEvicted();
    // How long a request or stream waited for its device.
    void observeQueueWait(double seconds);
    // How long one frame took on its device, for a call that decoded `frames` frames in `seconds`.
    void observeFrames(std::size_t frames, double seconds);

    // The exposition, with the pool's devices and queue length as they are now.
    std::string render(const std::vector<PooledDevice>& devices, std::size_t queueLength) const;

  private:
    struct Registry;
    std::unique_ptr<Registry> registry_;
};
