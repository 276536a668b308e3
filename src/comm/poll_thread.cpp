#include "comm/poll_thread.h"

#include "comm/device_link.h"

#include <chrono>

namespace quodra::comm {

namespace {
// The idle sleep between looks at pollRequest when nobody wakes the thread.
constexpr std::chrono::milliseconds kIdle{1000};
} // namespace

PollThread::PollThread(core::DeviceTable& table, core::PollCycle& cycle, DeviceLink& link, QObject* parent)
    : PollThread(
          table, cycle, [&link](quint8 device) { link.QueryStatus(device, false); }, parent)
{
}

PollThread::PollThread(core::DeviceTable& table, core::PollCycle& cycle, std::function<void(quint8)> query,
                       QObject* parent)
    : QThread(parent), m_table(table), m_cycle(cycle), m_query(std::move(query))
{
    setObjectName(QStringLiteral("mhttp"));
}

PollThread::~PollThread()
{
    join();
}

void PollThread::join()
{
    stop();
    if (isRunning() || isFinished()) { // started once
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return m_finished; });
    }
    wait();
}

void PollThread::stop()
{
    std::unique_lock lock(m_mutex);
    m_stop.store(true);
    m_jobs.clear();
    m_woken = true;
    m_wake.notify_all();
}

void PollThread::wake()
{
    std::unique_lock lock(m_mutex);
    m_woken = true;
    m_wake.notify_all();
}

void PollThread::enqueue(std::function<void()> job)
{
    std::unique_lock lock(m_mutex);
    if (m_stop.load())
        return;
    m_jobs.push_back(std::move(job));
    m_woken = true;
    m_wake.notify_all();
}

std::optional<GridMark> PollThread::markFor(quint8 commState)
{
    switch (commState) {
    case 0:
        return std::nullopt;
    case 1:
        return GridMark::Answered;
    case 2:
        return GridMark::Running;
    default:
        return GridMark::Failed;
    }
}

void PollThread::runPass()
{
    const quint8 count = m_table.deviceCount();
    for (quint8 i = 1; i <= count && i != 0; ++i) {
        if (m_stop.load())
            return;
        const core::DeviceSnapshot before = m_table.snapshot(i);
        if (before.number == 0 || !before.konfig.pollEnabled)
            continue;
        m_cycle.refreshRequest.store(true);
        Q_EMIT deviceMark(before.id, int(GridMark::Running));
        m_query(i);
        // The device may have moved meanwhile: colour it wherever it is now.
        const quint8 now = m_table.numberOf(before.id);
        if (now != 0) {
            if (const auto mark = markFor(m_table.stav(now).commState))
                Q_EMIT deviceMark(before.id, int(*mark));
        }
        m_cycle.refreshRequest.store(true);
    }
}

void PollThread::run()
{
    loop();
    std::unique_lock lock(m_mutex);
    m_finished = true;
    m_wake.notify_all();
}

void PollThread::loop()
{
    while (!m_stop.load()) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            if (m_jobs.empty() && !m_cycle.pollRequest.load() && !m_stop.load()) {
                if (!m_woken)
                    m_wake.wait_for(lock, kIdle);
                m_woken = false;
            }
            if (m_stop.load())
                break;
            if (!m_jobs.empty()) {
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
        }
        if (job) {
            job();
            Q_EMIT jobDone();
            continue;
        }
        if (m_cycle.pollRequest.load()) {
            runPass();
            if (m_stop.load())
                break;
            m_cycle.passFinished();
            Q_EMIT passFinished();
        }
    }
}

} // namespace quodra::comm
