#include "core/grid_filter.h"

namespace quodra::core {

bool textFilterMatches(const QString& field, const QString& filter)
{
    return filter.isEmpty() || field.toUpper().contains(filter.toUpper());
}

namespace {

bool passesStateFilter(const Tstav& s, const GridFilterState& f)
{
    switch (f.stateMode) {
    case 1:
        return (s.alarms & f.mask) != 0;
    case 2:
        return (s.customAlarms & f.mask) != 0;
    case 3:
        return (s.valueAlarms & f.mask) != 0;
    case 4:
        return (s.errors & f.mask) != 0;
    case 5:
        return (s.alarmsChanged & f.mask) != 0;
    case 6:
        return (s.customAlarmsChanged & f.mask) != 0;
    case 7:
        return (s.valueAlarmsChanged & f.mask) != 0;
    case 8:
        return (s.errorsChanged & f.mask) != 0;
    case GridFilterState::kTrapMode:
        return s.trapFlag != 0;
    default:
        return true;
    }
}

} // namespace

bool devicePassesFilter(const Tkonfig& konfig, const Tstav& stav, const GridFilterState& filter)
{
    return passesStateFilter(stav, filter) && textFilterMatches(konfig.typ.text(), filter.typeFilter) &&
           textFilterMatches(konfig.popis.text(), filter.descriptionFilter);
}

std::vector<quint8> visibleDevices(const std::vector<DeviceSnapshot>& devices, const GridFilterState& filter)
{
    std::vector<quint8> out;
    out.reserve(devices.size());
    for (const DeviceSnapshot& d : devices)
        if (filter.isOff() || devicePassesFilter(d.konfig, d.stav, filter))
            out.push_back(d.number);
    return out;
}

AddressEdit parseAddressEdit(const QString& text)
{
    constexpr int kAddressCapacity = 50;
    AddressEdit edit;
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0) {
        edit.address = text.left(kAddressCapacity);
        return edit;
    }
    edit.address = text.left(colon).left(kAddressCapacity);
    const QString portText = text.mid(colon + 1);
    bool ok = false;
    const int port = portText.toInt(&ok, 10);
    if (!ok)
        edit.error = QStringLiteral("'%1' is not a valid integer value").arg(portText);
    else
        edit.port = quint16(quint32(port) & 0xFFFFu);
    return edit;
}

} // namespace quodra::core
