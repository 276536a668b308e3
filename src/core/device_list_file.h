#pragma once
// The device list "Quodra_st.eth": a count byte, a version byte (written as 1, never checked) and
// the 1925-byte configuration record of each device. Replaced atomically when saved.

#include "core/device_records.h"
#include "core/device_table.h"

#include <QString>

#include <optional>
#include <vector>

namespace quodra::core {

inline const QString kDeviceListFileName = QStringLiteral("Quodra_st.eth");

// The records the file describes. A record cut short by the end of the file takes its missing
// bytes from `base` (zero when none is given), so a truncated file yields its count of devices.
// nullopt with an error text when the file exists but cannot be read; an absent file gives an
// empty list.
std::optional<std::vector<Tkonfig>> readDeviceList(const QString& path, QString* error = nullptr,
                                                   const std::vector<Tkonfig>& base = {});
// Writes the records through a temporary file in the same directory and a rename, so a crash
// never leaves a half-written list.
bool writeDeviceList(const QString& path, const std::vector<Tkonfig>& records, QString* error = nullptr);

// Fill the table from the file: the count and slots 1..count; the bytes a short file lacks keep
// what the slots held.
bool LoadDeviceList(const QString& path, DeviceTable& table, QString* error = nullptr);
bool SaveDeviceList(const QString& path, const DeviceTable& table, QString* error = nullptr);

} // namespace quodra::core
