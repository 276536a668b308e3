#include "sim/sim_device.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cmath>

namespace quodra::sim {

std::uint16_t DeviceDescription::valuesInUse() const
{
    std::uint16_t mask = 0;
    for (const SimChannel& c : channels)
        if (c.channel >= 0 && c.channel < 16)
            mask |= std::uint16_t(1u << c.channel);
    return mask;
}

SimChannel* DeviceDescription::channel(int k)
{
    for (SimChannel& c : channels)
        if (c.channel == k)
            return &c;
    return nullptr;
}

const SimChannel* DeviceDescription::channel(int k) const
{
    return const_cast<DeviceDescription*>(this)->channel(k);
}

namespace {

// Thrown inside the parser only; parseSimConfig turns it into its error text.
struct ParseError {
    QString message;
};

[[noreturn]] void fail(const QString& path, const QString& what)
{
    throw ParseError{path + QStringLiteral(": ") + what};
}

QString at(const QString& path, const QString& key) { return path + QLatin1Char('.') + key; }
QString at(const QString& path, qsizetype index)
{
    return path + QLatin1Char('[') + QString::number(index) + QLatin1Char(']');
}

// Reads the keys of one object, rejecting unknown keys so typing mistakes do not pass unseen.
class Reader {
public:
    Reader(const QJsonValue& value, QString path, QStringList known) : m_path(std::move(path))
    {
        if (!value.isObject())
            fail(m_path, QStringLiteral("must be an object"));
        m_object = value.toObject();
        for (auto it = m_object.begin(); it != m_object.end(); ++it)
            if (!known.contains(it.key()))
                fail(at(m_path, it.key()), QStringLiteral("unknown key"));
    }

    bool has(const QString& key) const { return m_object.contains(key); }
    QJsonValue value(const QString& key) const { return m_object.value(key); }
    const QString& path() const { return m_path; }

    double number(const QString& key, double fallback) const
    {
        if (!has(key))
            return fallback;
        const QJsonValue v = m_object.value(key);
        if (!v.isDouble() || !std::isfinite(v.toDouble()))
            fail(at(m_path, key), QStringLiteral("must be a number"));
        return v.toDouble();
    }

    // An integer in [lo, hi].
    qint64 integer(const QString& key, qint64 fallback, qint64 lo, qint64 hi) const
    {
        if (!has(key))
            return fallback;
        const double v = number(key, 0);
        if (v != std::floor(v) || v < double(lo) || v > double(hi))
            fail(at(m_path, key), QStringLiteral("must be a whole number from %1 to %2").arg(lo).arg(hi));
        return qint64(v);
    }

    QString text(const QString& key, const QString& fallback = {}) const
    {
        if (!has(key))
            return fallback;
        const QJsonValue v = m_object.value(key);
        if (!v.isString())
            fail(at(m_path, key), QStringLiteral("must be a text"));
        return v.toString();
    }

    bool boolean(const QString& key, bool fallback) const
    {
        if (!has(key))
            return fallback;
        const QJsonValue v = m_object.value(key);
        if (!v.isBool())
            fail(at(m_path, key), QStringLiteral("must be true or false"));
        return v.toBool();
    }

    QJsonArray array(const QString& key, qsizetype maxSize) const
    {
        if (!has(key))
            return {};
        const QJsonValue v = m_object.value(key);
        if (!v.isArray())
            fail(at(m_path, key), QStringLiteral("must be a list"));
        if (v.toArray().size() > maxSize)
            fail(at(m_path, key), QStringLiteral("has more than %1 entries").arg(maxSize));
        return v.toArray();
    }

