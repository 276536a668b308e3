#pragma once
// One frame of the binary device protocol: '#', two command letters, a parameter byte, a u16
// little-endian data length and at most 1025 data bytes. Requests and replies share the layout.

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <optional>

namespace quodra::comm {

inline constexpr int kFrameHeaderSize = 6;
inline constexpr int kMaxFrameData = 1025;
inline constexpr int kMaxUdpDatagram = 100; // 6 header bytes and 94 data bytes
inline constexpr char kFrameStart = 0x23;

struct DeviceFrame {
    char letter1 = 0;
    char letter2 = 0;
    std::uint8_t parameter = 0;
    QByteArray data; // at most kMaxFrameData bytes

    static DeviceFrame request(char l1, char l2, std::uint8_t parameter = 0, QByteArray data = {});

    // Header and data as sent.
    QByteArray encode() const;
};

struct FrameHeader {
    char letter1 = 0;
    char letter2 = 0;
    std::uint8_t parameter = 0;
    std::uint16_t length = 0;
};

// The header at the start of bytes; nullopt when fewer than 6 bytes are given or the announced
// length exceeds the data area. The start byte of a reply is not checked.
std::optional<FrameHeader> decodeHeader(QByteArrayView bytes);
// A whole frame (header and exactly `length` data bytes, extra bytes ignored); nullopt when the
// bytes are too short for the announced length or it exceeds the data area.
std::optional<DeviceFrame> decodeFrame(QByteArrayView bytes);

// Little-endian field readers over a reply's data; nullopt when the data are too short.
std::optional<std::uint8_t> readU8(QByteArrayView data, int offset);
std::optional<std::uint16_t> readU16(QByteArrayView data, int offset);
std::optional<std::uint32_t> readU32(QByteArrayView data, int offset);
void appendU16(QByteArray& out, std::uint16_t v);
void appendU32(QByteArray& out, std::uint32_t v);

} // namespace quodra::comm
