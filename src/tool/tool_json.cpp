#include "tool/tool_json.h"

#include <QJsonArray>

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace quodra::tool {

namespace {
template <std::size_t N, std::size_t M> QJsonArray textArray(const core::FixedString<N> (&texts)[M])
{
    QJsonArray array;
    for (const auto& t : texts)
        array.append(t.text());
    return array;
}
} // namespace

QJsonValue floatValue(float value)
{
    char text[32];
    if (!std::isfinite(value))
        return QJsonValue(QJsonValue::Null);
    const auto result = std::to_chars(text, text + sizeof text - 1, value);
    if (result.ec != std::errc())
        return double(value);
    *result.ptr = '\0';
    return std::strtod(text, nullptr);
}

void insertDeviceTexts(QJsonObject& o, const core::Tkonfig& k)
{
    o.insert(QStringLiteral("typ"), k.typ.text());
    o.insert(QStringLiteral("popis"), k.popis.text());
    o.insert(QStringLiteral("alarmOnText"), textArray(k.alarmOnText));
    o.insert(QStringLiteral("alarmOffText"), textArray(k.alarmOffText));
    o.insert(QStringLiteral("valueName"), textArray(k.valueName));
    o.insert(QStringLiteral("valueUnit"), textArray(k.valueUnit));
    o.insert(QStringLiteral("outputName"), textArray(k.outputName));
    o.insert(QStringLiteral("customAlarmName"), textArray(k.customAlarmName));
}

} // namespace quodra::tool
