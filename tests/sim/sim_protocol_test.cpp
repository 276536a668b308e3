// The simulator's replies, read byte by byte over real loopback sockets.

#include "sim_test_client.h"

#include "core/code_page.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>

using namespace quodra::sim;
using namespace simtest;

namespace {

DeviceDescription deviceAt(const char* address)
{
    DeviceDescription d;
    d.address = QString::fromLatin1(address);
    return d;
}

SimChannel channel(int k, std::uint8_t kind, double value, int refersTo = 0)
{
    SimChannel c;
    c.channel = k;
    c.kind = kind;
    c.value = value;
    c.refersTo = refersTo;
    return c;
}

QByteArray f32(float v)
{
    QByteArray out;
    quodra::comm::appendU32(out, std::bit_cast<std::uint32_t>(v));
    return out;
}

// A started fleet; the test fails at once when binding fails.
struct Running {
    explicit Running(QList<DeviceDescription> devices) : fleet(std::move(devices))
    {
        QString error;
        started = fleet.start(&error);
        EXPECT_TRUE(started) << error.toStdString();
    }
    SimFleet fleet;
    bool started = false;
};

} // namespace

TEST(SimProtocol, StatusReplyLayoutOverTcpAndUdp)
{
    const QString addr = QStringLiteral("127.0.1.10");
    Running sim({deviceAt("127.0.1.10")});
    ASSERT_TRUE(sim.started);
    struct Case {
        const char* name;
        std::function<void(DeviceDescription&)> set;
        QByteArray expected; // 23 data bytes
    };
    const QList<Case> cases = {
        {"all clear", [](DeviceDescription&) {}, QByteArray(23, '\0')},
        {"every field",
         [](DeviceDescription& d) {
             d.variant = 1;
             d.alarmsInUse = 0x0F;
             d.alarms = 0x05;
             d.channels = {channel(0, 0, 1), channel(9, 0, 2)};
             d.errors = 0x8001;
             d.valueAlarms = 0x0302;
             d.customAlarms = 0xA1B2C3D4;
         },
         bytes({0, 0, 0, 1, 0, 0x0F, 0x05, 0x01, 0x02, 0x01, 0x80, 0x02, 0x03, 0, 0, 0, 0, 0, 0, 0xD4, 0xC3,
                0xB2, 0xA1})},
        {"all bits",
         [](DeviceDescription& d) {
             d.alarmsInUse = 0xFF;
             d.alarms = 0xFF;
             d.channels.clear();
             for (int k = 0; k < 16; ++k)
                 d.channels.append(channel(k, 0, k));
             d.errors = 0xFFFF;
             d.valueAlarms = 0xFFFF;
             d.customAlarms = 0xFFFFFFFF;
         },
         bytes({0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF,
                0xFF})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim.fleet.modify(addr, [&](DeviceDescription& d) {
            d = deviceAt("127.0.1.10");
            c.set(d);
        });
        TcpClient tcp;
        ASSERT_TRUE(tcp.connect(addr));
        const QByteArray reply = tcp.exchange(request("GS"));
        ASSERT_EQ(reply.size(), 6 + 23);
        EXPECT_EQ(reply.left(6), bytes({'#', 'G', 'S', 0, 23, 0}));
        EXPECT_EQ(dataOf(reply), c.expected);

        UdpClient udp;
        const auto datagram = udp.exchange(addr, request("GS"));
        ASSERT_TRUE(datagram);
        EXPECT_EQ(datagram->data, reply);
    }
}

TEST(SimProtocol, ValuesReplyEntriesWithPowerDurationAndReference)
{
    const QString addr = QStringLiteral("127.0.1.11");
    DeviceDescription d = deviceAt("127.0.1.11");
    // Listed out of order: the reply is in channel order.
    d.channels = {channel(5, 8, 93784), // 1 d 2 h 3 min 4 s
                  channel(0, 0, 21.5), channel(2, 4, -3.25),
                  channel(7, 6, 3723, 5),  // refers to the duration channel 5: sent as a duration
                  channel(9, 7, 1.5, 0)};  // refers to a plain channel: a number
    Running sim({d});
    ASSERT_TRUE(sim.started);
    TcpClient tcp;
    ASSERT_TRUE(tcp.connect(addr));
    const QByteArray reply = tcp.exchange(request("GV"));
    const QByteArray expected = bytes({0, 0}) + f32(21.5f) + bytes({2, 4}) + f32(-3.25f) + bytes({5, 8, 4, 3, 2, 1})
                                + bytes({7, 6, 3, 2, 1, 0}) + bytes({9, 7}) + f32(1.5f);
    EXPECT_EQ(reply.left(6), bytes({'#', 'G', 'V', 0, 30, 0}));
    EXPECT_EQ(dataOf(reply), expected);

    // The reference register of a kind-6 channel names the channel it refers to.
    const QByteArray ref = tcp.exchange(registerRequest(412 + 7 * 7, 1));
    EXPECT_EQ(dataOf(ref), bytes({5}));

    // A value set on command is sent at once; a long duration keeps its day count.
    sim.fleet.setValue(addr, 0, 100.0);
    sim.fleet.setValue(addr, 5, 200 * 86400.0 + 59);
    const QByteArray after = dataOf(tcp.exchange(request("GV")));
    EXPECT_EQ(after.mid(2, 4), f32(100.0f));
    EXPECT_EQ(after.mid(14, 4), bytes({59, 0, 0, 200}));
    EXPECT_FALSE(sim.fleet.setValue(addr, 1, 3.0)); // no channel 1
}

TEST(SimProtocol, RegisterTextsAtTheirAddressesInWindows1250)
{
    const QString addr = QStringLiteral("127.0.1.12");
    DeviceDescription d = deviceAt("127.0.1.12");
    d.type = QStringLiteral("Quodra IO8");
    d.description = QStringLiteral("Kotelna č. 2 - řídicí jednotka kotle"); // longer than 26 bytes
    d.alarmOffTexts[0] = QStringLiteral("Dveře zavřené");
    d.alarmOffTexts[7] = QStringLiteral("Klid");
    d.alarmOnTexts[3] = QStringLiteral("Výpadek napájení");
    d.channels = {channel(0, 0, 1), channel(15, 0, 2)};
    d.channels[0].name = QStringLiteral("Teplota vody");
    d.channels[0].unit = QStringLiteral("°C");
    d.channels[1].name = QStringLiteral("Tlak v systému ústředního top.");
    d.channels[1].unit = QStringLiteral("kPa");
    d.outputs[0] = {true, 1, false, QStringLiteral("Čerpadlo")};
    d.outputs[5] = {true, 2, true, QStringLiteral("Hořák")};
    d.customAlarmsInUse = 0x0005;
    d.customAlarmNames[0] = QStringLiteral("Přetlak");
    d.customAlarmNames[2] = QStringLiteral("Únik plynu");
    Running sim({d});
    ASSERT_TRUE(sim.started);

    const auto cp = [](const char* utf8) { return quodra::core::toCp1250(QString::fromUtf8(utf8)); };
    const auto padded = [](QByteArray b, int n) { return b.leftJustified(n, '\0', true); };
    struct Case {
        const char* name;
        int address;
        int count;
        QByteArray expected;
    };
    const QList<Case> cases = {
        {"typ", 91, 16, padded("Quodra IO8", 16)},
        {"popis cut to 26 bytes, no zero", 526, 26, cp("Kotelna č. 2 - řídicí jedn")},
        {"alarm off 0", 626, 30, padded(cp("Dveře zavřené"), 30)},
        {"alarm off 7", 626 + 30 * 7, 30, padded("Klid", 30)},
        {"alarm on 3", 866 + 30 * 3, 30, padded(cp("Výpadek napájení"), 30)},
        {"alarm on 0 empty", 866, 30, QByteArray(30, '\0')},
        {"value 0 name and unit", 1106, 30, padded(cp("Teplota vody"), 25) + padded(cp("°C"), 5)},
        {"value 15 name cut to 25", 1106 + 30 * 15, 30, cp("Tlak v systému ústředního") + padded("kPa", 5)},
        {"output names", 2026, 90,
         padded(cp("Čerpadlo"), 15) + QByteArray(60, '\0') + padded(cp("Hořák"), 15)},
        {"custom alarm mask", 2501, 2, bytes({0x05, 0x00})},
    };
    TcpClient tcp;
    ASSERT_TRUE(tcp.connect(addr));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray reply = tcp.exchange(registerRequest(c.address, c.count));
        EXPECT_EQ(quodra::comm::readU16(reply, 4), c.count);
        EXPECT_EQ(dataOf(reply), c.expected);
    }
    // Explicit bytes of one text, so the code page itself is pinned: "Čerpadlo" starts with 0xC8.
    EXPECT_EQ(dataOf(tcp.exchange(registerRequest(2026, 1))), bytes({0xC8}));

    // The custom-alarm name table points at the names.
    const QByteArray table = dataOf(tcp.exchange(registerRequest(2781, 80)));
    ASSERT_EQ(table.size(), 80);
    for (int k : {0, 2}) {
        SCOPED_TRACE(k);
        const int address = *quodra::comm::readU16(table, 5 * k);
        const int count = std::uint8_t(table[5 * k + 3]);
        ASSERT_GE(count, 40); // room for 39 characters
        const QByteArray name = dataOf(tcp.exchange(registerRequest(address, count)));
        EXPECT_EQ(quodra::core::fromCp1250(name.left(name.indexOf('\0'))), d.customAlarmNames[size_t(k)]);
    }
    // Beyond the area: zeros, still the count asked for.
    EXPECT_EQ(dataOf(tcp.exchange(registerRequest(65500, 10))), QByteArray(10, '\0'));
}

