#include "core/console_options.h"
#include "core/device_table.h"
#include "core/settings.h"
#include "core/summary.h"
#include "logs/binary_logs.h"
#include "logs/event_log.h"
#include "ui/device_grid_model.h"
#include "ui/device_grid_panel.h"
#include "ui/device_grid_view.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

using namespace quodra;
using namespace quodra::ui::grid;
using ui::RowMark;

namespace {

void settle()
{
    QCoreApplication::processEvents();
}

class GridTest : public ::testing::Test {
protected:
    core::DeviceTable table;
    core::ConsoleOptions options;
    ui::DeviceGridPanel panel{table, options};

    ui::DeviceGridModel& model() { return *panel.model(); }

    // Appends a device with this address (and port) and returns its number.
    quint8 add(const QString& address, quint16 port = 0)
    {
        const quint8 n = quint8(table.deviceCount() + 1);
        EXPECT_TRUE(table.InsertDevice(n));
        table.modify(n, [&](core::Tkonfig& k, core::Tstav&) {
            k.ipAddress.setText(address);
            k.port = port;
        });
        return n;
    }
    void addMany(int count)
    {
        for (int i = 1; i <= count; ++i)
            add(QStringLiteral("10.0.%1.%2").arg(i / 256).arg(i % 256));
    }
    void change(quint8 n, const std::function<void(core::Tkonfig&, core::Tstav&)>& fn)
    {
        table.modify(n, fn);
        settle();
    }
    QVariant cell(int row, int col, int role = Qt::DisplayRole) { return model().index(row, col).data(role); }
    QColor colour(int row, int col) { return cell(row, col, Qt::BackgroundRole).value<QColor>(); }
    // "#" colour of the row that shows the device with this address.
    QColor statusOf(const QString& address)
    {
        for (int r = 0; r < model().rowCount(); ++r)
            if (cell(r, ColAddress).toString() == address)
                return colour(r, ColNumber);
        ADD_FAILURE() << "no row for " << address.toStdString();
        return {};
    }
    void showPanel()
    {
        panel.resize(900, 400);
        panel.show();
        QApplication::processEvents();
    }
    QPoint centreOf(int row, int col) { return panel.view()->visualRect(model().index(row, col)).center(); }
};

TEST_F(GridTest, ModelPassesTheItemModelTesterThroughEdits)
{
    int failures = 0;
    static int* counter = nullptr;
    counter = &failures;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
            if (type != QtDebugMsg && msg.contains(QLatin1String("FAIL")))
                ++*counter;
        });
    QAbstractItemModelTester tester(panel.model(), QAbstractItemModelTester::FailureReportingMode::Warning);
    addMany(4);
    panel.FillGrid();
    change(2, [](core::Tkonfig&, core::Tstav& s) {
        s.alarms = 1;
        s.valueText[3] = QStringLiteral("1.5");
    });
    panel.setRowMark(quint8(3), RowMark::Answered);
    panel.moveDown(1);
    panel.insertDevice(2);
    panel.deleteDevice(4);
    panel.setStateFilter(1, 0xFF);
    panel.ApplyGridFilter();
    model().setData(model().index(0, ColDescription), QStringLiteral("sklad"));
    table.InsertDevice(1); // a structure change from outside, seen through the queued signal
    settle();
    panel.FillGrid();
    qInstallMessageHandler(previous);
    EXPECT_EQ(failures, 0);
}

TEST_F(GridTest, StatusCellColourFollowsMarkAndCommState)
{
    struct Case {
        quint8 commState;
        RowMark mark;
        QColor expected;
    } cases[] = {
        {core::CommNever, RowMark::None, kFixedColour},
        {core::CommAnswered, RowMark::None, kAnsweredColour},
        {core::CommFailedNew, RowMark::None, kFailedColour},
        {core::CommFailed, RowMark::None, kFailedColour},
        {core::CommAnswered, RowMark::Query, kQueryColour},
        {core::CommNever, RowMark::Answered, kAnsweredColour},
        {core::CommAnswered, RowMark::Failed, kFailedColour},
        {core::CommFailed, RowMark::Answered, kFailedColour}, // a dead device is never green
    };
    add(QStringLiteral("10.0.0.1"));
    panel.FillGrid();
    for (const Case& c : cases) {
        change(1, [&](core::Tkonfig&, core::Tstav& s) { s.commState = c.commState; });
        panel.setRowMark(quint8(1), c.mark);
        EXPECT_EQ(colour(0, ColNumber), c.expected) << int(c.commState) << "/" << int(c.mark);
    }
}

TEST_F(GridTest, StatusMarksMoveWithTheirDevices)
{
    const QString a = QStringLiteral("10.0.0.1"), b = QStringLiteral("10.0.0.2"),
                  c = QStringLiteral("10.0.0.3");
    add(a), add(b), add(c);
    panel.FillGrid();
    panel.setRowMark(quint8(1), RowMark::Answered);
    panel.setRowMark(quint8(2), RowMark::Failed);
    panel.setRowMark(quint8(3), RowMark::Query);

    panel.moveDown(1); // b a c
    EXPECT_EQ(cell(0, ColAddress).toString(), b);
    EXPECT_EQ(colour(0, ColNumber), kFailedColour);
    EXPECT_EQ(colour(1, ColNumber), kAnsweredColour);
    EXPECT_EQ(table.selectedDevice(), 2);

    panel.moveUp(3); // b c a
    EXPECT_EQ(cell(1, ColAddress).toString(), c);
    EXPECT_EQ(colour(1, ColNumber), kQueryColour);
    EXPECT_EQ(table.selectedDevice(), 2);

    ASSERT_TRUE(panel.insertDevice(2)); // b _ c a
    EXPECT_EQ(model().rowCount(), 4);
    EXPECT_EQ(cell(1, ColAddress).toString(), QString());
    EXPECT_EQ(colour(1, ColNumber), kFixedColour);
    EXPECT_EQ(statusOf(a), kAnsweredColour);
    EXPECT_EQ(statusOf(b), kFailedColour);
    EXPECT_EQ(statusOf(c), kQueryColour);
    EXPECT_EQ(cell(3, ColNumber).toString(), QStringLiteral("4"));

    panel.deleteDevice(1); // _ c a
    EXPECT_EQ(model().rowCount(), 3);
    EXPECT_EQ(statusOf(a), kAnsweredColour);
    EXPECT_EQ(statusOf(c), kQueryColour);
    EXPECT_EQ(cell(0, ColNumber).toString(), QStringLiteral("1"));
}

