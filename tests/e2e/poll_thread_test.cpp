// The poll thread with the real device link against simulated devices on 127.0.20.x.

#include "e2e_support.h"

#include "comm/device_link.h"
#include "comm/poll_thread.h"
#include "core/poll_cycle.h"
#include "logs/binary_logs.h"
#include "logs/event_log.h"
#include "sim/sim_fleet.h"

#include <gtest/gtest.h>

#include <QMutex>

using namespace quodra;
using namespace quodra::e2e;

namespace {

struct Mark {
    core::DeviceId device;
    comm::GridMark mark;
};

struct PollFixture : ::testing::Test {
    core::DeviceTable table;
    core::ConsoleOptions options;
    QTemporaryDir logDir;
    logs::EventLog eventLog{table};
    logs::BinaryLogs binaryLogs{table};
    std::unique_ptr<comm::DeviceLink> link;
    QMutex marksMutex;
    std::vector<Mark> marks;

    void SetUp() override
    {
        ensureApp();
        eventLog.setDirectory(logDir.path() + QLatin1Char('/'));
        eventLog.setEnabled(true);
        binaryLogs.setDirectory(logDir.path() + QLatin1Char('/'));
        link = std::make_unique<comm::DeviceLink>(table, options, eventLog, binaryLogs);
        link->timeouts.connectMs = 1000;
        link->timeouts.tcpReadMs = 1000;
    }
    void addDevice(const char* address, bool polled)
    {
        const quint8 n = quint8(table.deviceCount() + 1);
        table.InsertDevice(n);
        table.modify(n, [&](core::Tkonfig& k, core::Tstav&) { k = device(address, polled, false); });
    }
    void collect(comm::PollThread& thread)
    {
        QObject::connect(
            &thread, &comm::PollThread::deviceMark, &thread,
            [this](quint64 id, int mark) {
                QMutexLocker lock(&marksMutex);
                marks.push_back({id, comm::GridMark(mark)});
            },
            Qt::DirectConnection);
    }
    std::vector<Mark> marksOf(core::DeviceId id)
    {
        QMutexLocker lock(&marksMutex);
        std::vector<Mark> out;
        for (const Mark& m : marks)
            if (m.device == id)
                out.push_back(m);
        return out;
    }
};

} // namespace

TEST_F(PollFixture, OnePassQueriesPolledDevicesMarksThemAndRestartsTheCountdown)
{
    sim::DeviceDescription d;
    d.address = QStringLiteral("127.0.20.11");
    d.alarmsInUse = 0xFF;
    d.alarms = 0x02;
    sim::DeviceDescription quiet = d;
    quiet.address = QStringLiteral("127.0.20.12");
    sim::SimFleet fleet({d, quiet}, 0);
    QString error;
    ASSERT_TRUE(fleet.start(&error)) << error.toStdString();

    addDevice("127.0.20.11", true);
    addDevice("127.0.20.12", false); // not polled
    addDevice("127.0.20.13", true);  // nothing answers there
    const core::DeviceId live = table.idOf(1), skipped = table.idOf(2), dead = table.idOf(3);

    core::PollCycle cycle(7);
    comm::PollThread thread(table, cycle, *link);
    collect(thread);
    thread.start();

    cycle.pollRequest = true;
    thread.wake();
    ASSERT_TRUE(waitUntil([&] { return !cycle.pollRequest.load(); }, 10000)) << "the pass ends";
    EXPECT_EQ(cycle.pollCountdown(), 7) << "the countdown restarts at the period";
    EXPECT_TRUE(cycle.refreshRequest.load());

    EXPECT_EQ(table.stav(1).alarms, 0x02) << readAll(eventLog.filePath()).toStdString();
    EXPECT_EQ(table.stav(1).commState, core::CommAnswered);
    EXPECT_EQ(table.stav(2).commState, core::CommNever);
    EXPECT_EQ(table.stav(3).commState, core::CommFailedNew);
    EXPECT_EQ(fleet.received(QStringLiteral("127.0.20.12")).count("GS"), 0);

    const auto liveMarks = marksOf(live);
    ASSERT_EQ(liveMarks.size(), 2u);
    EXPECT_EQ(liveMarks[0].mark, comm::GridMark::Running);
    EXPECT_EQ(liveMarks[1].mark, comm::GridMark::Answered);
    EXPECT_TRUE(marksOf(skipped).empty());
    const auto deadMarks = marksOf(dead);
    ASSERT_EQ(deadMarks.size(), 2u);
    EXPECT_EQ(deadMarks[1].mark, comm::GridMark::Failed);

    thread.stop();
    EXPECT_TRUE(thread.wait(3000));
}

