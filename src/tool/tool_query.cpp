// Command group "query": one status query of a device, made the way the console makes it.
//   query HOST[:PORT] [--udp] [--texts] [--outputs] [--decimals N]
//
// The query runs through the console's own DeviceLink on a table holding just this device, with
// every log off: no event log, no state or value log. It prints one JSON object:
//   deviceVariant, alarmsInUse, valuesInUse     from the status reply
//   alarms, valueAlarms, errors, customAlarms   the state groups
//   values    16 entries: null for a channel the values reply did not report, otherwise
//             {"raw": the value as a number, "text": the text the console shows,
//              "power": power channel, "duration": shown as a duration}
//   outputs   with --outputs, 6 entries {"mode", "state"}; null when the outputs were not read
//   with --texts, the device's texts (read first, over TCP) as "devices" prints them, and
//   customAlarmsInUse
// A device that cannot be reached or fails an exchange: a message on stderr and exit code 2.

#include "tool/tool_command.h"
#include "tool/tool_json.h"

#include "comm/device_link.h"
#include "core/console_options.h"
#include "core/device_table.h"
#include "logs/binary_logs.h"
#include "logs/event_log.h"

#include <QHostAddress>
#include <QJsonArray>

#include <algorithm>
#include <iterator>
#include <optional>

namespace quodra::tool {

namespace {

constexpr int kExitUnreachable = 2;
constexpr int kMaxDecimals = 15;
constexpr quint8 kModeNotRead = 0xFF;

struct QueryArguments {
    QString address;
    quint16 port = 0; // 0: the device's default TCP port
    bool udp = false;
    bool texts = false;
    bool outputs = false;
    quint8 decimals = 1;
};

// "HOST" or "HOST:PORT" into out; false with *error for anything else.
bool parseTarget(const QString& text, QueryArguments& out, QString* error)
{
    QString host = text;
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        host = text.left(colon);
        bool ok = false;
        const uint port = text.mid(colon + 1).toUInt(&ok);
        if (!ok || port == 0 || port > 65535) {
            *error = QStringLiteral("bad port in \"%1\"").arg(text);
            return false;
        }
        out.port = quint16(port);
    }
    if (host.isEmpty() || host.contains(QLatin1Char(':'))) {
        *error = QStringLiteral("bad device address \"%1\"").arg(text);
        return false;
    }
    // Texts longer than the record's address field would be cut: refuse them instead.
    if (core::encodeFixedText(host).size() > qsizetype(decltype(core::Tkonfig::ipAddress)::capacity)) {
        *error = QStringLiteral("device address \"%1\" is too long").arg(host);
        return false;
    }
    out.address = host;
    return true;
}

std::optional<QueryArguments> parseArguments(const QStringList& args, QString* error)
{
    QueryArguments a;
    bool haveTarget = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--udp")) {
            a.udp = true;
        } else if (arg == QLatin1String("--texts")) {
            a.texts = true;
        } else if (arg == QLatin1String("--outputs")) {
            a.outputs = true;
        } else if (arg == QLatin1String("--decimals")) {
            bool ok = false;
            const uint n = i + 1 < args.size() ? args[i + 1].toUInt(&ok) : 0;
            if (!ok || n > uint(kMaxDecimals)) {
                *error = QStringLiteral("--decimals needs a number 0..%1").arg(kMaxDecimals);
                return std::nullopt;
            }
            a.decimals = quint8(n);
            ++i;
        } else if (arg.startsWith(QLatin1String("--")) || haveTarget) {
            *error = QStringLiteral("unexpected argument \"%1\"").arg(arg);
            return std::nullopt;
        } else {
            if (!parseTarget(arg, a, error))
                return std::nullopt;
            haveTarget = true;
        }
    }
    if (!haveTarget) {
        *error = QStringLiteral("no device address given");
        return std::nullopt;
    }
    return a;
}

// Keeps what the link would show the operator, for the failure message.
class ToolObserver : public comm::CommObserver {
public:
    void showError(const QString& text) override { errors.append(text); }
    void operatorNotice(const QString& text) override { errors.append(text); }
    QStringList errors;
};