TEST_F(GridTest, MoveUpOnFirstAndDownOnLastChangeNothing)
{
    add(QStringLiteral("a")), add(QStringLiteral("b"));
    panel.FillGrid();
    panel.moveUp(1);
    panel.moveDown(2);
    EXPECT_EQ(table.konfig(1).ipAddress.text(), QStringLiteral("a"));
    EXPECT_EQ(table.konfig(2).ipAddress.text(), QStringLiteral("b"));
}

TEST_F(GridTest, StateCellsColourAndChangeFrames)
{
    struct Case {
        const char* name;
        std::function<void(core::Tstav&)> set;
        int column;
        QColor colour; // invalid: the column's own colour
        bool frame;
    };
    const Case cases[] = {
        {"alarm", [](core::Tstav& s) { s.alarms = 0x80; }, ColAlarm, kYellow, false},
        {"custom", [](core::Tstav& s) { s.customAlarms = 0x80000000u; }, ColCustomAlarm, kYellow, false},
        {"value", [](core::Tstav& s) { s.valueAlarms = 0x8000; }, ColValueAlarm, kYellow, false},
        {"error", [](core::Tstav& s) { s.errors = 1; }, ColError, kFailedColour, false},
        {"trap", [](core::Tstav& s) { s.trapFlag = 1; }, ColTrap, kMagenta, false},
        {"alarm_changed", [](core::Tstav& s) { s.alarmsChanged = 2; }, ColAlarm, QColor(), true},
        {"custom_changed", [](core::Tstav& s) { s.customAlarmsChanged = 0x10000; }, ColCustomAlarm, QColor(),
         true},
        {"value_changed", [](core::Tstav& s) { s.valueAlarmsChanged = 4; }, ColValueAlarm, QColor(), true},
        {"error_changed", [](core::Tstav& s) { s.errorsChanged = 8; }, ColError, QColor(), true},
        {"alarm_and_changed",
         [](core::Tstav& s) {
             s.alarms = 1;
             s.alarmsChanged = 1;
         },
         ColAlarm, kYellow, true},
    };
    add(QStringLiteral("10.0.0.1"));
    panel.FillGrid();
    for (const Case& c : cases) {
        change(1, [&](core::Tkonfig&, core::Tstav& s) {
            s = core::Tstav{};
            c.set(s);
        });
        for (int col = ColAlarm; col <= ColTrap; ++col) {
            const QColor expected = col == c.column ? c.colour : QColor();
            EXPECT_EQ(colour(0, col), expected) << c.name << " col " << col;
            EXPECT_EQ(cell(0, col, FrameRole).toBool(), col == c.column && c.frame)
                << c.name << " col " << col;
            EXPECT_TRUE(cell(0, col).toString().isEmpty());
        }
    }
}

TEST_F(GridTest, PaintedCellShowsColourAndBlueFrame)
{
    add(QStringLiteral("10.0.0.1"));
    panel.FillGrid();
    change(1, [](core::Tkonfig&, core::Tstav& s) {
        s.alarms = 1;
        s.alarmsChanged = 1;
        s.errors = 1;
    });
    panel.setValueColumnWidth(0, 64);
    showPanel();
    const QImage image = panel.view()->viewport()->grab().toImage();
    const QRect a = panel.view()->visualRect(model().index(0, ColAlarm));
    const QRect e = panel.view()->visualRect(model().index(0, ColError));
    EXPECT_EQ(QColor(image.pixel(a.center())), kYellow);
    EXPECT_EQ(QColor(image.pixel(a.left(), a.center().y())), kFrameColour);
    EXPECT_EQ(QColor(image.pixel(e.center())), kFailedColour);
    EXPECT_NE(QColor(image.pixel(e.left(), e.center().y())), kFrameColour);
}

TEST_F(GridTest, FilteredRowsMapToTheirDevices)
{
    addMany(5);
    change(2, [](core::Tkonfig&, core::Tstav& s) { s.alarms = 1; });
    change(5, [](core::Tkonfig&, core::Tstav& s) { s.alarms = 4; });
    panel.FillGrid();
    QSignalSpy count(&panel, &ui::DeviceGridPanel::countTextChanged);

    panel.setStateFilter(1, 0xFF);
    panel.ApplyGridFilter();
    ASSERT_EQ(model().rowCount(), 2);
    EXPECT_TRUE(panel.hasHiddenRows());
    EXPECT_EQ(model().deviceAt(0), 2);
    EXPECT_EQ(model().deviceAt(1), 5);
    EXPECT_EQ(cell(1, ColNumber).toString(), QStringLiteral("5"));
    ASSERT_EQ(count.count(), 1);
    EXPECT_EQ(count.takeFirst().at(0).toString(), QStringLiteral("Počet: 5(2)"));

    // An edit and an acknowledgement on displayed row 1 reach device 5.
    EXPECT_TRUE(model().setData(model().index(1, ColDescription), QStringLiteral("Kotelna")));
    EXPECT_EQ(table.konfig(5).popis.text(), QStringLiteral("Kotelna"));
    change(5, [](core::Tkonfig&, core::Tstav& s) { s.alarmsChanged = 4; });
    showPanel();
    QTest::mouseClick(panel.view()->viewport(), Qt::LeftButton, {}, centreOf(1, ColType));
    EXPECT_EQ(table.stav(5).alarmsChanged, 0);
    EXPECT_EQ(table.selectedDevice(), 5);

    // Structural items are off while rows are hidden.
    QMenu* menu = panel.deviceMenuFor(5);
    for (QAction* item : menu->actions())
        if (item->text() == QStringLiteral("Nahoru") || item->text() == QStringLiteral("Smaž")) {
            EXPECT_FALSE(item->isEnabled());
        }

    // A structure change keeps the filter; FillGrid shows every row again.
    table.InsertDevice(1);
    settle();
    EXPECT_EQ(model().rowCount(), 2);
    EXPECT_EQ(model().deviceAt(1), 6);
    panel.FillGrid();
    EXPECT_EQ(model().rowCount(), 6);
    EXPECT_FALSE(panel.hasHiddenRows());
    for (QAction* item : panel.deviceMenuFor(1)->actions())
        if (!item->isSeparator() && item->text() != QStringLiteral("Log") &&
            item->text() != QStringLiteral("Klimo6")) {
            EXPECT_TRUE(item->isEnabled()) << item->text().toStdString();
        }
}

