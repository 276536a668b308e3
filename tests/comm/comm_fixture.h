#pragma once
// A console side (device table, options, real event log and binary logs in a temporary
// directory, the device link) and the simulator on loopback, for the comm tests.

#include "comm/device_link.h"
#include "core/code_page.h"
#include "logs/binary_logs.h"
#include "logs/event_log.h"
#include "sim/sim_fleet.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace quodra::test {

// Records what the link tells the user interface.
class RecordingObserver : public comm::CommObserver {
public:
    void gridMark(core::DeviceId device, comm::GridMark mark) override
    {
        QMutexLocker l(&m_mutex);
        marks.push_back({device, mark});
    }
    void memoLine(const QString& line) override
    {
        QMutexLocker l(&m_mutex);
        memo.push_back(line);
    }
    void refreshRequested(core::DeviceId) override
    {
        QMutexLocker l(&m_mutex);
        ++refreshes;
    }
    void showError(const QString& text) override
    {
        QMutexLocker l(&m_mutex);
        errors.push_back(text);
    }
    void setBusy(bool on) override
    {
        QMutexLocker l(&m_mutex);
        busy += on ? 1 : -1;
        ++busyCalls;
    }
    void operatorNotice(const QString& text) override
    {
        QMutexLocker l(&m_mutex);
        notices.push_back(text);
    }

    std::vector<std::pair<core::DeviceId, comm::GridMark>> marks;
    QStringList memo;
    QStringList errors;
    QStringList notices;
    int refreshes = 0;
    int busy = 0; // balance of on/off
    int busyCalls = 0;

private:
    QMutex m_mutex;
};

// A device description with every kind of channel, custom alarms, outputs and a login.
inline sim::DeviceDescription richDevice(const QString& address, quint16 port = sim::kDefaultTcpPort)
{
    sim::DeviceDescription d;
    d.address = address;
    d.port = port;
    d.type = QStringLiteral("Quodra IO");
    d.description = QStringLiteral("Kotelna");
    d.variant = 1;
    d.alarmsInUse = 0x3F;
    d.alarms = 5;
    d.valueAlarms = 0x0002;
    d.errors = 0x0004;
    for (int i = 0; i < 8; ++i) {
        d.alarmOffTexts[std::size_t(i)] = QStringLiteral("Klid %1").arg(i);
        d.alarmOnTexts[std::size_t(i)] = QStringLiteral("Poplach %1").arg(i);
    }
    auto channel = [](int n, const QString& name, const QString& unit, std::uint8_t kind, double value,
                      int refersTo = 0) {
        sim::SimChannel c;
        c.channel = n;
        c.name = name;
        c.unit = unit;
        c.kind = kind;
        c.value = value;
        c.refersTo = refersTo;
        return c;
    };
    d.channels = {
        channel(0, QStringLiteral("Teplota"), QStringLiteral("°C"), 0, 23.456),
        channel(1, QStringLiteral("Příkon"), QStringLiteral("kW"), 4, 1.5),
        channel(2, QStringLiteral("Provoz"), QStringLiteral("h"), 8, 98410), // 1d 3:20:10
        channel(3, QStringLiteral("Odkaz na čas"), QString(), 6, 7.25, 2),
        channel(4, QStringLiteral("Odkaz na číslo"), QString(), 7, 2.375, 0),
        channel(5, QStringLiteral("Odkaz mimo"), QString(), 6, 3.875, 9),
    };
    d.customAlarmsInUse = 0x0005;
    d.customAlarms = 0x3;
    d.customAlarmNames[0] = QStringLiteral("Přetlak");
    d.customAlarmNames[1] = QStringLiteral("Nečte se");
    d.customAlarmNames[2] = QStringLiteral("Únik");
    d.outputs[0] = {true, 1, false, QStringLiteral("Čerpadlo")};
    d.outputs[3] = {true, 2, true, QStringLiteral("Ventil")};
    d.loginUser = QStringLiteral("admin");
    d.loginPassword = QStringLiteral("heslo");
    return d;
}

class CommTest : public ::testing::Test {
protected:
    CommTest() : eventLog(table), binaryLogs(table), link(table, options, eventLog, binaryLogs, &observer)
    {
        EXPECT_TRUE(dir.isValid());
        eventLog.setDirectory(dir.path() + QLatin1Char('/'));
        eventLog.setEnabled(true);
        binaryLogs.setDirectory(dir.path() + QLatin1Char('/'));
    }

    // Starts the simulator with these devices.
    void startFleet(QList<sim::DeviceDescription> devices)
    {
        fleet = std::make_unique<sim::SimFleet>(std::move(devices));
        QString error;
        ASSERT_TRUE(fleet->start(&error)) << error.toStdString();
    }

    // Appends a device to the table; state logging on.
    quint8 addDevice(const QString& address, quint16 port = 0, bool textsLoaded = false)
    {
        const quint8 n = quint8(table.deviceCount() + 1);
        EXPECT_TRUE(table.InsertDevice(n));
        table.modify(n, [&](core::Tkonfig& k, core::Tstav&) {
            k.ipAddress.setText(address);
            k.port = port;
            k.stateLogEnabled = 1;
            k.textsLoaded = textsLoaded ? 1 : 0;
        });
        return n;
    }

    QStringList eventLines() const
    {
        QFile f(eventLog.filePath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = core::fromCp1250(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        return lines;
    }
    // Event lines that contain text.
    QStringList eventsWith(const QString& text) const { return eventLines().filter(text); }

    std::vector<logs::StateLogRecord> stateLog(quint8 device) const
    {
        const auto records =
            logs::readStateLog(dir.path() + QLatin1Char('/') + logs::stateLogFileName(table.konfig(device)));
        return records ? *records : std::vector<logs::StateLogRecord>{};
    }
    std::vector<logs::ValueLogRecord> valueLog(quint8 device, int channel) const
    {
        const auto records = logs::readValueLog(dir.path() + QLatin1Char('/') +
                                                logs::valueLogFileName(table.konfig(device), channel));
        return records ? *records : std::vector<logs::ValueLogRecord>{};
    }

    // Short limits for the failure tests whose point is the failure, not the length of the wait.
    void shortTimeouts(int ms = 400)
    {
        link.timeouts.connectMs = ms;
        link.timeouts.tcpReadMs = ms;
        link.timeouts.udpWaitMs = ms;
    }

    QTemporaryDir dir;
    core::DeviceTable table;
    core::ConsoleOptions options;
    logs::EventLog eventLog;
    logs::BinaryLogs binaryLogs;
    RecordingObserver observer;
    comm::DeviceLink link;
    std::unique_ptr<sim::SimFleet> fleet;
};

} // namespace quodra::test
