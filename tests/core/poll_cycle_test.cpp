#include "core/poll_cycle.h"

#include <gtest/gtest.h>

#include <vector>

using namespace quodra::core;

namespace {

struct CycleFixture : ::testing::Test {
    DeviceTable table;
    TrapReaction reaction;

    void SetUp() override
    {
        for (quint8 i = 1; i <= 4; ++i)
            table.InsertDevice(i);
        table.setSelectedDevice(1);
    }
    std::vector<QString> labels(PollCycle& cycle, int ticks)
    {
        std::vector<QString> out;
        for (int i = 0; i < ticks; ++i)
            out.push_back(cycle.tick(table, reaction).label);
        return out;
    }
};

std::vector<QString> texts(std::initializer_list<const char*> list)
{
    std::vector<QString> out;
    for (const char* s : list)
        out.push_back(QString::fromUtf8(s));
    return out;
}

} // namespace

TEST_F(CycleFixture, PeriodTenCountsFromFourThenReadsAndRestartsAtPeriod)
{
    PollCycle cycle(10);
    EXPECT_EQ(cycle.pollCountdown(), 4);
    EXPECT_EQ(labels(cycle, 6), texts({"Timer: 3", "Timer: 2", "Timer: 1", "Timer: 0", "<READ>", "<READ>"}));
    EXPECT_TRUE(cycle.pollRequest.load());
    cycle.passFinished();
    EXPECT_FALSE(cycle.pollRequest.load());
    EXPECT_EQ(labels(cycle, 2), texts({"Timer: 9", "Timer: 8"}));
    EXPECT_FALSE(cycle.pollRequest.load());
}

TEST_F(CycleFixture, PeriodZeroNeverRequestsAPassAndKeepsTheLabelEmpty)
{
    PollCycle cycle(0, 3);
    for (const QString& l : labels(cycle, 12))
        EXPECT_TRUE(l.isEmpty());
    EXPECT_FALSE(cycle.pollRequest.load());
    cycle.passFinished();
    EXPECT_EQ(cycle.pollCountdown(), 0);
}

TEST_F(CycleFixture, PauseFreezesAtSevenAndResumesButNotWhileReading)
{
    PollCycle cycle(10);
    labels(cycle, 4); // down to 0
    labels(cycle, 1); // <READ>
    cycle.togglePause();
    EXPECT_FALSE(cycle.paused()) << "clicking during <READ> does nothing";
    cycle.passFinished();
    labels(cycle, 3); // 9, 8, 7
    ASSERT_EQ(cycle.pollCountdown(), 7);
    cycle.togglePause();
    EXPECT_EQ(labels(cycle, 3), texts({"Stop: 7", "Stop: 7", "Stop: 7"}));
    cycle.togglePause();
    EXPECT_EQ(labels(cycle, 2), texts({"Timer: 6", "Timer: 5"}));
}

TEST_F(CycleFixture, PauseStaysInForceWhenThePassRestartsTheCountdown)
{
    PollCycle cycle(3);
    labels(cycle, 2); // 3, 2
    cycle.togglePause();
    cycle.passFinished();
    EXPECT_EQ(labels(cycle, 1), texts({"Stop: 3"}));
}

TEST_F(CycleFixture, PeriodEditWaitsForApplyPendingPeriod)
{
    PollCycle cycle(10);
    cycle.passFinished(); // countdown 10
    labels(cycle, 2);     // 9, 8
    cycle.setPeriod(30);
    EXPECT_TRUE(cycle.periodChanged());
    EXPECT_EQ(labels(cycle, 1), texts({"Timer: 7"}));
    cycle.ApplyPendingPeriod();
    EXPECT_FALSE(cycle.periodChanged());
    EXPECT_EQ(labels(cycle, 1), texts({"Timer: 29"}));
    cycle.ApplyPendingPeriod(); // nothing pending: no restart
    EXPECT_EQ(labels(cycle, 1), texts({"Timer: 28"}));
}

TEST_F(CycleFixture, PeriodSetToZeroLeavesTheCountdownAtZeroAfterThePass)
{
    PollCycle cycle(2);
    labels(cycle, 5); // 3 2 1 0 <READ>
    ASSERT_TRUE(cycle.pollRequest.load());
    cycle.setPeriod(0);
    cycle.ApplyPendingPeriod();
    cycle.passFinished();
    EXPECT_EQ(labels(cycle, 2), texts({"", ""}));
    EXPECT_FALSE(cycle.pollRequest.load());
}