// The state-filter buttons as the window drives them: the summary enables them by their sums, a
// click filters by the sum of that moment, and a sum that drops to zero unchecks the button.
TEST_F(GridTest, StateFilterButtonsFollowTheSummary)
{
    addMany(4);
    change(2, [](core::Tkonfig&, core::Tstav& s) { s.alarms = 0x01; });
    change(3, [](core::Tkonfig&, core::Tstav& s) {
        s.alarms = 0x04;
        s.trapFlag = 1;
    });
    panel.FillGrid();
    // What the main window's UpdateSummary does with the aggregate.
    QObject::connect(&panel, &ui::DeviceGridPanel::summaryRequested, &panel, [this] {
        panel.applySummary(core::UpdateSummary(table));
        panel.ApplyGridFilter();
    });
    for (int b = 0; b < core::kFilterButtonCount; ++b)
        EXPECT_FALSE(panel.filterButton(b)->isEnabled()) << "all start disabled, button " << b;
    panel.applySummary(core::UpdateSummary(table));
    panel.ApplyGridFilter();

    struct Case {
        int button;
        bool enabled;
    } cases[] = {{core::fbAlarms, true},        {core::fbCustomAlarms, false}, {core::fbValueAlarms, false},
                 {core::fbErrors, false},       {core::fbTrap, true},          {core::fbAlarmsChanged, false},
                 {core::fbErrorsChanged, false}};
    for (const Case& c : cases)
        EXPECT_EQ(panel.filterButton(c.button)->isEnabled(), c.enabled) << "button " << c.button;

    panel.filterButton(core::fbAlarms)->trigger();
    EXPECT_EQ(panel.filterState().stateMode, 1);
    EXPECT_EQ(panel.filterState().mask, 0x05u) << "the mask is the sum at the click";
    ASSERT_EQ(model().rowCount(), 2);
    EXPECT_EQ(model().deviceAt(0), 2);
    EXPECT_EQ(model().deviceAt(1), 3);

    // The trap button takes over: one group, one checked button.
    panel.filterButton(core::fbTrap)->trigger();
    EXPECT_FALSE(panel.filterButton(core::fbAlarms)->isChecked());
    EXPECT_EQ(panel.filterState().stateMode, core::GridFilterState::kTrapMode);
    ASSERT_EQ(model().rowCount(), 1);
    EXPECT_EQ(model().deviceAt(0), 3);

    // A click on the checked button unchecks it and shows every row.
    panel.filterButton(core::fbTrap)->trigger();
    EXPECT_EQ(panel.filterState().stateMode, 0);
    EXPECT_EQ(model().rowCount(), 4);

    // The alarms go away while the alarm filter is on: the button loses check and filter.
    panel.filterButton(core::fbAlarms)->trigger();
    ASSERT_EQ(model().rowCount(), 2);
    change(2, [](core::Tkonfig&, core::Tstav& s) { s.alarms = 0; });
    change(3, [](core::Tkonfig&, core::Tstav& s) { s.alarms = 0; });
    panel.applySummary(core::UpdateSummary(table));
    panel.ApplyGridFilter();
    EXPECT_FALSE(panel.filterButton(core::fbAlarms)->isChecked());
    EXPECT_FALSE(panel.filterButton(core::fbAlarms)->isEnabled());
    EXPECT_EQ(panel.filterState().stateMode, 0);
    EXPECT_EQ(model().rowCount(), 4);
}

TEST_F(GridTest, RefreshesWithoutRowChangesKeepAnOpenEditor)
{
    add(QStringLiteral("a")), add(QStringLiteral("b"));
    panel.FillGrid();
    showPanel();
    panel.selectDevice(2);
    panel.view()->edit(model().index(1, ColDescription));
    ASSERT_NE(panel.view()->indexWidget(model().index(1, ColDescription)), nullptr);
    change(1, [](core::Tkonfig&, core::Tstav& s) { s.alarms = 1; });
    panel.ApplyGridFilter();
    panel.refresh();
    panel.FillGrid();
    EXPECT_NE(panel.view()->indexWidget(model().index(1, ColDescription)), nullptr);
    EXPECT_EQ(panel.view()->currentIndex().row(), 1);
    EXPECT_EQ(colour(0, ColAlarm), kYellow);

    // A filter that hides rows rebuilds them; the current row follows the selected device.
    table.setSelectedDevice(1);
    panel.setStateFilter(1, 0xFF);
    panel.ApplyGridFilter();
    EXPECT_EQ(model().rowCount(), 1);
    EXPECT_EQ(panel.view()->currentIndex().row(), 0);
}

