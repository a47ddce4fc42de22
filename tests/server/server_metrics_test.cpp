#include "server/server_metrics.h"

#include <gtest/gtest.h>

namespace {

TEST(ServerMetrics, RendersDevicesActivityAndHistograms) {
    ServerMetrics metrics;
    metrics.requestStarted();
    metrics.requestStarted();
    metrics.requestEnded();
    metrics.streamStarted();
    // A stream holds two messages of 10 frames, then answers one of them.
    metrics.streamHeld(2, 140);
    metrics.streamHeld(-1, -70);
    // 50 frames at 4 ms, one call whose 2 frames took 60 ms each, and a call with none.
    metrics.observeFrames(50, 0.2);
    metrics.observeFrames(2, 0.12);
    metrics.observeFrames(0, 1);
    metrics.observeQueueWait(0.25);
    metrics.observeQueueWait(45);
    metrics.tlsHandshakeFailed();
    metrics.tlsHandshakeFailed();
    metrics.connectionEvicted();

    PooledDevice device;
    device.serialNumber = "A1";
    device.state = DeviceState::Busy;
    device.framesDecoded = 52;
    device.framesConcealed = 1;
    EXPECT_EQ(metrics.render({device}, 3),
              "# HELP usb3k_frames_decoded_total Frames decoded, per device\n"
              "# TYPE usb3k_frames_decoded_total counter\n"
              "usb3k_frames_decoded_total{device=\"A1\"} 52\n"
              "# HELP usb3k_frames_concealed_total Frames answered with silence, per device\n"
              "# TYPE usb3k_frames_concealed_total counter\n"
              "usb3k_frames_concealed_total{device=\"A1\"} 1\n"
              "# HELP usb3k_device_state 1 for the state each device is in, else 0\n"
              "# TYPE usb3k_device_state gauge\n"
              "usb3k_device_state{device=\"A1\",state=\"free\"} 0\n"
              "usb3k_device_state{device=\"A1\",state=\"busy\"} 1\n"
              "usb3k_device_state{device=\"A1\",state=\"away\"} 0\n"
              "# HELP usb3k_tls_handshakes_failed_total TLS handshakes that failed\n"
              "# TYPE usb3k_tls_handshakes_failed_total counter\n"
              "usb3k_tls_handshakes_failed_total 2\n"
              "# HELP usb3k_connections_evicted_total Connections without an authorized request "
              "closed to make room for newer ones\n"
              "# TYPE usb3k_connections_evicted_total counter\n"
              "usb3k_connections_evicted_total 1\n"
              "# HELP usb3k_streams_active WebSocket streams open\n"
              "# TYPE usb3k_streams_active gauge\n"
              "usb3k_streams_active 1\n"
              "# HELP usb3k_requests_active Decode requests in progress\n"
              "# TYPE usb3k_requests_active gauge\n"
              "usb3k_requests_active 1\n"
              "# HELP usb3k_stream_messages_held Messages streams have read and not yet "
              "answered, and answers not yet written\n"
              "# TYPE usb3k_stream_messages_held gauge\n"
              "usb3k_stream_messages_held 1\n"
              "# HELP usb3k_stream_bytes_held Bytes of those messages and answers\n"
              "# TYPE usb3k_stream_bytes_held gauge\n"
              "usb3k_stream_bytes_held 70\n"
              "# HELP usb3k_queue_length Requests and streams waiting for a device\n"
              "# TYPE usb3k_queue_length gauge\n"
              "usb3k_queue_length 3\n"
              "# HELP usb3k_frame_seconds Time one frame took on its device\n"
              "# TYPE usb3k_frame_seconds histogram\n"
              "usb3k_frame_seconds_count 52\n"
              "usb3k_frame_seconds_sum 0.32\n"
              "usb3k_frame_seconds_bucket{le=\"0.001\"} 0\n"
              "usb3k_frame_seconds_bucket{le=\"0.002\"} 0\n"
              "usb3k_frame_seconds_bucket{le=\"0.005\"} 50\n"
              "usb3k_frame_seconds_bucket{le=\"0.01\"} 50\n"
              "usb3k_frame_seconds_bucket{le=\"0.02\"} 50\n"
              "usb3k_frame_seconds_bucket{le=\"0.05\"} 50\n"
              "usb3k_frame_seconds_bucket{le=\"0.1\"} 52\n"
              "usb3k_frame_seconds_bucket{le=\"0.25\"} 52\n"
              "usb3k_frame_seconds_bucket{le=\"1\"} 52\n"
              "usb3k_frame_seconds_bucket{le=\"+Inf\"} 52\n"
              "# HELP usb3k_queue_wait_seconds Time a request or stream waited for its device\n"
              "# TYPE usb3k_queue_wait_seconds histogram\n"
              "usb3k_queue_wait_seconds_count 2\n"
              "usb3k_queue_wait_seconds_sum 45.25\n"
              "usb3k_queue_wait_seconds_bucket{le=\"0.001\"} 0\n"
              "usb3k_queue_wait_seconds_bucket{le=\"0.01\"} 0\n"
              "usb3k_queue_wait_seconds_bucket{le=\"0.1\"} 0\n"
              "usb3k_queue_wait_seconds_bucket{le=\"0.5\"} 1\n"
              "usb3k_queue_wait_seconds_bucket{le=\"1\"} 1\n"
              "usb3k_queue_wait_seconds_bucket{le=\"2.5\"} 1\n"
              "usb3k_queue_wait_seconds_bucket{le=\"5\"} 1\n"
              "usb3k_queue_wait_seconds_bucket{le=\"10\"} 1\n"
              "usb3k_queue_wait_seconds_bucket{le=\"30\"} 1\n"
              "usb3k_queue_wait_seconds_bucket{le=\"60\"} 2\n"
              "usb3k_queue_wait_seconds_bucket{le=\"+Inf\"} 2\n");
}

}  // namespace
