// A client's connection, plain TCP or TLS over TCP, as one stream type. The sessions that read
// and write it (HTTP, the streamed decode answer, the WebSocket) are compiled once for it rather
// than once for each kind of connection: each instantiation of Beast's composed operations is
// costly to compile, and a handler erased here costs one small allocation per read or write.
//
// It is an Asio AsyncReadStream and AsyncWriteStream; Beast's WebSocket tears it down through the
// functions after the class.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include <boost/asio/any_completion_handler.hpp>
#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/role.hpp>

#include "server/net_types.h"

class Transport {
  public:
    using executor_type = net::any_io_executor;
    using IoHandler = net::any_completion_handler<void(beast::error_code, std::size_t)>;
    using DoneHandler = net::any_completion_handler<void(beast::error_code)>;

    explicit Transport(PlainStream&& plain);
    // `tls` has done its handshake.
    explicit Transport(std::unique_ptr<TlsStream> tls);
    Transport(Transport&& other) noexcept;
    Transport& operator=(Transport&& other) noexcept;
    ~Transport();

    executor_type get_executor() noexcept;
    // The TCP connection, under TLS or not: its time-outs, cancel and close.
    beast::tcp_stream& tcp() noexcept;

    template <class MutableBufferSequence, class ReadToken>
    auto async_read_some(const MutableBufferSequence& buffers, ReadToken&& token) {
        return net::async_initiate<ReadToken, void(beast::error_code, std::size_t)>(
            [this](IoHandler handler, std::vector<net::mutable_buffer> into) {
                readSome(std::move(into), std::move(handler));
            },
            token,
            std::vector<net::mutable_buffer>(net::buffer_sequence_begin(buffers),
                                             net::buffer_sequence_end(buffers)));
    }

    template <class ConstBufferSequence, class WriteToken>
    auto async_write_some(const ConstBufferSequence& buffers, WriteToken&& token) {
        return net::async_initiate<WriteToken, void(beast::error_code, std::size_t)>(
            [this](IoHandler handler, std::vector<net::const_buffer> from) {
                writeSome(std::move(from), std::move(handler));
            },
            token,
            std::vector<net::const_buffer>(net::buffer_sequence_begin(buffers),
                                           net::buffer_sequence_end(buffers)));
    }

    // Ends the sending side once an HTTP exchange is over: TLS's close_notify (given
    // `tlsGrace` to be answered), or TCP's shutdown at once. `done` keeps its owner alive
    // meanwhile.
    void shutdown(std::chrono::steady_clock::duration tlsGrace, DoneHandler done);

    // The WebSocket's end of the connection, after its close handshake.
    void teardown(beast::role_type role, beast::error_code& ec);
    void asyncTeardown(beast::role_type role, DoneHandler done);

  private:
    void readSome(std::vector<net::mutable_buffer> into, IoHandler handler);
    void writeSome(std::vector<net::const_buffer> from, IoHandler handler);
    template <class Handler>
    auto bound(Handler&& handler);

    // Exactly one is set.
    std::unique_ptr<PlainStream> plain_;
    std::unique_ptr<TlsStream> tls_;
};

void teardown(beast::role_type role, Transport& transport, beast::error_code& ec);

// How Beast closes the connection at once (a failed WebSocket close handshake, say).
void beast_close_socket(Transport& transport);

template <class TeardownHandler>
void async_teardown(beast::role_type role, Transport& transport, TeardownHandler&& handler) {
    transport.asyncTeardown(role, Transport::DoneHandler(std::forward<TeardownHandler>(handler)));
}