TEST_F(GridTest, TextFilterFromTheHeaderMenu)
{
    add(QStringLiteral("a")), add(QStringLiteral("b")), add(QStringLiteral("c"));
    change(1, [](core::Tkonfig& k, core::Tstav&) { k.typ.setText(QStringLiteral("Čidlo")); });
    change(2, [](core::Tkonfig& k, core::Tstav&) { k.typ.setText(QStringLiteral("relé")); });
    change(3, [](core::Tkonfig& k, core::Tstav&) { k.typ.setText(QStringLiteral("ČIDLO 2")); });
    panel.FillGrid();
    QSignalSpy summary(&panel, &ui::DeviceGridPanel::summaryRequested);

    QMenu* menu = panel.headerMenuFor(ColType);
    ASSERT_NE(menu, nullptr);
    QStringList captions;
    for (QAction* item : menu->actions())
        captions << item->text();
    EXPECT_TRUE(captions.contains(QStringLiteral("Filtr dle výběru")));
    EXPECT_TRUE(captions.contains(QStringLiteral("Zruš filtr")));
    EXPECT_EQ(panel.headerMenuFor(ColAddress), nullptr);
    EXPECT_EQ(panel.headerMenuFor(ColAlarm), nullptr);

    panel.setTextFilter(ColType, QStringLiteral("čidlo"));
    EXPECT_EQ(summary.count(), 1);
    EXPECT_EQ(model().headerData(ColType, Qt::Horizontal, Qt::BackgroundRole).value<QColor>(), kYellow);
    EXPECT_EQ(model().headerData(ColDescription, Qt::Horizontal, Qt::BackgroundRole).value<QColor>(),
              kFixedColour);
    panel.ApplyGridFilter();
    ASSERT_EQ(model().rowCount(), 2);
    EXPECT_EQ(model().deviceAt(1), 3);

    // "Filtr dle výběru" takes the text of the current row.
    panel.headerMenuFor(ColType);
    panel.selectDevice(3);
    for (QAction* item : menu->actions())
        if (item->text() == QStringLiteral("Filtr dle výběru"))
            item->trigger();
    EXPECT_EQ(panel.filterState().typeFilter, QStringLiteral("ČIDLO 2"));
    for (QAction* item : menu->actions())
        if (item->text() == QStringLiteral("Zruš filtr"))
            item->trigger();
    EXPECT_TRUE(panel.filterState().typeFilter.isEmpty());
    panel.ApplyGridFilter();
    EXPECT_EQ(model().rowCount(), 3);
}

TEST_F(GridTest, AddressEditStoresAddressAndPortOrReportsTheError)
{
    struct Case {
        QString typed;
        QString address;
        quint16 port;
        bool error;
        QString shown;
    } cases[] = {
        {QStringLiteral("192.168.1.9"), QStringLiteral("192.168.1.9"), 0, false,
         QStringLiteral("192.168.1.9")},
        {QStringLiteral("192.168.1.9:9761"), QStringLiteral("192.168.1.9"), 9761, false,
         QStringLiteral("192.168.1.9:9761")},
        {QStringLiteral("h:65537"), QStringLiteral("h"), 1, false, QStringLiteral("h:1")},
        {QStringLiteral("h:0"), QStringLiteral("h"), 0, false, QStringLiteral("h")},
        // A port that is not a number: the address is taken, the port stays, the operator is told.
        {QStringLiteral("other:x1"), QStringLiteral("other"), 5000, true, QStringLiteral("other:5000")},
        {QStringLiteral("other:"), QStringLiteral("other"), 5000, true, QStringLiteral("other:5000")},
    };
    add(QStringLiteral("x"));
    panel.FillGrid();
    QSignalSpy messages(&panel, &ui::DeviceGridPanel::messageRequested);
    for (const Case& c : cases) {
        change(1, [](core::Tkonfig& k, core::Tstav&) {
            k.ipAddress.setText(QStringLiteral("10.0.0.1"));
            k.port = 5000;
        });
        messages.clear();
        const bool stored = model().setData(model().index(0, ColAddress), c.typed);
        settle();
        EXPECT_EQ(stored, !c.error) << c.typed.toStdString();
        EXPECT_EQ(table.konfig(1).ipAddress.text(), c.address) << c.typed.toStdString();
        EXPECT_EQ(table.konfig(1).port, c.port) << c.typed.toStdString();
        EXPECT_EQ(cell(0, ColAddress).toString(), c.shown);
        ASSERT_EQ(messages.count(), c.error ? 1 : 0) << c.typed.toStdString();
        if (c.error) {
            EXPECT_EQ(messages.first().at(0).toString(),
                      QStringLiteral("'%1' is not a valid integer value")
                          .arg(c.typed.mid(c.typed.indexOf(QLatin1Char(':')) + 1)));
        }
    }
}

TEST_F(GridTest, TypeAndDescriptionEditsAreCutToTheirFields)
{
    add(QStringLiteral("a"));
    panel.FillGrid();
    EXPECT_TRUE(model().setData(model().index(0, ColType), QStringLiteral("Teploměr s dlouhým názvem")));
    EXPECT_TRUE(model().setData(model().index(0, ColDescription), QString(70, QLatin1Char('p'))));
    EXPECT_EQ(table.konfig(1).typ.text(), QStringLiteral("Teploměr s dlou"));
    EXPECT_EQ(table.konfig(1).popis.text(), QString(50, QLatin1Char('p')));
    EXPECT_EQ(cell(0, ColType).toString(), QStringLiteral("Teploměr s dlou"));
    // Other columns store nothing.
    EXPECT_FALSE(model().setData(model().index(0, ColAlarm), QStringLiteral("1")));
    EXPECT_FALSE(model().setData(model().index(0, ColFirstValue), QStringLiteral("1")));
}

