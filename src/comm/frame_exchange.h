#pragma once
// The two transports of the device protocol for one operation on one device, used blocking on
// the calling thread. Sockets have thread affinity, so each operation builds its own exchange on
// its own thread; the device link serialises the operations, so exchanges never interleave.
//
// A request is put into frameBuffer, the exchange sends it and reads the reply over it. A failed
// exchange sets exchangeFailed: connection errors, time-outs, a reply length above the 1025-byte
// data area, a UDP datagram above 100 bytes, or a datagram shorter than its announced length. A
// failed TCP exchange also writes "<ERROR> <" + message + ">" for the device being read and drops
// the connection, so a late reply can never be taken for the answer to a later request.

#include "comm/device_frame.h"
#include "core/console_options.h"
#include "core/device_records.h"

#include <QHostAddress>
#include <QString>

#include <memory>

class QTcpSocket;

namespace quodra::logs {
class EventLog;
}

namespace quodra::comm {

inline constexpr quint16 kUdpDevicePort = 30305;

struct ExchangeTimeouts {
    int connectMs = 5000; // TCP connect
    int tcpReadMs = 5000; // TCP: from sending the request to the last byte of the reply
    int udpWaitMs = 5000; // UDP: from sending the request to the reply datagram
};

class FrameExchange {
public:
    // device: the caller's own copy of the record being read (target and the name in the event).
    FrameExchange(const core::Tkonfig& device, core::Transport protocol, const ExchangeTimeouts& timeouts,
                  logs::EventLog* eventLog);
    ~FrameExchange();
    FrameExchange(const FrameExchange&) = delete;
    FrameExchange& operator=(const FrameExchange&) = delete;

    // TCP: connect to the device's address and port (9760 when 0) unless already connected.
    bool openTcp();
    bool tcpOpen() const;
    // Closes the connection, waiting a bounded time for the close to finish.
    void closeTcp();
    // UDP: resolve the device's address as the target (port 30305). False when it is no address.
    bool setUdpTarget();
    // Opens the transport that `protocol` selects (TCP connection or UDP target).
    bool openSelected();
    // Text of the last connect or target failure.
    QString openError() const { return m_openError; }

    // The request to send; after an exchange, the reply (header fields and `length` data bytes).
    DeviceFrame frameBuffer;
    bool exchangeFailed = false;
    // Failure text of the last failed exchange.
    QString lastError;

    bool ExchangeTcp();
    bool ExchangeUdp();
    // TCP when `protocol` is TCP, otherwise UDP. Returns !exchangeFailed.
    bool ExchangeFrame();

    // Replaces frameBuffer with a request and exchanges it over the selected transport.
    bool request(char l1, char l2, std::uint8_t parameter = 0, QByteArray data = {});
    // The reply arrived but lacks fields the caller reads: fail the exchange the way the
    // transport fails it (over TCP: the event and the dropped connection). Returns false.
    bool rejectReply(const QString& why);

    core::Transport protocol() const { return m_protocol; }

private:
    bool failTcp(const QString& message);
    bool failUdp(const QString& message);

    core::Tkonfig m_device;
    core::Transport m_protocol;
    ExchangeTimeouts m_timeouts;
    logs::EventLog* m_eventLog;
    std::unique_ptr<QTcpSocket> m_tcp;
    // A plain datagram socket: one per operation, so a reply that comes too late for an earlier
    // operation never reaches a later one; cheaper to open than a Qt socket object.
    int m_udpFd = -1;
    QHostAddress m_udpTarget;
    QString m_openError;
};

} // namespace quodra::comm
