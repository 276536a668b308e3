// Command group "files": prints the console's binary files as JSON, one object per line.
//   devices FILE.eth    one object per device of a device list
//   statelog FILE.slg   one object per state-log record
//   valuelog FILE.vlg   one object per value-log record

#include "tool/tool_command.h"
#include "tool/tool_json.h"

#include "core/date_time.h"
#include "core/device_list_file.h"
#include "logs/binary_logs.h"

#include <QFileInfo>
#include <QJsonArray>

namespace quodra::tool {

namespace {
// A file named on the command line must exist; a device list reader alone would take a missing
// file for an empty list.
bool requireFile(const QString& path, int* exitCode) {
    const QFileInfo info(path);
    if (!info.exists()) {
        *exitCode = fail(QStringLiteral("file \"%1\" does not exist").arg(path));
        return false;
    }
    if (!info.isFile()) {
        *exitCode = fail(QStringLiteral("\"%1\" is not a file").arg(path));
        return false;
    }
    return true;
}

// Local time as "YYYY-MM-DDTHH:MM:SS"; null for a number that is no date-time.
QJsonValue timeValue(double number) {
    const QDateTime when = core::fromDateTimeNumber(number);
    if (!when.isValid())
        return QJsonValue(QJsonValue::Null);
    return when.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
}

QJsonObject deviceObject(int number, const core::Tkonfig& k) {
    QJsonObject o;
    o.insert(QStringLiteral("number"), number);
    o.insert(QStringLiteral("ipAddress"), k.ipAddress.text());
    o.insert(QStringLiteral("port"), k.port);
    o.insert(QStringLiteral("pollEnabled"), k.pollEnabled != 0);
    o.insert(QStringLiteral("stateLogEnabled"), k.stateLogEnabled == 1);
    o.insert(QStringLiteral("valuesInUse"), k.valuesInUse);
    o.insert(QStringLiteral("alarmsInUse"), k.alarmsInUse);
    o.insert(QStringLiteral("customAlarmsInUse"), double(k.customAlarmsInUse));
    o.insert(QStringLiteral("valueLogMask"), k.valueLogMask);
    o.insert(QStringLiteral("deviceVariant"), k.deviceVariant);
    o.insert(QStringLiteral("loginUser"), k.loginUser.text());
    QJsonArray modes;
    for (std::uint8_t m : k.outputMode)
        modes.append(m);
    o.insert(QStringLiteral("outputMode"), modes);
    o.insert(QStringLiteral("textsLoaded"), k.textsLoaded != 0);
    insertDeviceTexts(o, k);
    o.insert(QStringLiteral("powerMask"), k.powerMask);
    o.insert(QStringLiteral("timeMask"), k.timeMask);
    return o;
}

int runDevices(const QStringList& args) {
    if (args.size() != 1)
        return usageError(QStringLiteral("devices"));
    int exitCode = 0;
    if (!requireFile(args[0], &exitCode))
        return exitCode;
    QString error;
    const auto devices = core::readDeviceList(args[0], &error);
    if (!devices)
        return fail(error);
    for (std::size_t i = 0; i < devices->size(); ++i)
        printJsonLine(deviceObject(int(i) + 1, (*devices)[i]));
    return 0;
}

int runStateLog(const QStringList& args) {
    if (args.size() != 1)
        return usageError(QStringLiteral("statelog"));
    int exitCode = 0;
    if (!requireFile(args[0], &exitCode))
        return exitCode;
    QString error;
    const auto records = logs::readStateLog(args[0], &error);
    if (!records)
        return fail(error);
    for (const logs::StateLogRecord& r : *records) {
        QJsonObject o;
        o.insert(QStringLiteral("time"), timeValue(r.time));
        o.insert(QStringLiteral("code"), r.code);
        o.insert(QStringLiteral("alarms"), r.alarms);
        o.insert(QStringLiteral("valueAlarms"), r.valueAlarms);
        o.insert(QStringLiteral("customAlarms"), double(r.customAlarms));
        o.insert(QStringLiteral("errors"), r.errors);
        o.insert(QStringLiteral("trapFlag"), r.trapFlag);
        o.insert(QStringLiteral("outputs"), r.outputs);
        printJsonLine(o);
    }
    return 0;
}

int runValueLog(const QStringList& args) {
    if (args.size() != 1)
        return usageError(QStringLiteral("valuelog"));
    int exitCode = 0;
    if (!requireFile(args[0], &exitCode))
        return exitCode;
    QString error;
    const auto records = logs::readValueLog(args[0], &error);
    if (!records)
        return fail(error);
    for (const logs::ValueLogRecord& r : *records) {
        QJsonObject o;
        o.insert(QStringLiteral("time"), timeValue(r.time));
        o.insert(QStringLiteral("value"), floatValue(r.value));
        printJsonLine(o);
    }
    return 0;
}

[[maybe_unused]] const bool registered =
    registerCommand({QStringLiteral("devices"), QStringLiteral("FILE.eth"),
                     QStringLiteral("print each device of a device list as one JSON object per line"),
                     &runDevices}) &&
    registerCommand({QStringLiteral("statelog"), QStringLiteral("FILE.slg"),
                     QStringLiteral("print each state-log record as one JSON object per line"),
                     &runStateLog}) &&
    registerCommand({QStringLiteral("valuelog"), QStringLiteral("FILE.vlg"),
                     QStringLiteral("print each value-log record as one JSON object per line"),
                     &runValueLog});
} // namespace

} // namespace quodra::tool
