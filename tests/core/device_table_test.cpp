#include "core/device_table.h"

#include <gtest/gtest.h>

using namespace quodra::core;

namespace {

void addDevice(DeviceTable& table, const char* address)
{
    ASSERT_TRUE(table.InsertDevice(quint8(table.deviceCount() + 1)));
    table.modify(table.deviceCount(), [&](Tkonfig& k, Tstav& s) {
        k.ipAddress.setText(QString::fromLatin1(address));
        s.valueText[0] = QString::fromLatin1(address) + QStringLiteral("-v");
    });
}

QString addressOf(const DeviceTable& t, quint8 n) { return t.konfig(n).ipAddress.text(); }

} // namespace

TEST(DeviceRecords, FixedStringKeepsBytesAfterLengthAndCutsToCapacity)
{
    Tkonfig k{};
    k.typ.setText(QStringLiteral("ABCDEFGH"));
    k.typ.setText(QStringLiteral("xy"));
    EXPECT_EQ(k.typ.text(), QStringLiteral("xy"));
    EXPECT_EQ(k.typ.chars[2], 'C'); // stale bytes stay for the file
    k.typ.setText(QStringLiteral("0123456789abcdefghij"));
    EXPECT_EQ(k.typ.length, 15);
    EXPECT_EQ(k.typ.text(), QStringLiteral("0123456789abcde"));
    k.popis.setText(QStringLiteral("Čerpadlo šachta"));
    EXPECT_EQ(k.popis.length, 15); // one byte per character in Windows-1250
    EXPECT_EQ(quint8(k.popis.chars[0]), 0xC8);
    EXPECT_EQ(k.popis.text(), QStringLiteral("Čerpadlo šachta"));
    k.valueUnit[0].length = 200; // damaged length reads as the capacity
    EXPECT_EQ(k.valueUnit[0].bytes().size(), 5);
}

TEST(DeviceRecords, OutputBitsAndAddressWithPort)
{
    Tstav s;
    s.outputState = {1, 0, 0, 0, 0, 1};
    EXPECT_EQ(s.outputBits(), 33);
    Tkonfig k{};
    k.ipAddress.setText(QStringLiteral("10.0.0.5"));
    EXPECT_EQ(k.addressWithPort(), QStringLiteral("10.0.0.5"));
    EXPECT_EQ(k.tcpPort(), 9760);
    k.port = 9000;
    EXPECT_EQ(k.addressWithPort(), QStringLiteral("10.0.0.5:9000"));
    EXPECT_EQ(k.tcpPort(), 9000);
}

TEST(DeviceTable, ClearDeviceResetsFieldsAndKeepsUserTimeMaskAndValues)
{
    for (bool customUsed : {true, false}) {
        DeviceTable t;
        t.setCustomAlarmsUsed(customUsed);
        addDevice(t, "1.2.3.4");
        t.modify(1, [](Tkonfig& k, Tstav& s) {
            k.loginUser.setText(QStringLiteral("admin"));
            k.loginPassword.setText(QStringLiteral("pw"));
            k.timeMask = 0x8001;
            k.port = 99;
            k.pollEnabled = 1;
            s.value[3] = 2.5f;
            s.trapReadPending = 1;
            s.alarms = 7;
            s.commState = CommFailed;
            s.outputState[2] = 1;
        });
        t.ClearDevice(1);
        const Tkonfig k = t.konfig(1);
        const Tstav s = t.stav(1);
        EXPECT_TRUE(k.ipAddress.isEmpty());
        EXPECT_EQ(k.port, 0);
        EXPECT_EQ(k.pollEnabled, 0);
        EXPECT_EQ(k.valuesInUse, 0xFFFF);
        EXPECT_EQ(k.alarmsInUse, 0xFF);
        EXPECT_EQ(k.customAlarmsInUse, customUsed ? 0xFFFFFFFFu : 0u);
        EXPECT_EQ(k.outputMode[5], 1);
        EXPECT_TRUE(k.loginPassword.isEmpty());
        EXPECT_EQ(k.loginUser.text(), QStringLiteral("admin"));
        EXPECT_EQ(k.timeMask, 0x8001);
        EXPECT_EQ(s.value[3], 2.5f);
        EXPECT_EQ(s.trapReadPending, 1);
        EXPECT_EQ(s.alarms, 0);
        EXPECT_EQ(s.commState, CommNever);
        EXPECT_EQ(s.outputState[2], 0);
        EXPECT_TRUE(s.valueText[0].isEmpty());
    }
}

