#include "net/logger_socket.h"

#include "net/logger_request.h"

int LoggerSocket::Open(const NetAddress& address, uint16_t port) {
    Close();
    const int started = sockets_.Start();
    if (started != 0) {
        return started;
    }
    socket_ = sockets_.OpenDatagram(address.family());
    if (socket_ == kNoSocket) {
        const int error = SocketLastError();
        sockets_.Stop();
        return error;
    }
    if (sockets_.Bind(socket_, address, port) != 0 || sockets_.Select(socket_, kSocketRead) != 0) {
        const int error = SocketLastError();
        Close();
        return error;
    }
    return 0;
}

void LoggerSocket::Close() {
    if (socket_ == kNoSocket) {
        return;
    }
    sockets_.Close(socket_);
    socket_ = kNoSocket;
    sockets_.Stop();
}

bool LoggerSocket::Receive(LoggerDatagram* datagram) {
    // One byte over the most a request may be tells a longer one on either build.
    datagram->bytes.resize(kMostLoggerDatagram + 1);
    const int count = sockets_.ReceiveFrom(socket_, datagram->bytes.data(),
                                           static_cast<int>(datagram->bytes.size()),
                                           &datagram->from, &datagram->from_port);
    datagram->too_long = count == kSocketError && SocketLastError() == kSocketErrorMessageSize;
    if (count == kSocketError && !datagram->too_long) {
        return false;
    }
    datagram->bytes.resize(datagram->too_long ? 0 : static_cast<std::size_t>(count));
    return true;
}

void LoggerSocket::Send(const std::string& text, const NetAddress& address, uint16_t port) {
    // A logger that has gone misses its reply; nothing here waits for it.
    sockets_.SendTo(socket_, reinterpret_cast<const uint8_t*>(text.data()), text.size(), address,
                    port);
}
