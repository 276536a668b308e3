// Every misbehaviour of a simulated device, as a client sees it.

#include "sim_test_client.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace quodra::sim;
using namespace simtest;

namespace {

DeviceDescription deviceAt(const QString& address)
{
    DeviceDescription d;
    d.address = address;
    return d;
}

} // namespace

TEST(SimMisbehaviour, TcpCasesAsTheClientSeesThem)
{
    const QString addr = QStringLiteral("127.0.1.20");
    SimFleet fleet({deviceAt(addr)});
    QString error;
    ASSERT_TRUE(fleet.start(&error)) << error.toStdString();

    struct Case {
        const char* name;
        Misbehaviour mode;
        int delayMs;
        bool connects;
        QByteArray received; // bytes the client gets for a G S request
        bool closed;         // the device closes the connection
    };
    const QByteArray status = request("GS").left(3) + bytes({0, 23, 0}) + QByteArray(23, '\0');
    const QList<Case> cases = {
        {"none", Misbehaviour::None, 0, true, status, false},
        {"refuse", Misbehaviour::Refuse, 0, false, {}, true},
        {"silent", Misbehaviour::Silent, 0, true, {}, false},
        {"slow", Misbehaviour::Slow, 400, true, status, false},
        {"close mid-frame", Misbehaviour::CloseMidFrame, 0, true, bytes({'#', 'G', 'S'}), true},
        {"oversized", Misbehaviour::Oversized, 0, true, bytes({'#', 'G', 'S', 0, 0xD0, 0x07}) + QByteArray(2000, '\0'),
         false},
        {"garbage", Misbehaviour::Garbage, 0, true, bytes({'#', 'G', 'S', 0, 50, 0}) + QByteArray(5, '\x55'), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(fleet.setMisbehaviour(addr, c.mode, c.delayMs));
        fleet.clearReceived(addr);
        TcpClient tcp;
        ASSERT_EQ(tcp.connect(addr), c.connects);
        if (!c.connects) {
            EXPECT_EQ(tcp.error(), QAbstractSocket::ConnectionRefusedError);
            EXPECT_EQ(fleet.received(addr).tcpConnections, 0);
            continue;
        }
        tcp.send(request("GS"));
        QElapsedTimer clock;
        clock.start();
        // Read everything that comes within a short wait after the expected bytes.
        QByteArray got = tcp.read(c.received.size() + 1, c.delayMs + 600);
        if (c.mode == Misbehaviour::Slow) {
            EXPECT_GE(clock.elapsed(), c.delayMs - 50);
        }
        EXPECT_EQ(got, c.received);
        EXPECT_EQ(tcp.waitClosed(200), c.closed);
        EXPECT_EQ(fleet.received(addr).count("GS", 0), 1);
    }
    // Back to normal: the listener is open again.
    ASSERT_TRUE(fleet.setMisbehaviour(addr, Misbehaviour::None));
    TcpClient tcp;
    ASSERT_TRUE(tcp.connect(addr));
    EXPECT_EQ(tcp.exchange(request("GS")), status);
}

TEST(SimMisbehaviour, RefuseDropsOpenConnections)
{
    const QString addr = QStringLiteral("127.0.1.23");
    SimFleet fleet({deviceAt(addr)});
    ASSERT_TRUE(fleet.start());
    TcpClient tcp;
    ASSERT_TRUE(tcp.connect(addr));
    fleet.setMisbehaviour(addr, Misbehaviour::Refuse);
    EXPECT_TRUE(tcp.waitClosed());
}

TEST(SimMisbehaviour, UdpCasesAsTheClientSeesThem)
{
    const QString addr = QStringLiteral("127.0.1.21");
    SimFleet fleet({deviceAt(addr)});
    ASSERT_TRUE(fleet.start());
    struct Case {
        const char* name;
        Misbehaviour mode;
        int delayMs;
        std::optional<int> size;       // datagram size, nullopt: none comes
        std::optional<int> announced;  // header length field
    };
    const QList<Case> cases = {
        {"none", Misbehaviour::None, 0, 29, 23},
        {"refuse", Misbehaviour::Refuse, 0, std::nullopt, std::nullopt},
        {"silent", Misbehaviour::Silent, 0, std::nullopt, std::nullopt},
        {"slow", Misbehaviour::Slow, 300, 29, 23},
        {"close mid-frame", Misbehaviour::CloseMidFrame, 0, 3, std::nullopt},
        {"oversized", Misbehaviour::Oversized, 0, 100, 2000},
        {"garbage", Misbehaviour::Garbage, 0, 150, 150},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(fleet.setMisbehaviour(addr, c.mode, c.delayMs));
        fleet.clearReceived(addr);
        UdpClient udp;
        QElapsedTimer clock;
        clock.start();
        const auto datagram = udp.exchange(addr, request("GS"), c.delayMs + 400);
        ASSERT_EQ(datagram.has_value(), c.size.has_value());
        if (c.mode == Misbehaviour::Slow) {
            EXPECT_GE(clock.elapsed(), c.delayMs - 50);
        }
        if (datagram) {
            EXPECT_EQ(datagram->data.size(), *c.size);
            EXPECT_EQ(datagram->from, QHostAddress(addr));
            if (c.announced) {
                EXPECT_EQ(quodra::comm::readU16(datagram->data, 4), *c.announced);
            }
        }
        // A refusing device is off: it does not even read.
        EXPECT_EQ(fleet.received(addr).count("GS", 1), c.mode == Misbehaviour::Refuse ? 0 : 1);
    }
}

TEST(SimMisbehaviour, OnlyTheNamedCommandMisbehaves)
{
    const QString addr = QStringLiteral("127.0.1.22");
    SimFleet fleet({deviceAt(addr)});
    ASSERT_TRUE(fleet.start());
    ASSERT_TRUE(fleet.setMisbehaviour(addr, Misbehaviour::Garbage, 0, "GV"));
    TcpClient tcp;
    ASSERT_TRUE(tcp.connect(addr));
    EXPECT_EQ(tcp.exchange(request("GS")).size(), 29);
    EXPECT_EQ(tcp.exchange(request("GV"), 500), bytes({'#', 'G', 'V', 0, 50, 0}) + QByteArray(5, '\x55'));
    EXPECT_TRUE(tcp.waitClosed());
    EXPECT_FALSE(fleet.setMisbehaviour(QStringLiteral("127.0.1.99"), Misbehaviour::Silent));
}
