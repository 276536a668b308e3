#include "logs/event_log.h"

#include "core/code_page.h"
#include "core/date_time.h"
#include "core/program_dir.h"

#include <QFile>
#include <QMutexLocker>


namespace quodra::logs {

QString event::exchangeError(const QString& failure) {
    return QStringLiteral("<ERROR> <") + failure + QLatin1Char('>');
}

EventLog::EventLog(core::DeviceTable& table) : m_table(table) {}

void EventLog::setEnabled(bool on) {
    m_enabled.store(on);
}

bool EventLog::enabled() const {
    return m_enabled.load();
}

void EventLog::setDirectory(const QString& directory) {
    QMutexLocker lock(&m_mutex);
    m_directory = core::withTrailingSeparator(directory);
}

QString EventLog::directory() const {
    QMutexLocker lock(&m_mutex);
    return m_directory;
}

QString EventLog::filePath() const {
    QMutexLocker lock(&m_mutex);
    return m_directory + fileName;
}

QString EventLog::lastError() const {
    QMutexLocker lock(&m_mutex);
    return m_lastError;
}

QString EventLog::devicePart(const core::Tkonfig& device) {
    return device.addressWithPort() + QLatin1Char(' ');
}

QString EventLog::formatLine(const QDateTime& when, const QString& devicePart, const QString& text) {
    return core::DateTimeText::dateAndTime(when) + QStringLiteral(" - ") + devicePart + text;
}

bool EventLog::WriteEventLog(quint8 device, const QString& text) {
    if (!enabled())
        return true;
    // The record is copied before the log's lock is taken, so the two locks never nest.
    return appendLine(device == 0 ? QString() : devicePart(m_table.konfig(device)), text);
}

bool EventLog::writeForDevice(const core::Tkonfig& device, const QString& text) {
    if (!enabled())
        return true;
    return appendLine(devicePart(device), text);
}

bool EventLog::appendLine(const QString& devicePart, const QString& text) {
    QMutexLocker lock(&m_mutex);
    if (m_directory.isEmpty()) {
        m_lastError = QStringLiteral("No directory is set for the event log.");
        return false;
    }
    const QString path = m_directory + fileName;
    // The time is read under the lock, so the lines in the file stay in time order.
    const QByteArray bytes =
        core::toCp1250(formatLine(QDateTime::currentDateTime(), devicePart, text) + QStringLiteral("\r\n"));

    // Append creates a missing file but never a missing directory.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        m_lastError = QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString());
        return false;
    }
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    const QString writeError = file.errorString();
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        m_lastError = QStringLiteral("Cannot write file \"%1\". %2")
                          .arg(path, written ? file.errorString() : writeError);
        return false;
    }
    return true;
}

} // namespace quodra::logs