TEST_F(CycleFixture, ResetTwentyWithPeriodTenFiresOnlyWhenCountdownAboveFive)
{
    PollCycle cycle(10, 20);
    int fired = 0;
    cycle.setResetHook([&] { ++fired; });
    table.modify(2, [](Tkonfig&, Tstav& s) { s.trapReadPending = 1; });

    // Simulate a poll thread that finishes each pass at once.
    std::vector<int> firedAtCountdown;
    for (int t = 0; t < 80; ++t) {
        const int before = cycle.pollCountdown();
        const TickActions a = cycle.tick(table, reaction);
        if (a.resetFired)
            firedAtCountdown.push_back(before);
        if (!a.label.isEmpty() && a.label != QStringLiteral("<READ>")) {
            EXPECT_TRUE(a.label.endsWith(QLatin1Char(')'))) << a.label.toStdString();
            EXPECT_TRUE(a.label.contains(QStringLiteral(" ("))) << a.label.toStdString();
        }
        if (cycle.pollRequest.load())
            cycle.passFinished();
    }
    ASSERT_GE(firedAtCountdown.size(), 2u);
    EXPECT_EQ(int(firedAtCountdown.size()), fired);
    for (int c : firedAtCountdown) {
        EXPECT_GE(c, 6);
        EXPECT_LE(c, 10);
    }
    EXPECT_EQ(table.stav(2).trapReadPending, 0) << "the reset clears pending trap reads";
}

TEST_F(CycleFixture, ResetLabelShowsTheResetCountdownInBrackets)
{
    PollCycle cycle(10, 20);
    EXPECT_EQ(labels(cycle, 2), texts({"Timer: 3 (19)", "Timer: 2 (18)"}));
}

TEST_F(CycleFixture, ResetNeverRunsWithShortPeriodOrPollingOff)
{
    for (int period : {0, 3, 5}) {
        PollCycle cycle(period, 2);
        bool fired = false;
        for (int t = 0; t < 40; ++t) {
            fired |= cycle.tick(table, reaction).resetFired;
            if (cycle.pollRequest.load())
                cycle.passFinished();
        }
        EXPECT_FALSE(fired) << "period " << period;
    }
}

TEST_F(CycleFixture, ThreeTrapsAreConsumedOverThreeTicks)
{
    PollCycle cycle(0);
    reaction.readOnTrap = true;
    table.modify(3, [](Tkonfig&, Tstav& s) { s.trapReadPending = 1; });
    cycle.trapsPending = 3;

    TickActions a = cycle.tick(table, reaction);
    EXPECT_EQ(a.devicesToRead, std::vector<quint8>{3});
    EXPECT_TRUE(a.refresh);
    EXPECT_EQ(cycle.trapsPending.load(), 2);
    EXPECT_EQ(table.stav(3).trapReadPending, 0);

    a = cycle.tick(table, reaction);
    EXPECT_TRUE(a.trapHandled);
    EXPECT_TRUE(a.devicesToRead.empty()) << "the read flag was already cleared";
    a = cycle.tick(table, reaction);
    EXPECT_TRUE(a.trapHandled);
    EXPECT_EQ(cycle.trapsPending.load(), 0);
    a = cycle.tick(table, reaction);
    EXPECT_FALSE(a.trapHandled);
    EXPECT_FALSE(a.refresh);
}

TEST_F(CycleFixture, TrapPathWaitsWhileAPassIsRequested)
{
    PollCycle cycle(1);
    labels(cycle, 4); // 3 2 1 0
    table.modify(2, [](Tkonfig&, Tstav& s) { s.trapReadPending = 1; });
    cycle.trapsPending = 1;
    reaction.readOnTrap = true;
    TickActions a = cycle.tick(table, reaction); // <READ> sets pollRequest after the trap step
    EXPECT_EQ(a.devicesToRead, std::vector<quint8>{2});
    table.modify(2, [](Tkonfig&, Tstav& s) { s.trapReadPending = 1; });
    cycle.trapsPending = 1;
    a = cycle.tick(table, reaction);
    EXPECT_FALSE(a.trapHandled) << "no trap read while a pass is due";
    cycle.passFinished();
    a = cycle.tick(table, reaction);
    EXPECT_TRUE(a.trapHandled);
}

TEST_F(CycleFixture, TrapReactionFlagsFollowTheMenuOptions)
{
    struct Case {
        const char* name;
        TrapReaction r;
        bool read, window, balloon;
    };
    const Case cases[] = {
        {"nothing checked", {false, false, false, false}, false, false, false},
        {"read only", {true, false, false, false}, true, false, false},
        {"window", {false, true, false, false}, false, true, false},
        {"balloon without start-minimised", {false, false, true, false}, false, false, false},
        {"balloon and start-minimised", {false, false, true, true}, false, false, true},
        {"all", {true, true, true, true}, true, true, true},
    };
    for (const Case& c : cases) {
        PollCycle cycle(0);
        table.modify(4, [](Tkonfig&, Tstav& s) { s.trapReadPending = 1; });
        cycle.trapsPending = 1;
        const TickActions a = cycle.tick(table, c.r);
        EXPECT_EQ(!a.devicesToRead.empty(), c.read) << c.name;
        EXPECT_EQ(a.showWindow, c.window) << c.name;
        EXPECT_EQ(a.trapBalloon, c.balloon) << c.name;
        EXPECT_EQ(table.stav(4).trapReadPending, 0) << c.name;
    }
}

TEST_F(CycleFixture, RefreshRequestIsConsumedOnce)
{
    PollCycle cycle(0);
    cycle.refreshRequest = true;
    EXPECT_TRUE(cycle.tick(table, reaction).refresh);
    EXPECT_FALSE(cycle.refreshRequest.load());
    EXPECT_FALSE(cycle.tick(table, reaction).refresh);
}
