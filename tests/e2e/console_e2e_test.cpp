// The real console against simulated devices on 127.0.20.x: what it writes at start, while it
// polls, and when it ends.

#include "e2e_support.h"

#include "core/ini_file.h"
#include "sim/sim_fleet.h"

#include <gtest/gtest.h>

using namespace quodra;
using namespace quodra::e2e;

namespace {

sim::DeviceDescription simDevice(const char* address, const char* type, const char* description)
{
    sim::DeviceDescription d;
    d.address = QString::fromLatin1(address);
    d.type = QString::fromLatin1(type);
    d.description = QString::fromUtf8(description);
    d.alarmsInUse = 0xFF;
    sim::SimChannel c;
    c.channel = 0;
    c.name = QStringLiteral("Teplota");
    c.unit = QStringLiteral("C");
    c.value = 21.5;
    d.channels << c;
    return d;
}

int countOf(const QByteArray& haystack, const char* needle)
{
    return int(haystack.count(needle));
}

std::optional<QString> iniValue(const QString& path, const char* section, const char* key)
{
    const auto ini = core::IniFile::read(path);
    if (!ini)
        return std::nullopt;
    return ini->value(QString::fromLatin1(section), QString::fromLatin1(key));
}

} // namespace

// One run: start events, polling of a live and a dead device, orderly end by SIGTERM, and the
// files written back at the end.
TEST(ConsoleE2E, PollsLogsAndEndsInOrder)
{
    ensureApp();
    sim::SimFleet fleet({simDevice("127.0.20.1", "Quodra IO", "Kotelna")}, 0);
    QString error;
    ASSERT_TRUE(fleet.start(&error)) << error.toStdString();
    fleet.setAlarms(QStringLiteral("127.0.20.1"), 0x05);

    Console console;
    // 127.0.20.2: nothing listens there, so every connection is refused.
    ASSERT_TRUE(
        console.writeDevices({device("127.0.20.1", true, true, 0x0001), device("127.0.20.2", true, true)}));
    ASSERT_TRUE(
        console.writeIni("[Nastaveni]\r\nperioda_val=1\r\nwlog_ch=1\r\nCRES_TM=0\r\nHandEdited=keep me\r\n"));
    console.start();

    // The first pass follows the countdown 4 -> 0; then every second one more.
    const bool polled = waitUntil(
        [&] {
            return console.eventLogHas("<STATUS> <ALARM> = ") &&
                   console.eventLogHas("<STATUS> <C_ERR> = 1") &&
                   console.valueLog("127.0.20.1", 0).size() >= 2;
        },
        20000);
    ASSERT_TRUE(polled) << console.eventLog().toStdString();
    // A few more passes: the dead device stays dead and is not logged again.
    const auto valuesBefore = console.valueLog("127.0.20.1", 0).size();
    ASSERT_TRUE(
        waitUntil([&] { return console.valueLog("127.0.20.1", 0).size() >= valuesBefore + 2; }, 10000));

    ASSERT_EQ(console.terminate(), 0);

    const QByteArray events = console.eventLog();
    EXPECT_EQ(countOf(events, "<PROGRAM> <START>"), 1);
    EXPECT_EQ(countOf(events, "<PROGRAM> <END>"), 1);
    EXPECT_LT(events.indexOf("<PROGRAM> <START>"), events.indexOf("<STATUS> <ALARM> = "));
    EXPECT_GT(events.lastIndexOf("<PROGRAM> <END>"), events.indexOf("<STATUS> <ALARM> = "));
    EXPECT_EQ(countOf(events, "<STATUS> <C_ERR> = 1"), 1) << events.toStdString();
    EXPECT_TRUE(events.contains("127.0.20.2")) << "the failure names the dead device";

    // State log of the live device: start, its change, ..., end.
    const auto live = console.stateLog("127.0.20.1");
    ASSERT_GE(live.size(), 3u);
    EXPECT_EQ(live.front().code, logs::slStart);
    EXPECT_EQ(live.back().code, logs::slEnd);
    bool sawAlarm = false;
    for (const auto& r : live)
        sawAlarm |= r.code == logs::slChange && r.alarms == 0x05;
    EXPECT_TRUE(sawAlarm);
    for (const auto& r : console.valueLog("127.0.20.1", 0))
        EXPECT_FLOAT_EQ(r.value, 21.5f);

    // State log of the dead device: start, one failure record, end.
    const auto dead = console.stateLog("127.0.20.2");
    ASSERT_GE(dead.size(), 2u);
    EXPECT_EQ(dead.front().code, logs::slStart);
    EXPECT_EQ(dead.back().code, logs::slEnd);
    int failures = 0;
    for (const auto& r : dead)
        failures += r.code == logs::slCommFail;
    EXPECT_EQ(failures, 1);

    // The device list was saved with what the device told about itself.
    const auto saved = core::readDeviceList(console.file(core::kDeviceListFileName));
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->size(), 2u);
    EXPECT_EQ((*saved)[0].ipAddress.text(), QStringLiteral("127.0.20.1"));
    EXPECT_EQ((*saved)[0].typ.text(), QStringLiteral("Quodra IO"));
    EXPECT_EQ((*saved)[0].popis.text(), QStringLiteral("Kotelna"));
    EXPECT_EQ((*saved)[0].valueLogMask, 1);
    EXPECT_EQ((*saved)[1].ipAddress.text(), QStringLiteral("127.0.20.2"));

    // The settings file was written back: our values, the defaults, our placement section, and
    // what the operator wrote by hand.
    const QString ini = console.file(QStringLiteral("Quodra_st.ini"));
    struct Expect {
        const char* section;
        const char* key;
        const char* value;
    };
    const Expect expected[] = {
        {"Nastaveni", "perioda_val", "1"},
        {"Nastaveni", "wlog_ch", "1"},
        {"Nastaveni", "protokol", "1"},
        {"Nastaveni", "onorm_ch", "1"},
        {"Nastaveni", "omin_ch", "0"},
        {"Nastaveni", "gridpanel_vis", "1"},
        {"Nastaveni", "statusbar_vis", "1"},
        {"Nastaveni", "ztrapy_ch", "0"},
        {"Nastaveni", "Grid_cw1", "100"},
        {"Nastaveni", "CRES_TM", "0"},
        {"Nastaveni", "HandEdited", "keep me"},
        {"Form", "Width", "1000"},
        {"Form", "Height", "650"},
    };
    for (const Expect& e : expected)
        EXPECT_EQ(iniValue(ini, e.section, e.key).value_or(QStringLiteral("<missing>")).toStdString(),
                  e.value)
            << e.section << "/" << e.key;
    EXPECT_TRUE(iniValue(ini, "Placement", "MainWindow").has_value());
}

