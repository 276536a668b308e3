#pragma once
// The rows and cells of the device grid over the device table. The model keeps a copy of every
// device's records (refreshed per device when the table says it changed) and the list of rows it
// shows, so a filter hides rows without a proxy: displayed row r shows device visible[r]. Cell
// texts are built only when asked for.

#include "core/device_table.h"
#include "core/grid_filter.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QHash>

#include <array>
#include <vector>

namespace quodra::ui {

// Status colour of a device's "#" cell, set by the queries.
enum class RowMark : quint8 {
    None = 0,     // no mark: the colour follows commState (fixed-column colour when never queried)
    Query = 1,    // query in progress: light blue #A6CAF0
    Answered = 2, // last query answered: green #00FF00
    Failed = 3,   // last query failed: red #FF0000
};

namespace grid {
enum Column : int {
    ColNumber = 0,
    ColAddress = 1,
    ColType = 2,
    ColDescription = 3,
    ColPoll = 4,
    ColStateLog = 5,
    ColAlarm = 6,
    ColCustomAlarm = 7,
    ColValueAlarm = 8,
    ColError = 9,
    ColTrap = 10,
    ColFirstValue = 11,
    ColumnCount = 27,
};
enum Role : int {
    FrameRole = Qt::UserRole + 1, // bool: the blue change frame is drawn
    DeviceRole,                   // quint8: the device number of the row
};
inline const QColor kGridBackground{0xEC, 0xF1, 0xC5};
inline const QColor kFixedColour{0xC5, 0xD6, 0x4E};
inline const QColor kQueryColour{0xA6, 0xCA, 0xF0};
inline const QColor kAnsweredColour{0x00, 0xFF, 0x00};
inline const QColor kFailedColour{0xFF, 0x00, 0x00};
inline const QColor kYellow{0xFF, 0xFF, 0x00};
inline const QColor kMagenta{0xFF, 0x00, 0xFF};
inline const QColor kFrameColour{0x00, 0x00, 0xFF};
} // namespace grid

class DeviceGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit DeviceGridModel(core::DeviceTable& table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Address, type and description edits (EditRole) and the "D"/"L" boxes (CheckStateRole).
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // Rebuilds every row from the table and shows all rows again.
    void fill();
    // Shows only the devices that pass the filter state; it stays in force across structure
    // changes until the next fill().
    void applyFilter();
    const core::GridFilterState& filter() const { return m_filter; }
    // Filter state changes take effect at the next applyFilter().
    void setTextFilter(int column, const QString& text); // column ColType or ColDescription
    QString textFilter(int column) const;
    void setStateFilter(int mode, quint32 mask);
    bool hasHiddenRows() const;
    int visibleCount() const { return int(m_visible.size()); }
    int deviceCount() const { return int(m_devices.size()); }

    // Displayed row -> device number (0 for no row) and back (-1 when the device is hidden).
    quint8 deviceAt(int row) const;
    int rowOf(quint8 device) const;

    void setRowMark(core::DeviceId id, RowMark mark);
    RowMark rowMark(core::DeviceId id) const;

    void setValueTitle(int k, const QString& title);
    QString valueTitle(int k) const;

    // The header hint of a column (lines separated by CR), empty for none.
    static QString headerHint(int column);
    static QColor markColour(RowMark mark, quint8 commState);

Q_SIGNALS:
    // An edit could not be stored; the text is for a message box.
    void editRejected(const QString& message);

public Q_SLOTS:
    // Re-reads one device from the table and repaints its row.
    void refreshDevice(quint64 id);
    // Re-reads the whole table after an insert, delete, swap or reload (the filter stays).
    void reloadStructure();
    // Re-reads every device and repaints all rows (row count unchanged).
    void refreshAll();

private:
    const core::DeviceSnapshot* deviceOfRow(int row) const;
    // Re-reads the table; rows are reset only when the devices or the visible rows differ.
    void reload();
    void emitRowChanged(int row);

    core::DeviceTable& m_table;
    std::vector<core::DeviceSnapshot> m_devices; // devices 1..count at index 0..count-1
    std::vector<quint8> m_visible;               // displayed row -> device number
    core::GridFilterState m_filter;
    bool m_filterActive = false;
    QHash<core::DeviceId, RowMark> m_marks;
    std::array<QString, 16> m_valueTitles;
};

} // namespace quodra::ui
