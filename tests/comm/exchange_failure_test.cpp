// Every way a device can misbehave ends in a failed exchange within its time-out, and a device
// that fails counts as unreachable: logged once, never green, back with state-log code 4.

#include "comm_fixture.h"

#include <QDeadlineTimer>
#include <QThread>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fcntl.h>
#include <functional>
#include <thread>

using namespace quodra;
using quodra::test::CommTest;
using quodra::test::richDevice;

namespace {

struct MisbehaviourCase {
    const char* name;
    sim::Misbehaviour misbehaviour;
    core::Transport transport;
    QString address;
    bool errorEvent; // the TCP exchange itself writes "<ERROR> <"
};

class Misbehaving : public CommTest, public ::testing::WithParamInterface<MisbehaviourCase> {};

constexpr int kShortMs = 400;

} // namespace

TEST_P(Misbehaving, CountsAsUnreachableOnceAndComesBack)
{
    const MisbehaviourCase& mc = GetParam();
    startFleet({richDevice(mc.address)});
    shortTimeouts(kShortMs);
    options.setProtocol(mc.transport);
    const quint8 n = addDevice(mc.address, 0, true);
    const core::DeviceId id = table.idOf(n);
    link.QueryStatus(n, false);
    ASSERT_EQ(table.stav(n).commState, core::CommAnswered);
    ASSERT_EQ(table.stav(n).alarms, 5);
    const int eventsBefore = eventLines().size();

    fleet->setMisbehaviour(mc.address, mc.misbehaviour, 3 * kShortMs);
    QElapsedTimer clock;
    clock.start();
    link.QueryStatus(n, false);
    EXPECT_LT(clock.elapsed(), 3 * kShortMs) << "no hang";
    link.QueryStatus(n, false); // a second failed pass logs nothing more

    core::Tstav s = table.stav(n);
    EXPECT_EQ(s.commState, core::CommFailedNew);
    EXPECT_EQ(s.alarms, 0);
    EXPECT_EQ(s.alarmsChanged, 0);
    const QStringList lines = eventLines().mid(eventsBefore);
    EXPECT_EQ(lines.filter(QStringLiteral("<STATUS> <C_ERR> = 1")).size(), 1)
        << lines.join(QLatin1Char('\n')).toStdString();
    const QStringList errors = lines.filter(QStringLiteral("<ERROR> <"));
    EXPECT_EQ(errors.size(), mc.errorEvent ? 2 : 0) << lines.join(QLatin1Char('\n')).toStdString();
    for (const QString& e : errors)
        EXPECT_TRUE(e.contains(mc.address + QStringLiteral(" <ERROR> <"))) << e.toStdString();
    auto records = stateLog(n);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].code, logs::slCommFail);
    EXPECT_EQ(records[1].alarms, 0);

    // Interactive: shown as failed (red), never green.
    observer.marks.clear();
    link.QueryStatus(n, true);
    EXPECT_EQ(table.stav(n).commState, core::CommFailed);
    ASSERT_FALSE(observer.marks.empty());
    EXPECT_EQ(observer.marks.back(), std::make_pair(id, comm::GridMark::Failed));
    for (const auto& m : observer.marks)
        EXPECT_NE(m.second, comm::GridMark::Answered);
    EXPECT_EQ(stateLog(n).size(), 2u);

    // Back: state-log code 4 even though the bits are the ones last known before the failure.
    fleet->setMisbehaviour(mc.address, sim::Misbehaviour::None);
    link.QueryStatus(n, false);
    s = table.stav(n);
    EXPECT_EQ(s.commState, core::CommAnswered);
    EXPECT_EQ(s.alarms, 5);
    records = stateLog(n);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2].code, logs::slCommBack);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, Misbehaving,
    ::testing::Values(MisbehaviourCase{"TcpRefuse", sim::Misbehaviour::Refuse, core::Transport::Tcp,
                                       QStringLiteral("127.0.4.1"), false},
                      MisbehaviourCase{"TcpSilent", sim::Misbehaviour::Silent, core::Transport::Tcp,
                                       QStringLiteral("127.0.4.2"), true},
                      MisbehaviourCase{"TcpSlow", sim::Misbehaviour::Slow, core::Transport::Tcp,
                                       QStringLiteral("127.0.4.3"), true},
                      MisbehaviourCase{"TcpCloseMidFrame", sim::Misbehaviour::CloseMidFrame,
                                       core::Transport::Tcp, QStringLiteral("127.0.4.4"), true},
                      MisbehaviourCase{"TcpOversized", sim::Misbehaviour::Oversized, core::Transport::Tcp,
                                       QStringLiteral("127.0.4.5"), true},
                      MisbehaviourCase{"TcpGarbage", sim::Misbehaviour::Garbage, core::Transport::Tcp,
                                       QStringLiteral("127.0.4.6"), true},
                      MisbehaviourCase{"UdpRefuse", sim::Misbehaviour::Refuse, core::Transport::Udp,
                                       QStringLiteral("127.0.4.7"), false},
                      MisbehaviourCase{"UdpSilent", sim::Misbehaviour::Silent, core::Transport::Udp,
                                       QStringLiteral("127.0.4.8"), false},
                      MisbehaviourCase{"UdpSlow", sim::Misbehaviour::Slow, core::Transport::Udp,
                                       QStringLiteral("127.0.4.9"), false},
                      MisbehaviourCase{"UdpCloseMidFrame", sim::Misbehaviour::CloseMidFrame,
                                       core::Transport::Udp, QStringLiteral("127.0.4.10"), false},
                      MisbehaviourCase{"UdpOversizedLength", sim::Misbehaviour::Oversized,
                                       core::Transport::Udp, QStringLiteral("127.0.4.11"), false},
                      MisbehaviourCase{"UdpOversizedDatagram", sim::Misbehaviour::Garbage,
                                       core::Transport::Udp, QStringLiteral("127.0.4.12"), false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommTest, SlowReplyWithinTheLimitIsAnAnswer)
{
    const QString address = QStringLiteral("127.0.4.13");
    startFleet({richDevice(address)});
    shortTimeouts(kShortMs);
    fleet->setMisbehaviour(address, sim::Misbehaviour::Slow, kShortMs / 4);
    const quint8 n = addDevice(address, 0, true);
    link.QueryStatus(n, false);
    EXPECT_EQ(table.stav(n).commState, core::CommAnswered);
    EXPECT_EQ(table.stav(n).alarms, 5);
}

TEST_F(CommTest, ErrorEventNamesTheDeviceBeingReadNotTheSelectedOne)
{
    const QString address = QStringLiteral("127.0.4.14");
    startFleet({richDevice(address)});
    const quint8 n = addDevice(address, 0, true);
    addDevice(QStringLiteral("127.0.4.15"), 0, true);
    table.setSelectedDevice(2);
    fleet->setMisbehaviour(address, sim::Misbehaviour::CloseMidFrame, 0, "GV");
    link.QueryStatus(n, false);
    const QStringList errors = eventsWith(QStringLiteral("<ERROR> <"));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral(" - 127.0.4.14 <ERROR> <"))) << errors[0].toStdString();
    EXPECT_FALSE(errors[0].contains(QStringLiteral("127.0.4.15")));
    EXPECT_EQ(table.stav(n).commState, core::CommFailedNew);
}

