#pragma once
// Plain blocking clients that talk to the simulator the way a console would, byte for byte.

#include "comm/device_frame.h"
#include "sim/sim_fleet.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QUdpSocket>

#include <optional>

namespace simtest {

inline QByteArray request(const char* letters, std::uint8_t parameter = 0, QByteArray data = {})
{
    return quodra::comm::DeviceFrame::request(letters[0], letters[1], parameter, std::move(data)).encode();
}

inline QByteArray registerRequest(int address, int count)
{
    QByteArray data;
    quodra::comm::appendU16(data, std::uint16_t(address));
    data.append(char(count));
    return request("XR", 0, data);
}

inline QByteArray loginRequest(const QByteArray& user, const QByteArray& password)
{
    QByteArray data(18, '\0');
    std::copy(user.begin(), user.begin() + std::min<qsizetype>(8, user.size()), data.begin());
    std::copy(password.begin(), password.begin() + std::min<qsizetype>(8, password.size()), data.begin() + 9);
    return request("IA", 0, data);
}

// One TCP connection; exchange() sends a request and reads the header and announced data.
class TcpClient {
public:
    bool connect(const QString& address, quint16 port = quodra::sim::kDefaultTcpPort)
    {
        m_socket.connectToHost(QHostAddress(address), port);
        return m_socket.waitForConnected(2000);
    }
    QAbstractSocket::SocketError error() const { return m_socket.error(); }
    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

    void send(const QByteArray& bytes)
    {
        m_socket.write(bytes);
        m_socket.waitForBytesWritten(2000);
    }

    // Reads exactly n bytes or what came before the time-out or the close.
    QByteArray read(qsizetype n, int timeoutMs = 2000)
    {
        QByteArray out;
        while (out.size() < n) {
            if (m_socket.bytesAvailable() == 0 && !m_socket.waitForReadyRead(timeoutMs))
                break;
            out += m_socket.read(n - out.size());
        }
        return out;
    }

    // The whole reply frame, or an empty array when it did not come in time.
    QByteArray exchange(const QByteArray& req, int timeoutMs = 2000)
    {
        send(req);
        QByteArray head = read(quodra::comm::kFrameHeaderSize, timeoutMs);
        if (head.size() < quodra::comm::kFrameHeaderSize)
            return {};
        const int length = quodra::comm::readU16(head, 4).value_or(0);
        return head + read(length, timeoutMs);
    }

    // True when the peer closed the connection within the time.
    bool waitClosed(int timeoutMs = 2000)
    {
        if (m_socket.state() == QAbstractSocket::UnconnectedState)
            return true;
        m_socket.waitForDisconnected(timeoutMs);
        return m_socket.state() == QAbstractSocket::UnconnectedState;
    }

private:
    QTcpSocket m_socket;
};

struct Datagram {
    QByteArray data;
    QHostAddress from;
    quint16 fromPort = 0;
};

class UdpClient {
public:
    UdpClient() { m_socket.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0); }
    std::optional<Datagram> exchange(const QString& address, const QByteArray& req, int timeoutMs = 2000)
    {
        m_socket.writeDatagram(req, QHostAddress(address), quodra::sim::kUdpPort);
        if (!m_socket.hasPendingDatagrams() && !m_socket.waitForReadyRead(timeoutMs))
            return std::nullopt;
        QHostAddress from;
        quint16 port = 0;
        QByteArray data(int(m_socket.pendingDatagramSize()), '\0');
        m_socket.readDatagram(data.data(), data.size(), &from, &port);
        return Datagram{data, from, port};
    }

private:
    QUdpSocket m_socket;
};

// Reply data of a frame (after the 6 header bytes).
inline QByteArray dataOf(const QByteArray& frame) { return frame.mid(quodra::comm::kFrameHeaderSize); }

inline QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

} // namespace simtest
