#include "core/summary.h"

namespace quodra::core {

std::array<FilterButtonState, kFilterButtonCount> Summary::filterButtons() const
{
    const std::array<bool, kFilterButtonCount> nonZero = {
        sumAlarms != 0,
        sumCustomAlarms != 0,
        sumValueAlarms != 0,
        sumErrors != 0,
        sumTrap,
        sumAlarmsChanged != 0,
        sumCustomAlarmsChanged != 0,
        sumValueAlarmsChanged != 0,
        sumErrorsChanged != 0,
    };
    std::array<FilterButtonState, kFilterButtonCount> out{};
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = FilterButtonState{nonZero[i], !nonZero[i]};
    return out;
}

Summary computeSummary(const std::vector<DeviceSnapshot>& devices, quint8 selectedDevice)
{
    Summary s;
    bool tag[6] = {};
    for (const DeviceSnapshot& d : devices) {
        const Tstav& t = d.stav;
        s.sumAlarmsChanged |= t.alarmsChanged;
        s.sumCustomAlarmsChanged |= t.customAlarmsChanged;
        s.sumValueAlarmsChanged |= t.valueAlarmsChanged;
        s.sumErrorsChanged |= t.errorsChanged;
        if (t.alarms != 0) {
            s.anyAlarm = true;
            tag[0] = true;
            s.sumAlarms |= t.alarms;
        }
        if (t.valueAlarms != 0) {
            s.anyAlarm = true;
            tag[2] = true;
            s.sumValueAlarms |= t.valueAlarms;
        }
        if (t.customAlarms != 0) {
            s.anyAlarm = true;
            tag[1] = true;
            s.sumCustomAlarms |= t.customAlarms;
        }
        if (t.trapFlag != 0) {
            s.anyTrap = true;
            tag[3] = true;
            s.sumTrap = true;
        }
        if (t.errors != 0) {
            s.anyError = true;
            tag[4] = true;
            s.sumErrors |= t.errors;
        }
        if (t.commState == CommFailed)
            s.anyError = true;
        if (t.commState == CommFailedNew)
            s.anyNewFailure = true;
        if (t.commState > 2)
            tag[5] = true;

        if (d.number == selectedDevice) {
            if (t.commState == CommAnswered)
                s.indicator = 1;
            if (t.commState == CommFailed)
                s.indicator = 3;
            if (t.trapFlag != 0)
                s.indicator = 10;
            s.markSelectedShown = t.commState == CommFailedNew;
        }
    }
    for (int i = 0; i < 6; ++i) {
        if (tag[i])
            s.tags << kSummaryTagOrder[i];
    }
    s.trayImage = 2 * int(s.anyAlarm) + int(s.anyError) + 4 * int(s.anyTrap);
    return s;
}

Summary UpdateSummary(DeviceTable& table)
{
    const quint8 selected = table.selectedDevice();
    Summary s = computeSummary(table.snapshots(), selected);
    if (s.markSelectedShown) {
        table.modify(selected, [](Tkonfig&, Tstav& t) {
            if (t.commState == CommFailedNew)
                t.commState = CommFailed;
        });
    }
    return s;
}

QString deviceCountText(const QString& countWord, int deviceCount, int visibleRows)
{
    QString text = countWord + QStringLiteral(": ") + QString::number(deviceCount);
    if (visibleRows != deviceCount)
        text += QLatin1Char('(') + QString::number(visibleRows) + QLatin1Char(')');
    return text;
}

} // namespace quodra::core
