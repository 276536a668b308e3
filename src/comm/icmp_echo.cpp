#include "comm/icmp_echo.h"

#include <QDeadlineTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

namespace quodra::comm {

namespace {

constexpr int kEchoRequest = 8;
constexpr int kEchoReply = 0;
constexpr int kPayloadSize = 32;

std::atomic<quint16> g_sequence{0};

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

quint16 readBe16(const unsigned char* p)
{
    return quint16((p[0] << 8) | p[1]);
}

} // namespace

quint16 icmpChecksum(const unsigned char* bytes, int size)
{
    quint32 sum = 0;
    int i = 0;
    for (; i + 1 < size; i += 2)
        sum += quint32((bytes[i] << 8) | bytes[i + 1]);
    if (i < size)
        sum += quint32(bytes[i] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return quint16(~sum & 0xFFFF);
}

EchoOutcome icmpEcho(const QString& address, int timeoutMs)
{
    EchoOutcome outcome;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    if (::inet_pton(AF_INET, address.toLatin1().constData(), &target.sin_addr) != 1)
        return outcome; // not a dotted IPv4 address: no reply can ever match it

    bool raw = false;
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    const int datagramErrno = errno;
    if (fd < 0) {
        fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        raw = true;
    }
    if (fd < 0) {
        outcome.result = EchoResult::NotPermitted;
        outcome.error = QStringLiteral("ICMP datagram socket: %1; raw socket: %2")
                            .arg(QString::fromLocal8Bit(std::strerror(datagramErrno)),
                                 QString::fromLocal8Bit(std::strerror(errno)));
        return outcome;
    }
    const Fd socket(fd);

    const quint16 sequence = ++g_sequence;
    quint16 identifier = quint16(::getpid() & 0xFFFF);
    unsigned char packet[8 + kPayloadSize] = {};
    packet[0] = kEchoRequest;
    packet[1] = 0;
    packet[4] = quint8(identifier >> 8);
    packet[5] = quint8(identifier & 0xFF);
    packet[6] = quint8(sequence >> 8);
    packet[7] = quint8(sequence & 0xFF);
    for (int i = 0; i < kPayloadSize; ++i)
        packet[8 + i] = quint8('a' + i % 26);
    const quint16 sum = icmpChecksum(packet, int(sizeof packet));
    packet[2] = quint8(sum >> 8);
    packet[3] = quint8(sum & 0xFF);

    if (::sendto(fd, packet, sizeof packet, 0, reinterpret_cast<const sockaddr*>(&target), sizeof target) < 0)
        return outcome;
    if (!raw) {
        // The kernel puts the socket's own number into the identifier of a datagram echo.
        sockaddr_in local{};
        socklen_t len = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) == 0)
            identifier = ntohs(local.sin_port);
    }

    const QDeadlineTimer deadline(timeoutMs);
    unsigned char buffer[2048];
    for (;;) {
        const int wait = int(qMax<qint64>(0, deadline.remainingTime()));
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, wait);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return outcome;
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t got =
            ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (got <= 0)
            continue;
        const unsigned char* icmp = buffer;
        ssize_t icmpSize = got;
        if (raw) { // a raw socket hands over the IP header too
            const int headerSize = (buffer[0] & 0x0F) * 4;
            if (headerSize < 20 || got < headerSize)
                continue;
            icmp += headerSize;
            icmpSize -= headerSize;
        }
        if (icmpSize < 8 || icmp[0] != kEchoReply || icmp[1] != 0)
            continue;
        if (readBe16(icmp + 6) != sequence || (raw && readBe16(icmp + 4) != identifier))
            continue;
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        if (QLatin1String(text) == address)
            outcome.result = EchoResult::Reply;
        return outcome; // our echo answered from another address counts as no reply
    }
}

} // namespace quodra::comm
