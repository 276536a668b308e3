#include "comm/device_frame.h"

namespace quodra::comm {

DeviceFrame DeviceFrame::request(char l1, char l2, std::uint8_t parameter, QByteArray data)
{
    DeviceFrame f;
    f.letter1 = l1;
    f.letter2 = l2;
    f.parameter = parameter;
    f.data = std::move(data);
    return f;
}

QByteArray DeviceFrame::encode() const
{
    QByteArray out;
    const qsizetype n = qMin<qsizetype>(data.size(), kMaxFrameData);
    out.reserve(kFrameHeaderSize + n);
    out.append(kFrameStart);
    out.append(letter1);
    out.append(letter2);
    out.append(char(parameter));
    appendU16(out, std::uint16_t(n));
    out.append(data.constData(), n);
    return out;
}

std::optional<FrameHeader> decodeHeader(QByteArrayView bytes)
{
    if (bytes.size() < kFrameHeaderSize)
        return std::nullopt;
    FrameHeader h;
    h.letter1 = bytes[1];
    h.letter2 = bytes[2];
    h.parameter = std::uint8_t(bytes[3]);
    h.length = *readU16(bytes, 4);
    if (h.length > kMaxFrameData)
        return std::nullopt;
    return h;
}

std::optional<DeviceFrame> decodeFrame(QByteArrayView bytes)
{
    const auto h = decodeHeader(bytes);
    if (!h || bytes.size() < kFrameHeaderSize + h->length)
        return std::nullopt;
    DeviceFrame f;
    f.letter1 = h->letter1;
    f.letter2 = h->letter2;
    f.parameter = h->parameter;
    f.data = bytes.sliced(kFrameHeaderSize, h->length).toByteArray();
    return f;
}

std::optional<std::uint8_t> readU8(QByteArrayView data, int offset)
{
    if (offset < 0 || data.size() < offset + 1)
        return std::nullopt;
    return std::uint8_t(data[offset]);
}

std::optional<std::uint16_t> readU16(QByteArrayView data, int offset)
{
    if (offset < 0 || data.size() < offset + 2)
        return std::nullopt;
    return std::uint16_t(std::uint8_t(data[offset]) | (std::uint8_t(data[offset + 1]) << 8));
}

std::optional<std::uint32_t> readU32(QByteArrayView data, int offset)
{
    if (offset < 0 || data.size() < offset + 4)
        return std::nullopt;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | std::uint8_t(data[offset + i]);
    return v;
}

void appendU16(QByteArray& out, std::uint16_t v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}

void appendU32(QByteArray& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

} // namespace quodra::comm
