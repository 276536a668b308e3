#include "core/poll_cycle.h"

namespace quodra::core {

PollCycle::PollCycle(int period, int resetInterval) : m_resetInterval(resetInterval)
{
    m_period.store(qBound(0, period, 65535));
    m_pollCountdown.store(m_period.load() >= 1 ? 4 : 0);
    if (m_resetInterval >= 1)
        m_resetCountdown = m_resetInterval;
}

void PollCycle::setPeriod(int seconds)
{
    m_period.store(qBound(0, seconds, 65535));
    m_periodChanged = true;
}

void PollCycle::ApplyPendingPeriod()
{
    if (!m_periodChanged)
        return;
    m_periodChanged = false;
    if (m_period.load() > 0)
        m_pollCountdown.store(m_period.load());
}

void PollCycle::togglePause()
{
    if (m_pollCountdown.load() > 0)
        m_paused = !m_paused;
}

void PollCycle::passFinished()
{
    // Countdown first: a tick that sees the request cleared also sees the new countdown.
    const int p = m_period.load();
    if (p > 0)
        m_pollCountdown.store(p);
    pollRequest.store(false);
}

QString PollCycle::countdownLabel(int countdown, int resetInterval, int resetCountdown)
{
    QString text = QStringLiteral("Timer: ") + QString::number(countdown);
    if (resetInterval > 0)
        text += QStringLiteral(" (") + QString::number(resetCountdown) + QLatin1Char(')');
    return text;
}

// The reset waits for a moment when the next pass is more than five seconds away, so it never
// runs into a pass; with a period of 5 s or less it never runs.
bool PollCycle::tickReset(DeviceTable& table)
{
    if (m_resetInterval <= 0)
        return false;
    if (m_resetCountdown != 0) {
        --m_resetCountdown;
        return false;
    }
    if (m_pollCountdown.load() <= 5)
        return false;
    if (m_resetHook)
        m_resetHook();
    m_resetCountdown = m_resetInterval;
    const quint8 count = table.deviceCount();
    for (quint8 i = 1; i <= count && i != 0; ++i) {
        if (table.stav(i).trapReadPending)
            table.modify(i, [](Tkonfig&, Tstav& s) { s.trapReadPending = 0; });
    }
    return true;
}

TickActions PollCycle::tick(DeviceTable& table, const TrapReaction& reaction)
{
    TickActions a;
    a.resetFired = tickReset(table);

    if (trapsPending.load() > 0 && !pollRequest.load()) {
        const quint8 count = table.deviceCount();
        for (quint8 i = 1; i <= count && i != 0; ++i) {
            if (!table.stav(i).trapReadPending)
                continue;
            bool pending = false;
            table.modify(i, [&](Tkonfig&, Tstav& s) {
                pending = s.trapReadPending != 0;
                s.trapReadPending = 0;
            });
            if (pending && reaction.readOnTrap)
                a.devicesToRead.push_back(i);
        }
        a.showWindow = reaction.showWindow;
        a.trapBalloon = reaction.showBalloon && reaction.startMinimised;
        int n = trapsPending.load();
        while (n > 0 && !trapsPending.compare_exchange_weak(n, n - 1)) {
        }
        a.trapHandled = true;
        a.refresh = true;
    }

    if (refreshRequest.exchange(false))
        a.refresh = true;

    const int countdown = m_pollCountdown.load();
    if (countdown <= 0) {
        if (m_period.load() == 0) {
            a.label.clear();
        } else {
            a.label = QStringLiteral("<READ>");
            pollRequest.store(true);
            // The poll thread may have finished the pass since the countdown was read; then no
            // pass is due and the request must not start another one.
            if (m_pollCountdown.load() > 0)
                pollRequest.store(false);
        }
    } else if (m_paused) {
        a.label = QStringLiteral("Stop: ") + QString::number(countdown);
    } else {
        // The poll thread may have restarted the countdown meanwhile; decrement what is there.
        const int now = m_pollCountdown.fetch_sub(1) - 1;
        a.label = countdownLabel(now, m_resetInterval, m_resetCountdown);
    }
    return a;
}

} // namespace quodra::core
