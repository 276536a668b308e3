#pragma once
// The configuration record of one device (also the record of the device list file) and its
// runtime state. The configuration record is a file format: 1925 packed bytes, little-endian.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace quodra::core {

static_assert(std::endian::native == std::endian::little, "the record layout is little-endian");

// A text of fixed capacity: one length byte and N bytes of Windows-1250 text, no terminator.
// Emptying or shortening the text leaves the bytes after the length as they were, so they
// travel unchanged into the device list file.
template <std::size_t N> struct FixedString {
    std::uint8_t length;
    char chars[N];

    static constexpr std::size_t capacity = N;

    // Length above capacity (possible only in a damaged file) reads as the capacity.
    QByteArrayView bytes() const { return QByteArrayView(chars, length > N ? N : length); }
    QString text() const;
    // Stores at most N bytes of the Windows-1250 form of the text.
    void setText(const QString& text);
    void setBytes(QByteArrayView bytes);
    void clear() { length = 0; }
    bool isEmpty() const { return length == 0; }
};

QString decodeFixedBytes(QByteArrayView bytes);
QByteArray encodeFixedText(const QString& text);

template <std::size_t N> QString FixedString<N>::text() const { return decodeFixedBytes(bytes()); }
template <std::size_t N> void FixedString<N>::setText(const QString& text) { setBytes(encodeFixedText(text)); }
template <std::size_t N> void FixedString<N>::setBytes(QByteArrayView bytes)
{
    const std::size_t n = std::min<std::size_t>(N, std::size_t(bytes.size()));
    for (std::size_t i = 0; i < n; ++i)
        chars[i] = bytes[qsizetype(i)];
    length = std::uint8_t(n);
}

inline constexpr int kAlarmCount = 8;
inline constexpr int kValueCount = 16;
inline constexpr int kOutputCount = 6;
inline constexpr int kCustomAlarmCount = 16;
inline constexpr int kMaxDevices = 255;
inline constexpr quint16 kDefaultTcpPort = 9760;

#pragma pack(push, 1)
struct Tkonfig {
    FixedString<50> ipAddress;
    std::uint16_t port;
    FixedString<50> popis;
    FixedString<15> typ;
    FixedString<30> alarmOnText[kAlarmCount];
    FixedString<30> alarmOffText[kAlarmCount];
    FixedString<25> valueName[kValueCount];
    FixedString<5> valueUnit[kValueCount];
    FixedString<15> outputName[kOutputCount];
    FixedString<39> customAlarmName[kCustomAlarmCount];
    std::uint8_t pollEnabled;
    std::uint16_t valuesInUse;
    std::uint8_t alarmsInUse;
    std::uint32_t customAlarmsInUse;
    std::uint16_t valueLogMask;
    std::uint8_t logFilter[15];
    std::uint8_t deviceVariant;
    FixedString<8> loginPassword;
    FixedString<8> loginUser;
    std::uint8_t outputMode[kOutputCount];
    std::uint8_t textsLoaded;
    std::uint8_t stateLogEnabled;
    std::uint16_t powerMask;
    std::uint16_t timeMask;
    std::uint8_t reserved[5];

    // Port the binary protocol uses over TCP: the stored port, 9760 when it is 0.
    quint16 tcpPort() const { return port == 0 ? kDefaultTcpPort : port; }
    // Address, and ":" with the port when the port is not 0 (event lines, grid, file names).
    QString addressWithPort() const;

    QByteArray toBytes() const;
    // Copies up to 1925 bytes over the record; bytes beyond the given ones keep their contents.
    void overwriteFrom(QByteArrayView bytes);
};
#pragma pack(pop)

inline constexpr std::size_t kTkonfigSize = 1925;
static_assert(sizeof(Tkonfig) == kTkonfigSize);
static_assert(offsetof(Tkonfig, port) == 51);
static_assert(offsetof(Tkonfig, popis) == 53);
static_assert(offsetof(Tkonfig, typ) == 104);
static_assert(offsetof(Tkonfig, alarmOnText) == 120);
static_assert(offsetof(Tkonfig, alarmOffText) == 368);
static_assert(offsetof(Tkonfig, valueName) == 616);
static_assert(offsetof(Tkonfig, valueUnit) == 1032);
static_assert(offsetof(Tkonfig, outputName) == 1128);
static_assert(offsetof(Tkonfig, customAlarmName) == 1224);
static_assert(offsetof(Tkonfig, pollEnabled) == 1864);
static_assert(offsetof(Tkonfig, valuesInUse) == 1865);
static_assert(offsetof(Tkonfig, alarmsInUse) == 1867);
static_assert(offsetof(Tkonfig, customAlarmsInUse) == 1868);
static_assert(offsetof(Tkonfig, valueLogMask) == 1872);
static_assert(offsetof(Tkonfig, logFilter) == 1874);
static_assert(offsetof(Tkonfig, deviceVariant) == 1889);
static_assert(offsetof(Tkonfig, loginPassword) == 1890);
static_assert(offsetof(Tkonfig, loginUser) == 1899);
static_assert(offsetof(Tkonfig, outputMode) == 1908);
static_assert(offsetof(Tkonfig, textsLoaded) == 1914);
static_assert(offsetof(Tkonfig, stateLogEnabled) == 1915);
static_assert(offsetof(Tkonfig, powerMask) == 1916);
static_assert(offsetof(Tkonfig, timeMask) == 1918);
static_assert(offsetof(Tkonfig, reserved) == 1920);

// Communication state of a device.
enum CommState : std::uint8_t {
    CommNever = 0,     // never queried since the slot was cleared
    CommAnswered = 1,  // the last query succeeded
    CommFailedNew = 3, // failed in the background, not yet shown as the selected device
    CommFailed = 4,    // failed and shown
};

struct Tstav {
    std::uint8_t alarms = 0;
    std::uint16_t valueAlarms = 0;
    std::uint32_t customAlarms = 0;
    std::uint16_t errors = 0;
    std::uint8_t alarmsChanged = 0;
    std::uint16_t valueAlarmsChanged = 0;
    std::uint32_t customAlarmsChanged = 0;
    std::uint16_t errorsChanged = 0;
    std::uint8_t trapFlag = 0;
    std::uint8_t trapReadPending = 0;
    std::array<QString, kValueCount> valueText;
    std::array<float, kValueCount> value{};
    std::uint8_t commState = CommNever;
    std::array<std::uint8_t, kOutputCount> outputState{};

    // Outputs 1..6 as bits 0..5 (the state log's outputs byte).
    std::uint8_t outputBits() const;
};

} // namespace quodra::core
