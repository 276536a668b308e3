// PingDevice: off answers true at once; on sends one ICMP echo and wants the reply from exactly
// the address asked.

#include "comm/icmp_echo.h"
#include "comm_fixture.h"

#include <QFile>

#include <cstring>
#include <functional>
#include <grp.h>
#include <thread>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quodra;
using quodra::test::CommTest;
using quodra::test::richDevice;

TEST(IcmpChecksum, MatchesTheWorkedExample)
{
    // The example of RFC 1071: the sum of these words is 0xDDF2, its complement 0x220D.
    const unsigned char bytes[] = {0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};
    EXPECT_EQ(comm::icmpChecksum(bytes, 8), 0x220D);
    // An odd length pads with a zero byte.
    const unsigned char odd[] = {0x01, 0x02, 0x03};
    EXPECT_EQ(comm::icmpChecksum(odd, 3), quint16(~(0x0102 + 0x0300) & 0xFFFF));
}

TEST_F(CommTest, PingOffAnswersTrueAtOnceEvenForAnAddressThatDoesNotExist)
{
    options.setPingFirst(false);
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(link.PingDevice(QStringLiteral("192.0.2.1")));
    EXPECT_TRUE(link.PingDevice(QStringLiteral("not an address")));
    EXPECT_LT(clock.elapsed(), 100);
}

TEST_F(CommTest, PingOnLoopbackIsAnsweredOrToldOnceWhenNotPermitted)
{
    options.setPingFirst(true);
    const comm::EchoOutcome probe = comm::icmpEcho(QStringLiteral("127.0.0.1"), 2000);
    if (probe.result == comm::EchoResult::NotPermitted) {
        // Neither socket kind may be opened here: every ping answers false, the operator is told once.
        EXPECT_FALSE(link.PingDevice(QStringLiteral("127.0.0.1")));
        EXPECT_FALSE(link.PingDevice(QStringLiteral("127.0.0.1")));
        EXPECT_EQ(observer.notices.size(), 1);
        GTEST_SKIP() << "ICMP sockets are not permitted here: " << probe.error.toStdString();
    }
    EXPECT_TRUE(link.PingDevice(QStringLiteral("127.0.0.1")));
    EXPECT_TRUE(link.PingDevice(QStringLiteral("127.0.7.9")));    // loopback answers from the address asked
    EXPECT_FALSE(link.PingDevice(QStringLiteral("127.000.0.1"))); // the text must match exactly
    EXPECT_TRUE(observer.notices.isEmpty());
}


namespace {

// Runs fn on a thread with a network namespace of its own in which loopback is up and echo
// requests go unanswered, so the no-answer paths are tested without sending anything beyond this
// machine. False when such a namespace cannot be made here (fn did not run).
bool runWhereNothingAnswersPing(const std::function<void()>& fn)
{
    bool ready = false;
    std::thread worker([&] {
        if (::unshare(CLONE_NEWNET) != 0)
            return;
        QFile ignore(QStringLiteral("/proc/sys/net/ipv4/icmp_echo_ignore_all"));
        if (!ignore.open(QIODevice::WriteOnly) || ignore.write("1\n") < 0)
            return;
        ignore.close();
        const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
        ifreq ifr{};
        std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
        const bool up = s >= 0 && ::ioctl(s, SIOCGIFFLAGS, &ifr) == 0 &&
                        (ifr.ifr_flags = short(ifr.ifr_flags | IFF_UP | IFF_RUNNING), ::ioctl(s, SIOCSIFFLAGS, &ifr) == 0);
        if (s >= 0)
            ::close(s);
        if (!up)
            return;
        ready = true;
        fn();
    });
    worker.join();
    return ready;
}

} // namespace

TEST_F(CommTest, PingWithoutAnswerIsFalseWithinItsLimit)
{
    options.setPingFirst(true);
    ASSERT_EQ(link.pingTimeoutMs, 2000);
    bool answered = true;
    qint64 elapsed = 0;
    const bool ran = runWhereNothingAnswersPing([&] {
        QElapsedTimer clock;
        clock.start();
        answered = link.PingDevice(QStringLiteral("127.0.0.1"));
        elapsed = clock.elapsed();
    });
    if (!ran)
        GTEST_SKIP() << "no private network namespace here";
    EXPECT_FALSE(answered);
    EXPECT_GE(elapsed, 1900);
    EXPECT_LT(elapsed, 2500);
}

TEST_F(CommTest, QueryWithPingOnReachesTheSimulator)
{
    const QString address = QStringLiteral("127.0.7.1");
    startFleet({richDevice(address)});
    options.setPingFirst(true);
    if (comm::icmpEcho(address, 2000).result == comm::EchoResult::NotPermitted)
        GTEST_SKIP() << "ICMP sockets are not permitted here";
    const quint8 n = addDevice(address, 0, true);
    link.QueryStatus(n, true);
    EXPECT_EQ(table.stav(n).commState, core::CommAnswered);
    EXPECT_EQ(table.stav(n).alarms, 5);
}

