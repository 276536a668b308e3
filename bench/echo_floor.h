#pragma once
// The floor a poll pass is measured against: a trivial echo server on the devices' addresses and
// the least a client can do per device with plain blocking sockets: one TCP connect and three
// request/reply round trips, or three UDP datagram round trips.

#include <QString>
#include <QStringList>

#include <memory>

namespace quodra::bench {

struct EchoServerImpl;

// Echoes every TCP byte and every UDP datagram back to its sender, on one thread (epoll).
class EchoServer {
public:
    EchoServer(QStringList addresses, quint16 tcpPort, quint16 udpPort);
    ~EchoServer();
    bool start(QString* error);

private:
    std::unique_ptr<EchoServerImpl> m_impl;
};

// One pass over all addresses with the requests G S, G V, G R in turn; replies are read as device
// frames, so the same client also runs against the simulator. False with *error on the first failure.
bool tcpFloorPass(const QStringList& addresses, quint16 port, int roundTrips, QString* error);
bool udpFloorPass(const QStringList& addresses, quint16 port, int roundTrips, QString* error);

} // namespace quodra::bench
