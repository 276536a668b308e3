#pragma once
// The aggregate state of all devices: status bar tags, tray image, the sums behind the grid's
// state-filter buttons, the communication indicator of the selected device and the device count
// text. computeSummary works on snapshots; UpdateSummary also marks a new failure of the selected
// device as shown (commState 3 -> 4).

#include "core/device_table.h"

#include <QString>
#include <QStringList>

#include <array>
#include <vector>

namespace quodra::core {

// The nine state-filter buttons of the grid, in the order their sums are listed.
enum FilterButton {
    fbAlarms,
    fbCustomAlarms,
    fbValueAlarms,
    fbErrors,
    fbTrap,
    fbAlarmsChanged,
    fbCustomAlarmsChanged,
    fbValueAlarmsChanged,
    fbErrorsChanged,
    kFilterButtonCount
};

struct FilterButtonState {
    bool enabled = false;
    bool forceUnchecked = true; // the sum is zero: the button loses its check
};

struct Summary {
    quint8 sumAlarms = 0;
    quint16 sumValueAlarms = 0;
    quint32 sumCustomAlarms = 0;
    quint16 sumErrors = 0;
    quint8 sumAlarmsChanged = 0;
    quint16 sumValueAlarmsChanged = 0;
    quint32 sumCustomAlarmsChanged = 0;
    quint16 sumErrorsChanged = 0;
    bool sumTrap = false;

    bool anyAlarm = false;
    bool anyError = false;
    bool anyTrap = false;
    bool anyNewFailure = false;

    QStringList tags;               // present tags in their fixed order
    int trayImage = 0;              // 2 x alarm + error + 4 x trap, 0..7
    int indicator = -1;             // communication picture of the selected device: 1, 3, 10 or -1 (none)
    bool markSelectedShown = false; // the selected device is in state 3 and becomes 4

    QString tagText() const { return tags.join(QString()); }
    std::array<FilterButtonState, kFilterButtonCount> filterButtons() const;
};

inline const QStringList kSummaryTagOrder = {
    QStringLiteral("<ALARM>"), QStringLiteral("<CALARM>"), QStringLiteral("<VALUE>"),
    QStringLiteral("<TRAP>"),  QStringLiteral("<ERROR>"),  QStringLiteral("<C_ERR>"),
};

Summary computeSummary(const std::vector<DeviceSnapshot>& devices, quint8 selectedDevice);

// Computes the summary of the table and turns commState 3 of the selected device into 4.
Summary UpdateSummary(DeviceTable& table);

// "Počet: N" with no hidden rows, else "Počet: N(V)"; `countWord` is the constant "hpocet".
QString deviceCountText(const QString& countWord, int deviceCount, int visibleRows);

} // namespace quodra::core
