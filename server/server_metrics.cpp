#include "server/server_metrics.h"

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <sstream>

namespace {

// A frame is 20 ms of speech; the device decodes one in a few milliseconds, more when the link is
// being brought back in step.
const prometheus::Histogram::BucketBoundaries kFrameBuckets{0.001, 0.002, 0.005, 0.01, 0.02,
                                                            0.05,  0.1,   0.25,  1};
// Up to the longest queue time-out worth waiting.
const prometheus::Histogram::BucketBoundaries kQueueWaitBuckets{0.001, 0.01, 0.1, 0.5, 1,
                                                                2.5,   5,    10,  30,  60};

prometheus::MetricFamily family(const char* name, const char* help, prometheus::MetricType type) {
    prometheus::MetricFamily result;
    result.name = name;
    result.help = help;
    result.type = type;
    return result;
}

prometheus::ClientMetric counter(const std::string& device, uint64_t value) {
    prometheus::ClientMetric metric;
    metric.label = {{"device", device}};
    metric.counter.value = static_cast<double>(value);
    return metric;
}

}  // namespace

struct ServerMetrics::Registry {
    prometheus::Registry registry;
    prometheus::Gauge& streamsActive = prometheus::BuildGauge()
                                           .Name("usb3k_streams_active")
                                           .Help("WebSocket streams open")
                                           .Register(registry)
                                           .Add({});
    prometheus::Gauge& requestsActive = prometheus::BuildGauge()
                                            .Name("usb3k_requests_active")
                                            .Help("Decode requests in progress")
                                            .Register(registry)
                                            .Add({});
    prometheus::Gauge& streamMessagesHeld =
        prometheus::BuildGauge()
            .Name("usb3k_stream_messages_held")
            .Help("Messages streams have read and not yet answered, and answers not yet written")
            .Register(registry)
            .Add({});
    prometheus::Gauge& streamBytesHeld = prometheus::BuildGauge()
                                             .Name("usb3k_stream_bytes_held")
                                             .Help("Bytes of those messages and answers")
                                             .Register(registry)
                                             .Add({});
    prometheus::Family<prometheus::Counter>& decodesCutShort =
        prometheus::BuildCounter()
            .Name("usb3k_decodes_cut_short_total")
            .Help("Decode requests that ended before their last frame, by reason")
            .Register(registry);
    prometheus::Gauge& queueLength = prometheus::BuildGauge()
                                         .Name("usb3k_queue_length")
                                         .Help("Requests and streams waiting for a device")
                                         .Register(registry)
                                         .Add({});
    prometheus::Counter& tlsHandshakesFailed = prometheus::BuildCounter()
                                                   .Name("usb3k_tls_handshakes_failed_total")
                                                   .Help("TLS handshakes that failed")
                                                   .Register(registry)
                                                   .Add({});
    prometheus::Counter& connectionsEvicted =
        prometheus::BuildCounter()
            .Name("usb3k_connections_evicted_total")
            .Help("Connections without an authorized request closed to make room for newer ones")
            .Register(registry)
            .Add({});
    prometheus::Histogram& frameSeconds = prometheus::BuildHistogram()
                                              .Name("usb3k_frame_seconds")
                                              .Help("Time one frame took on its device")
                                              .Register(registry)
                                              .Add({}, kFrameBuckets);
    prometheus::Histogram& queueWaitSeconds =
        prometheus::BuildHistogram()
            .Name("usb3k_queue_wait_seconds")
            .Help("Time a request or stream waited for its device")
            .Register(registry)
            .Add({}, kQueueWaitBuckets);
};

ServerMetrics::ServerMetrics() : registry_(std::make_unique<Registry>()) {}

ServerMetrics::~ServerMetrics() = default;

void ServerMetrics::requestStarted() {
    registry_->requestsActive.Increment();
}

void ServerMetrics::requestEnded() {
    registry_->requestsActive.Decrement();
}

void ServerMetrics::streamStarted() {
    registry_->streamsActive.Increment();
}

void ServerMetrics::streamEnded() {
    registry_->streamsActive.Decrement();
}

void ServerMetrics::streamHeld(double messages, double bytes) {
    registry_->streamMessagesHeld.Increment(messages);
    registry_->streamBytesHeld.Increment(bytes);
}

void ServerMetrics::decodeCutShort(const std::string& reason) {
    registry_->decodesCutShort.Add({{"reason", reason}}).Increment();
}

void ServerMetrics::tlsHandshakeFailed() {
    registry_->tlsHandshakesFailed.Increment();
}

void ServerMetrics::connectionEvicted() {
    registry_->connectionsEvicted.Increment();
}

void ServerMetrics::observeQueueWait(double seconds) {
    registry_->queueWaitSeconds.Observe(seconds);
}

void ServerMetrics::observeFrames(std::size_t frames, double seconds) {
    if (frames == 0) {
        return;
    }
    // Each frame of the call counts once, at the call's time per frame.
    const double perFrame = seconds / static_cast<double>(frames);
    std::vector<double> increments(kFrameBuckets.size() + 1, 0.0);
    std::size_t bucket = 0;
    while (bucket < kFrameBuckets.size() && perFrame > kFrameBuckets[bucket]) {
        ++bucket;
    }
    increments[bucket] = static_cast<double>(frames);
    registry_->frameSeconds.ObserveMultiple(increments, seconds);
}

std::string ServerMetrics::render(const std::vector<PooledDevice>& devices,
                                  std::size_t queueLength) const {
    registry_->queueLength.Set(static_cast<double>(queueLength));

    // The devices' counters live in the pool, which outlives any one lease: read them as they are.
    auto decoded = family("usb3k_frames_decoded_total", "Frames decoded, per device",
                          prometheus::MetricType::Counter);
    auto concealed =
        family("usb3k_frames_concealed_total", "Frames answered with silence, per device",
               prometheus::MetricType::Counter);
    auto states = family("usb3k_device_state", "1 for the state each device is in, else 0",
                         prometheus::MetricType::Gauge);
    for (const PooledDevice& device : devices) {
        decoded.metric.push_back(counter(device.serialNumber, device.framesDecoded));
        concealed.metric.push_back(counter(device.serialNumber, device.framesConcealed));
        for (DeviceState state : {DeviceState::Free, DeviceState::Busy, DeviceState::Away}) {
            prometheus::ClientMetric metric;
            metric.label = {{"device", device.serialNumber}, {"state", deviceStateName(state)}};
            metric.gauge.value = state == device.state ? 1 : 0;
            states.metric.push_back(std::move(metric));
        }
    }
    std::vector<prometheus::MetricFamily> families{std::move(decoded), std::move(concealed),
                                                   std::move(states)};
    for (auto& collected : registry_->registry.Collect()) {
        families.push_back(std::move(collected));
    }
    std::ostringstream text;
    prometheus::TextSerializer().Serialize(text, families);
    return text.str();
}