TEST_F(CommTest, FailedPingMakesTheDeviceUnreachableWithoutAnyExchange)
{
    options.setPingFirst(true);
    link.pingTimeoutMs = 300;
    const quint8 n = addDevice(QStringLiteral("127.0.7.20"), 0, true);
    table.modify(n, [](core::Tkonfig&, core::Tstav& s) {
        s.alarms = 3;
        s.alarmsChanged = 3;
        s.commState = core::CommAnswered;
    });
    if (!runWhereNothingAnswersPing([&] {
            link.QueryStatus(n, false);
            link.QueryStatus(n, false);
        }))
        GTEST_SKIP() << "no private network namespace here";
    EXPECT_EQ(table.stav(n).commState, core::CommFailedNew);
    EXPECT_EQ(table.stav(n).alarms, 0);
    EXPECT_EQ(table.stav(n).alarmsChanged, 0);
    EXPECT_EQ(eventsWith(QStringLiteral("<STATUS> <C_ERR> = 1")).size(), 1);
    EXPECT_TRUE(eventsWith(QStringLiteral("<ERROR>")).isEmpty());
    ASSERT_EQ(stateLog(n).size(), 1u);
    EXPECT_EQ(stateLog(n)[0].code, logs::slCommFail);

    // The outputs read before the dialog opens: unreachable too, the change masks stay.
    table.modify(n, [](core::Tkonfig&, core::Tstav& s) {
        s.alarms = 3;
        s.alarmsChanged = 3;
    });
    runWhereNothingAnswersPing([&] { link.QueryOutputs(n, true, true); });
    EXPECT_EQ(table.stav(n).commState, core::CommFailed);
    EXPECT_EQ(table.stav(n).alarms, 0);
    EXPECT_EQ(table.stav(n).alarmsChanged, 3);
    EXPECT_EQ(observer.marks.back().second, comm::GridMark::Failed);
}

namespace {

// True when the unprivileged user "nobody" (group 65534) may open ICMP datagram sockets.
bool nobodyMayPing()
{
    QFile f(QStringLiteral("/proc/sys/net/ipv4/ping_group_range"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> range = f.readAll().simplified().split(' ');
    return range.size() == 2 && range[0].toLongLong() <= 65534 && 65534 <= range[1].toLongLong();
}

} // namespace

TEST_F(CommTest, WithoutIcmpPermissionEveryPingIsFalseAndTheOperatorIsToldOnce)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to become an unprivileged user";
    if (nobodyMayPing())
        GTEST_SKIP() << "unprivileged ICMP sockets are allowed here";
    options.setPingFirst(true);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The child drops to "nobody": no raw sockets, no ICMP datagram sockets.
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(100);
        const comm::EchoOutcome direct = comm::icmpEcho(QStringLiteral("127.0.0.1"), 500);
        const bool first = link.PingDevice(QStringLiteral("127.0.0.1"));
        const bool second = link.PingDevice(QStringLiteral("127.0.0.1"));
        int code = 0;
        code |= direct.result == comm::EchoResult::NotPermitted ? 0 : 1;
        code |= first ? 2 : 0;
        code |= second ? 4 : 0;
        code |= observer.notices.size() == 1 ? 0 : 8;
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: not reported as not permitted, 2/4: a ping answered true, 8: not told once";
}

TEST(IcmpEcho, UnprivilegedDatagramSocketIsAnsweredFromTheAddressAsked)
{
    // The datagram path needs a ping_group_range that admits the user. The child process gets a
    // network namespace of its own, so changing the range there touches nothing else.
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to set up a private network namespace";
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::unshare(CLONE_NEWNET) != 0)
            ::_exit(100);
        QFile range(QStringLiteral("/proc/sys/net/ipv4/ping_group_range"));
        if (!range.open(QIODevice::WriteOnly) || range.write("0 2147483647\n") < 0)
            ::_exit(100);
        range.close();
        const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
        ifreq ifr{};
        std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
        if (::ioctl(s, SIOCGIFFLAGS, &ifr) != 0)
            ::_exit(100);
        ifr.ifr_flags = short(ifr.ifr_flags | IFF_UP | IFF_RUNNING);
        if (::ioctl(s, SIOCSIFFLAGS, &ifr) != 0)
            ::_exit(100);
        ::close(s);
        // As "nobody" there is no raw socket, so only the datagram socket can answer.
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(100);
        int code = 0;
        code |= comm::icmpEcho(QStringLiteral("127.0.0.1"), 2000).result == comm::EchoResult::Reply ? 0 : 1;
        code |= comm::icmpEcho(QStringLiteral("127.0.3.77"), 2000).result == comm::EchoResult::Reply ? 0 : 2;
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 100)
        GTEST_SKIP() << "no private network namespace here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: 127.0.0.1 not answered, 2: 127.0.3.77 not answered";
}