TEST_F(CommTest, ConnectFailureOfATextReadIsShownOnlyWhenInteractive)
{
    const QString address = QStringLiteral("127.0.4.16");
    startFleet({richDevice(address)});
    fleet->setMisbehaviour(address, sim::Misbehaviour::Refuse);
    const quint8 n = addDevice(address);
    link.ReadDeviceTexts(n, true);
    EXPECT_EQ(observer.errors.size(), 1);
    link.ReadDeviceTexts(n, false);
    EXPECT_EQ(observer.errors.size(), 1);
    EXPECT_EQ(observer.memo.size(), 1); // the background read leaves a memo line instead
    EXPECT_EQ(table.konfig(n).textsLoaded, 0);
}

// ---- time-outs at their real defaults ----

TEST_F(CommTest, TcpReadTimesOutAtItsDefault)
{
    const QString address = QStringLiteral("127.0.5.1");
    startFleet({richDevice(address)});
    ASSERT_EQ(link.timeouts.tcpReadMs, 5000);
    fleet->setMisbehaviour(address, sim::Misbehaviour::Silent);
    const quint8 n = addDevice(address, 0, true);
    QElapsedTimer clock;
    clock.start();
    link.QueryStatus(n, false);
    EXPECT_GE(clock.elapsed(), 4900);
    EXPECT_LT(clock.elapsed(), 7000);
    EXPECT_EQ(table.stav(n).commState, core::CommFailedNew);
    EXPECT_EQ(eventsWith(QStringLiteral("<ERROR> <Read timed out after 5000 ms>")).size(), 1);
}