TEST(DeviceTable, InsertShiftsUpAndSelects)
{
    DeviceTable t;
    for (const char* a : {"A", "B", "C"})
        addDevice(t, a);
    t.modify(1, [](Tkonfig& k, Tstav&) { k.loginUser.setText(QStringLiteral("u1")); });
    ASSERT_TRUE(t.InsertDevice(1));
    EXPECT_EQ(t.deviceCount(), 4);
    EXPECT_EQ(t.selectedDevice(), 1);
    EXPECT_TRUE(addressOf(t, 1).isEmpty());
    EXPECT_EQ(addressOf(t, 2), QStringLiteral("A"));
    EXPECT_EQ(addressOf(t, 4), QStringLiteral("C"));
    EXPECT_EQ(t.konfig(1).loginUser.text(), QStringLiteral("u1")); // copy of the device that moved up
    EXPECT_EQ(t.stav(2).valueText[0], QStringLiteral("A-v"));

    ASSERT_TRUE(t.InsertDevice(5)); // append
    EXPECT_EQ(addressOf(t, 4), QStringLiteral("C"));
    EXPECT_TRUE(addressOf(t, 5).isEmpty());
    EXPECT_FALSE(t.InsertDevice(7)); // beyond count + 1
    EXPECT_EQ(t.deviceCount(), 5);
}

TEST(DeviceTable, InsertIsRefusedAtCapacityWithoutWrapping)
{
    DeviceTable t;
    for (int i = 0; i < kMaxDevices; ++i)
        ASSERT_TRUE(t.InsertDevice(1));
    t.modify(255, [](Tkonfig& k, Tstav&) { k.ipAddress.setText(QStringLiteral("last")); });
    t.setSelectedDevice(10);
    EXPECT_FALSE(t.InsertDevice(1));
    EXPECT_FALSE(t.InsertDevice(255));
    EXPECT_EQ(t.deviceCount(), 255);
    EXPECT_EQ(t.selectedDevice(), 10);
    EXPECT_EQ(addressOf(t, 255), QStringLiteral("last"));
}

TEST(DeviceTable, DeleteShiftsDownAndClampsSelection)
{
    DeviceTable t;
    for (const char* a : {"A", "B", "C"})
        addDevice(t, a);
    t.setSelectedDevice(3);
    t.DeleteDevice(3); // last: nothing moves
    EXPECT_EQ(t.deviceCount(), 2);
    EXPECT_EQ(t.selectedDevice(), 2);
    EXPECT_EQ(addressOf(t, 3), QStringLiteral("C")); // stale copy stays in the slot
    t.DeleteDevice(1);
    EXPECT_EQ(t.deviceCount(), 1);
    EXPECT_EQ(addressOf(t, 1), QStringLiteral("B"));
    t.DeleteDevice(5); // not a device: nothing happens
    EXPECT_EQ(t.deviceCount(), 1);
}

TEST(DeviceTable, SwapMovesWholeRecordsWithTheirIdentity)
{
    DeviceTable t;
    for (const char* a : {"A", "B"})
        addDevice(t, a);
    const DeviceId idA = t.idOf(1);
    t.SwapDevices(1, 2);
    EXPECT_EQ(addressOf(t, 1), QStringLiteral("B"));
    EXPECT_EQ(t.stav(1).valueText[0], QStringLiteral("B-v"));
    EXPECT_EQ(t.stav(2).valueText[0], QStringLiteral("A-v"));
    EXPECT_EQ(t.numberOf(idA), 2);
}

TEST(DeviceTable, ResultsFollowTheDeviceOrAreDropped)
{
    DeviceTable t;
    for (const char* a : {"A", "B", "C"})
        addDevice(t, a);
    const DeviceId idB = t.idOf(2);
    t.InsertDevice(1); // B is now device 3
    EXPECT_TRUE(t.modifyById(idB, [](Tkonfig&, Tstav& s) { s.alarms = 9; }));
    EXPECT_EQ(t.stav(3).alarms, 9);
    EXPECT_EQ(t.stav(2).alarms, 0);
    t.DeleteDevice(3);
    EXPECT_FALSE(t.modifyById(idB, [](Tkonfig&, Tstav& s) { s.alarms = 1; }));
    EXPECT_EQ(t.numberOf(idB), 0);
    // A cleared slot is a new device, too.
    const DeviceId idA = t.idOf(2);
    t.ClearDevice(2);
    EXPECT_FALSE(t.modifyById(idA, [](Tkonfig&, Tstav&) {}));
}
