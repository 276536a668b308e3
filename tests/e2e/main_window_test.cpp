// The main window in this process (offscreen) against simulated devices on 127.0.20.x: the
// countdown label, the grid marks, the tags and the tray image, driven tick by tick.

#include "e2e_support.h"

#include "sim/sim_fleet.h"
#include "ui/device_grid_panel.h"
#include "ui/main_status_bar.h"
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMouseEvent>

using namespace quodra;
using namespace quodra::e2e;

TEST(MainWindowInProcess, CountdownPollsAndShowsTheDeadDeviceRed)
{
    ensureApp();
    sim::DeviceDescription live;
    live.address = QStringLiteral("127.0.20.31");
    live.alarmsInUse = 0xFF;
    live.alarms = 0x01;
    sim::SimFleet fleet({live}, 0);
    QString error;
    ASSERT_TRUE(fleet.start(&error)) << error.toStdString();

    Console dir; // only its directory: the window runs here
    ASSERT_TRUE(dir.writeDevices({device("127.0.20.31", true, false), device("127.0.20.32", true, false)}));
    ASSERT_TRUE(dir.writeIni("[Nastaveni]\r\nperioda_val=2\r\n"));

    ui::MainWindow window(dir.dir());
    auto* status = window.statusBarPanels();
    EXPECT_EQ(status->countText(), QStringLiteral("Počet: 2"));
    const std::vector<QString> expected = {QStringLiteral("Timer: 3"), QStringLiteral("Timer: 2"),
                                           QStringLiteral("Timer: 1"), QStringLiteral("Timer: 0"),
                                           QStringLiteral("<READ>")};
    for (const QString& label : expected) {
        window.Timer1Timer();
        EXPECT_EQ(status->countdownText(), label);
    }

    const core::DeviceId liveId = window.table().idOf(1), deadId = window.table().idOf(2);
    ASSERT_TRUE(waitUntil(
        [&] {
            return window.gridPanel()->rowMark(liveId) == ui::RowMark::Answered &&
                   window.gridPanel()->rowMark(deadId) == ui::RowMark::Failed;
        },
        10000));
    window.Timer1Timer(); // the refresh after the pass runs the summary
    EXPECT_EQ(window.table().stav(1).alarms, 0x01);
    EXPECT_EQ(status->tagText(), QStringLiteral("<ALARM><C_ERR>"));
    EXPECT_EQ(window.trayImageIndex(), 2)
        << "the dead device is not selected: a new failure, not yet an error";

    window.ShowDevicePanels(2);
    window.UpdateSummary();
    EXPECT_EQ(window.table().stav(2).commState, core::CommFailed) << "shown as the selected device";
    window.UpdateSummary();
    EXPECT_EQ(window.trayImageIndex(), 3);

    // "Stavy " reads every device on the worker: the click returns at once with the busy cursor,
    // which goes away when the reads are done.
    const int statusReadsBefore = fleet.received(QStringLiteral("127.0.20.31")).count("GS");
    auto* readAll = window.findChild<QAction*>(QStringLiteral("TBXItem8"));
    ASSERT_NE(readAll, nullptr);
    readAll->trigger();
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    ASSERT_TRUE(waitUntil([] { return QApplication::overrideCursor() == nullptr; }, 10000));
    EXPECT_EQ(fleet.received(QStringLiteral("127.0.20.31")).count("GS"), statusReadsBefore + 1);
    EXPECT_EQ(window.table().stav(2).commState, core::CommFailed);

    window.FormDestroy();
    const auto saved = core::readDeviceList(dir.file(core::kDeviceListFileName));
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->size(), 2u);
}