TEST(ConsoleE2E, SecondInstanceExitsAtOnceAndLeavesTheFirstAlone)
{
    Console console;
    ASSERT_TRUE(console.writeIni("[Nastaveni]\r\nwlog_ch=1\r\n"));
    console.start();
    ASSERT_TRUE(waitUntil([&] { return console.eventLogHas("<PROGRAM> <START>"); }, 10000));

    auto second = console.launch();
    ASSERT_TRUE(second->waitForFinished(5000)) << "the second start must end by itself";
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(console.process().state(), QProcess::Running);

    ASSERT_EQ(console.terminate(), 0);
    const QByteArray events = console.eventLog();
    EXPECT_EQ(countOf(events, "<PROGRAM> <START>"), 1) << "the second start wrote nothing";
    EXPECT_EQ(countOf(events, "<PROGRAM> <END>"), 1);
}

// No device list and no settings: one empty device, period 0 (no pass), and the defaults written.
// Ended by SIGINT, which ends the run in order just as SIGTERM does.
TEST(ConsoleE2E, EmptyStartWritesOneEmptyDeviceAndDefaults)
{
    Console console;
    console.start();
    ASSERT_TRUE(waitUntil([&] { return console.process().state() == QProcess::Running; }, 5000));
    QThread::msleep(1500);
    ASSERT_EQ(console.signal(SIGINT), 0);

    EXPECT_FALSE(QFile::exists(console.file(QStringLiteral("Quodra_st.log"))))
        << "event log is off by default";
    const auto saved = core::readDeviceList(console.file(core::kDeviceListFileName));
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->size(), 1u);
    EXPECT_TRUE((*saved)[0].ipAddress.isEmpty());
    const QString ini = console.file(QStringLiteral("Quodra_st.ini"));
    EXPECT_EQ(iniValue(ini, "Nastaveni", "perioda_val").value_or(QString()), QStringLiteral("0"));
    EXPECT_EQ(iniValue(ini, "Nastaveni", "wlog_ch").value_or(QString()), QStringLiteral("0"));
    EXPECT_FALSE(iniValue(ini, "Nastaveni", "CRES_TM").has_value()) << "read-only key is never written";
    EXPECT_FALSE(iniValue(ini, "Nastaveni", "PING").has_value());
}

// Start minimised on a desktop without a tray: the window stays reachable (minimised), and
// SIGTERM still ends the run in order although closing the window would only hide it.
TEST(ConsoleE2E, StartMinimisedWithoutTrayEndsInOrderOnSigterm)
{
    Console console;
    ASSERT_TRUE(console.writeIni("[Nastaveni]\r\nonorm_ch=0\r\nomin_ch=1\r\nwlog_ch=1\r\n"));
    console.start();
    ASSERT_TRUE(waitUntil([&] { return console.eventLogHas("<PROGRAM> <START>"); }, 10000));
    ASSERT_EQ(console.terminate(), 0);
    EXPECT_EQ(countOf(console.eventLog(), "<PROGRAM> <END>"), 1);
    const QString ini = console.file(QStringLiteral("Quodra_st.ini"));
    EXPECT_EQ(iniValue(ini, "Nastaveni", "omin_ch").value_or(QString()), QStringLiteral("1"));
    EXPECT_EQ(iniValue(ini, "Nastaveni", "onorm_ch").value_or(QString()), QStringLiteral("0"));
}
