#pragma once
// The console's main window: creates and owns the device table, logs, device link, poll cycle and
// poll thread (FormCreate), runs the one-second poll timer, shows the aggregate state, and ends the
// run in order (FormDestroy). Its parts live in their own classes: toolbar, status bar, tray
// controller, device grid panel, side memo and the selected device view.

#include "core/console_options.h"
#include "core/device_table.h"
#include "core/poll_cycle.h"
#include "core/settings.h"
#include "core/summary.h"

#include <QMainWindow>
#include <QTimer>

#include <functional>
#include <memory>

class QDockWidget;
class QPlainTextEdit;

namespace quodra::logs {
class EventLog;
class BinaryLogs;
} // namespace quodra::logs

namespace quodra::comm {
class DeviceLink;
class PollThread;
} // namespace quodra::comm

namespace quodra::ui {

class DeviceGridPanel;
class MainStatusBar;
class MainToolBar;
class QueuedCommObserver;
class SelectedDeviceView;
class TrayController;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(const QString& programDir, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Shows the window as the start mode asks: normal, minimised, or only the tray icon.
    void showAtStart();
    // Shut-down sequence; called once after the event loop has ended.
    void FormDestroy();

    // Tray "Exit" (also SIGTERM / SIGINT): ends the program in order.
    void Exit1Click();
    // Tray "Show", tray click, balloon click, a second start, trap and failure reactions.
    void showMainWindow();

    // Runs one timer tick now (the timer calls it every second).
    void Timer1Timer();
    void UpdateSummary();
    void ShowDevicePanels(quint8 device);
    void updateCaption();

    // Read-outs for tests and the screenshot option.
    MainStatusBar* statusBarPanels() const { return m_status; }
    DeviceGridPanel* gridPanel() const { return m_gridPanel; }
    int trayImageIndex() const;
    core::DeviceTable& table() { return m_table; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void FormCreate();
    bool FormCloseQuery();
    void buildWidgets();
    void connectWidgets();
    void applyStartMode();
    void onormClick(bool checked);
    void ominClick(bool checked);
    void hideToTray();
    void runInteractive(std::function<void()> job);
    void readAllDevices();
    void saveDeviceListNow();
    void showMessage(const QString& text);
    void appendMemo(const QString& line);
    void setBusy(bool on);
    core::TrapReaction trapReaction() const;
    QString constant(const char* name) const;

    QString m_programDir;
    core::Settings m_settings;
    core::DeviceTable m_table;
    core::ConsoleOptions m_options;
    std::unique_ptr<logs::EventLog> m_eventLog;
    std::unique_ptr<logs::BinaryLogs> m_binaryLogs;
    std::unique_ptr<QueuedCommObserver> m_observer;
    std::unique_ptr<comm::DeviceLink> m_link;
    std::unique_ptr<core::PollCycle> m_cycle;
    std::unique_ptr<comm::PollThread> m_pollThread;

    MainToolBar* m_toolbar = nullptr;
    MainStatusBar* m_status = nullptr;
    TrayController* m_tray = nullptr;
    DeviceGridPanel* m_gridPanel = nullptr;
    QDockWidget* m_memoDock = nullptr;
    QPlainTextEdit* m_memo = nullptr;
    SelectedDeviceView* m_deviceView = nullptr;
    QTimer m_timer;

    bool m_closeQuits = true;
    bool m_minimiseToTray = false;
    bool m_destroyed = false;
    int m_busy = 0;
    int m_iconImage = -1;
};

} // namespace quodra::ui
