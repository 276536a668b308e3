#pragma once
// The poll thread `mhttp`: idles until the poll cycle asks for a pass (pollRequest), then queries
// every device with pollEnabled in turn, non-interactively, and tells the UI thread by queued
// signals which device is being read and how it went. Between passes it also runs the operator's
// interactive jobs ("Stavy ", double click, text reads, trap reads), so none of them blocks the UI
// thread. It never waits on the UI thread: stop() followed by wait() cannot deadlock.

#include "comm/comm_observer.h"
#include "core/device_table.h"
#include "core/poll_cycle.h"

#include <QThread>

#include <condition_variable>
#include <mutex>

#include <deque>
#include <functional>
#include <optional>

namespace quodra::comm {

class DeviceLink;

class PollThread : public QThread {
    Q_OBJECT
public:
    // `query` performs one non-interactive status query of a device number; by default the link's
    // QueryStatus(device, false).
    PollThread(core::DeviceTable& table, core::PollCycle& cycle, DeviceLink& link, QObject* parent = nullptr);
    PollThread(core::DeviceTable& table, core::PollCycle& cycle, std::function<void(quint8)> query,
               QObject* parent = nullptr);
    ~PollThread() override;

    // Ends the loop after the device being queried; pending jobs are dropped. Returns at once.
    void stop();
    // stop(), then waits until the loop has ended and the thread is gone. The end of the loop is
    // handed over through the thread's own mutex, so everything the loop did is visible (also
    // to a thread sanitizer) before the caller goes on to destroy what the loop used.
    void join();
    bool stopping() const { return m_stop.load(); }
    // Wakes the idle loop (the timer has just set pollRequest).
    void wake();
    // Runs `job` on this thread after the current pass or job; `jobDone` follows it.
    void enqueue(std::function<void()> job);

    // Colour of the state cell from a device's commState after a query: none for 0.
    static std::optional<GridMark> markFor(quint8 commState);

Q_SIGNALS:
    // Emitted on this thread; connect queued. `mark` is a GridMark.
    void deviceMark(quint64 device, int mark);
    void passFinished();
    void jobDone();

protected:
    void run() override;

private:
    void loop();
    void runPass();

    core::DeviceTable& m_table;
    core::PollCycle& m_cycle;
    std::function<void(quint8)> m_query;
    std::atomic<bool> m_stop{false};
    // Standard primitives rather than Qt's: a thread sanitizer sees through them.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_woken = false;
    bool m_finished = false; // the loop has ended (under m_mutex)
};

} // namespace quodra::comm
