// quodra-tool demo-list: a device list for the demo, made from a simulator description file.

#include "tool/tool_command.h"

#include "core/device_list_file.h"
#include "core/device_records.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>
#include <vector>

namespace quodra::tool {

namespace {

// Dotted IPv4 text as a number; nullopt for anything else.
std::optional<quint32> parseIpv4(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    quint32 value = 0;
    for (const QString& p : parts) {
        bool ok = false;
        const uint octet = p.toUInt(&ok);
        if (!ok || octet > 255)
            return std::nullopt;
        value = value << 8 | octet;
    }
    return value;
}

QString ipv4Text(quint32 v)
{
    return QStringLiteral("%1.%2.%3.%4").arg(v >> 24).arg((v >> 16) & 255).arg((v >> 8) & 255).arg(v & 255);
}

core::Tkonfig demoDevice(const QString& address, int port)
{
    core::Tkonfig k{};
    k.ipAddress.setText(address);
    k.port = port == core::kDefaultTcpPort ? 0 : quint16(port);
    k.pollEnabled = 1;
    k.stateLogEnabled = 1;
    k.valueLogMask = 0x0003; // the first two channels
    k.valuesInUse = 0xFFFF;
    k.alarmsInUse = 0xFF;
    k.customAlarmsInUse = 0xFFFFFFFF;
    for (auto& m : k.outputMode)
        m = 1;
    return k;
}

// The fleet's addresses: the listed devices, then each generated fleet (the third octet steps).
bool fleetAddresses(const QJsonObject& root, std::vector<std::pair<QString, int>>& out, QString& error)
{
    for (const QJsonValue& v : root.value(QStringLiteral("devices")).toArray()) {
        const QString address = v.toObject().value(QStringLiteral("address")).toString();
        if (!parseIpv4(address)) {
            error = QStringLiteral("device without a valid IPv4 address: \"%1\"").arg(address);
            return false;
        }
        out.emplace_back(address, v.toObject().value(QStringLiteral("port")).toInt(core::kDefaultTcpPort));
    }
    for (const QJsonValue& v : root.value(QStringLiteral("fleets")).toArray()) {
        const QJsonObject f = v.toObject();
        const auto first = parseIpv4(f.value(QStringLiteral("firstAddress")).toString());
        const int count = f.value(QStringLiteral("count")).toInt();
        const int port = f.value(QStringLiteral("template"))
                             .toObject()
                             .value(QStringLiteral("port"))
                             .toInt(core::kDefaultTcpPort);
        if (!first || count < 0 || count > core::kMaxDevices) {
            error = QStringLiteral("fleet with a bad firstAddress or count");
            return false;
        }
        for (int i = 0; i < count; ++i)
            out.emplace_back(ipv4Text(*first + quint32(i) * 256u), port);
    }
    return true;
}

int runDemoList(const QStringList& args)
{
    if (args.size() < 2)
        return usageError(QStringLiteral("demo-list"));
    QFile file(args[0]);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("%1: %2").arg(args[0], file.errorString()));
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!doc.isObject())
        return fail(QStringLiteral("%1: %2").arg(args[0], parseError.errorString()));
    std::vector<std::pair<QString, int>> addresses;
    QString error;
    if (!fleetAddresses(doc.object(), addresses, error))
        return fail(QStringLiteral("%1: %2").arg(args[0], error));
    for (const QString& extra : args.mid(2))
        addresses.emplace_back(extra, core::kDefaultTcpPort);
    if (addresses.size() > std::size_t(core::kMaxDevices))
        return fail(QStringLiteral("more than 255 devices"));

    std::vector<core::Tkonfig> records;
    for (const auto& [address, port] : addresses)
        records.push_back(demoDevice(address, port));
    if (!core::writeDeviceList(args[1], records, &error))
        return fail(QStringLiteral("%1: %2").arg(args[1], error));
    return 0;
}

[[maybe_unused]] const bool registered = registerCommand(
    {QStringLiteral("demo-list"), QStringLiteral("FLEET.json OUT.eth [ADDRESS...]"),
     QStringLiteral("write a device list of the simulator's devices (polled, logged) and extra addresses"),
     &runDemoList});

} // namespace

} // namespace quodra::tool
