#include "ui/main_window.h"

#include "comm/device_link.h"
#include "comm/poll_thread.h"
#include "core/device_list_file.h"
#include "core/language.h"
#include "logs/binary_logs.h"
#include "logs/event_log.h"
#include "ui/device_grid_panel.h"
#include "ui/main_status_bar.h"
#include "ui/main_toolbar.h"
#include "ui/queued_comm_observer.h"
#include "ui/selected_device_view.h"
#include "ui/tray_controller.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSpinBox>

#include <cstdio>

namespace quodra::ui {

namespace {
const QString kPlacementKey = QStringLiteral("MainWindow");
const QString kCaption = QStringLiteral("Quodra.01.2");

RowMark rowMarkOf(comm::GridMark mark)
{
    switch (mark) {
    case comm::GridMark::Running:
        return RowMark::Query;
    case comm::GridMark::Answered:
        return RowMark::Answered;
    case comm::GridMark::Failed:
        return RowMark::Failed;
    }
    return RowMark::None;
}
} // namespace

MainWindow::MainWindow(const QString& programDir, QWidget* parent)
    : QMainWindow(parent), m_programDir(programDir)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kCaption);
    FormCreate();
}

MainWindow::~MainWindow()
{
    if (!m_destroyed)
        FormDestroy();
}

QString MainWindow::constant(const char* name) const
{
    return core::lookupConstant(QString::fromLatin1(name)).value_or(QString());
}

// Start-up in its fixed order: settings, language, threads, device list, start events, grid,
// panels, layout, start mode.
void MainWindow::FormCreate()
{
    const QString dirWithSep = QDir(m_programDir).absolutePath() + QLatin1Char('/');
    const QString iniPath = dirWithSep + core::kSettingsFileName;

    // Settings, then the language (before any widget, so every text built below comes from it).
    m_settings = core::Settings::load(iniPath, m_programDir);
    const QString languageError = core::applyStartupLanguage(m_programDir);

    m_options.setProtocol(m_settings.protocol == 2 ? core::Transport::Udp : core::Transport::Tcp);
    m_options.setCustomAlarmsUsed(m_settings.customAlarmsUsed);
    m_options.setOutputsUsed(m_settings.outputsUsed);
    m_options.setPingFirst(m_settings.pingFirst);
    m_table.setCustomAlarmsUsed(m_settings.customAlarmsUsed);

    m_eventLog = std::make_unique<logs::EventLog>(m_table);
    m_eventLog->setDirectory(m_settings.logDirWrite);
    m_eventLog->setEnabled(m_settings.eventLogOn);
    m_binaryLogs = std::make_unique<logs::BinaryLogs>(m_table);
    m_binaryLogs->setDirectory(m_settings.logDirWrite);

    buildWidgets();
    m_toolbar->applySettings(m_settings);
    m_toolbar->readAll->setToolTip(
        constant("hhint8") + (m_settings.protocol == 2 ? QStringLiteral("(UDP)") : QStringLiteral("(TCP)")));
    m_gridPanel->applySettings(m_settings);
    m_gridPanel->placeIn(*this);
    m_gridPanel->setVisible(m_settings.gridPanelVisible);
    m_status->setVisible(m_settings.statusBarVisible);
    m_memoDock->setVisible(m_settings.sidePanelVisible);
    resize(m_settings.windowWidth, m_settings.windowHeight);
    if (const auto it = m_settings.placement.constFind(kPlacementKey); it != m_settings.placement.constEnd())
        restoreGeometry(it.value());

    // The poll cycle: the period from the field, first countdown 4, the reset schedule.
    m_cycle = std::make_unique<core::PollCycle>(m_settings.pollPeriod, m_settings.resetInterval);

    // Communication and the poll thread; it idles until the first countdown ends.
    m_observer = std::make_unique<QueuedCommObserver>();
    m_link =
        std::make_unique<comm::DeviceLink>(m_table, m_options, *m_eventLog, *m_binaryLogs, m_observer.get());
    m_pollThread = std::make_unique<comm::PollThread>(m_table, *m_cycle, *m_link);
    connectWidgets();
    m_pollThread->start();

    m_table.setDeviceCount(0);
    m_table.setSelectedDevice(0);

    QString error;
    if (!core::LoadDeviceList(dirWithSep + core::kDeviceListFileName, m_table, &error)) {
        showMessage(error);
        m_table.setDeviceCount(0);
    }
    if (m_table.deviceCount() == 0) {
        m_table.ClearDevice(1);
        m_table.setDeviceCount(1);
    }
    m_table.setSelectedDevice(1);

    m_eventLog->WriteEventLog(0, logs::event::programStart);
    m_binaryLogs->WriteStateLog(0, logs::slStart);

    applyStartMode();
    m_gridPanel->FillGrid();
    ShowDevicePanels(1);
    UpdateSummary();
    m_status->setCountdownText(QString(), false);
    if (!languageError.isEmpty())
        showMessage(languageError);

    // Hints stay on screen for ten seconds.
    for (QWidget* w : findChildren<QWidget*>())
        w->setToolTipDuration(10000);

    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &MainWindow::Timer1Timer);
    m_timer.start();
}

