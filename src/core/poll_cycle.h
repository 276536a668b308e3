#pragma once
// The one-second rhythm of the console: the poll countdown and its label, the pause toggle, the
// pending period edit, the periodic Ethernet reset schedule and the decisions of the trap path.
// The UI thread calls tick() once a second and carries out what the returned TickActions ask for;
// the poll thread reads pollRequest and calls passFinished() after each pass. The flags shared
// between the two threads are atomics.

#include "core/device_table.h"

#include <QString>

#include <atomic>
#include <functional>
#include <vector>

namespace quodra::core {

// Menu options that steer the trap path and the reaction to a new communication failure.
struct TrapReaction {
    bool readOnTrap = false;     // "Číst stav při trapu"
    bool showWindow = false;     // "Zobrazit okno při trapu"
    bool showBalloon = false;    // "Zobrazit hlášku při trapu"
    bool startMinimised = false; // "Spustit minimalizovaně"
};

struct TickActions {
    bool resetFired = false;           // the periodic Ethernet reset ran on this tick
    bool trapHandled = false;          // one pending trap was consumed on this tick
    std::vector<quint8> devicesToRead; // interactive status queries the trap path asks for
    bool showWindow = false;           // bring the main window up (trap path)
    bool trapBalloon = false;          // show the "sbal1" balloon for the selected device
    bool refresh = false;              // repaint grid, panels and run the summary
    QString label;                     // the countdown label's new text
};

class PollCycle {
public:
    // The first countdown after start-up: 4 when the period is at least 1 s, else 0.
    explicit PollCycle(int period = 0, int resetInterval = 0);

    // The period field: setPeriod marks the edit pending (periodChanged); it takes effect on
    // ApplyPendingPeriod.
    int period() const { return m_period.load(); }
    void setPeriod(int seconds);
    bool periodChanged() const { return m_periodChanged; }
    void ApplyPendingPeriod();

    int pollCountdown() const { return m_pollCountdown.load(); }
    bool paused() const { return m_paused; }
    // Label click: toggles the pause only while the countdown runs.
    void togglePause();

    int resetInterval() const { return m_resetInterval; }
    int resetCountdown() const { return m_resetCountdown; }
    // Called when the periodic reset fires, on the UI thread; does nothing by default.
    void setResetHook(std::function<void()> hook) { m_resetHook = std::move(hook); }

    TickActions tick(DeviceTable& table, const TrapReaction& reaction);

    // Shared with the poll thread and the trap receiver.
    std::atomic<bool> pollRequest{false};
    std::atomic<bool> refreshRequest{false};
    std::atomic<int> trapsPending{0};

    // Poll thread: the pass is over; clears pollRequest and restarts the countdown.
    void passFinished();

    static QString countdownLabel(int countdown, int resetInterval, int resetCountdown);

private:
    bool tickReset(DeviceTable& table);

    std::atomic<int> m_period{0};
    std::atomic<int> m_pollCountdown{0};
    bool m_periodChanged = false;
    bool m_paused = false;
    int m_resetInterval = 0;
    int m_resetCountdown = 0;
    std::function<void()> m_resetHook;
};

} // namespace quodra::core