TEST_F(GridTest, CheckBoxClicksToggleTheSwitches)
{
    add(QStringLiteral("a")), add(QStringLiteral("b"));
    panel.FillGrid();
    showPanel();
    struct {
        int column;
        std::uint8_t core::Tkonfig::*field;
    } cases[] = {{ColPoll, &core::Tkonfig::pollEnabled}, {ColStateLog, &core::Tkonfig::stateLogEnabled}};
    for (const auto& c : cases) {
        EXPECT_EQ(cell(1, c.column).toString(), QStringLiteral("N"));
        QTest::mouseClick(panel.view()->viewport(), Qt::LeftButton, {}, centreOf(1, c.column));
        EXPECT_EQ(table.konfig(2).*c.field, 1) << c.column;
        EXPECT_EQ(table.konfig(1).*c.field, 0) << c.column;
        EXPECT_EQ(cell(1, c.column).toString(), QStringLiteral("Y"));
        EXPECT_EQ(cell(1, c.column, Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
        QTest::mouseClick(panel.view()->viewport(), Qt::LeftButton, {}, centreOf(1, c.column));
        EXPECT_EQ(table.konfig(2).*c.field, 0) << c.column;
        EXPECT_EQ(cell(1, c.column).toString(), QStringLiteral("N"));
    }
}

class AcknowledgeTest : public GridTest {
protected:
    QTemporaryDir dir;
    logs::EventLog eventLog{table};
    logs::BinaryLogs binaryLogs{table};

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        eventLog.setDirectory(dir.path());
        eventLog.setEnabled(true);
        binaryLogs.setDirectory(dir.path());
        panel.setLogs(&eventLog, &binaryLogs);
        add(QStringLiteral("10.1.1.1")), add(QStringLiteral("10.1.1.2"), 9000);
        change(2, [](core::Tkonfig& k, core::Tstav& s) {
            k.stateLogEnabled = 1;
            s.alarms = 3;
            s.errors = 1;
            s.trapFlag = 1;
            s.alarmsChanged = 1;
            s.customAlarmsChanged = 2;
            s.valueAlarmsChanged = 4;
            s.errorsChanged = 8;
        });
        panel.FillGrid();
        showPanel();
    }
    QStringList eventLines()
    {
        QFile f(eventLog.filePath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }
    std::vector<logs::StateLogRecord> stateRecords()
    {
        return logs::readStateLog(dir.filePath(logs::stateLogFileName(table.konfig(2))))
            .value_or(std::vector<logs::StateLogRecord>{});
    }
};

TEST_F(AcknowledgeTest, ClickAcceptsTrapOnceAndClearsChangeMasks)
{
    QSignalSpy summary(&panel, &ui::DeviceGridPanel::summaryRequested);
    QSignalSpy selected(&panel, &ui::DeviceGridPanel::selectedDeviceChanged);
    QTest::mouseClick(panel.view()->viewport(), Qt::LeftButton, {}, centreOf(1, ColDescription));

    const core::Tstav s = table.stav(2);
    EXPECT_EQ(s.trapFlag, 0);
    EXPECT_EQ(s.alarmsChanged, 0);
    EXPECT_EQ(s.customAlarmsChanged, 0u);
    EXPECT_EQ(s.valueAlarmsChanged, 0);
    EXPECT_EQ(s.errorsChanged, 0);
    EXPECT_EQ(s.alarms, 3); // the state itself stays
    EXPECT_EQ(s.errors, 1);
    EXPECT_FALSE(cell(1, ColAlarm, FrameRole).toBool());
    EXPECT_EQ(colour(1, ColAlarm), kYellow);
    EXPECT_FALSE(colour(1, ColTrap).isValid());
    EXPECT_GE(summary.count(), 1);
    ASSERT_GE(selected.count(), 1);
    EXPECT_EQ(selected.last().at(0).value<quint8>(), 2);
    EXPECT_EQ(table.selectedDevice(), 2);

    QStringList lines = eventLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" - 10.1.1.2:9000 <TRAP> <ACCEPT>")))
        << lines[0].toStdString();
    std::vector<logs::StateLogRecord> records = stateRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].code, logs::slTrapAccept);
    EXPECT_EQ(records[0].alarms, 3);
    EXPECT_EQ(records[0].trapFlag, 0);

    // A second click finds no trap: nothing more is written.
    QTest::mouseClick(panel.view()->viewport(), Qt::LeftButton, {}, centreOf(1, ColDescription));
    EXPECT_EQ(eventLines().size(), 1);
    EXPECT_EQ(stateRecords().size(), 1u);
}

TEST_F(AcknowledgeTest, HeaderClickAndDoubleClickChangeNothing)
{
    QSignalSpy queries(&panel, &ui::DeviceGridPanel::queryRequested);
    QWidget* header = panel.view()->horizontalHeader()->viewport();
    const int x = panel.view()->columnViewportPosition(ColDescription) + 5;
    QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(x, 5));
    QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(x, 5));
    QTest::mouseDClick(header, Qt::LeftButton, {}, QPoint(x, 5));
    EXPECT_EQ(table.stav(2).trapFlag, 1);
    EXPECT_EQ(queries.count(), 0);
    EXPECT_TRUE(eventLines().isEmpty());
}

TEST_F(GridTest, DoubleClickAsksForAQueryOfThatDevice)
{
    add(QStringLiteral("a")), add(QStringLiteral("b")), add(QStringLiteral("c"));
    panel.FillGrid();
    showPanel();
    QSignalSpy queries(&panel, &ui::DeviceGridPanel::queryRequested);
    // A real double click: press and release, then the second press arrives as a double click.
    QTest::mouseClick(panel.view()->viewport(), Qt::LeftButton, {}, centreOf(2, ColNumber));
    QTest::mouseDClick(panel.view()->viewport(), Qt::LeftButton, {}, centreOf(2, ColNumber));
    ASSERT_EQ(queries.count(), 1);
    EXPECT_EQ(queries.first().at(0).value<quint8>(), 3);
    EXPECT_EQ(table.selectedDevice(), 3);
}