void MainWindow::buildWidgets()
{
    m_toolbar = new MainToolBar(this);
    addToolBar(Qt::TopToolBarArea, m_toolbar);
    m_status = new MainStatusBar(this);
    setStatusBar(m_status);
    m_tray = new TrayController(this);

    m_deviceView = new SelectedDeviceView(this);
    setCentralWidget(m_deviceView);

    m_gridPanel = new DeviceGridPanel(m_table, m_options, this);
    m_gridPanel->setLogs(m_eventLog.get(), m_binaryLogs.get());

    m_memoDock = new QDockWidget(this);
    m_memoDock->setObjectName(QStringLiteral("Panel2"));
    m_memoDock->setFeatures(QDockWidget::NoDockWidgetFeatures);
    m_memoDock->setTitleBarWidget(new QWidget(m_memoDock));
    m_memo = new QPlainTextEdit(m_memoDock);
    m_memo->setObjectName(QStringLiteral("Memo1"));
    m_memo->setReadOnly(true);
    m_memo->setMaximumBlockCount(5000);
    m_memo->setMinimumWidth(140);
    m_memoDock->setWidget(m_memo);
    addDockWidget(Qt::RightDockWidgetArea, m_memoDock);
    // A narrow strip at the right edge; the main area keeps the room.
    resizeDocks({m_memoDock}, {170}, Qt::Horizontal);
}

