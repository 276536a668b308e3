#include "core/device_table.h"

#include <cstring>
#include <utility>

namespace quodra::core {

DeviceTable::DeviceTable(QObject* parent) : QObject(parent)
{
    for (auto& slot : m_slots)
        slot.id = m_nextId++;
}

quint8 DeviceTable::deviceCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_count;
}

void DeviceTable::setDeviceCount(quint8 count)
{
    {
        QMutexLocker lock(&m_mutex);
        m_count = count;
        if (m_selected > m_count)
            m_selected = m_count;
    }
    Q_EMIT structureChanged();
}

quint8 DeviceTable::selectedDevice() const
{
    QMutexLocker lock(&m_mutex);
    return m_selected;
}

void DeviceTable::setSelectedDevice(quint8 n)
{
    QMutexLocker lock(&m_mutex);
    m_selected = n;
}

void DeviceTable::setCustomAlarmsUsed(bool used)
{
    QMutexLocker lock(&m_mutex);
    m_customAlarmsUsed = used;
}

bool DeviceTable::customAlarmsUsed() const
{
    QMutexLocker lock(&m_mutex);
    return m_customAlarmsUsed;
}

void DeviceTable::clearLocked(quint8 n)
{
    Slot& slot = m_slots[n];
    Tkonfig& k = slot.konfig;
    k.ipAddress.clear();
    k.popis.clear();
    k.typ.clear();
    for (auto& s : k.alarmOnText)
        s.clear();
    for (auto& s : k.alarmOffText)
        s.clear();
    for (auto& s : k.valueName)
        s.clear();
    for (auto& s : k.valueUnit)
        s.clear();
    for (auto& s : k.outputName)
        s.clear();
    for (auto& s : k.customAlarmName)
        s.clear();
    k.loginPassword.clear();
    k.port = 0;
    k.pollEnabled = 0;
    k.valuesInUse = 0xFFFF;
    k.alarmsInUse = 0xFF;
    k.customAlarmsInUse = m_customAlarmsUsed ? 0xFFFFFFFFu : 0u;
    k.valueLogMask = 0;
    std::memset(k.logFilter, 0, sizeof k.logFilter);
    k.deviceVariant = 0;
    std::memset(k.outputMode, 1, sizeof k.outputMode);
    k.textsLoaded = 0;
    k.stateLogEnabled = 0;
    k.powerMask = 0;
    std::memset(k.reserved, 0, sizeof k.reserved);

    Tstav& s = slot.stav;
    s.alarms = 0;
    s.valueAlarms = 0;
    s.customAlarms = 0;
    s.errors = 0;
    s.alarmsChanged = 0;
    s.valueAlarmsChanged = 0;
    s.customAlarmsChanged = 0;
    s.errorsChanged = 0;
    s.trapFlag = 0;
    for (auto& t : s.valueText)
        t.clear();
    s.commState = CommNever;
    s.outputState.fill(0);
    // A cleared slot is a new device: queries still running on the old one must not land here.
    slot.id = m_nextId++;
}

void DeviceTable::ClearDevice(quint8 n)
{
    if (n < 1)
        return;
    {
        QMutexLocker lock(&m_mutex);
        clearLocked(n);
    }
    Q_EMIT structureChanged();
}

bool DeviceTable::InsertDevice(quint8 n)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_count >= kMaxDevices || n < 1 || n > m_count + 1)
            return false;
        const int c = ++m_count;
        for (int b = c; b > n; --b)
            m_slots[b] = m_slots[b - 1];
        // The new slot keeps the unchanged fields of the device that moved up, as a copy.
        clearLocked(n);
        m_selected = n;
    }
    Q_EMIT structureChanged();
    return true;
}

void DeviceTable::DeleteDevice(quint8 n)
{
    {
        QMutexLocker lock(&m_mutex);
        if (!isDevice(n))
            return;
        for (int i = n; i < m_count; ++i)
            m_slots[i] = m_slots[i + 1];
        --m_count; // the former last slot keeps its stale copy
        if (m_selected > m_count)
            m_selected = m_count;
    }
    Q_EMIT structureChanged();
}

void DeviceTable::SwapDevices(quint8 n, quint8 m)
{
    {
        QMutexLocker lock(&m_mutex);
        if (!isDevice(n) || !isDevice(m))
            return;
        std::swap(m_slots[n], m_slots[m]);
    }
    Q_EMIT structureChanged();
}

Tkonfig DeviceTable::konfig(quint8 n) const
{
    QMutexLocker lock(&m_mutex);
    return m_slots[n].konfig;
}

Tstav DeviceTable::stav(quint8 n) const
{
    QMutexLocker lock(&m_mutex);
    return m_slots[n].stav;
}

DeviceSnapshot DeviceTable::snapshot(quint8 n) const
{
    QMutexLocker lock(&m_mutex);
    return {n, m_slots[n].id, m_slots[n].konfig, m_slots[n].stav};
}

std::vector<DeviceSnapshot> DeviceTable::snapshots() const
{
    QMutexLocker lock(&m_mutex);
    std::vector<DeviceSnapshot> out;
    out.reserve(m_count);
    for (int n = 1; n <= m_count; ++n)
        out.push_back({quint8(n), m_slots[n].id, m_slots[n].konfig, m_slots[n].stav});
    return out;
}

DeviceId DeviceTable::idOf(quint8 n) const
{
    QMutexLocker lock(&m_mutex);
    return isDevice(n) ? m_slots[n].id : 0;
}

int DeviceTable::slotOf(DeviceId id) const
{
    for (int n = 1; n <= m_count; ++n)
        if (m_slots[n].id == id)
            return n;
    return 0;
}

quint8 DeviceTable::numberOf(DeviceId id) const
{
    QMutexLocker lock(&m_mutex);
    return quint8(slotOf(id));
}

quint8 DeviceTable::findByAddress(const QString& address) const
{
    QMutexLocker lock(&m_mutex);
    for (int n = 1; n <= m_count; ++n)
        if (m_slots[n].konfig.ipAddress.text() == address)
            return quint8(n);
    return 0;
}

std::vector<Tkonfig> DeviceTable::configs() const
{
    QMutexLocker lock(&m_mutex);
    std::vector<Tkonfig> out;
    out.reserve(m_count);
    for (int n = 1; n <= m_count; ++n)
        out.push_back(m_slots[n].konfig);
    return out;
}

void DeviceTable::loadConfigs(const std::vector<Tkonfig>& configs)
{
    {
        QMutexLocker lock(&m_mutex);
        const std::size_t count = std::min<std::size_t>(configs.size(), kMaxDevices);
        for (std::size_t i = 0; i < count; ++i) {
            m_slots[i + 1].konfig = configs[i];
            m_slots[i + 1].id = m_nextId++;
        }
        m_count = quint8(count);
        if (m_selected > m_count)
            m_selected = m_count;
    }
    Q_EMIT structureChanged();
}

} // namespace quodra::core