TEST(SimProtocol, OutputsReplyListsPresentOutputsOnly)
{
    const QString addr = QStringLiteral("127.0.1.13");
    DeviceDescription d = deviceAt("127.0.1.13");
    d.outputs[0] = {true, 1, true, {}};
    d.outputs[3] = {true, 7, false, {}};
    Running sim({d});
    ASSERT_TRUE(sim.started);
    TcpClient tcp;
    ASSERT_TRUE(tcp.connect(addr));
    EXPECT_EQ(tcp.exchange(request("GR")), bytes({'#', 'G', 'R', 0, 8, 0, 2, 0, 0, 1, 1, 3, 7, 0}));
    sim.fleet.setOutput(addr, 3, true);
    EXPECT_EQ(dataOf(tcp.exchange(request("GR"))).mid(2), bytes({0, 1, 1, 3, 7, 1}));

    UdpClient udp;
    const auto datagram = udp.exchange(addr, request("GR"));
    ASSERT_TRUE(datagram);
    EXPECT_EQ(dataOf(datagram->data).mid(2), bytes({0, 1, 1, 3, 7, 1}));
}

TEST(SimProtocol, LoginAndSwitchingNeedAnAcceptedLoginOnTheSameConnection)
{
    const QString addr = QStringLiteral("127.0.1.14");
    DeviceDescription d = deviceAt("127.0.1.14");
    d.loginUser = QStringLiteral("admin");
    d.loginPassword = QStringLiteral("heslo");
    d.outputs[0] = {true, 1, false, {}};
    d.outputs[2] = {true, 1, true, {}};
    Running sim({d});
    ASSERT_TRUE(sim.started);
    const auto outputOn = [&](int k) { return sim.fleet.device(addr)->outputs[size_t(k)].on; };

    struct LoginCase {
        const char* name;
        QByteArray user;
        QByteArray password;
        int parameter;
    };
    const QList<LoginCase> logins = {
        {"match", "admin", "heslo", 1},
        {"wrong password", "admin", "heslo2", 0},
        {"wrong user", "Admin", "heslo", 0},
        {"empty", "", "", 0},
        {"password too short", "admin", "hesl", 0},
    };
    for (const LoginCase& c : logins) {
        SCOPED_TRACE(c.name);
        TcpClient tcp;
        ASSERT_TRUE(tcp.connect(addr));
        const QByteArray reply = tcp.exchange(loginRequest(c.user, c.password));
        EXPECT_EQ(reply, bytes({'#', 'I', 'A', c.parameter, 0, 0}));
        // A switch on this connection is applied only after the accepted login.
        EXPECT_EQ(tcp.exchange(request("R1", 0)), bytes({'#', 'R', '1', 0, 0, 0}));
        EXPECT_EQ(outputOn(0), c.parameter == 1);
        sim.fleet.setOutput(addr, 0, false);
    }

    // Switch off output 2 after login; then a new connection without login changes nothing.
    {
        TcpClient tcp;
        ASSERT_TRUE(tcp.connect(addr));
        tcp.exchange(loginRequest("admin", "heslo"));
        EXPECT_EQ(tcp.exchange(request("R0", 2)), bytes({'#', 'R', '0', 2, 0, 0}));
        EXPECT_FALSE(outputOn(2));
        tcp.exchange(request("R1", 1)); // absent output: not applied
        tcp.exchange(request("R1", 9)); // no such output
    }
    {
        TcpClient tcp;
        ASSERT_TRUE(tcp.connect(addr));
        tcp.exchange(request("R1", 2));
        EXPECT_FALSE(outputOn(2));
    }
    UdpClient udp;
    ASSERT_TRUE(udp.exchange(addr, loginRequest("admin", "heslo")));
    ASSERT_TRUE(udp.exchange(addr, request("R1", 2)));
    EXPECT_FALSE(outputOn(2)); // never over UDP

    const SimReceived got = sim.fleet.received(addr);
    ASSERT_EQ(got.logins.size(), 7);
    EXPECT_EQ(got.logins[0].user, QStringLiteral("admin"));
    EXPECT_EQ(got.logins[0].password, QStringLiteral("heslo"));
    EXPECT_TRUE(got.logins[0].accepted);
    EXPECT_FALSE(got.logins[1].accepted);
    const QList<std::tuple<int, bool, bool>> switches = {{0, true, true},  {0, true, false}, {0, true, false},
                                                         {0, true, false}, {0, true, false}, {2, false, true},
                                                         {1, true, false}, {9, true, false}, {2, true, false},
                                                         {2, true, false}};
    ASSERT_EQ(got.switches.size(), switches.size());
    for (qsizetype i = 0; i < switches.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got.switches[i].output, std::get<0>(switches[i]));
        EXPECT_EQ(got.switches[i].on, std::get<1>(switches[i]));
        EXPECT_EQ(got.switches[i].applied, std::get<2>(switches[i]));
    }
    EXPECT_EQ(got.count("IA"), 7);
    EXPECT_EQ(got.count("IA", 1), 1);
    EXPECT_EQ(got.tcpConnections, 7);
}