TEST_F(CommTest, UdpWaitEndsAtItsDefault)
{
    const QString address = QStringLiteral("127.0.5.2");
    startFleet({richDevice(address)});
    ASSERT_EQ(link.timeouts.udpWaitMs, 5000);
    options.setProtocol(core::Transport::Udp);
    fleet->setMisbehaviour(address, sim::Misbehaviour::Silent);
    const quint8 n = addDevice(address, 0, true);
    QElapsedTimer clock;
    clock.start();
    link.QueryStatus(n, false);
    EXPECT_GE(clock.elapsed(), 4900);
    EXPECT_LT(clock.elapsed(), 7000);
    EXPECT_EQ(table.stav(n).commState, core::CommFailedNew);
    EXPECT_TRUE(eventsWith(QStringLiteral("<ERROR>")).isEmpty());
}

namespace {

// A listener whose accept queue is full: the kernel drops further connection attempts, so a
// connect to it neither succeeds nor is refused.
class FullListener {
public:
    FullListener(const char* address, quint16 port)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &a.sin_addr);
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(m_listener, 0) != 0)
            return;
        for (int i = 0; i < 3; ++i) {
            const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
            m_fillers.push_back(c);
        }
        ::usleep(100 * 1000);
        m_ok = true;
    }
    ~FullListener()
    {
        for (int c : m_fillers)
            ::close(c);
        ::close(m_listener);
    }
    bool ok() const { return m_ok; }

private:
    int m_listener = -1;
    std::vector<int> m_fillers;
    bool m_ok = false;
};

} // namespace

TEST_F(CommTest, ConnectTimesOutAtItsDefault)
{
    FullListener listener("127.0.5.3", 9760);
    ASSERT_TRUE(listener.ok());
    ASSERT_EQ(link.timeouts.connectMs, 5000);
    const quint8 n = addDevice(QStringLiteral("127.0.5.3"), 0, true);
    QElapsedTimer clock;
    clock.start();
    link.QueryStatus(n, false);
    EXPECT_GE(clock.elapsed(), 4900);
    EXPECT_LT(clock.elapsed(), 7000);
    EXPECT_EQ(table.stav(n).commState, core::CommFailedNew);
    EXPECT_EQ(eventsWith(QStringLiteral("<STATUS> <C_ERR> = 1")).size(), 1);
}

// ---- UDP replies from elsewhere ----

namespace {

// A UDP peer on address:30305 that answers each request through a script: the script gets the
// request and returns the datagrams to send, each from one of the peer's sockets.
class ScriptedUdpPeer {
public:
    struct Send {
        int from; // 0: the device's own socket, 1: another address, 2: the device's address, other port
        QByteArray datagram;
    };
    using Script = std::function<std::vector<Send>(const comm::DeviceFrame&)>;

    ScriptedUdpPeer(const QString& address, const QString& otherAddress, Script script)
    {
        m_thread = std::thread([=, this] {
            QUdpSocket own, other, otherPort;
            const bool bound = own.bind(QHostAddress(address), comm::kUdpDevicePort) &&
                               other.bind(QHostAddress(otherAddress), comm::kUdpDevicePort) &&
                               otherPort.bind(QHostAddress(address), comm::kUdpDevicePort + 1);
            m_bound = bound ? 1 : -1;
            QUdpSocket* sockets[] = {&own, &other, &otherPort};
            while (bound && !m_stop) {
                if (!own.waitForReadyRead(20))
                    continue;
                while (own.hasPendingDatagrams()) {
                    QByteArray d(int(own.pendingDatagramSize()), '\0');
                    QHostAddress sender;
                    quint16 port = 0;
                    own.readDatagram(d.data(), d.size(), &sender, &port);
                    const auto request = comm::decodeFrame(d);
                    if (!request)
                        continue;
                    for (const Send& s : script(*request)) {
                        sockets[s.from]->writeDatagram(s.datagram, sender, port);
                        QThread::msleep(20);
                    }
                }
            }
        });
        while (m_bound == 0)
            QThread::msleep(5);
    }
    ~ScriptedUdpPeer()
    {
        m_stop = true;
        m_thread.join();
    }
    bool bound() const { return m_bound == 1; }

private:
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_bound{0};
};

QByteArray statusReply(quint8 alarms, int dataBytes = 23)
{
    QByteArray data(dataBytes, '\0');
    if (dataBytes > 6)
        data[6] = char(alarms);
    comm::DeviceFrame f = comm::DeviceFrame::request('G', 'S', 0, data);
    return f.encode();
}

QByteArray emptyReply(char l1, char l2)
{
    return comm::DeviceFrame::request(l1, l2).encode();
}

} // namespace