TEST_F(PollFixture, IdleThreadWakesPromptlyAndStopsPromptly)
{
    addDevice("127.0.20.14", false);
    core::PollCycle cycle(5);
    std::atomic<int> queries{0};
    comm::PollThread thread(table, cycle, [&](quint8) { ++queries; });
    thread.start();
    QThread::msleep(100);

    std::atomic<bool> jobRan{false};
    const auto t0 = std::chrono::steady_clock::now();
    thread.enqueue([&] { jobRan = true; });
    ASSERT_TRUE(waitUntil([&] { return jobRan.load(); }, 2000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500))
        << "a job does not wait out the idle sleep";

    // A pass over devices that are all excluded only restarts the countdown.
    cycle.pollRequest = true;
    thread.wake();
    ASSERT_TRUE(waitUntil([&] { return !cycle.pollRequest.load(); }, 2000));
    EXPECT_EQ(queries.load(), 0);
    EXPECT_EQ(cycle.pollCountdown(), 5);

    const auto t1 = std::chrono::steady_clock::now();
    thread.stop();
    ASSERT_TRUE(thread.wait(2000));
    EXPECT_LT(std::chrono::steady_clock::now() - t1, std::chrono::milliseconds(500));
}

TEST_F(PollFixture, StopEndsThePassAfterTheCurrentDevice)
{
    for (const char* a : {"127.0.20.15", "127.0.20.16", "127.0.20.17", "127.0.20.18"})
        addDevice(a, true);
    core::PollCycle cycle(3);
    std::atomic<int> queries{0};
    std::atomic<bool> release{false};
    comm::PollThread* self = nullptr;
    comm::PollThread thread(table, cycle, [&](quint8) {
        ++queries;
        if (queries == 2) {
            self->stop();
            release = true;
        }
    });
    self = &thread;
    thread.start();
    cycle.pollRequest = true;
    thread.wake();
    ASSERT_TRUE(thread.wait(3000));
    EXPECT_TRUE(release.load());
    EXPECT_EQ(queries.load(), 2) << "no device after the one being queried at the stop";
    EXPECT_TRUE(cycle.pollRequest.load()) << "an interrupted pass is not reported as finished";
}

TEST_F(PollFixture, MarkForCommState)
{
    EXPECT_FALSE(comm::PollThread::markFor(0).has_value());
    EXPECT_EQ(comm::PollThread::markFor(1), comm::GridMark::Answered);
    EXPECT_EQ(comm::PollThread::markFor(2), comm::GridMark::Running);
    EXPECT_EQ(comm::PollThread::markFor(3), comm::GridMark::Failed);
    EXPECT_EQ(comm::PollThread::markFor(4), comm::GridMark::Failed);
}

// Passes run while the UI side inserts, deletes and swaps devices: every result lands on the
// device it was read from (each simulated device reports its own last address octet as alarms).
TEST_F(PollFixture, ResultsFollowTheirDeviceWhileTheTableChanges)
{
    QList<sim::DeviceDescription> descs;
    const char* addresses[] = {"127.0.20.21", "127.0.20.22", "127.0.20.23", "127.0.20.24"};
    for (const char* a : addresses) {
        sim::DeviceDescription d;
        d.address = QString::fromLatin1(a);
        d.alarmsInUse = 0xFF;
        d.alarms = quint8(QString::fromLatin1(a).section(QLatin1Char('.'), 3).toUInt());
        descs << d;
    }
    sim::SimFleet fleet(descs, 0);
    QString error;
    ASSERT_TRUE(fleet.start(&error)) << error.toStdString();
    for (const char* a : addresses)
        addDevice(a, true);

    core::PollCycle cycle(1);
    comm::PollThread thread(table, cycle, *link);
    thread.start();

    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    int step = 0;
    while (std::chrono::steady_clock::now() < end) {
        cycle.pollRequest = true;
        thread.wake();
        switch (step++ % 4) {
        case 0:
            table.InsertDevice(1); // an empty, unpolled device in front
            break;
        case 1:
            table.SwapDevices(2, quint8(table.deviceCount()));
            break;
        case 2:
            table.DeleteDevice(1);
            break;
        case 3:
            table.SwapDevices(1, 2);
            break;
        }
        QThread::msleep(5);
    }
    thread.stop();
    ASSERT_TRUE(thread.wait(5000));

    int answered = 0;
    for (const core::DeviceSnapshot& d : table.snapshots()) {
        if (d.stav.commState != core::CommAnswered)
            continue;
        ++answered;
        EXPECT_EQ(int(d.stav.alarms), d.konfig.ipAddress.text().section(QLatin1Char('.'), 3).toInt())
            << d.konfig.ipAddress.text().toStdString();
    }
    EXPECT_GE(answered, 1);
}