void MainWindow::connectWidgets()
{
    // Communication results reach the widgets only through queued connections.
    connect(
        m_observer.get(), &QueuedCommObserver::markArrived, this,
        [this](quint64 id, int mark) { m_gridPanel->setRowMark(id, rowMarkOf(comm::GridMark(mark))); },
        Qt::QueuedConnection);
    connect(
        m_pollThread.get(), &comm::PollThread::deviceMark, this,
        [this](quint64 id, int mark) { m_gridPanel->setRowMark(id, rowMarkOf(comm::GridMark(mark))); },
        Qt::QueuedConnection);
    connect(m_observer.get(), &QueuedCommObserver::memoLineArrived, this, &MainWindow::appendMemo,
            Qt::QueuedConnection);
    connect(
        m_observer.get(), &QueuedCommObserver::refreshArrived, this,
        [this](quint64) { m_cycle->refreshRequest.store(true); }, Qt::QueuedConnection);
    connect(m_observer.get(), &QueuedCommObserver::errorArrived, this, &MainWindow::showMessage,
            Qt::QueuedConnection);
    connect(m_observer.get(), &QueuedCommObserver::busyArrived, this, &MainWindow::setBusy,
            Qt::QueuedConnection);
    connect(
        m_observer.get(), &QueuedCommObserver::noticeArrived, this,
        [this](const QString& text) {
            appendMemo(text);
            m_status->showMessage(text, 15000);
        },
        Qt::QueuedConnection);
    connect(
        m_pollThread.get(), &comm::PollThread::jobDone, this,
        [this] {
            setBusy(false);
            m_gridPanel->refresh();
            ShowDevicePanels(m_table.selectedDevice());
            UpdateSummary();
        },
        Qt::QueuedConnection);

    // Toolbar.
    connect(m_toolbar->readAll, &QAction::triggered, this, &MainWindow::readAllDevices);
    connect(m_toolbar, &MainToolBar::periodEdited, this, [this](int v) { m_cycle->setPeriod(v); });
    connect(m_toolbar->protocolUdp, &QAction::toggled, this,
            [this](bool udp) { m_options.setProtocol(udp ? core::Transport::Udp : core::Transport::Tcp); });
    connect(m_toolbar->writeLog, &QAction::toggled, this, [this](bool on) { m_eventLog->setEnabled(on); });
    connect(m_toolbar->saveList, &QAction::triggered, this, &MainWindow::saveDeviceListNow);
    connect(m_toolbar->startNormal, &QAction::toggled, this, &MainWindow::onormClick);
    connect(m_toolbar->startMinimised, &QAction::toggled, this, &MainWindow::ominClick);
    connect(m_toolbar->showGridPanel, &QAction::toggled, this, [this](bool on) {
        m_gridPanel->setVisible(on);
        updateCaption();
    });
    connect(m_gridPanel, &QDockWidget::visibilityChanged, this, [this](bool) {
        if (!isVisible() || m_destroyed)
            return;
        const QSignalBlocker block(m_toolbar->showGridPanel);
        m_toolbar->showGridPanel->setChecked(!m_gridPanel->isHidden());
        updateCaption();
    });
    connect(m_toolbar->showStatusBar, &QAction::toggled, m_status, &QWidget::setVisible);

    // Status bar.
    connect(m_status, &MainStatusBar::countdownClicked, this, [this] { m_cycle->togglePause(); });

    // Grid panel.
    connect(m_gridPanel, &DeviceGridPanel::countTextChanged, m_status, &MainStatusBar::setCountText);
    connect(m_gridPanel, &DeviceGridPanel::summaryRequested, this, &MainWindow::UpdateSummary);
    connect(m_gridPanel, &DeviceGridPanel::pointerMoved, this, [this] { m_cycle->ApplyPendingPeriod(); });
    connect(m_deviceView, &SelectedDeviceView::pointerMoved, this, [this] { m_cycle->ApplyPendingPeriod(); });
    connect(m_gridPanel, &DeviceGridPanel::selectedDeviceChanged, this, &MainWindow::ShowDevicePanels);
    connect(m_gridPanel, &DeviceGridPanel::messageRequested, this, &MainWindow::showMessage);
    connect(m_gridPanel, &DeviceGridPanel::queryRequested, this, [this](quint8 device) {
        const core::DeviceId id = m_table.idOf(device);
        runInteractive([this, id] {
            if (const quint8 n = m_table.numberOf(id))
                m_link->QueryStatus(n, true);
        });
    });
    connect(m_gridPanel, &DeviceGridPanel::textsRequested, this, [this](quint8 device) {
        const core::DeviceId id = m_table.idOf(device);
        runInteractive([this, id] {
            if (const quint8 n = m_table.numberOf(id))
                m_link->ReadDeviceTexts(n, true);
        });
    });
    const auto notYet = [this] {
        m_status->showMessage(QStringLiteral("Tato funkce zatím není k dispozici."), 5000);
    };
    connect(m_gridPanel, &DeviceGridPanel::logViewerRequested, this, notYet);
    connect(m_gridPanel, &DeviceGridPanel::thermostatRequested, this, notYet);
    connect(m_gridPanel, &DeviceGridPanel::graphChannelRequested, this, notYet);
    connect(m_toolbar->resetEth, &QAction::triggered, this, notYet);

    // Tray.
    connect(m_tray, &TrayController::showRequested, this, &MainWindow::showMainWindow);
    connect(m_tray, &TrayController::exitRequested, this, &MainWindow::Exit1Click);
}