    template <std::size_t N> void texts(const QString& key, std::array<QString, N>& out) const
    {
        const QJsonArray list = array(key, qsizetype(N));
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (!list[i].isString())
                fail(at(at(m_path, key), i), QStringLiteral("must be a text"));
            out[size_t(i)] = list[i].toString();
        }
    }

private:
    QJsonObject m_object;
    QString m_path;
};

SimChannel readChannel(const QJsonValue& value, const QString& path, int position)
{
    const Reader r(value, path,
                   {QStringLiteral("channel"), QStringLiteral("name"), QStringLiteral("unit"),
                    QStringLiteral("kind"), QStringLiteral("refersTo"), QStringLiteral("value"),
                    QStringLiteral("change"), QStringLiteral("alarmLow"), QStringLiteral("alarmHigh")});
    SimChannel c;
    c.channel = int(r.integer(QStringLiteral("channel"), position, 0, 15));
    c.name = r.text(QStringLiteral("name"));
    c.unit = r.text(QStringLiteral("unit"));
    c.kind = std::uint8_t(r.integer(QStringLiteral("kind"), 0, 0, 255));
    c.refersTo = int(r.integer(QStringLiteral("refersTo"), 0, 0, 15));
    c.value = r.number(QStringLiteral("value"), 0);
    if (r.has(QStringLiteral("alarmLow")))
        c.alarmLow = r.number(QStringLiteral("alarmLow"), 0);
    if (r.has(QStringLiteral("alarmHigh")))
        c.alarmHigh = r.number(QStringLiteral("alarmHigh"), 0);
    if (r.has(QStringLiteral("change"))) {
        const QString cpath = at(path, QStringLiteral("change"));
        const Reader ch(r.value(QStringLiteral("change")), cpath,
                        {QStringLiteral("mode"), QStringLiteral("step"), QStringLiteral("min"),
                         QStringLiteral("max")});
        const QString mode = ch.text(QStringLiteral("mode"), QStringLiteral("walk"));
        if (mode == QLatin1String("walk"))
            c.change = ChangeMode::Walk;
        else if (mode == QLatin1String("ramp"))
            c.change = ChangeMode::Ramp;
        else if (mode == QLatin1String("none"))
            c.change = ChangeMode::None;
        else
            fail(at(cpath, QStringLiteral("mode")), QStringLiteral("must be \"walk\", \"ramp\" or \"none\""));
        c.step = ch.number(QStringLiteral("step"), 1);
        c.min = ch.number(QStringLiteral("min"), c.value);
        c.max = ch.number(QStringLiteral("max"), c.value);
        if (c.min > c.max)
            fail(cpath, QStringLiteral("min is above max"));
    }
    return c;
}

SimOutput readOutput(const QJsonValue& value, const QString& path)
{
    SimOutput o;
    if (value.isNull())
        return o;
    const Reader r(value, path,
                   {QStringLiteral("present"), QStringLiteral("mode"), QStringLiteral("on"), QStringLiteral("name")});
    o.present = r.boolean(QStringLiteral("present"), true);
    o.mode = std::uint8_t(r.integer(QStringLiteral("mode"), 1, 0, 255));
    o.on = r.boolean(QStringLiteral("on"), false);
    o.name = r.text(QStringLiteral("name"));
    return o;
}

// One device; a template (withAddress false) has no address key.
DeviceDescription readDevice(const QJsonValue& value, const QString& path, bool withAddress)
{
    QStringList known = {QStringLiteral("port"), QStringLiteral("type"), QStringLiteral("description"),
                         QStringLiteral("variant"), QStringLiteral("alarmsInUse"), QStringLiteral("alarms"),
                         QStringLiteral("valueAlarms"), QStringLiteral("errors"),
                         QStringLiteral("alarmOffTexts"), QStringLiteral("alarmOnTexts"),
                         QStringLiteral("channels"), QStringLiteral("flip"),
                         QStringLiteral("customAlarmsInUse"), QStringLiteral("customAlarms"),
                         QStringLiteral("customAlarmNames"), QStringLiteral("outputs"),
                         QStringLiteral("loginUser"), QStringLiteral("loginPassword")};
    if (withAddress)
        known.append(QStringLiteral("address"));
    const Reader r(value, path, known);
    DeviceDescription d;
    if (withAddress) {
        if (!r.has(QStringLiteral("address")))
            fail(path, QStringLiteral("has no address"));
        d.address = r.text(QStringLiteral("address"));
        QHostAddress host;
        if (!host.setAddress(d.address) || host.protocol() != QAbstractSocket::IPv4Protocol)
            fail(at(path, QStringLiteral("address")), QStringLiteral("\"%1\" is not an IPv4 address").arg(d.address));
        d.address = host.toString();
    }
    d.port = quint16(r.integer(QStringLiteral("port"), kDefaultTcpPort, 1, 65535));
    d.type = r.text(QStringLiteral("type"));
    d.description = r.text(QStringLiteral("description"));
    d.variant = std::uint8_t(r.integer(QStringLiteral("variant"), 0, 0, 255));
    d.alarmsInUse = std::uint8_t(r.integer(QStringLiteral("alarmsInUse"), 0, 0, 255));
    d.alarms = std::uint8_t(r.integer(QStringLiteral("alarms"), 0, 0, 255));
    d.valueAlarms = std::uint16_t(r.integer(QStringLiteral("valueAlarms"), 0, 0, 65535));
    d.errors = std::uint16_t(r.integer(QStringLiteral("errors"), 0, 0, 65535));
    r.texts(QStringLiteral("alarmOffTexts"), d.alarmOffTexts);
    r.texts(QStringLiteral("alarmOnTexts"), d.alarmOnTexts);
    const QJsonArray channels = r.array(QStringLiteral("channels"), 16);
    QSet<int> seen;
    for (qsizetype i = 0; i < channels.size(); ++i) {
        const QString cpath = at(at(path, QStringLiteral("channels")), i);
        const SimChannel c = readChannel(channels[i], cpath, int(i));
        if (seen.contains(c.channel))
            fail(cpath, QStringLiteral("channel %1 appears twice").arg(c.channel));
        seen.insert(c.channel);
        d.channels.append(c);
    }
    if (r.has(QStringLiteral("flip"))) {
        const Reader f(r.value(QStringLiteral("flip")), at(path, QStringLiteral("flip")),
                       {QStringLiteral("alarms"), QStringLiteral("valueAlarms"), QStringLiteral("errors"),
                        QStringLiteral("customAlarms"), QStringLiteral("everyTicks")});
        d.flipAlarms = std::uint8_t(f.integer(QStringLiteral("alarms"), 0, 0, 255));
        d.flipValueAlarms = std::uint16_t(f.integer(QStringLiteral("valueAlarms"), 0, 0, 65535));
        d.flipErrors = std::uint16_t(f.integer(QStringLiteral("errors"), 0, 0, 65535));
        d.flipCustomAlarms = std::uint32_t(f.integer(QStringLiteral("customAlarms"), 0, 0, 0xFFFFFFFFLL));
        d.flipEveryTicks = int(f.integer(QStringLiteral("everyTicks"), 10, 1, 1000000));
    }
    d.customAlarmsInUse = std::uint16_t(r.integer(QStringLiteral("customAlarmsInUse"), 0, 0, 65535));
    d.customAlarms = std::uint32_t(r.integer(QStringLiteral("customAlarms"), 0, 0, 0xFFFFFFFFLL));
    r.texts(QStringLiteral("customAlarmNames"), d.customAlarmNames);
    const QJsonArray outputs = r.array(QStringLiteral("outputs"), 6);
    for (qsizetype i = 0; i < outputs.size(); ++i)
        d.outputs[size_t(i)] = readOutput(outputs[i], at(at(path, QStringLiteral("outputs")), i));
    d.loginUser = r.text(QStringLiteral("loginUser"));
    d.loginPassword = r.text(QStringLiteral("loginPassword"));
    return d;
}

// The address count steps of the third octet after first (127.0.1.1 -> 127.0.2.1 ...).
QString fleetAddress(quint32 first, int index) { return QHostAddress(first + quint32(index) * 256u).toString(); }

SimConfig readConfig(const QJsonValue& root)
{
    const Reader r(root, QStringLiteral("file"),
                   {QStringLiteral("tickMs"), QStringLiteral("seed"), QStringLiteral("devices"),
                    QStringLiteral("fleets")});
    SimConfig config;
    config.tickMs = int(r.integer(QStringLiteral("tickMs"), 1000, 0, 3600000));
    config.seed = quint32(r.integer(QStringLiteral("seed"), 1, 0, 0xFFFFFFFFLL));
    const QJsonArray devices = r.array(QStringLiteral("devices"), 100000);
    for (qsizetype i = 0; i < devices.size(); ++i)
        config.devices.append(readDevice(devices[i], at(QStringLiteral("devices"), i), true));
    const QJsonArray fleets = r.array(QStringLiteral("fleets"), 1000);
    for (qsizetype i = 0; i < fleets.size(); ++i) {
        const QString path = at(QStringLiteral("fleets"), i);
        const Reader f(fleets[i], path,
                       {QStringLiteral("count"), QStringLiteral("firstAddress"), QStringLiteral("template")});
        const int count = int(f.integer(QStringLiteral("count"), 1, 1, 65535));
        const QString firstText = f.text(QStringLiteral("firstAddress"), QStringLiteral("127.0.1.1"));
        QHostAddress first;
        if (!first.setAddress(firstText) || first.protocol() != QAbstractSocket::IPv4Protocol)
            fail(at(path, QStringLiteral("firstAddress")), QStringLiteral("\"%1\" is not an IPv4 address").arg(firstText));
        if (quint64(first.toIPv4Address()) + quint64(count - 1) * 256u > 0x7FFFFFFFu)
            fail(at(path, QStringLiteral("count")), QStringLiteral("addresses run past 127.255.255.255"));
        const DeviceDescription tmpl = readDevice(f.value(QStringLiteral("template")),
                                                  at(path, QStringLiteral("template")), false);
        for (int n = 0; n < count; ++n) {
            DeviceDescription d = tmpl;
            d.address = fleetAddress(first.toIPv4Address(), n);
            const QString number = QString::number(n + 1);
            d.type.replace(QStringLiteral("%n"), number);
            d.description.replace(QStringLiteral("%n"), number);
            config.devices.append(d);
        }
    }
    QSet<QString> addresses;
    for (const DeviceDescription& d : std::as_const(config.devices)) {
        if (addresses.contains(d.address))
            fail(QStringLiteral("file"), QStringLiteral("address %1 is used by two devices").arg(d.address));
        addresses.insert(d.address);
    }
    return config;
}

} // namespace

