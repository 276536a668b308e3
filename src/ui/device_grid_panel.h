#pragma once
// The device list panel "Seznam zařízení": a dock holding the filter toolbar and the device grid.
// It edits the table itself (in-place edits, check boxes, acknowledgement, move up/down, insert,
// delete) and asks the main window by signals for everything that talks to a device or opens
// another window.

#include "core/device_table.h"
#include "core/grid_filter.h"
#include "ui/device_grid_model.h"

#include <QDockWidget>

#include <memory>

class QAction;
class QMainWindow;
class QMenu;
class QToolBar;

namespace quodra::core {
class ConsoleOptions;
struct Settings;
struct Summary;
} // namespace quodra::core

namespace quodra::logs {
class EventLog;
class BinaryLogs;
} // namespace quodra::logs

namespace quodra::ui {

class DeviceGridView;

class DeviceGridPanel : public QDockWidget {
    Q_OBJECT
public:
    DeviceGridPanel(core::DeviceTable& table, core::ConsoleOptions& options, QWidget* parent = nullptr);
    ~DeviceGridPanel() override;

    // The logs that the acknowledgement of a trap writes to (either may be null: nothing written).
    void setLogs(logs::EventLog* eventLog, logs::BinaryLogs* binaryLogs);

    // Column widths, value titles, decimals ("Grid_cw*", "Grid_hd*", "Grid_dm*") and the dock
    // keys ("Grid_fl", "Grid_dcu", ...). applySettings also sets the decimals in the options.
    void applySettings(const core::Settings& settings);
    void storeSettings(core::Settings& settings) const;
    // Adds the panel to the window in the dock named by the settings (left by default, bottom,
    // or floating at the stored position and size).
    void placeIn(QMainWindow& window);

    // Rebuilds every row from the table: all rows visible again, row count = deviceCount,
    // device count text written (countTextChanged).
    void FillGrid();
    // Hides the rows that do not pass the filters (state filter and text filters) and writes the
    // count with the number of visible devices.
    void ApplyGridFilter();
    // State filter of the filter toolbar: 0 none, 1..8 a masked filter, 9 the trap filter.
    void setStateFilter(int mode, quint32 mask);
    // The nine state-filter buttons after a summary: each is enabled while its sum is not zero
    // and loses its check when the sum is zero (the filter then goes off). A click on a button
    // filters by the sums of the last summary given here.
    void applySummary(const core::Summary& summary);
    // The button of a core::FilterButton ("Stav" A, C, V, E, T, then "Změna" A, C, V, E).
    QAction* filterButton(int button) const;
    const core::GridFilterState& filterState() const;
    bool hasHiddenRows() const;

    // Status colour of the "#" cell; it stays with the device when devices move.
    void setRowMark(core::DeviceId id, RowMark mark);
    void setRowMark(quint8 device, RowMark mark);
    RowMark rowMark(core::DeviceId id) const;

    // Value column k (0..15): width (0 hides it), title; "Hodnoty" submenu item k follows.
    void setValueColumnWidth(int k, int width);
    int valueColumnWidth(int k) const;
    void setValueColumnTitle(int k, const QString& title);
    QString valueColumnTitle(int k) const;
    // As the "Hodnoty" item k does: shows the column (width 64, title = value name of device 1)
    // or hides it.
    void showValueColumn(int k, bool show);

    // Device menu actions on a device number; they do what the menu items do.
    void moveUp(quint8 device);
    void moveDown(quint8 device);
    bool insertDevice(quint8 device); // false (and messageRequested) at 255 devices
    void deleteDevice(quint8 device);
    // Click on a row: accepts a waiting trap (event and state-log record) and clears the change
    // masks of the device; then selects it.
    void acknowledge(quint8 device);
    // Sets the filter text of column 2 ("Typ") or 3 ("Popis").
    void setTextFilter(int column, const QString& text);

    // The menus as a right-button press prepares them: the device menu for a device (items
    // enabled and shown by its state), the header menu of a column (text filter menu for "Typ"
    // and "Popis", value column menu for 11..26, none otherwise). menuColumn() is the column the
    // menus act on.
    QMenu* deviceMenuFor(quint8 device);
    QMenu* headerMenuFor(int column);
    int menuColumn() const;

    DeviceGridModel* model() const;
    DeviceGridView* view() const;
    QToolBar* filterToolBar() const; // the toolbar "Filtr" above the grid ("Hodnoty" submenu)
    QMenu* valueColumnsMenu() const; // the "Hodnoty" submenu

public Q_SLOTS:
    // Repaints every visible row from the table (the timer's refresh).
    void refresh();
    // Makes the row of the device current (the selection follows it).
    void selectDevice(quint8 device);

Q_SIGNALS:
    void queryRequested(quint8 device);                     // double click, "Stav <DblClick>"
    void textsRequested(quint8 device);                     // "Texty"
    void logViewerRequested(quint8 device);                 // "Log"
    void thermostatRequested(quint8 device);                // "Klimo6"
    void graphChannelRequested(quint8 device, int channel); // value cell menu "Graf"
    void summaryRequested();                                // after acknowledgement, filter and table changes
    void pointerMoved();                                    // pointer over the grid: ApplyPendingPeriod
    void selectedDeviceChanged(quint8 device);              // ShowDevicePanels for this device
    void messageRequested(const QString& text);             // message box text (edit errors, refusals)
    void countTextChanged(const QString& text);             // first status-bar panel

private:
    void afterStructureChange(quint8 select);

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace quodra::ui
