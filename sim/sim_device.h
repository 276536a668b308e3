#pragma once
// Description of simulated devices and its JSON file.
//
// Device description file (UTF-8 JSON). Every key is optional unless marked; texts are sent to
// the console in Windows-1250, cut to the size of their register field.
//
//   {
//     "tickMs": 1000,               // period of value/alarm changes; 0 = no automatic changes
//     "seed": 1,                    // seed of the random changes (same seed, same run)
//     "devices": [                  // any number of devices
//       {
//         "address": "127.0.0.11",  // required: IPv4 address the device binds (any 127.x.y.z)
//         "port": 9760,             // TCP port of the binary protocol (UDP is always 30305)
//         "type": "Quodra IO",      // register 91, 16 bytes (the console keeps 15 characters)
//         "description": "Kotelna", // register 526, 26 bytes
//         "variant": 0,             // status byte 3 (1 = thermostat device)
//         "alarmsInUse": 255,       // status byte 5
//         "alarms": 0,              // status byte 6: alarm bits
//         "valueAlarms": 0,         // status bytes 11-12
//         "errors": 0,              // status bytes 9-10
//         "alarmOffTexts": ["Klid", ...],    // 8 texts, registers 626 + 30k
//         "alarmOnTexts": ["Poplach", ...],  // 8 texts, registers 866 + 30k
//         "channels": [             // up to 16; valuesInUse is the mask of their numbers
//           { "channel": 0,         // 0..15, default: position in the list
//             "name": "Teplota",    // 25 bytes at 1106 + 30k
//             "unit": "°C",         // 5 bytes at 1106 + 30k + 25
//             "kind": 0,            // 0 plain, 4 power, 6/7 refers to "refersTo", 8 duration
//             "refersTo": 3,        // kinds 6 and 7: channel number in register 412 + 7k
//             "value": 21.5,        // number; for kind 8 a duration in seconds
//             "change": { "mode": "walk", "step": 0.2, "min": 15, "max": 30 },
//                                   // per tick: "walk" adds a random amount in [-step, step]
//                                   // kept in [min, max]; "ramp" adds step and wraps from max
//                                   // to min; for durations step is in seconds
//             "alarmLow": 16, "alarmHigh": 28  // optional: value alarm bit k follows the value
//           } ],
//         "flip": { "alarms": 3, "valueAlarms": 0, "errors": 0, "customAlarms": 0, "everyTicks": 10 },
//                                   // every everyTicks ticks one random bit of these masks flips
//         "customAlarmsInUse": 5,   // register 2501 (u16 mask)
//         "customAlarms": 0,        // status bytes 19-22
//         "customAlarmNames": ["Přetlak", "", "Únik"],  // 16 names, 39 characters each
//         "outputs": [              // 6 entries; null or {"present": false} = absent output
//           { "name": "Čerpadlo", "mode": 1, "on": false } ],  // name 15 bytes at 2026 + 15k
//         "loginUser": "admin",     // I A login, 8 characters each
//         "loginPassword": "heslo"
//       } ],
//     "fleets": [                   // generated devices: count copies of a template
//       { "count": 255, "firstAddress": "127.0.1.1", "template": { ...device without address... } }
//     ]                             // addresses step the third octet: 127.0.1.1, 127.0.2.1, ...;
//   }                               // "%n" in type and description becomes the number 1..count

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace quodra::sim {

inline constexpr quint16 kDefaultTcpPort = 9760;
inline constexpr quint16 kUdpPort = 30305;

enum class ChangeMode { None, Walk, Ramp };

struct SimChannel {
    int channel = 0; // 0..15
    QString name;
    QString unit;
    std::uint8_t kind = 0;
    int refersTo = 0; // kinds 6 and 7
    double value = 0; // kind 8: seconds
    ChangeMode change = ChangeMode::None;
    double step = 0;
    double min = 0;
    double max = 0;
    std::optional<double> alarmLow;
    std::optional<double> alarmHigh;
};

struct SimOutput {
    bool present = false;
    std::uint8_t mode = 1;
    bool on = false;
    QString name;
};

struct DeviceDescription {
    QString address;
    quint16 port = kDefaultTcpPort;
    QString type;
    QString description;
    std::uint8_t variant = 0;
    std::uint8_t alarmsInUse = 0;
    std::uint8_t alarms = 0;
    std::uint16_t valueAlarms = 0;
    std::uint16_t errors = 0;
    std::array<QString, 8> alarmOffTexts;
    std::array<QString, 8> alarmOnTexts;
    QList<SimChannel> channels;
    std::uint16_t customAlarmsInUse = 0;
    std::uint32_t customAlarms = 0;
    std::array<QString, 16> customAlarmNames;
    std::array<SimOutput, 6> outputs;
    QString loginUser;
    QString loginPassword;
    // Random bit flips per tick.
    std::uint8_t flipAlarms = 0;
    std::uint16_t flipValueAlarms = 0;
    std::uint16_t flipErrors = 0;
    std::uint32_t flipCustomAlarms = 0;
    int flipEveryTicks = 0;

    // Mask of the channel numbers in use (status bytes 7-8).
    std::uint16_t valuesInUse() const;
    // The channel with number k, or nullptr.
    SimChannel* channel(int k);
    const SimChannel* channel(int k) const;
};

struct SimConfig {
    QList<DeviceDescription> devices;
    int tickMs = 1000;
    quint32 seed = 1;
};

// Parses a description file's contents. On failure returns nullopt and sets *error to a message
// naming the place ("devices[2].channels[1].kind: ...", or the JSON syntax error and its offset).
std::optional<SimConfig> parseSimConfig(const QByteArray& json, QString* error);
// Reads and parses a file; a missing or unreadable file is an error like any other.
std::optional<SimConfig> loadSimConfig(const QString& path, QString* error);
// An example description file (valid input of parseSimConfig).
QByteArray exampleSimConfig();

} // namespace quodra::sim
