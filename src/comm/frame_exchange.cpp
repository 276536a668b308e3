#include "comm/frame_exchange.h"

#include "logs/event_log.h"

#include <QDeadlineTimer>
#include <QHostInfo>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QThread>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quodra::comm {

namespace {

constexpr int kCloseWaitMs = 1000;

int remainingMs(const QDeadlineTimer& deadline)
{
    return int(qMax<qint64>(0, deadline.remainingTime()));
}

} // namespace

FrameExchange::FrameExchange(const core::Tkonfig& device, core::Transport protocol,
                             const ExchangeTimeouts& timeouts, logs::EventLog* eventLog)
    : m_device(device), m_protocol(protocol), m_timeouts(timeouts), m_eventLog(eventLog)
{
}

FrameExchange::~FrameExchange()
{
    closeTcp();
    if (m_udpFd >= 0)
        ::close(m_udpFd);
}

bool FrameExchange::tcpOpen() const
{
    return m_tcp && m_tcp->state() == QAbstractSocket::ConnectedState;
}

bool FrameExchange::openTcp()
{
    if (tcpOpen())
        return true;
    m_tcp = std::make_unique<QTcpSocket>();
    m_tcp->setProxy(QNetworkProxy::NoProxy); // devices are reached directly, never through a proxy
    m_tcp->connectToHost(m_device.ipAddress.text(), m_device.tcpPort());
    if (!m_tcp->waitForConnected(m_timeouts.connectMs)) {
        m_openError = m_tcp->error() == QAbstractSocket::SocketTimeoutError
                          ? QStringLiteral("Connect timed out after %1 ms").arg(m_timeouts.connectMs)
                          : m_tcp->errorString();
        m_tcp->abort();
        m_tcp.reset();
        return false;
    }
    return true;
}

void FrameExchange::closeTcp()
{
    if (!m_tcp)
        return;
    if (m_tcp->state() != QAbstractSocket::UnconnectedState) {
        m_tcp->disconnectFromHost();
        if (m_tcp->state() != QAbstractSocket::UnconnectedState)
            m_tcp->waitForDisconnected(kCloseWaitMs);
    }
    m_tcp->abort();
    m_tcp.reset();
}

bool FrameExchange::setUdpTarget()
{
    const QString host = m_device.ipAddress.text();
    QHostAddress address;
    if (!address.setAddress(host)) {
        const QHostInfo info = QHostInfo::fromName(host);
        for (const QHostAddress& a : info.addresses())
            if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                address = a;
                break;
            }
    }
    if (address.isNull()) {
        m_openError = QStringLiteral("Host not found: %1").arg(host);
        return false;
    }
    m_udpTarget = address;
    if (m_udpFd < 0) {
        m_udpFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (m_udpFd < 0) {
            m_openError = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
    }
    return true;
}

bool FrameExchange::openSelected()
{
    return m_protocol == core::Transport::Tcp ? openTcp() : setUdpTarget();
}

bool FrameExchange::failTcp(const QString& message)
{
    exchangeFailed = true;
    lastError = message;
    if (m_tcp)
        m_tcp->abort();
    if (m_eventLog)
        m_eventLog->writeForDevice(m_device, logs::event::exchangeError(message));
    return false;
}

bool FrameExchange::failUdp(const QString& message)
{
    exchangeFailed = true;
    lastError = message;
    return false;
}

