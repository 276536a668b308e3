#include "core/summary.h"

#include <gtest/gtest.h>

using namespace quodra::core;

namespace {

struct DeviceState {
    quint8 alarms = 0;
    quint16 valueAlarms = 0;
    quint32 customAlarms = 0;
    quint16 errors = 0;
    quint8 trapFlag = 0;
    quint8 commState = 0;
};

std::vector<DeviceSnapshot> devices(std::initializer_list<DeviceState> states)
{
    std::vector<DeviceSnapshot> out;
    quint8 n = 0;
    for (const DeviceState& s : states) {
        DeviceSnapshot d;
        d.number = ++n;
        d.stav.alarms = s.alarms;
        d.stav.valueAlarms = s.valueAlarms;
        d.stav.customAlarms = s.customAlarms;
        d.stav.errors = s.errors;
        d.stav.trapFlag = s.trapFlag;
        d.stav.commState = s.commState;
        out.push_back(d);
    }
    return out;
}

} // namespace

TEST(Summary, TagsAndTrayImage)
{
    struct Case {
        const char* name;
        std::vector<DeviceSnapshot> devs;
        const char* tags;
        int image;
    };
    const Case cases[] = {
        {"all quiet", devices({{}, {0, 0, 0, 0, 0, 1}}), "", 0},
        {"two alarms and a failed device", devices({{1}, {4}, {0, 0, 0, 0, 0, 4}}), "<ALARM><C_ERR>", 3},
        {"new failure only tags", devices({{0, 0, 0, 0, 0, 3}}), "<C_ERR>", 0},
        {"value alarm", devices({{0, 2}}), "<VALUE>", 2},
        {"custom alarm", devices({{0, 0, 8}}), "<CALARM>", 2},
        {"measurement error", devices({{0, 0, 0, 1}}), "<ERROR>", 1},
        {"trap", devices({{0, 0, 0, 0, 1}}), "<TRAP>", 4},
        {"trap and error", devices({{0, 0, 0, 0, 1}, {0, 0, 0, 0, 0, 4}}), "<TRAP><C_ERR>", 5},
        {"trap and alarm", devices({{1, 0, 0, 0, 1}}), "<ALARM><TRAP>", 6},
        {"everything, fixed order, each once",
         devices(
             {{0, 0, 0, 0, 0, 4}, {0, 0, 0, 1}, {0, 0, 0, 0, 1}, {0, 1}, {0, 0, 1}, {1}, {1, 1, 1, 1, 1, 3}}),
         "<ALARM><CALARM><VALUE><TRAP><ERROR><C_ERR>", 7},
    };
    for (const Case& c : cases) {
        const Summary s = computeSummary(c.devs, 0);
        EXPECT_EQ(s.tagText().toStdString(), c.tags) << c.name;
        EXPECT_EQ(s.trayImage, c.image) << c.name;
    }
}

TEST(Summary, SumsOrEveryDeviceAndDriveTheFilterButtons)
{
    auto devs = devices({{1, 0x10, 0, 0}, {2, 0, 0x100, 0}});
    devs[1].stav.errorsChanged = 0x4;
    devs[0].stav.alarmsChanged = 0x1;
    const Summary s = computeSummary(devs, 0);
    EXPECT_EQ(s.sumAlarms, 3);
    EXPECT_EQ(s.sumValueAlarms, 0x10);
    EXPECT_EQ(s.sumCustomAlarms, 0x100u);
    EXPECT_EQ(s.sumErrors, 0);
    EXPECT_EQ(s.sumErrorsChanged, 4);
    EXPECT_EQ(s.sumAlarmsChanged, 1);
    const auto b = s.filterButtons();
    const bool expectEnabled[kFilterButtonCount] = {true, true, true, false, false, true, false, false, true};
    for (int i = 0; i < kFilterButtonCount; ++i) {
        EXPECT_EQ(b[std::size_t(i)].enabled, expectEnabled[i]) << "button " << i;
        EXPECT_EQ(b[std::size_t(i)].forceUnchecked, !expectEnabled[i]) << "button " << i;
    }
}

TEST(Summary, IndicatorOfTheSelectedDeviceTrapWins)
{
    struct Case {
        const char* name;
        DeviceState state;
        int indicator;
    };
    const Case cases[] = {
        {"answered", {0, 0, 0, 0, 0, 1}, 1},
        {"failed", {0, 0, 0, 0, 0, 4}, 3},
        {"never queried", {}, -1},
        {"trap over answered", {0, 0, 0, 0, 1, 1}, 10},
        {"trap over failed", {0, 0, 0, 0, 1, 4}, 10},
    };
    for (const Case& c : cases) {
        const auto devs = devices({{0, 0, 0, 0, 0, 1}, c.state});
        EXPECT_EQ(computeSummary(devs, 2).indicator, c.indicator) << c.name;
    }
}

TEST(Summary, NewFailureIsMarkedShownOnlyForTheSelectedDevice)
{
    DeviceTable table;
    for (quint8 i = 1; i <= 3; ++i)
        table.InsertDevice(i);
    table.modify(2, [](Tkonfig&, Tstav& s) { s.commState = CommFailedNew; });
    table.modify(3, [](Tkonfig&, Tstav& s) { s.commState = CommFailedNew; });
    table.setSelectedDevice(2);

    Summary s = UpdateSummary(table);
    EXPECT_TRUE(s.anyNewFailure);
    EXPECT_FALSE(s.anyError) << "state 3 is not yet counted as an error";
    EXPECT_EQ(table.stav(2).commState, CommFailed);
    EXPECT_EQ(table.stav(3).commState, CommFailedNew);

    s = UpdateSummary(table);
    EXPECT_TRUE(s.anyNewFailure) << "device 3 still raises the reaction on every summary";
    EXPECT_EQ(s.trayImage, 1);

    table.setSelectedDevice(3);
    UpdateSummary(table);
    s = UpdateSummary(table);
    EXPECT_FALSE(s.anyNewFailure);
    EXPECT_EQ(s.tagText(), QStringLiteral("<C_ERR>"));
}

TEST(Summary, DeviceCountText)
{
    const QString word = QStringLiteral("Počet");
    EXPECT_EQ(deviceCountText(word, 5, 5), QStringLiteral("Počet: 5"));
    EXPECT_EQ(deviceCountText(word, 5, 2), QStringLiteral("Počet: 5(2)"));
    EXPECT_EQ(deviceCountText(QStringLiteral("Count"), 1, 0), QStringLiteral("Count: 1(0)"));
}