void MainWindow::applyStartMode()
{
    if (m_toolbar->startNormal->isChecked()) {
        m_minimiseToTray = false;
        m_closeQuits = true;
        m_tray->setVisible(false);
    }
    if (m_toolbar->startMinimised->isChecked()) {
        m_minimiseToTray = true;
        m_closeQuits = false;
        m_tray->setVisible(true);
    }
}

void MainWindow::showAtStart()
{
    if (!m_toolbar->startMinimised->isChecked()) {
        show();
        return;
    }
    // Without a system tray the window stays reachable as a minimised window.
    if (!TrayController::available())
        showMinimized();
}

void MainWindow::onormClick(bool checked)
{
    if (!checked)
        return;
    if (isMinimized())
        showNormal();
    m_minimiseToTray = false;
    m_closeQuits = true;
    m_tray->setVisible(false);
}

void MainWindow::ominClick(bool checked)
{
    if (!checked)
        return;
    m_closeQuits = false;
    m_minimiseToTray = true;
    m_tray->setVisible(true);
}

void MainWindow::hideToTray()
{
    if (TrayController::available()) {
        m_tray->setVisible(true);
        hide();
    } else {
        showMinimized();
    }
}

void MainWindow::showMainWindow()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && m_minimiseToTray &&
        TrayController::available())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
}

bool MainWindow::FormCloseQuery()
{
    if (m_closeQuits)
        return true;
    hideToTray();
    return false;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (FormCloseQuery()) {
        event->accept();
        QCoreApplication::quit();
    } else {
        event->ignore();
    }
}

void MainWindow::Exit1Click()
{
    m_closeQuits = true;
    close();
    QCoreApplication::quit();
}

core::TrapReaction MainWindow::trapReaction() const
{
    core::TrapReaction r;
    r.readOnTrap = m_toolbar->trapReadState->isChecked();
    r.showWindow = m_toolbar->trapWindow->isChecked();
    r.showBalloon = m_toolbar->trapBalloon->isChecked();
    r.startMinimised = m_toolbar->startMinimised->isChecked();
    return r;
}

void MainWindow::Timer1Timer()
{
    const core::TickActions a = m_cycle->tick(m_table, trapReaction());
    if (!a.devicesToRead.empty()) {
        std::vector<core::DeviceId> ids;
        for (quint8 n : a.devicesToRead)
            ids.push_back(m_table.idOf(n));
        runInteractive([this, ids] {
            for (core::DeviceId id : ids) {
                if (m_pollThread->stopping())
                    return;
                if (const quint8 n = m_table.numberOf(id))
                    m_link->QueryStatus(n, true);
            }
        });
    }
    if (a.showWindow)
        showMainWindow();
    if (a.trapBalloon) {
        const core::Tkonfig k = m_table.konfig(m_table.selectedDevice());
        m_tray->showBalloon(constant("sbal1"), constant("sbal2") + k.ipAddress.text() + QLatin1Char(' ') +
                                                   k.popis.text() + QLatin1Char('\r'));
    }
    if (a.trapHandled)
        m_gridPanel->FillGrid();
    if (a.refresh) {
        m_gridPanel->refresh();
        ShowDevicePanels(m_table.selectedDevice());
        UpdateSummary();
    }
    m_status->setCountdownText(a.label, m_cycle->pollCountdown() > 0);
    if (m_cycle->pollRequest.load())
        m_pollThread->wake();
}

void MainWindow::UpdateSummary()
{
    const core::Summary s = core::UpdateSummary(m_table);
    m_tray->setImage(s.trayImage);
    if (s.anyNewFailure) {
        if (m_toolbar->trapWindow->isChecked())
            showMainWindow();
        if (m_toolbar->trapBalloon->isChecked() && m_toolbar->startMinimised->isChecked())
            m_tray->showBalloon(constant("sbal3"), constant("sbal4"));
    }
    if (s.trayImage != m_iconImage) {
        m_iconImage = s.trayImage;
        setWindowIcon(trayImage(s.trayImage));
        QApplication::setWindowIcon(trayImage(s.trayImage));
    }
    m_status->setTagText(s.tagText());
    m_gridPanel->applySummary(s);
    m_gridPanel->ApplyGridFilter();
}

