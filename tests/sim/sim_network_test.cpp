// The fleet's sockets under what clients do besides one request and one reply: several requests
// in one write, a half-closed connection, replies the client does not read for a while, a
// connection gone before its slow reply, and a stop and a new start on the same addresses.

#include "sim_test_client.h"

#include <QTcpServer>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace quodra::sim;
using namespace simtest;

namespace {

// A blocking POSIX connection, for what QTcpSocket cannot do (half-close, a small receive buffer).
class RawConnection {
public:
    explicit RawConnection(const char* address, int receiveBuffer = 0)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        timeval limit{3, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(kDefaultTcpPort);
        ::inet_pton(AF_INET, address, &a.sin_addr);
        m_connected = ::connect(m_fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    }
    ~RawConnection() { ::close(m_fd); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool connected() const { return m_connected; }
    bool send(const QByteArray& bytes)
    {
        return ::send(m_fd, bytes.constData(), size_t(bytes.size()), 0) == bytes.size();
    }
    void shutdownWrite() { ::shutdown(m_fd, SHUT_WR); }

    // Everything until the peer closes (or nothing comes for 3 s); *closed tells which.
    QByteArray readToEnd(bool* closed)
    {
        QByteArray out;
        char buffer[8192];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                *closed = n == 0;
                return out;
            }
            out.append(buffer, n);
        }
    }

    // Exactly n bytes, or fewer when the connection ends or stalls.
    QByteArray read(qsizetype n)
    {
        QByteArray out(n, '\0');
        qsizetype got = 0;
        while (got < n) {
            const ssize_t r = ::recv(m_fd, out.data() + got, size_t(n - got), 0);
            if (r <= 0)
                break;
            got += r;
        }
        out.truncate(got);
        return out;
    }

private:
    int m_fd = -1;
    bool m_connected = false;
};

// The two letters of each frame in a stream of reply frames (any announced length, oversized
// ones too); "??" for a cut frame at the end.
QList<QByteArray> frameLetters(const QByteArray& stream)
{
    QList<QByteArray> out;
    qsizetype at = 0;
    while (at < stream.size()) {
        const auto length = quodra::comm::readU16(stream, int(at) + 4);
        const qsizetype next = at + quodra::comm::kFrameHeaderSize + length.value_or(0);
        if (!length || next > stream.size()) {
            out.append("??");
            break;
        }
        out.append(stream.mid(at + 1, 2));
        at = next;
    }
    return out;
}

DeviceDescription deviceAt(const char* address)
{
    DeviceDescription d;
    d.address = QString::fromLatin1(address);
    d.channels = {SimChannel{}, SimChannel{}};
    d.channels[1].channel = 1;
    d.outputs[1] = {true, 1, true, QStringLiteral("Out")};
    return d;
}

} // namespace

TEST(SimNetwork, RequestsInOneWriteAreAnsweredInOrderAndAHalfCloseStillGetsTheReplies)
{
    const char* addr = "127.0.1.50";
    SimFleet fleet({deviceAt(addr)});
    QString error;
    ASSERT_TRUE(fleet.start(&error)) << error.toStdString();
    RawConnection c(addr);
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.send(request("GS") + request("GR") + request("GV") + request("GS")));
    c.shutdownWrite();
    bool closed = false;
    const QByteArray stream = c.readToEnd(&closed);
    EXPECT_EQ(frameLetters(stream), (QList<QByteArray>{"GS", "GR", "GV", "GS"}));
    EXPECT_EQ(stream.size(), 29 + (6 + 2 + 3) + (6 + 12) + 29);
    EXPECT_TRUE(closed) << "the device closes once the replies are out";
    EXPECT_EQ(fleet.received(QString::fromLatin1(addr)).requests.size(), 4);
}

TEST(SimNetwork, RepliesTheClientDoesNotReadYetArriveWholeAndInOrder)
{
    // 2006-byte replies to 5000 requests (10 MB, more than socket buffers take) and a small
    // receive window on the client: the device must keep what its socket does not take and send
    // it as the client reads.
    const char* addr = "127.0.1.51";
    SimFleet fleet({deviceAt(addr)});
    ASSERT_TRUE(fleet.start());
    ASSERT_TRUE(fleet.setMisbehaviour(QString::fromLatin1(addr), Misbehaviour::Oversized));
    RawConnection c(addr, 4096);
    ASSERT_TRUE(c.connected());
    const QList<QByteArray> cycle = {"GS", "GV", "GR"};
    constexpr int kRequests = 5000;
    QByteArray requests;
    for (int i = 0; i < kRequests; ++i)
        requests += request(cycle[i % 3].constData());
    ASSERT_TRUE(c.send(requests));
    QThread::msleep(100); // the device answers everything while nobody reads
    const QByteArray stream = c.read(qsizetype(kRequests) * 2006);
    ASSERT_EQ(stream.size(), kRequests * 2006);
    const QList<QByteArray> letters = frameLetters(stream);
    ASSERT_EQ(letters.size(), kRequests);
    for (int i = 0; i < kRequests; ++i)
        ASSERT_EQ(letters[i], cycle[i % 3]) << "reply " << i;
    // The connection is still in use.
    ASSERT_TRUE(fleet.setMisbehaviour(QString::fromLatin1(addr), Misbehaviour::None));
    ASSERT_TRUE(c.send(request("GS")));
    EXPECT_EQ(c.read(29).size(), 29);
}

