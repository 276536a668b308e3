#pragma once
// The table of up to 255 devices: configuration and runtime state slot by slot, the device count
// and the selection. Used from the UI, poll and trap threads; every access takes the table's lock,
// so no thread ever sees a half-copied record. Each device carries an identity that moves with it
// when devices are inserted, deleted or swapped, so a query that started on a device can land its
// results on that device (or drop them) even if the table changed meanwhile.

#include "core/device_records.h"

#include <QMutex>
#include <QMutexLocker>
#include <QObject>

#include <array>
#include <optional>
#include <vector>

namespace quodra::core {

using DeviceId = quint64;

struct DeviceSnapshot {
    quint8 number = 0;
    DeviceId id = 0;
    Tkonfig konfig{};
    Tstav stav;
};

class DeviceTable : public QObject {
    Q_OBJECT
public:
    explicit DeviceTable(QObject* parent = nullptr);

    quint8 deviceCount() const;
    // Sets the count after a device list was loaded; slots keep their contents.
    void setDeviceCount(quint8 count);
    quint8 selectedDevice() const;
    void setSelectedDevice(quint8 n);

    // Decides what a cleared slot gets in customAlarmsInUse.
    void setCustomAlarmsUsed(bool used);
    bool customAlarmsUsed() const;

    // n in 1..255. Fields that clearing leaves alone keep what the slot held.
    void ClearDevice(quint8 n);
    // Opens an empty device at n (1..count+1) and moves n..count up; selects n. Refused (false,
    // nothing changed) when 255 devices exist or n is out of range.
    bool InsertDevice(quint8 n);
    // Removes device n (1..count) and moves the ones above it down.
    void DeleteDevice(quint8 n);
    // Exchanges devices n and m (both 1..count).
    void SwapDevices(quint8 n, quint8 m);

    Tkonfig konfig(quint8 n) const;
    Tstav stav(quint8 n) const;
    DeviceSnapshot snapshot(quint8 n) const;
    std::vector<DeviceSnapshot> snapshots() const; // devices 1..count
    DeviceId idOf(quint8 n) const;
    // Current number of a device, 0 when it no longer exists.
    quint8 numberOf(DeviceId id) const;
    // First device (1..count) whose address text equals the given one, 0 when none.
    quint8 findByAddress(const QString& address) const;

    // Runs fn(Tkonfig&, Tstav&) on device n under the lock; false when n is not a device.
    // fn must not call back into the table.
    template <class Fn> bool modify(quint8 n, Fn&& fn);
    // The same for the device with this identity wherever it is now; false when it is gone.
    template <class Fn> bool modifyById(DeviceId id, Fn&& fn);

    // The configuration records 1..count, for saving the device list.
    std::vector<Tkonfig> configs() const;
    // Replaces the count and the configuration of slots 1..count (device list load); runtime state
    // and slots above count are left alone.
    void loadConfigs(const std::vector<Tkonfig>& configs);

Q_SIGNALS:
    // A device's fields changed (emitted on the thread that changed them; connect queued).
    void deviceChanged(quint64 id);
    // Devices were inserted, deleted, swapped or reloaded.
    void structureChanged();

private:
    struct Slot {
        Tkonfig konfig{};
        Tstav stav;
        DeviceId id = 0;
    };
    bool isDevice(quint8 n) const { return n >= 1 && n <= m_count; }
    int slotOf(DeviceId id) const;
    void clearLocked(quint8 n);

    mutable QMutex m_mutex;
    std::array<Slot, kMaxDevices + 1> m_slots{}; // slot 0 unused
    quint8 m_count = 0;
    quint8 m_selected = 0;
    bool m_customAlarmsUsed = true;
    DeviceId m_nextId = 1;
};

template <class Fn> bool DeviceTable::modify(quint8 n, Fn&& fn)
{
    DeviceId id = 0;
    {
        QMutexLocker lock(&m_mutex);
        if (!isDevice(n))
            return false;
        fn(m_slots[n].konfig, m_slots[n].stav);
        id = m_slots[n].id;
    }
    Q_EMIT deviceChanged(id);
    return true;
}

template <class Fn> bool DeviceTable::modifyById(DeviceId id, Fn&& fn)
{
    {
        QMutexLocker lock(&m_mutex);
        const int n = slotOf(id);
        if (n == 0)
            return false;
        fn(m_slots[n].konfig, m_slots[n].stav);
    }
    Q_EMIT deviceChanged(id);
    return true;
}

} // namespace quodra::core