TEST_F(CommTest, UdpRepliesFromOtherAddressesOrPortsAreDropped)
{
    const QString address = QStringLiteral("127.0.6.1");
    ScriptedUdpPeer peer(address, QStringLiteral("127.0.6.2"), [](const comm::DeviceFrame& request) {
        std::vector<ScriptedUdpPeer::Send> out;
        if (request.letter2 == 'S') {
            out.push_back({1, statusReply(0x77)}); // another device
            out.push_back({2, statusReply(0x66)}); // the device's address, another port
            out.push_back({0, statusReply(0x05)}); // the device itself
        } else {
            out.push_back({0, emptyReply(request.letter1, request.letter2)});
        }
        return out;
    });
    ASSERT_TRUE(peer.bound());
    options.setProtocol(core::Transport::Udp);
    options.setOutputsUsed(false);
    const quint8 n = addDevice(address, 0, true);
    link.QueryStatus(n, false);
    EXPECT_EQ(table.stav(n).commState, core::CommAnswered);
    EXPECT_EQ(table.stav(n).alarms, 0x05);
}

TEST_F(CommTest, OnlyStrayUdpDatagramsMeanNoReply)
{
    const QString address = QStringLiteral("127.0.6.3");
    ScriptedUdpPeer peer(address, QStringLiteral("127.0.6.4"), [](const comm::DeviceFrame&) {
        return std::vector<ScriptedUdpPeer::Send>{{1, statusReply(0x77)}, {2, statusReply(0x66)}};
    });
    ASSERT_TRUE(peer.bound());
    shortTimeouts(kShortMs);
    options.setProtocol(core::Transport::Udp);
    const quint8 n = addDevice(address, 0, true);
    QElapsedTimer clock;
    clock.start();
    link.QueryStatus(n, false);
    EXPECT_GE(clock.elapsed(), kShortMs - 20);
    EXPECT_LT(clock.elapsed(), 3 * kShortMs);
    EXPECT_EQ(table.stav(n).commState, core::CommFailedNew);
    EXPECT_EQ(table.stav(n).alarms, 0);
}

TEST_F(CommTest, StatusReplyTooShortForItsFieldsIsAFailedExchange)
{
    const QString address = QStringLiteral("127.0.6.5");
    ScriptedUdpPeer peer(address, QStringLiteral("127.0.6.6"), [](const comm::DeviceFrame& request) {
        if (request.letter2 == 'S')
            return std::vector<ScriptedUdpPeer::Send>{{0, statusReply(0x05, 8)}}; // 8 of 13 bytes
        return std::vector<ScriptedUdpPeer::Send>{{0, emptyReply(request.letter1, request.letter2)}};
    });
    ASSERT_TRUE(peer.bound());
    options.setProtocol(core::Transport::Udp);
    options.setCustomAlarmsUsed(false);
    const quint8 n = addDevice(address, 0, true);
    link.QueryStatus(n, false);
    EXPECT_EQ(table.stav(n).commState, core::CommFailedNew);
    EXPECT_EQ(table.stav(n).alarms, 0);
    EXPECT_EQ(eventsWith(QStringLiteral("<STATUS> <C_ERR> = 1")).size(), 1);
}