TEST(SimProtocol, UdpRepliesComeFromTheDeviceAndFitOneHundredBytes)
{
    const QString addr = QStringLiteral("127.0.1.15");
    DeviceDescription d = deviceAt("127.0.1.15");
    for (int k = 0; k < 16; ++k)
        d.channels.append(channel(k, 0, k));
    Running sim({d, deviceAt("127.0.1.16")});
    ASSERT_TRUE(sim.started);
    UdpClient udp;
    struct Case {
        const char* name;
        QByteArray request;
        int dataSize; // after truncation to whole entries
    };
    const QList<Case> cases = {
        {"status", request("GS"), 23},
        {"16 values keep 15 whole entries", request("GV"), 90},
        {"register read keeps 94 bytes", registerRequest(1106, 200), 94},
        {"short register read", registerRequest(91, 16), 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto datagram = udp.exchange(addr, c.request);
        ASSERT_TRUE(datagram);
        EXPECT_EQ(datagram->from, QHostAddress(addr));
        EXPECT_EQ(datagram->fromPort, kUdpPort);
        EXPECT_LE(datagram->data.size(), 100);
        EXPECT_EQ(datagram->data.size(), 6 + c.dataSize);
        EXPECT_EQ(quodra::comm::readU16(datagram->data, 4), c.dataSize);
    }
    // The same values over TCP: all 16 entries.
    TcpClient tcp;
    ASSERT_TRUE(tcp.connect(addr));
    EXPECT_EQ(dataOf(tcp.exchange(request("GV"))).size(), 96);
    // The neighbour answers from its own address.
    const auto other = udp.exchange(QStringLiteral("127.0.1.16"), request("GS"));
    ASSERT_TRUE(other);
    EXPECT_EQ(other->from, QHostAddress(QStringLiteral("127.0.1.16")));
    EXPECT_EQ(sim.fleet.received(addr).count("GV", 1), 1);
    EXPECT_EQ(sim.fleet.received(addr).count("GV", 0), 1);
    EXPECT_EQ(sim.fleet.received(addr).registerReads(), (QList<int>{1106, 91}));
}

TEST(SimProtocol, UnknownCommandGetsAnEmptyReplyAndOversizedRequestDropsTheConnection)
{
    const QString addr = QStringLiteral("127.0.1.17");
    Running sim({deviceAt("127.0.1.17")});
    ASSERT_TRUE(sim.started);
    TcpClient tcp;
    ASSERT_TRUE(tcp.connect(addr));
    EXPECT_EQ(tcp.exchange(request("ZZ", 3)), bytes({'#', 'Z', 'Z', 0, 0, 0}));
    // A request split over two writes is still one request.
    const QByteArray gs = request("GS");
    tcp.send(gs.left(4));
    tcp.send(gs.mid(4));
    EXPECT_EQ(tcp.read(6 + 23).size(), 6 + 23);
    tcp.send(bytes({'#', 'G', 'S', 0, 0xD0, 0x07})); // announces 2000 bytes
    EXPECT_TRUE(tcp.waitClosed());
}
