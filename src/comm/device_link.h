#pragma once
// Every exchange of the console with its devices: text read, status query, outputs read, output
// switching and the ping. One lock is held around each whole operation, so operations from the UI
// thread and the poll thread never interleave their requests and replies.
//
// An operation keeps the identity of the device it started on and works on its own copy of the
// record; its results land on that device wherever it is in the table by then, or are dropped
// when the device was deleted. Events and log records name the device being read.
//
// A device that refuses the connection, does not connect in time, or fails its status or values
// exchange (or its outputs exchange when the outputs are read on their own) counts as unreachable
// exactly like a failed ping: "<STATUS> <C_ERR> = 1" and state-log code 3 on the first failure,
// commState 3 (poll) or 4 (interactive), red mark when interactive.

#include "comm/comm_observer.h"
#include "comm/frame_exchange.h"
#include "core/console_options.h"
#include "core/device_table.h"

#include <QMutex>
#include <QString>

#include <atomic>

namespace quodra::logs {
class EventLog;
class BinaryLogs;
} // namespace quodra::logs

namespace quodra::comm {

enum class SwitchOutcome {
    Switched,      // login accepted, switch request sent, outputs re-read, state-log 10 written
    NoPassword,    // the login was cancelled or left the password empty: nothing sent
    NotReachable,  // ping failed ("herrc" shown)
    ConnectFailed, // connection failed (its error text shown)
    LoginRefused,  // "herrp" shown, password forgotten
    NoDevice,      // the device number names no device, or k is no output
};

class DeviceLink {
public:
    DeviceLink(core::DeviceTable& table, const core::ConsoleOptions& options, logs::EventLog& eventLog,
               logs::BinaryLogs& binaryLogs, CommObserver* observer = nullptr);

    void setObserver(CommObserver* observer);

    // Time limits; the defaults are the system's. Tests shorten them where a long wait shows
    // nothing new. Set before operations start.
    ExchangeTimeouts timeouts;
    int pingTimeoutMs = 2000;

    // Reads the device's texts (register rows 1 to 9) over TCP; textsLoaded becomes 1 only when
    // every read succeeded. A connection failure is shown to the operator when interactive.
    void ReadDeviceTexts(quint8 device, bool interactive = true);
    // Reads status, values and (when outputs are used) outputs, compares and records.
    void QueryStatus(quint8 device, bool interactive);
    // Reads the relay outputs; ping: ask PingDevice first.
    void QueryOutputs(quint8 device, bool ping, bool interactive);
    // Toggles output k (0..5) of the device after a login; asks `ui` for the login when the
    // device has no password and reports through it.
    SwitchOutcome SwitchOutput(quint8 device, int k, OutputSwitchUi& ui);
    // True at once when pingFirst is off; otherwise one ICMP echo answered by exactly that address.
    bool PingDevice(const QString& address);
    // Why the last status or outputs query found its device unreachable; empty when it did not.
    QString lastFailure() const;

private:
    std::optional<core::DeviceSnapshot> snapshotOf(core::DeviceId id) const;
    void readTextsLocked(core::DeviceId id, bool interactive);
    void queryOutputsLocked(FrameExchange* open, core::DeviceId id, bool ping, bool interactive);
    void markUnreachable(core::DeviceId id, bool interactive, bool clearMasks, const QString& reason);
    void writeStateLog(core::DeviceId id, std::uint8_t code);
    void finish(core::DeviceId id, bool interactive);

    core::DeviceTable& m_table;
    const core::ConsoleOptions& m_options;
    logs::EventLog& m_eventLog;
    logs::BinaryLogs& m_binaryLogs;
    CommObserver& obs() const;

    std::atomic<CommObserver*> m_observer;
    mutable QMutex m_operation; // held around each whole operation
    QString m_lastFailure;      // guarded by m_operation
    std::atomic<bool> m_pingNoticeGiven{false};
};

} // namespace quodra::comm
