#pragma once
// Which devices the grid shows while filters are set, and the rule that turns the text typed into
// the address cell into an address and a port. No widgets: the grid model and the tests use it.

#include "core/device_table.h"

#include <QString>

#include <optional>
#include <vector>

namespace quodra::core {

// The filter state of the grid: at most one state filter (a button of the filter toolbar) and
// the two text filters of the columns "Typ" and "Popis". Empty texts and mode 0 are off.
struct GridFilterState {
    // 0 none; 1 alarms, 2 custom alarms, 3 value alarms, 4 errors, 5..8 their change masks in the
    // same order (tested against mask); 9 the trap filter (trapFlag, no mask).
    int stateMode = 0;
    quint32 mask = 0;
    QString typeFilter;
    QString descriptionFilter;

    static constexpr int kTrapMode = 9;
    bool isOff() const { return stateMode == 0 && typeFilter.isEmpty() && descriptionFilter.isEmpty(); }
};

// True when the filter is empty or the field contains it, without regard to letter case.
bool textFilterMatches(const QString& field, const QString& filter);

// True when the device passes the state filter and both text filters.
bool devicePassesFilter(const Tkonfig& konfig, const Tstav& stav, const GridFilterState& filter);

// The devices (numbers, ascending) that stay visible; all of them when the filter is off.
std::vector<quint8> visibleDevices(const std::vector<DeviceSnapshot>& devices, const GridFilterState& filter);

// Result of an edit of the address cell: the text before the first ":" is the address (cut to
// the field's 50 characters), the text after it the port read as a decimal integer and kept to
// its low 16 bits; without ":" the port is 0. A port that is not an integer is an error: the
// text of the message is in error; the address part is still taken and the port stays as it was.
struct AddressEdit {
    QString address;
    quint16 port = 0;
    QString error; // empty when the text was valid
    bool ok() const { return error.isEmpty(); }
};
AddressEdit parseAddressEdit(const QString& text);

} // namespace quodra::core