TEST_F(GridTest, RightPressBelowTheLastRowOpensNoMenu)
{
    add(QStringLiteral("a")), add(QStringLiteral("b"));
    panel.FillGrid();
    showPanel();
    table.setSelectedDevice(1);
    QSignalSpy selected(&panel, &ui::DeviceGridPanel::selectedDeviceChanged);
    const QRect last = panel.view()->visualRect(model().index(1, ColType));
    Q_EMIT panel.view()->customContextMenuRequested(QPoint(last.center().x(), last.bottom() + 30));
    EXPECT_EQ(selected.count(), 0);
    EXPECT_EQ(table.selectedDevice(), 1);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    Q_EMIT panel.view()->customContextMenuRequested(last.center());
    EXPECT_EQ(table.selectedDevice(), 2);
    EXPECT_EQ(panel.menuColumn(), ColType);
    QWidget* popup = QApplication::activePopupWidget();
    ASSERT_NE(popup, nullptr);
    popup->close();
}

TEST_F(GridTest, DeviceMenuItemsFollowTheDevice)
{
    add(QStringLiteral("a")), add(QStringLiteral("b"));
    change(2, [](core::Tkonfig& k, core::Tstav&) {
        k.deviceVariant = 1;
        k.stateLogEnabled = 1;
    });
    panel.FillGrid();
    auto item = [&](QMenu* menu, const QString& caption) -> QAction* {
        for (QAction* a : menu->actions())
            if (a->text() == caption)
                return a;
        ADD_FAILURE() << "no item " << caption.toStdString();
        return nullptr;
    };
    QMenu* menu = panel.deviceMenuFor(1);
    QStringList captions;
    for (QAction* a : menu->actions())
        captions << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(captions,
              (QStringList{QStringLiteral("Stav <DblClick>"), QStringLiteral("Texty"), QStringLiteral("Log"),
                           QStringLiteral("Klimo6"), QStringLiteral("-"), QStringLiteral("Nahoru"),
                           QStringLiteral("Dolů"), QStringLiteral("Vlož"), QStringLiteral("Smaž")}));
    EXPECT_FALSE(item(menu, QStringLiteral("Klimo6"))->isVisible());
    EXPECT_FALSE(item(menu, QStringLiteral("Log"))->isEnabled());
    menu = panel.deviceMenuFor(2);
    EXPECT_TRUE(item(menu, QStringLiteral("Klimo6"))->isVisible());
    EXPECT_TRUE(item(menu, QStringLiteral("Log"))->isEnabled());

    // The items act on the selected device.
    table.setSelectedDevice(2);
    QSignalSpy thermostat(&panel, &ui::DeviceGridPanel::thermostatRequested);
    QSignalSpy texts(&panel, &ui::DeviceGridPanel::textsRequested);
    QSignalSpy log(&panel, &ui::DeviceGridPanel::logViewerRequested);
    QSignalSpy query(&panel, &ui::DeviceGridPanel::queryRequested);
    item(menu, QStringLiteral("Klimo6"))->trigger();
    item(menu, QStringLiteral("Texty"))->trigger();
    item(menu, QStringLiteral("Log"))->trigger();
    item(menu, QStringLiteral("Stav <DblClick>"))->trigger();
    for (QSignalSpy* spy : {&thermostat, &texts, &log, &query}) {
        ASSERT_EQ(spy->count(), 1);
        EXPECT_EQ(spy->first().at(0).value<quint8>(), 2);
    }
    item(menu, QStringLiteral("Nahoru"))->trigger();
    EXPECT_EQ(table.konfig(1).ipAddress.text(), QStringLiteral("b"));
    EXPECT_EQ(table.selectedDevice(), 1);
}

TEST_F(GridTest, InsertIsRefusedAtTheLastSlot)
{
    addMany(core::kMaxDevices - 1);
    panel.FillGrid();
    QSignalSpy messages(&panel, &ui::DeviceGridPanel::messageRequested);
    ASSERT_TRUE(panel.insertDevice(3)); // 255 now
    EXPECT_EQ(table.deviceCount(), 255);
    EXPECT_EQ(model().rowCount(), 255);
    EXPECT_EQ(table.selectedDevice(), 3);
    EXPECT_EQ(messages.count(), 0);
    const QString last = table.konfig(255).ipAddress.text();

    EXPECT_FALSE(panel.insertDevice(1));
    EXPECT_EQ(messages.count(), 1);
    EXPECT_FALSE(messages.first().at(0).toString().isEmpty());
    EXPECT_EQ(table.deviceCount(), 255);
    EXPECT_EQ(model().rowCount(), 255);
    EXPECT_EQ(table.konfig(255).ipAddress.text(), last);
    EXPECT_EQ(table.konfig(1).ipAddress.text(), QStringLiteral("10.0.0.1"));
}

TEST_F(GridTest, DeletingTheOnlyDeviceEmptiesIt)
{
    add(QStringLiteral("10.0.0.7"));
    change(1, [](core::Tkonfig& k, core::Tstav&) { k.pollEnabled = 1; });
    panel.FillGrid();
    QSignalSpy count(&panel, &ui::DeviceGridPanel::countTextChanged);
    panel.deleteDevice(1);
    EXPECT_EQ(table.deviceCount(), 1);
    EXPECT_TRUE(table.konfig(1).ipAddress.isEmpty());
    EXPECT_EQ(table.konfig(1).pollEnabled, 0);
    EXPECT_EQ(model().rowCount(), 1);
    ASSERT_GE(count.count(), 1);
    EXPECT_EQ(count.last().at(0).toString(), QStringLiteral("Počet: 0"));
}

TEST_F(GridTest, DeleteMovesTheSelectionToTheNewLastDevice)
{
    add(QStringLiteral("a")), add(QStringLiteral("b")), add(QStringLiteral("c"));
    panel.FillGrid();
    QSignalSpy selected(&panel, &ui::DeviceGridPanel::selectedDeviceChanged);
    panel.deleteDevice(3);
    EXPECT_EQ(table.deviceCount(), 2);
    EXPECT_EQ(table.selectedDevice(), 2);
    ASSERT_GE(selected.count(), 1);
    EXPECT_EQ(selected.last().at(0).value<quint8>(), 2);
    EXPECT_EQ(panel.view()->currentIndex().row(), 1);
}