// The start modes decide what closing the window does: with "Spustit normálně" it ends the run,
// with "Spustit minimalizovaně" it only hides the window (here, without a system tray, it
// minimises it, so the window stays reachable). One of the two is always checked, and the choice
// is written back at the end.
TEST(MainWindowInProcess, StartModesDecideWhatClosingDoes)
{
    ensureApp();
    Console dir;
    ASSERT_TRUE(dir.writeIni("[Nastaveni]\r\nperioda_val=0\r\n"));
    ui::MainWindow window(dir.dir());
    auto* normal = window.findChild<QAction*>(QStringLiteral("onorm"));
    auto* minimised = window.findChild<QAction*>(QStringLiteral("omin"));
    ASSERT_NE(normal, nullptr);
    ASSERT_NE(minimised, nullptr);
    EXPECT_TRUE(normal->isChecked());
    EXPECT_FALSE(minimised->isChecked());

    window.showAtStart();
    ASSERT_TRUE(window.isVisible());
    minimised->trigger();
    EXPECT_TRUE(minimised->isChecked());
    EXPECT_FALSE(normal->isChecked());
    minimised->trigger(); // a click on the checked mode leaves it checked
    EXPECT_TRUE(minimised->isChecked());
    EXPECT_FALSE(window.close()) << "closing only hides the console";
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.isMinimized() || !window.isVisible());

    normal->trigger();
    EXPECT_TRUE(normal->isChecked());
    EXPECT_FALSE(minimised->isChecked());
    window.showMainWindow();
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(window.close()) << "closing ends the run";

    window.FormDestroy();
    const QByteArray ini = readAll(dir.file(QStringLiteral("Quodra_st.ini")));
    EXPECT_TRUE(ini.contains("onorm_ch=1\n")) << ini.constData();
    EXPECT_TRUE(ini.contains("omin_ch=0\n")) << ini.constData();
}

// The caption is the program's name while the device list is shown; hidden from the view menu, the
// caption names the selected device instead.
TEST(MainWindowInProcess, CaptionNamesTheDeviceWhileTheListIsHidden)
{
    ensureApp();
    Console dir;
    core::Tkonfig k = device("127.0.20.51", false, false);
    k.popis.setText(QStringLiteral("Kotelna"));
    ASSERT_TRUE(dir.writeDevices({k, device("127.0.20.52", false, false)}));
    ui::MainWindow window(dir.dir());
    window.show();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Quodra.01.2"));
    auto* showList = window.findChild<QAction*>(QStringLiteral("panelAdres"));
    ASSERT_NE(showList, nullptr);
    showList->trigger();
    EXPECT_TRUE(window.gridPanel()->isHidden());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Quodra.01.2: 127.0.20.51 - Kotelna"));
    window.ShowDevicePanels(2);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Quodra.01.2: 127.0.20.52"));
    showList->trigger();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Quodra.01.2"));
    window.FormDestroy();
    EXPECT_TRUE(readAll(dir.file(QStringLiteral("Quodra_st.ini"))).contains("gridpanel_vis=1\n"));
}

// The countdown label: a click pauses and resumes the countdown, and the pointer over it shows the
// pause cursor only while a countdown runs.
TEST(MainWindowInProcess, CountdownLabelClickPausesWithItsCursor)
{
    ensureApp();
    Console dir;
    ASSERT_TRUE(dir.writeIni("[Nastaveni]\r\nperioda_val=10\r\n"));
    ui::MainWindow window(dir.dir());
    auto* label = window.findChild<QLabel*>(QStringLiteral("Label4"));
    ASSERT_NE(label, nullptr);
    const auto click = [label] {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), label->mapToGlobal(QPointF(2, 2)),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(label, &press);
    };
    EXPECT_NE(label->cursor().shape(), Qt::BitmapCursor) << "no countdown before the first tick";
    window.Timer1Timer();
    EXPECT_EQ(label->text(), QStringLiteral("Timer: 3"));
    EXPECT_EQ(label->cursor().shape(), Qt::BitmapCursor);
    click();
    window.Timer1Timer();
    EXPECT_EQ(label->text(), QStringLiteral("Stop: 3"));
    window.Timer1Timer();
    EXPECT_EQ(label->text(), QStringLiteral("Stop: 3"));
    click();
    window.Timer1Timer();
    EXPECT_EQ(label->text(), QStringLiteral("Timer: 2"));
    window.FormDestroy();
}
