#include "core/device_records.h"

#include "core/code_page.h"

#include <cstring>

namespace quodra::core {

QString decodeFixedBytes(QByteArrayView bytes) { return fromCp1250(bytes); }
QByteArray encodeFixedText(const QString& text) { return toCp1250(text); }

QString Tkonfig::addressWithPort() const
{
    QString text = ipAddress.text();
    if (port != 0)
        text += QLatin1Char(':') + QString::number(port);
    return text;
}

QByteArray Tkonfig::toBytes() const { return QByteArray(reinterpret_cast<const char*>(this), sizeof(Tkonfig)); }

void Tkonfig::overwriteFrom(QByteArrayView bytes)
{
    std::memcpy(this, bytes.data(), std::min<std::size_t>(sizeof(Tkonfig), std::size_t(bytes.size())));
}

std::uint8_t Tstav::outputBits() const
{
    std::uint8_t bits = 0;
    for (int k = 0; k < kOutputCount; ++k)
        bits |= std::uint8_t((outputState[k] & 1) << k);
    return bits;
}

} // namespace quodra::core