TEST_F(GridTest, HeaderHints)
{
    struct {
        int column;
        QString hint;
    } cases[] = {
        {ColNumber, QStringLiteral("Status:\rPozadí - neznámý\rZelená - OK\rModrá - dotaz\rRudá - chyba")},
        {ColPoll, QStringLiteral("Dotazovat se na zařízení")},
        {ColStateLog, QStringLiteral("Zapsat log")},
        {ColAlarm, QStringLiteral("Alarm")},
        {ColCustomAlarm, QStringLiteral("Custom alarm")},
        {ColValueAlarm, QStringLiteral("Hodnota mimo meze")},
        {ColError, QStringLiteral("Chyba měření nebo komunikace")},
        {ColTrap, QStringLiteral("Zachycen trap")},
        {ColAddress, QString()},
        {ColType, QString()},
        {ColDescription, QString()},
        {ColFirstValue + 4, QString()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ui::DeviceGridModel::headerHint(c.column), c.hint) << c.column;
        EXPECT_EQ(model().headerData(c.column, Qt::Horizontal, Qt::ToolTipRole).isValid(), !c.hint.isEmpty());
    }
}

TEST_F(GridTest, ValueColumnsFromTheValuesSubmenu)
{
    add(QStringLiteral("a")), add(QStringLiteral("b"));
    change(1, [](core::Tkonfig& k, core::Tstav& s) {
        k.valueName[2].setText(QStringLiteral("Teplota"));
        s.valueText[2] = QStringLiteral("21.5");
    });
    change(2, [](core::Tkonfig& k, core::Tstav&) { k.valueName[2].setText(QStringLiteral("Tlak")); });
    panel.FillGrid();
    table.setSelectedDevice(2);
    QList<QAction*> items = panel.valueColumnsMenu()->actions();
    ASSERT_EQ(items.size(), 16);
    EXPECT_EQ(items[0]->text(), QStringLiteral("Hodnota1"));
    EXPECT_EQ(items[15]->text(), QStringLiteral("Hodnota16"));
    EXPECT_TRUE(panel.view()->isColumnHidden(ColFirstValue + 2));

    items[2]->trigger();
    EXPECT_TRUE(items[2]->isChecked());
    EXPECT_EQ(panel.valueColumnWidth(2), 64);
    EXPECT_EQ(panel.valueColumnTitle(2),
              QStringLiteral("Teplota")); // device 1's name, not the selected device's
    EXPECT_EQ(model().headerData(ColFirstValue + 2, Qt::Horizontal).toString(), QStringLiteral("Teplota"));
    EXPECT_EQ(cell(0, ColFirstValue + 2).toString(), QStringLiteral("21.5"));

    items[5]->trigger(); // device 1 has no name for value 5
    EXPECT_EQ(panel.valueColumnTitle(5), QString());

    items[2]->trigger();
    EXPECT_FALSE(items[2]->isChecked());
    EXPECT_EQ(panel.valueColumnWidth(2), 0);
    EXPECT_TRUE(panel.view()->isColumnHidden(ColFirstValue + 2));
}

TEST_F(GridTest, ValueColumnMenuSetsDecimals)
{
    add(QStringLiteral("a"));
    panel.FillGrid();
    options.setValueDecimals(4, 2);
    QMenu* menu = panel.headerMenuFor(ColFirstValue + 4);
    ASSERT_NE(menu, nullptr);
    QStringList captions;
    QAction* three = nullptr;
    for (QAction* a : menu->actions()) {
        captions << (a->isSeparator() ? QStringLiteral("-") : a->text());
        if (a->text() == QStringLiteral("2")) {
            EXPECT_TRUE(a->isChecked());
        }
        if (a->text() == QStringLiteral("1")) {
            EXPECT_FALSE(a->isChecked());
        }
        if (a->text() == QStringLiteral("3"))
            three = a;
        if (a->text() == QStringLiteral("Des. míst")) {
            EXPECT_FALSE(a->isEnabled());
        }
    }
    EXPECT_EQ(captions, (QStringList{QStringLiteral("Des. míst"), QStringLiteral("-"), QStringLiteral("1"),
                                     QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("-"),
                                     QStringLiteral("Popis")}));
    ASSERT_NE(three, nullptr);
    three->trigger();
    EXPECT_EQ(options.valueDecimals(4), 3);
    EXPECT_EQ(options.valueDecimals(3), 1);
}

TEST_F(GridTest, WidthsTitlesAndDecimalsSurviveTheSettingsFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ini = dir.filePath(QStringLiteral("Quodra_st.ini"));

    core::Settings written;
    written.columnWidths = {90, 70, 150, 20, 18, 14, 13, 12, 11, 10, 64, 0, 0,
                            80, 0,  0,   0,  0,  0,  0,  0,  0,  0,  0,  0, 45};
    written.valueHeaders[0] = QStringLiteral("Teplota");
    written.valueHeaders[3] = QStringLiteral("Vlhkost");
    written.valueHeaders[7] = QString();
    written.valueDecimals[0] = 3;
    written.valueDecimals[15] = 2;
    written.gridDock = QStringLiteral("TBXMultiDock2");
    written.gridDockPos = 7;
    written.gridSplitWidth = 333;
    ASSERT_TRUE(written.save(ini));

    panel.applySettings(core::Settings::load(ini, dir.path()));
    EXPECT_EQ(options.valueDecimals(0), 3);
    EXPECT_EQ(options.valueDecimals(15), 2);
    EXPECT_EQ(options.valueDecimals(1), 1);
    EXPECT_EQ(panel.valueColumnTitle(3), QStringLiteral("Vlhkost"));
    EXPECT_EQ(panel.valueColumnTitle(1), QStringLiteral("Val2"));
    QList<QAction*> items = panel.valueColumnsMenu()->actions();
    EXPECT_TRUE(items[0]->isChecked());
    EXPECT_FALSE(items[1]->isChecked());
    EXPECT_TRUE(items[3]->isChecked());
    EXPECT_TRUE(items[15]->isChecked());

    // The operator changes a few things; saving and reading again brings them back.
    panel.setValueColumnTitle(1, QStringLiteral("Tlak"));
    panel.setValueColumnWidth(1, 50);
    panel.setValueColumnWidth(15, 0);
    options.setValueDecimals(1, 2);

    core::Settings stored = core::Settings::load(ini, dir.path());
    panel.storeSettings(stored);
    ASSERT_TRUE(stored.save(ini));
    const core::Settings reread = core::Settings::load(ini, dir.path());
    auto expectedWidths = written.columnWidths;
    expectedWidths[11] = 50;
    expectedWidths[25] = 0;
    EXPECT_EQ(reread.columnWidths, expectedWidths);
    EXPECT_EQ(reread.valueHeaders[1], QStringLiteral("Tlak"));
    EXPECT_EQ(reread.valueHeaders[0], QStringLiteral("Teplota"));
    EXPECT_EQ(reread.valueHeaders[7], QString());
    EXPECT_EQ(reread.valueDecimals[1], 2);
    EXPECT_EQ(reread.valueDecimals[0], 3);
    EXPECT_EQ(reread.gridDock, QStringLiteral("TBXMultiDock2"));
    EXPECT_EQ(reread.gridDockPos, 7);
    EXPECT_EQ(reread.gridSplitWidth, 333);
}

