#include "logs/binary_logs.h"

#include "core/date_time.h"
#include "core/program_dir.h"

#include <QFile>
#include <QMutexLocker>

#include <type_traits>


namespace quodra::logs {

namespace {
void setError(QString* error, const QString& text) {
    if (error)
        *error = text;
}

template <class Record> std::optional<std::vector<Record>> readRecords(const QString& path, QString* error) {
    static_assert(std::is_trivially_copyable_v<Record>);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    const qint64 size = file.size();
    std::vector<Record> records(std::size_t(size / qint64(sizeof(Record))));
    const qint64 wanted = qint64(records.size() * sizeof(Record));
    const qint64 got = wanted == 0 ? 0 : file.read(reinterpret_cast<char*>(records.data()), wanted);
    if (got < 0) {
        setError(error, QStringLiteral("Cannot read file \"%1\". %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    // A file cut short meanwhile yields the whole records that were there.
    records.resize(std::size_t(got / qint64(sizeof(Record))));
    return records;
}
} // namespace

QString logBaseName(const core::Tkonfig& device) {
    QString name = device.ipAddress.text();
    for (QChar& c : name) {
        if (c == QLatin1Char('.') || c == QLatin1Char('/') || c == QLatin1Char('\\') ||
            c.category() == QChar::Other_Control)
            c = QLatin1Char('_');
    }
    if (name.isEmpty())
        name = QStringLiteral("_");
    if (device.port != 0)
        name += QLatin1Char('_') + QString::number(device.port);
    return name;
}

QString stateLogFileName(const core::Tkonfig& device) {
    return logBaseName(device) + QStringLiteral(".slg");
}

QString valueLogFileName(const core::Tkonfig& device, int channel) {
    return logBaseName(device) + QStringLiteral("_%1.vlg").arg(channel, 2, 10, QLatin1Char('0'));
}

BinaryLogs::BinaryLogs(core::DeviceTable& table) : m_table(table) {}

void BinaryLogs::setDirectory(const QString& directory) {
    QMutexLocker lock(&m_mutex);
    m_directory = core::withTrailingSeparator(directory);
}

QString BinaryLogs::directory() const {
    QMutexLocker lock(&m_mutex);
    return m_directory;
}

void BinaryLogs::setChartFeed(ChartFeed* feed) {
    QMutexLocker lock(&m_mutex);
    m_feed = feed;
}

QString BinaryLogs::lastError() const {
    QMutexLocker lock(&m_mutex);
    return m_lastError;
}

bool BinaryLogs::WriteStateLog(quint8 device, std::uint8_t code) {
    if (device != 0) {
        const core::DeviceSnapshot s = m_table.snapshot(device);
        return writeStateRecord(device, s.konfig, s.stav, code);
    }
    // Records are copied before the logs' lock is taken, so the two locks never nest.
    const std::vector<core::DeviceSnapshot> devices = m_table.snapshots();
    QMutexLocker lock(&m_mutex);
    const double time = core::nowDateTimeNumber();
    for (const core::DeviceSnapshot& s : devices) {
        if (s.konfig.stateLogEnabled != 1)
            continue;
        StateLogRecord record{};
        record.time = time;
        record.code = code;
        if (!appendState(0, s.konfig, record))
            return false;
    }
    return true;
}

bool BinaryLogs::writeStateRecord(quint8 device, const core::Tkonfig& konfig, const core::Tstav& stav,
                                  std::uint8_t code) {
    if (konfig.stateLogEnabled != 1)
        return true;
    QMutexLocker lock(&m_mutex);
    StateLogRecord record{};
    record.time = core::nowDateTimeNumber();
    record.code = code;
    record.alarms = stav.alarms;
    record.valueAlarms = stav.valueAlarms;
    record.customAlarms = stav.customAlarms;
    record.errors = stav.errors;
    record.trapFlag = stav.trapFlag;
    record.outputs = stav.outputBits();
    return appendState(device, konfig, record);
}

bool BinaryLogs::appendState(quint8 device, const core::Tkonfig& konfig, const StateLogRecord& record) {
    if (!append(m_directory + stateLogFileName(konfig), &record, sizeof record))
        return false;
    if (m_feed && device != 0)
        m_feed->AppendStatePoints(device, record);
    return true;
}

bool BinaryLogs::WriteValueLog(quint8 device, int channel) {
    if (channel < 0 || channel >= core::kValueCount) {
        QMutexLocker lock(&m_mutex);
        m_lastError = QStringLiteral("No value channel %1.").arg(channel);
        return false;
    }
    const core::DeviceSnapshot s = m_table.snapshot(device);
    return writeValueRecord(device, s.konfig, channel, s.stav.value[std::size_t(channel)]);
}

bool BinaryLogs::writeValueRecord(quint8 device, const core::Tkonfig& konfig, int channel, float value) {
    QMutexLocker lock(&m_mutex);
    if (channel < 0 || channel >= core::kValueCount) {
        m_lastError = QStringLiteral("No value channel %1.").arg(channel);
        return false;
    }
    ValueLogRecord record{};
    record.time = core::nowDateTimeNumber();
    record.value = value;
    if (!append(m_directory + valueLogFileName(konfig, channel), &record, sizeof record))
        return false;
    if (m_feed && device != 0)
        m_feed->AppendValuePoint(device, channel, value, record.time);
    return true;
}

bool BinaryLogs::append(const QString& path, const void* record, int size) {
    if (m_directory.isEmpty()) {
        m_lastError = QStringLiteral("No directory is set for the logs.");
        return false;
    }
    // ReadWrite creates a missing file (never a missing directory) and keeps an existing one.
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        m_lastError = QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString());
        return false;
    }
    // A torn record at the end (a write cut short earlier) is cut off, so this record and every
    // later one start on a record boundary.
    const qint64 size64 = file.size();
    const qint64 whole = size64 - size64 % size;
    bool ok = (whole == size64 || file.resize(whole)) && file.seek(whole);
    ok = ok && file.write(static_cast<const char*>(record), size) == size && file.flush();
    const QString writeError = file.errorString();
    file.close();
    if (!ok || file.error() != QFileDevice::NoError) {
        m_lastError =
            QStringLiteral("Cannot write file \"%1\". %2").arg(path, ok ? file.errorString() : writeError);
        return false;
    }
    return true;
}

std::optional<std::vector<StateLogRecord>> readStateLog(const QString& path, QString* error) {
    return readRecords<StateLogRecord>(path, error);
}

std::optional<std::vector<ValueLogRecord>> readValueLog(const QString& path, QString* error) {
    return readRecords<ValueLogRecord>(path, error);
}

} // namespace quodra::logs
