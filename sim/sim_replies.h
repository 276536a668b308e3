#pragma once
// Replies of a well-behaved simulated device: pure functions from its description and one
// request to the bytes it sends back. Sockets and misbehaviour live in the fleet.

#include "comm/device_frame.h"
#include "sim/sim_device.h"

#include <QByteArray>
#include <QByteArrayView>

namespace quodra::sim {

// Register addresses the console reads (X R).
inline constexpr int kRegTyp = 91;            // 16 bytes
inline constexpr int kRegReference = 412;     // + 7k, first byte: referred channel
inline constexpr int kRegPopis = 526;         // 26 bytes
inline constexpr int kRegAlarmOff = 626;      // + 30k, 30 bytes
inline constexpr int kRegAlarmOn = 866;       // + 30k, 30 bytes
inline constexpr int kRegValueName = 1106;    // + 30k: name 25 bytes, unit 5 bytes
inline constexpr int kRegOutputNames = 2026;  // + 15k, 15 bytes
inline constexpr int kRegCustomMask = 2501;   // u16
inline constexpr int kRegCustomTable = 2781;  // 16 entries of 5 bytes
inline constexpr int kRegCustomNames = 2900;  // + 40k, 40 bytes (39 characters and a zero)
inline constexpr int kCustomNameSize = 40;
inline constexpr int kRegisterAreaSize = 4096;

inline constexpr int kStatusDataSize = 23;

// The register area with the texts at their addresses (Windows-1250, cut to the field size).
QByteArray registerArea(const DeviceDescription& device);
QByteArray statusData(const DeviceDescription& device);
// One 6-byte entry per channel in use, ascending channel numbers.
QByteArray valuesData(const DeviceDescription& device);
// Two info bytes (number of present outputs, 0), then one 3-byte entry per present output.
QByteArray outputsData(const DeviceDescription& device);
// A duration channel: kind 8, or kind 6/7 referring to a kind-8 channel of the device.
bool isDuration(const DeviceDescription& device, const SimChannel& channel);
// The four value bytes of a channel: f32, or seconds, minutes, hours, days for a duration.
QByteArray valueBytes(const SimChannel& channel, bool duration);

struct LoginData {
    QString user;
    QString password;
};
// User and password of an I A request (9 bytes each, text up to the first zero byte).
LoginData decodeLogin(QByteArrayView data);
bool loginMatches(const DeviceDescription& device, const LoginData& login);

// The reply frame to a request. maxFrame limits the whole frame (100 for UDP, 0 = none): a longer
// reply keeps the whole entries that fit (values, outputs) or the leading register bytes.
QByteArray buildReply(const DeviceDescription& device, const comm::DeviceFrame& request, int maxFrame);

} // namespace quodra::sim