std::optional<SimConfig> parseSimConfig(const QByteArray& json, QString* error)
{
    QJsonParseError jsonError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &jsonError);
    if (jsonError.error != QJsonParseError::NoError) {
        if (error)
            *error = QStringLiteral("not valid JSON at offset %1: %2")
                         .arg(jsonError.offset)
                         .arg(jsonError.errorString());
        return std::nullopt;
    }
    try {
        return readConfig(doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(doc.array()));
    } catch (const ParseError& e) {
        if (error)
            *error = e.message;
        return std::nullopt;
    }
}

std::optional<SimConfig> loadSimConfig(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QString inner;
    auto config = parseSimConfig(file.readAll(), &inner);
    if (!config && error)
        *error = QStringLiteral("%1: %2").arg(path, inner);
    return config;
}

QByteArray exampleSimConfig()
{
    return QByteArrayLiteral(R"({
  "tickMs": 1000,
  "seed": 7,
  "devices": [
    {
      "address": "127.0.0.11",
      "port": 9760,
      "type": "Quodra IO8",
      "description": "Kotelna - sever",
      "variant": 0,
      "alarmsInUse": 15,
      "alarms": 0,
      "alarmOffTexts": ["Dveře zavřené", "Voda OK", "Kouř OK", "Napájení OK"],
      "alarmOnTexts": ["Dveře otevřené", "Zaplavení", "Kouř", "Výpadek napájení"],
      "channels": [
        { "name": "Teplota vody", "unit": "°C", "value": 62.5,
          "change": { "mode": "walk", "step": 0.4, "min": 55, "max": 75 }, "alarmHigh": 72 },
        { "name": "Příkon", "unit": "kW", "kind": 4, "value": 3.2,
          "change": { "mode": "walk", "step": 0.3, "min": 0, "max": 9 } },
        { "name": "Doba chodu", "unit": "", "kind": 8, "value": 93784,
          "change": { "mode": "ramp", "step": 1, "min": 0, "max": 22000000 } },
        { "name": "Chod hořáku", "unit": "", "kind": 6, "refersTo": 2, "value": 0 }
      ],
      "flip": { "alarms": 3, "everyTicks": 15 },
      "customAlarmsInUse": 5,
      "customAlarmNames": ["Přetlak", "", "Únik plynu"],
      "outputs": [
        { "name": "Čerpadlo", "mode": 1, "on": true },
        { "name": "Hořák", "mode": 1, "on": false },
        null, null, null, null
      ],
      "loginUser": "admin",
      "loginPassword": "heslo"
    }
  ],
  "fleets": [
    { "count": 3, "firstAddress": "127.0.1.1",
      "template": { "type": "Quodra T", "description": "Čidlo %n",
                    "channels": [ { "name": "Teplota", "unit": "°C", "value": 21,
                                    "change": { "mode": "walk", "step": 0.1, "min": 18, "max": 24 } } ] } }
  ]
}
)");
}

} // namespace quodra::sim
