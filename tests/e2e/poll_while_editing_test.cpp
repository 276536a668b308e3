// The whole console in this process polls simulated devices on 127.0.20.41..44 while the operator
// edits the grid, toggles its check boxes, acknowledges rows, reads all devices, moves devices and
// inserts and deletes them. Every result must land on the device it was read from, the rows must
// show the table, and shut-down must save what was edited. scripts/tsan.sh runs this test under
// ThreadSanitizer.

#include "e2e_support.h"

#include "sim/sim_fleet.h"
#include "ui/device_grid_model.h"
#include "ui/device_grid_panel.h"
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QAction>

using namespace quodra;
using namespace quodra::e2e;
using namespace quodra::ui::grid;

namespace {

int lastOctet(const QString& address)
{
    return address.section(QLatin1Char('.'), 3).toInt();
}

TEST(MainWindowInProcess, PollsWhileTheGridIsEditedAndDevicesAreInsertedAndDeleted)
{
    ensureApp();
    const QStringList addresses = {QStringLiteral("127.0.20.41"), QStringLiteral("127.0.20.42"),
                                   QStringLiteral("127.0.20.43"), QStringLiteral("127.0.20.44")};
    QList<sim::DeviceDescription> descs;
    for (const QString& a : addresses) {
        sim::DeviceDescription d;
        d.address = a;
        d.alarmsInUse = 0xFF;
        d.alarms = quint8(lastOctet(a)); // each device tells who it is
        descs << d;
    }
    sim::SimFleet fleet(descs, 0);
    QString error;
    ASSERT_TRUE(fleet.start(&error)) << error.toStdString();

    Console dir;
    std::vector<core::Tkonfig> devices;
    for (const QString& a : addresses)
        devices.push_back(device(a.toLatin1().constData(), true, true));
    ASSERT_TRUE(dir.writeDevices(devices));
    ASSERT_TRUE(dir.writeIni("[Nastaveni]\r\nperioda_val=1\r\nwlog_ch=1\r\n"));

    ui::MainWindow window(dir.dir());
    ui::DeviceGridPanel* panel = window.gridPanel();
    ui::DeviceGridModel* model = panel->model();
    auto* readAll = window.findChild<QAction*>(QStringLiteral("TBXItem8"));
    ASSERT_NE(readAll, nullptr);

    // The timer is driven faster than once a second, so passes follow each other closely.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(3000);
    int step = 0;
    while (std::chrono::steady_clock::now() < end) {
        window.Timer1Timer();
        const int rows = model->rowCount();
        if (rows > 0) {
            const int r = step % rows;
            model->setData(model->index(r, ColDescription), QStringLiteral("popis %1").arg(step));
            model->setData(model->index(r, ColStateLog), step % 2 ? Qt::Checked : Qt::Unchecked,
                           Qt::CheckStateRole);
        }
        const quint8 count = window.table().deviceCount();
        switch (step % 6) {
        case 0:
            panel->insertDevice(1); // an empty, unpolled device in front
            break;
        case 1:
            panel->moveDown(quint8(1 + step % count));
            break;
        case 2:
            panel->acknowledge(quint8(1 + step % count));
            break;
        case 3:
            // Delete only the empty devices the test inserted; the simulated ones stay.
            for (quint8 i = 1; i <= count; ++i) {
                if (window.table().konfig(i).ipAddress.isEmpty()) {
                    panel->deleteDevice(i);
                    break;
                }
            }
            break;
        case 4:
            if (step % 24 == 4)
                readAll->trigger();
            break;
        case 5:
            panel->setRowMark(quint8(1 + step % count), ui::RowMark::Query);
            break;
        }
        ++step;
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    // Let the work in flight finish: the busy cursor of "Stavy " goes, a last summary runs.
    ASSERT_TRUE(waitUntil([] { return QApplication::overrideCursor() == nullptr; }, 10000));
    window.Timer1Timer();
    QCoreApplication::processEvents();

    int answered = 0;
    for (const QString& a : addresses)
        EXPECT_GE(fleet.received(a).count("GS"), 2) << a.toStdString() << " was polled too rarely";
    for (const core::DeviceSnapshot& d : window.table().snapshots()) {
        if (d.stav.commState != core::CommAnswered)
            continue;
        ++answered;
        EXPECT_EQ(int(d.stav.alarms), lastOctet(d.konfig.ipAddress.text()))
            << "the result of another device landed on " << d.konfig.ipAddress.text().toStdString();
    }
    EXPECT_GE(answered, 4);

    // The rows show the table, row for row.
    panel->FillGrid();
    const std::vector<core::DeviceSnapshot> now = window.table().snapshots();
    ASSERT_EQ(model->rowCount(), int(now.size()));
    for (int r = 0; r < model->rowCount(); ++r) {
        EXPECT_EQ(model->index(r, ColAddress).data().toString(),
                  now[std::size_t(r)].konfig.addressWithPort());
        EXPECT_EQ(model->index(r, ColDescription).data().toString(), now[std::size_t(r)].konfig.popis.text());
    }

    window.FormDestroy();
    const auto saved = core::readDeviceList(dir.file(core::kDeviceListFileName));
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->size(), now.size());
    for (std::size_t i = 0; i < now.size(); ++i) {
        EXPECT_EQ((*saved)[i].ipAddress.text(), now[i].konfig.ipAddress.text());
        EXPECT_EQ((*saved)[i].popis.text(), now[i].konfig.popis.text());
        EXPECT_EQ((*saved)[i].stateLogEnabled, now[i].konfig.stateLogEnabled);
    }
    EXPECT_TRUE(dir.eventLogHas("<PROGRAM> <END>"));
}

} // namespace