TEST(SimNetwork, SlowReplyToAConnectionGoneMeanwhileIsDroppedAndTheDeviceGoesOn)
{
    const QString addr = QStringLiteral("127.0.1.52");
    SimFleet fleet({deviceAt("127.0.1.52")});
    ASSERT_TRUE(fleet.start());
    ASSERT_TRUE(fleet.setMisbehaviour(addr, Misbehaviour::Slow, 150));
    {
        TcpClient gone;
        ASSERT_TRUE(gone.connect(addr));
        gone.send(request("GS"));
        for (int i = 0; i < 100 && fleet.received(addr).requests.isEmpty(); ++i)
            QThread::msleep(5);
    } // closed before the reply is due
    QThread::msleep(250);
    TcpClient next;
    ASSERT_TRUE(next.connect(addr));
    EXPECT_EQ(next.exchange(request("GS")).size(), 29);
    EXPECT_EQ(fleet.received(addr).count("GS", 0), 2);
    EXPECT_EQ(fleet.received(addr).tcpConnections, 2);
}

TEST(SimNetwork, StopReleasesEverySocketAndAStartBindsAgain)
{
    const QString addr = QStringLiteral("127.0.1.53");
    SimFleet fleet({deviceAt("127.0.1.53")});
    ASSERT_TRUE(fleet.start());
    TcpClient open;
    ASSERT_TRUE(open.connect(addr));
    fleet.stop();
    EXPECT_FALSE(fleet.isRunning());
    EXPECT_TRUE(open.waitClosed()) << "open connections end with the fleet";
    {
        QTcpServer tcp;
        EXPECT_TRUE(tcp.listen(QHostAddress(addr), kDefaultTcpPort)) << tcp.errorString().toStdString();
        QUdpSocket udp;
        EXPECT_TRUE(udp.bind(QHostAddress(addr), kUdpPort)) << udp.errorString().toStdString();
    }

    // A misbehaviour set while stopped is in effect from the start on.
    ASSERT_TRUE(fleet.setMisbehaviour(addr, Misbehaviour::Refuse));
    QString error;
    ASSERT_TRUE(fleet.start(&error)) << error.toStdString();
    TcpClient refused;
    EXPECT_FALSE(refused.connect(addr));
    EXPECT_FALSE(UdpClient().exchange(addr, request("GS"), 200).has_value());
    ASSERT_TRUE(fleet.setMisbehaviour(addr, Misbehaviour::None));
    TcpClient again;
    ASSERT_TRUE(again.connect(addr));
    EXPECT_EQ(again.exchange(request("GS")).size(), 29);
    const auto datagram = UdpClient().exchange(addr, request("GS"));
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(datagram->data.size(), 29);
}

TEST(SimNetwork, AddressThatIsNotAnIpv4AddressIsAClearStartError)
{
    DeviceDescription d;
    d.address = QStringLiteral("127.0.1");
    SimFleet fleet({d});
    QString error;
    EXPECT_FALSE(fleet.start(&error));
    EXPECT_FALSE(fleet.isRunning());
    EXPECT_EQ(error, QStringLiteral("127.0.1 TCP 9760: not an IPv4 address"));
}

TEST(SimNetwork, ALongRunKeepsOnlyTheMostRecentRequests)
{
    const char* addr = "127.0.1.54";
    SimFleet fleet({deviceAt(addr)});
    QString error;
    ASSERT_TRUE(fleet.start(&error)) << error.toStdString();
    RawConnection c(addr);
    ASSERT_TRUE(c.connected());
    const int total = SimReceived::kKeptRequests + 1000;
    QByteArray many;
    for (int i = 0; i < total - 1; ++i)
        many += request("GS");
    many += request("GR"); // the last one sent
    ASSERT_TRUE(c.send(many));
    c.shutdownWrite();
    bool closed = false;
    const QByteArray stream = c.readToEnd(&closed);
    const QList<QByteArray> replies = frameLetters(stream);
    ASSERT_EQ(replies.size(), total);
    EXPECT_EQ(replies.last(), QByteArray("GR"));
    const SimReceived got = fleet.received(QString::fromLatin1(addr));
    EXPECT_LT(got.requests.size(), SimReceived::kKeptRequests);
    EXPECT_GT(got.requests.size(), SimReceived::kKeptRequests / 4);
    EXPECT_EQ(got.requests.last().command, QByteArray("GR"));
}