int MainWindow::trayImageIndex() const
{
    return m_tray->image();
}

void MainWindow::ShowDevicePanels(quint8 device)
{
    if (device < 1 || device > m_table.deviceCount())
        return;
    m_table.setSelectedDevice(device);
    m_deviceView->showDevice(m_table.snapshot(device));
    updateCaption();
}

// With the device list shown the caption is the program's name; with it hidden the caption names
// the selected device, the only one the window then shows.
void MainWindow::updateCaption()
{
    if (!m_gridPanel->isHidden()) {
        setWindowTitle(kCaption);
        return;
    }
    const core::Tkonfig k = m_table.konfig(m_table.selectedDevice());
    QString caption = (kCaption + QStringLiteral(": ") + k.ipAddress.text()).left(63);
    if (!k.popis.isEmpty())
        caption += QStringLiteral(" - ") + k.popis.text();
    setWindowTitle(caption);
}

void MainWindow::runInteractive(std::function<void()> job)
{
    setBusy(true);
    m_pollThread->enqueue(std::move(job));
}

// "Stavy ": every device in ascending order, polled or not, interactively. It runs on the poll
// thread between passes, so the window keeps answering meanwhile.
void MainWindow::readAllDevices()
{
    const quint8 count = m_table.deviceCount();
    std::vector<core::DeviceId> ids;
    for (quint8 i = 1; i <= count && i != 0; ++i)
        ids.push_back(m_table.idOf(i));
    runInteractive([this, ids] {
        for (core::DeviceId id : ids) {
            if (m_pollThread->stopping())
                return;
            if (const quint8 n = m_table.numberOf(id))
                m_link->QueryStatus(n, true);
        }
    });
}

void MainWindow::saveDeviceListNow()
{
    QString error;
    const QString path = QDir(m_programDir).filePath(core::kDeviceListFileName);
    if (!core::SaveDeviceList(path, m_table, &error))
        showMessage(error);
}

void MainWindow::setBusy(bool on)
{
    if (on) {
        if (m_busy++ == 0)
            QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (m_busy > 0) {
        if (--m_busy == 0)
            QApplication::restoreOverrideCursor();
    }
}

void MainWindow::appendMemo(const QString& line)
{
    m_memo->appendPlainText(line);
}

// Message boxes never block the caller: the poll timer and the workers go on meanwhile.
void MainWindow::showMessage(const QString& text)
{
    std::fprintf(stderr, "quodra-st: %s\n", text.toLocal8Bit().constData());
    if (m_destroyed)
        return;
    auto* box = new QMessageBox(QMessageBox::Warning, kCaption, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

// Shut-down in its fixed order: threads told to stop, end events, device list, settings, then the
// wait for the threads. The poll thread never waits on this thread, so the wait cannot deadlock.
void MainWindow::FormDestroy()
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    m_timer.stop();
    m_pollThread->stop();

    m_eventLog->WriteEventLog(0, logs::event::programEnd);
    m_binaryLogs->WriteStateLog(0, logs::slEnd);

    const QString dir = QDir(m_programDir).absolutePath() + QLatin1Char('/');
    QString error;
    bool ok = core::SaveDeviceList(dir + core::kDeviceListFileName, m_table, &error);
    if (ok) {
        m_toolbar->storeSettings(m_settings);
        m_gridPanel->storeSettings(m_settings);
        const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
        m_settings.windowWidth = normal.width();
        m_settings.windowHeight = normal.height();
        m_settings.placement[kPlacementKey] = saveGeometry();
        ok = m_settings.save(dir + core::kSettingsFileName, &error);
    }
    if (!ok) {
        std::fprintf(stderr, "quodra-st: %s\n", error.toLocal8Bit().constData());
        // Shown to the operator, but never left waiting forever: an unattended stop still ends.
        QMessageBox box(QMessageBox::Critical, kCaption, error, QMessageBox::Ok);
        QTimer::singleShot(15000, &box, &QMessageBox::accept);
        if (QGuiApplication::platformName() != QLatin1String("offscreen"))
            box.exec();
    }
    m_pollThread->join();
}

} // namespace quodra::ui
