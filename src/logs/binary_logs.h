#pragma once
// Binary history per device: the state log (20-byte records, ".slg") and the value logs (12-byte
// records, one ".vlg" per value channel). Files only grow; each record is appended with the file
// opened for that record alone. Writers are serialised and keep their call order. A writer that
// finds a torn record at the end of a file cuts the file back to whole records first.

#include "core/device_records.h"
#include "core/device_table.h"

#include <QMutex>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace quodra::logs {

enum StateLogCode : std::uint8_t {
    slChange = 0,
    slStart = 1,
    slEnd = 2,
    slCommFail = 3,
    slCommBack = 4,
    slTrapAccept = 5,
    slOutputSwitch = 10,
};

#pragma pack(push, 1)
struct StateLogRecord {
    double time;
    std::uint8_t code;
    std::uint8_t alarms;
    std::uint16_t valueAlarms;
    std::uint32_t customAlarms;
    std::uint16_t errors;
    std::uint8_t trapFlag;
    std::uint8_t outputs;
};
struct ValueLogRecord {
    double time;
    float value;
};
#pragma pack(pop)
static_assert(sizeof(StateLogRecord) == 20);
static_assert(offsetof(StateLogRecord, code) == 8);
static_assert(offsetof(StateLogRecord, alarms) == 9);
static_assert(offsetof(StateLogRecord, valueAlarms) == 10);
static_assert(offsetof(StateLogRecord, customAlarms) == 12);
static_assert(offsetof(StateLogRecord, errors) == 16);
static_assert(offsetof(StateLogRecord, trapFlag) == 18);
static_assert(offsetof(StateLogRecord, outputs) == 19);
static_assert(offsetof(ValueLogRecord, value) == 8);
static_assert(sizeof(ValueLogRecord) == 12);

// File name stem of a device's logs: the address with "." as "_", then "_" and the port when the
// port is not 0. Path separators and control characters become "_" so no name leaves the log
// directory; an empty address gives "_" so the stem is never empty.
QString logBaseName(const core::Tkonfig& device);
QString stateLogFileName(const core::Tkonfig& device);              // stem + ".slg"
QString valueLogFileName(const core::Tkonfig& device, int channel); // stem + "_00".."_15" + ".vlg"

// Receives every record written, so open charts grow live. Called on the writer's thread while the
// writers' lock is held (so records arrive in file order); it must not call back into BinaryLogs.
class ChartFeed {
public:
    virtual ~ChartFeed() = default;
    virtual void AppendStatePoints(quint8 device, const StateLogRecord& record) = 0;
    virtual void AppendValuePoint(quint8 device, int channel, float value, double time) = 0;
};

class BinaryLogs {
public:
    explicit BinaryLogs(core::DeviceTable& table);

    // Directory text ending with a path separator ("/" is added when it is missing).
    void setDirectory(const QString& directory);
    QString directory() const;
    void setChartFeed(ChartFeed* feed);

    // Device 0: a record with every state field 0 for each device whose state logging is on,
    // in table order; a failure ends the call. False on an I/O error (see lastError()).
    bool WriteStateLog(quint8 device, std::uint8_t code);
    // Appends the channel's current value of the device, whatever its valueLogMask says.
    // A channel outside 0..15 is refused (false).
    bool WriteValueLog(quint8 device, int channel);

    // The same for a device whose records the caller already holds. A state record is written
    // only when the record's stateLogEnabled is 1; device 0 here only means "hand nothing on".
    bool writeStateRecord(quint8 device, const core::Tkonfig& konfig, const core::Tstav& stav,
                          std::uint8_t code);
    bool writeValueRecord(quint8 device, const core::Tkonfig& konfig, int channel, float value);

    QString lastError() const;

private:
    // Callers hold m_mutex.
    bool append(const QString& path, const void* record, int size);
    bool appendState(quint8 device, const core::Tkonfig& konfig, const StateLogRecord& record);

    core::DeviceTable& m_table;
    mutable QMutex m_mutex;
    QString m_directory;
    QString m_lastError;
    ChartFeed* m_feed = nullptr;
};

// Readers: whole records only; a partial record at the end is ignored. One read straight into the
// returned vector. nullopt with an error text when the file is missing or cannot be read.
std::optional<std::vector<StateLogRecord>> readStateLog(const QString& path, QString* error = nullptr);
std::optional<std::vector<ValueLogRecord>> readValueLog(const QString& path, QString* error = nullptr);

} // namespace quodra::logs