TEST_F(GridTest, FillGridCountsDevices)
{
    struct {
        QStringList addresses;
        QString text;
    } cases[] = {
        {{QString()}, QStringLiteral("Počet: 0")},
        {{QStringLiteral("a")}, QStringLiteral("Počet: 1")},
        {{QString(), QString()}, QStringLiteral("Počet: 2")},
        {{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}, QStringLiteral("Počet: 3")},
    };
    for (const auto& c : cases) {
        table.setDeviceCount(0);
        for (const QString& a : c.addresses)
            add(a);
        QSignalSpy count(&panel, &ui::DeviceGridPanel::countTextChanged);
        panel.FillGrid();
        ASSERT_EQ(count.count(), 1);
        EXPECT_EQ(count.first().at(0).toString(), c.text);
        EXPECT_EQ(model().rowCount(), c.addresses.size());
    }
}

TEST_F(GridTest, PointerOverTheGridIsReported)
{
    add(QStringLiteral("a"));
    panel.FillGrid();
    showPanel();
    QSignalSpy moved(&panel, &ui::DeviceGridPanel::pointerMoved);
    QTest::mouseMove(panel.view()->viewport(), centreOf(0, ColType));
    QTest::mouseMove(panel.view()->viewport(), centreOf(0, ColDescription));
    EXPECT_GE(moved.count(), 1);
}

TEST_F(GridTest, ChangesFromAnotherThreadReachTheRow)
{
    add(QStringLiteral("a")), add(QStringLiteral("b"));
    panel.FillGrid();
    settle();
    QSignalSpy changed(panel.model(), &QAbstractItemModel::dataChanged);
    std::thread worker([&] {
        table.modify(2, [](core::Tkonfig&, core::Tstav& s) {
            s.errors = 1;
            s.valueText[0] = QStringLiteral("3.3");
        });
    });
    worker.join();
    EXPECT_FALSE(colour(1, ColError).isValid()); // not yet: the change arrives queued
    settle();
    EXPECT_EQ(colour(1, ColError), kFailedColour);
    EXPECT_EQ(cell(1, ColFirstValue).toString(), QStringLiteral("3.3"));
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.first().at(0).toModelIndex().row(), 1); // only the changed row
    EXPECT_EQ(changed.first().at(1).toModelIndex().row(), 1);
}

} // namespace

namespace {

// A worker changes, inserts and deletes devices while the grid is edited, reordered and
// filtered on the UI thread; afterwards the rows show exactly the table.
TEST_F(GridTest, WorkerChangesWhileTheGridIsEditedAndReordered)
{
    addMany(20);
    panel.FillGrid();
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 3000; ++i) {
            const quint8 n = quint8(1 + i % 20);
            table.modify(n, [i](core::Tkonfig&, core::Tstav& s) {
                s.alarms = quint8(i);
                s.alarmsChanged |= 1;
                s.valueText[0] = QString::number(i);
                s.commState = core::CommAnswered;
            });
            if (i % 50 == 0 && table.InsertDevice(1))
                table.DeleteDevice(1);
        }
        done = true;
    });
    for (int i = 0; i < 300 || !done.load(); ++i) {
        const quint8 n = quint8(1 + i % 19);
        panel.setRowMark(n, RowMark::Query);
        if (model().rowCount() > 0)
            model().setData(model().index(i % model().rowCount(), ColDescription),
                            QStringLiteral("p%1").arg(i));
        if (i % 3 == 0)
            panel.moveDown(n);
        if (i % 7 == 0) {
            panel.setStateFilter(i % 2 ? 1 : 0, 0x0F);
            panel.ApplyGridFilter();
        }
        if (i % 11 == 0)
            panel.acknowledge(n);
        if (i % 13 == 0)
            panel.FillGrid();
        QCoreApplication::processEvents();
    }
    worker.join();
    settle();
    panel.FillGrid();
    const std::vector<core::DeviceSnapshot> devices = table.snapshots();
    ASSERT_EQ(model().rowCount(), int(devices.size()));
    for (int r = 0; r < model().rowCount(); ++r) {
        EXPECT_EQ(cell(r, ColAddress).toString(), devices[std::size_t(r)].konfig.addressWithPort());
        EXPECT_EQ(cell(r, ColDescription).toString(), devices[std::size_t(r)].konfig.popis.text());
        EXPECT_EQ(cell(r, ColFirstValue).toString(), devices[std::size_t(r)].stav.valueText[0]);
    }
}

} // namespace