bool FrameExchange::ExchangeTcp()
{
    exchangeFailed = false;
    lastError.clear();
    if (!tcpOpen())
        return failTcp(QStringLiteral("Not connected"));
    const QDeadlineTimer deadline(m_timeouts.tcpReadMs);
    QTcpSocket& s = *m_tcp;
    s.readAll(); // nothing the device sent before this request belongs to its answer

    const QByteArray out = frameBuffer.encode();
    if (s.write(out) != out.size())
        return failTcp(s.errorString());
    while (s.bytesToWrite() > 0)
        if (!s.waitForBytesWritten(remainingMs(deadline)))
            return failTcp(s.error() == QAbstractSocket::SocketTimeoutError
                               ? QStringLiteral("Write timed out after %1 ms").arg(m_timeouts.tcpReadMs)
                               : s.errorString());

    auto readExact = [&](qint64 n, QByteArray& into) -> bool {
        into.clear();
        while (into.size() < n) {
            if (s.bytesAvailable() == 0) {
                if (s.state() != QAbstractSocket::ConnectedState) {
                    failTcp(QStringLiteral("The remote host closed the connection"));
                    return false;
                }
                if (!s.waitForReadyRead(remainingMs(deadline))) {
                    failTcp(s.error() == QAbstractSocket::SocketTimeoutError
                                ? QStringLiteral("Read timed out after %1 ms").arg(m_timeouts.tcpReadMs)
                                : s.errorString());
                    return false;
                }
            }
            into += s.read(n - into.size());
        }
        return true;
    };

    QByteArray header;
    if (!readExact(kFrameHeaderSize, header))
        return false;
    const std::uint16_t length = *readU16(header, 4);
    if (length > kMaxFrameData)
        return failTcp(QStringLiteral("Reply length %1 exceeds the data area").arg(length));
    QByteArray data;
    if (length > 0 && !readExact(length, data))
        return false;
    const auto frame = decodeFrame(header + data);
    if (!frame)
        return failTcp(QStringLiteral("Malformed reply"));
    frameBuffer = *frame;
    return true;
}

bool FrameExchange::ExchangeUdp()
{
    exchangeFailed = false;
    lastError.clear();
    if (m_udpFd < 0 || m_udpTarget.isNull())
        return failUdp(QStringLiteral("No target"));
    const quint32 target = m_udpTarget.toIPv4Address();
    char buffer[2048];
    while (::recv(m_udpFd, buffer, sizeof buffer, MSG_DONTWAIT) >= 0) {
        // late answers to earlier requests
    }

    const QDeadlineTimer deadline(m_timeouts.udpWaitMs);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kUdpDevicePort);
    to.sin_addr.s_addr = htonl(target);
    const QByteArray request = frameBuffer.encode();
    if (::sendto(m_udpFd, request.constData(), size_t(request.size()), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to) < 0)
        return failUdp(QString::fromLocal8Bit(std::strerror(errno)));
    for (;;) {
        pollfd p{m_udpFd, POLLIN, 0};
        const int ready = ::poll(&p, 1, remainingMs(deadline));
        if (ready < 0 && errno != EINTR)
            return failUdp(QString::fromLocal8Bit(std::strerror(errno)));
        if (ready > 0) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            // MSG_TRUNC: the datagram's real length even when it does not fit the buffer.
            const ssize_t got = ::recvfrom(m_udpFd, buffer, sizeof buffer, MSG_TRUNC | MSG_DONTWAIT,
                                           reinterpret_cast<sockaddr*>(&from), &fromLength);
            // An error here is an ICMP report on the socket: keep waiting for a real reply.
            if (got >= 0 && from.sin_family == AF_INET && ntohl(from.sin_addr.s_addr) == target &&
                ntohs(from.sin_port) == kUdpDevicePort) {
                if (got > kMaxUdpDatagram)
                    return failUdp(QStringLiteral("Reply datagram of %1 bytes exceeds %2").arg(got).arg(kMaxUdpDatagram));
                const auto frame = decodeFrame(QByteArrayView(buffer, qsizetype(got)));
                if (!frame)
                    return failUdp(QStringLiteral("Malformed reply datagram"));
                frameBuffer = *frame;
                return true;
            }
            // otherwise a stray datagram, not from the device asked
        }
        if (deadline.hasExpired())
            return failUdp(QStringLiteral("No reply within %1 ms").arg(m_timeouts.udpWaitMs));
    }
}

bool FrameExchange::rejectReply(const QString& why)
{
    return m_protocol == core::Transport::Tcp ? failTcp(why) : failUdp(why);
}

bool FrameExchange::ExchangeFrame()
{
    return m_protocol == core::Transport::Tcp ? ExchangeTcp() : ExchangeUdp();
}

bool FrameExchange::request(char l1, char l2, std::uint8_t parameter, QByteArray data)
{
    frameBuffer = DeviceFrame::request(l1, l2, parameter, std::move(data));
    return ExchangeFrame();
}

} // namespace quodra::comm