QJsonObject resultObject(const core::DeviceSnapshot& s, const QueryArguments& a)
{
    const core::Tkonfig& k = s.konfig;
    const core::Tstav& st = s.stav;
    QJsonObject o;
    o.insert(QStringLiteral("deviceVariant"), k.deviceVariant);
    o.insert(QStringLiteral("alarmsInUse"), k.alarmsInUse);
    o.insert(QStringLiteral("valuesInUse"), k.valuesInUse);
    o.insert(QStringLiteral("alarms"), st.alarms);
    o.insert(QStringLiteral("valueAlarms"), st.valueAlarms);
    o.insert(QStringLiteral("errors"), st.errors);
    o.insert(QStringLiteral("customAlarms"), double(st.customAlarms));

    // The record started cleared, so a channel has a text exactly when the values reply reported
    // it (every reported channel gets a non-empty number or duration text).
    QJsonArray values;
    for (int c = 0; c < core::kValueCount; ++c) {
        const QString& text = st.valueText[std::size_t(c)];
        if (text.isEmpty()) {
            values.append(QJsonValue(QJsonValue::Null));
            continue;
        }
        QJsonObject v;
        v.insert(QStringLiteral("raw"), floatValue(st.value[std::size_t(c)]));
        v.insert(QStringLiteral("text"), text);
        v.insert(QStringLiteral("power"), (k.powerMask & (1u << c)) != 0);
        v.insert(QStringLiteral("duration"), (k.timeMask & (1u << c)) != 0);
        values.append(v);
    }
    o.insert(QStringLiteral("values"), values);

    if (a.outputs) {
        QJsonArray outputs;
        for (int i = 0; i < core::kOutputCount; ++i) {
            QJsonObject out;
            out.insert(QStringLiteral("mode"), k.outputMode[i]);
            out.insert(QStringLiteral("state"), st.outputState[std::size_t(i)]);
            outputs.append(out);
        }
        o.insert(QStringLiteral("outputs"), outputs);
    } else {
        o.insert(QStringLiteral("outputs"), QJsonValue(QJsonValue::Null));
    }

    if (a.texts) {
        insertDeviceTexts(o, k);
        o.insert(QStringLiteral("customAlarmsInUse"), double(k.customAlarmsInUse));
    }
    return o;
}

int runQuery(const QStringList& args)
{
    QString error;
    const auto a = parseArguments(args, &error);
    if (!a) {
        fail(error);
        return usageError(QStringLiteral("query"));
    }

    core::DeviceTable table;
    core::ConsoleOptions options;
    options.setProtocol(a->udp ? core::Transport::Udp : core::Transport::Tcp);
    options.setOutputsUsed(a->outputs);
    options.setCustomAlarmsUsed(true);
    options.setPingFirst(false);
    for (int c = 0; c < core::kValueCount; ++c)
        options.setValueDecimals(c, a->decimals);
    table.setCustomAlarmsUsed(true);

    // Logs stay off: the event log is disabled and the device logs no state and no values, so
    // neither log writer is given a directory.
    logs::EventLog eventLog(table);
    eventLog.setEnabled(false);
    logs::BinaryLogs binaryLogs(table);
    ToolObserver observer;
    comm::DeviceLink link(table, options, eventLog, binaryLogs, &observer);

    table.InsertDevice(1);
    table.modify(1, [&](core::Tkonfig& k, core::Tstav&) {
        k.ipAddress.setText(a->address);
        k.port = a->port;
        k.pollEnabled = 1;
        k.stateLogEnabled = 0;
        k.valueLogMask = 0;
        k.textsLoaded = a->texts ? 0 : 1; // texts are read first only when asked for
        // A mode no device reports: all six still holding it after the query means the outputs
        // read failed (a successful read sets every mode, 0 for an absent output).
        std::fill(std::begin(k.outputMode), std::end(k.outputMode), kModeNotRead);
    });

    link.QueryStatus(1, true);

    const core::DeviceSnapshot s = table.snapshot(1);
    const QString target = a->udp
                               ? QStringLiteral("%1 (UDP port %2)").arg(a->address).arg(comm::kUdpDevicePort)
                               : QStringLiteral("%1:%2 (TCP)").arg(a->address).arg(s.konfig.tcpPort());
    const QString detail = observer.errors.isEmpty()
                               ? QString()
                               : QStringLiteral(": ") + observer.errors.join(QStringLiteral("; "));
    if (s.stav.commState != core::CommAnswered) {
        const QString reason = link.lastFailure();
        fail(QStringLiteral("device %1 did not answer the status query: %2%3")
                 .arg(target, reason.isEmpty() ? QStringLiteral("no answer") : reason, detail));
        return kExitUnreachable;
    }
    if (a->texts && s.konfig.textsLoaded == 0) {
        fail(QStringLiteral("device %1: its texts could not be read completely%2").arg(target, detail));
        return kExitUnreachable;
    }
    if (a->outputs && std::all_of(std::begin(s.konfig.outputMode), std::end(s.konfig.outputMode),
                                  [](quint8 m) { return m == kModeNotRead; })) {
        fail(QStringLiteral("device %1: the outputs could not be read").arg(target));
        return kExitUnreachable;
    }
    printJsonLine(resultObject(s, *a));
    return 0;
}

[[maybe_unused]] const bool registered = registerCommand(
    {QStringLiteral("query"), QStringLiteral("HOST[:PORT] [--udp] [--texts] [--outputs] [--decimals N]"),
     QStringLiteral(
         "query one device's status, values and (with --outputs) outputs as the console does and print "
         "one JSON object; exit code 2 when the device does not answer"),
     &runQuery});

} // namespace

} // namespace quodra::tool