TEST_F(CommTest, ValuesAndOutputsOutsideTheDataModelAreIgnored)
{
    const QString address = QStringLiteral("127.0.6.7");
    ScriptedUdpPeer peer(address, QStringLiteral("127.0.6.8"), [](const comm::DeviceFrame& request) {
        QByteArray data;
        if (request.letter2 == 'S') {
            return std::vector<ScriptedUdpPeer::Send>{{0, statusReply(0x01)}};
        } else if (request.letter2 == 'V') {
            // 15 entries (under the 94 data bytes of a datagram): channel 20 is not a channel.
            for (int i = 0; i < 15; ++i) {
                const int channel = i == 1 ? 20 : i;
                data.append(char(channel));
                data.append(char(0));
                const float v = float(i) + 0.5f;
                data.append(reinterpret_cast<const char*>(&v), 4);
            }
        } else if (request.letter2 == 'R') {
            data = QByteArray("\x00\x00", 2);
            data.append(QByteArray("\x02\x01\x01", 3)); // output 2 on
            data.append(QByteArray("\x09\x01\x01", 3)); // output 9: no such output
            data.append(QByteArray("\x05\x03", 2));     // incomplete entry
        }
        comm::DeviceFrame f = comm::DeviceFrame::request(request.letter1, request.letter2, 0, data);
        return std::vector<ScriptedUdpPeer::Send>{{0, f.encode()}};
    });
    ASSERT_TRUE(peer.bound());
    options.setProtocol(core::Transport::Udp);
    const quint8 n = addDevice(address, 0, true);
    link.QueryStatus(n, false);
    const core::Tstav s = table.stav(n);
    const core::Tkonfig k = table.konfig(n);
    EXPECT_EQ(s.commState, core::CommAnswered);
    EXPECT_TRUE(s.valueText[1].isEmpty());
    EXPECT_EQ(s.valueText[14], QStringLiteral("14") + QLocale::system().decimalPoint() + QStringLiteral("5"));
    EXPECT_TRUE(s.valueText[15].isEmpty());
    EXPECT_EQ(k.outputMode[2], 1);
    EXPECT_EQ(s.outputState[2], 1);
    for (int i : {0, 1, 3, 4, 5})
        EXPECT_EQ(k.outputMode[i], 0) << i;
}

// The outputs read on its own (the outputs dialog, after a switch): a device that refuses or fails
// the exchange is unreachable like a failed ping; the change masks stay. Inside a status query a
// failed outputs read changes nothing, since the device has just answered.
TEST_F(CommTest, OutputsReadOnItsOwnFailsLikeAFailedPing)
{
    struct Case {
        const char* name;
        QString address;
        core::Transport transport;
        sim::Misbehaviour misbehaviour;
    };
    const Case cases[] = {
        {"refused", QStringLiteral("127.0.6.20"), core::Transport::Tcp, sim::Misbehaviour::Refuse},
        {"closed mid-frame", QStringLiteral("127.0.6.21"), core::Transport::Tcp,
         sim::Misbehaviour::CloseMidFrame},
        {"silent over UDP", QStringLiteral("127.0.6.22"), core::Transport::Udp, sim::Misbehaviour::Silent},
    };
    QList<sim::DeviceDescription> devices;
    for (const Case& c : cases)
        devices << richDevice(c.address);
    startFleet(devices);
    shortTimeouts(kShortMs);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        options.setProtocol(c.transport);
        const quint8 n = addDevice(c.address, 0, true);
        const core::DeviceId id = table.idOf(n);
        link.QueryStatus(n, false);
        ASSERT_EQ(table.stav(n).commState, core::CommAnswered);
        table.modify(n, [](core::Tkonfig&, core::Tstav& s) { s.alarmsChanged = 0x11; });

        // Within a status query: the device answered, nothing is marked.
        fleet->setMisbehaviour(c.address,
                               c.misbehaviour == sim::Misbehaviour::Refuse ? sim::Misbehaviour::CloseMidFrame
                                                                           : c.misbehaviour,
                               0, "GR");
        link.QueryStatus(n, false);
        EXPECT_EQ(table.stav(n).commState, core::CommAnswered);
        EXPECT_EQ(table.stav(n).alarms, 5);
        EXPECT_EQ(stateLog(n).size(), 1u);

        fleet->setMisbehaviour(c.address, c.misbehaviour, 0,
                               c.misbehaviour == sim::Misbehaviour::Refuse ? "" : "GR");
        observer.marks.clear();
        link.QueryOutputs(n, false, true);
        link.QueryOutputs(n, false, true);
        const core::Tstav s = table.stav(n);
        EXPECT_EQ(s.commState, core::CommFailed);
        EXPECT_EQ(s.alarms, 0);
        EXPECT_EQ(s.alarmsChanged, 0x11);
        EXPECT_EQ(s.outputState[3], 1) << "a failed read keeps the last known outputs";
        EXPECT_EQ(eventsWith(c.address + QStringLiteral(" <STATUS> <C_ERR> = 1")).size(), 1);
        const auto records = stateLog(n);
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[1].code, logs::slCommFail);
        ASSERT_FALSE(observer.marks.empty());
        EXPECT_EQ(observer.marks.back(), std::make_pair(id, comm::GridMark::Failed));
        for (const auto& m : observer.marks)
            EXPECT_NE(m.second, comm::GridMark::Answered);
    }
}
