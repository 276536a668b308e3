#pragma once
// The event log "Quodra_st.log": one Windows-1250 line per event, CR LF, opened for one line and
// closed at once, written only while event logging is switched on. Calls from every thread are
// serialised and keep their order.

#include "core/device_records.h"
#include "core/device_table.h"

#include <QDateTime>
#include <QMutex>
#include <QString>

#include <atomic>

namespace quodra::logs {

// Event texts; callers append the number where the text ends in "= ".
namespace event {
inline const QString programStart = QStringLiteral("<PROGRAM> <START>");
inline const QString programEnd = QStringLiteral("<PROGRAM> <END>");
inline const QString statusAlarm = QStringLiteral("<STATUS> <ALARM> = ");
inline const QString statusValue = QStringLiteral("<STATUS> <VALUE> = ");
inline const QString statusError = QStringLiteral("<STATUS> <ERROR> = ");
inline const QString statusCustomAlarm = QStringLiteral("<STATUS> <CALARM> = ");
inline const QString statusCommError = QStringLiteral("<STATUS> <C_ERR> = 1");
inline const QString trapAlarm = QStringLiteral("<TRAP> <ALARM> = ");
inline const QString trapValue = QStringLiteral("<TRAP> <VALUE> = ");
inline const QString trapError = QStringLiteral("<TRAP> <ERROR> = ");
inline const QString trapCustomAlarm = QStringLiteral("<TRAP> <CALARM> = ");
inline const QString trapAccept = QStringLiteral("<TRAP> <ACCEPT>");
// "<ERROR> <" + failure text + ">"
QString exchangeError(const QString& failure);
} // namespace event

class EventLog {
public:
    explicit EventLog(core::DeviceTable& table);

    void setEnabled(bool on);
    bool enabled() const;
    // Directory text ending with a path separator ("/" is added when it is missing).
    void setDirectory(const QString& directory);
    QString directory() const;
    QString filePath() const;

    // Device 0: an event of the program itself. False when logging is on and the line could not
    // be written (the reason is in lastError()); true when written or when logging is off.
    bool WriteEventLog(quint8 device, const QString& text);
    // The same for a device whose record the caller already holds (a query keeps its own copy,
    // so the line names the device being read even if the table was reordered meanwhile).
    bool writeForDevice(const core::Tkonfig& device, const QString& text);
    QString lastError() const;

    // What stands between " - " and the event text for a device: its address, ":" and the port
    // when the port is not 0, then one space. Events of the program itself have none.
    static QString devicePart(const core::Tkonfig& device);
    // The line as written, without the line end: the shared date-time text, " - ", the device
    // part (empty for device 0) and the text. Exposed for the tests and the tool.
    static QString formatLine(const QDateTime& when, const QString& devicePart, const QString& text);

    inline static const QString fileName = QStringLiteral("Quodra_st.log");

private:
    bool appendLine(const QString& devicePart, const QString& text);

    core::DeviceTable& m_table;
    std::atomic<bool> m_enabled{false};
    mutable QMutex m_mutex; // serialises writers; guards m_directory and m_lastError
    QString m_directory;
    QString m_lastError;
};

} // namespace quodra::logs
