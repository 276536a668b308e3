#pragma once
// JSON pieces that more than one command group prints the same way.

#include "core/device_records.h"

#include <QJsonObject>
#include <QJsonValue>

namespace quodra::tool {

// The shortest decimal that reads back as the same single-precision number (21.7, not
// 21.700000762939453); null for NaN and infinities, which JSON has no number for.
QJsonValue floatValue(float value);

// The texts a device's record holds (read from the device or typed in): "typ", "popis",
// "alarmOnText", "alarmOffText", "valueName", "valueUnit", "outputName" and "customAlarmName".
void insertDeviceTexts(QJsonObject& object, const core::Tkonfig& device);

} // namespace quodra::tool
