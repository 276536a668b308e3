#pragma once
// A fleet of simulated devices answering the binary device protocol on loopback addresses.
//
// Every device listens on its own address: TCP on its port (9760 by default) and UDP on 30305.
// The fleet runs on a thread of its own, so a test can run blocking client code on its thread
// while the devices answer. Every public method is thread-safe; control methods return once
// the change is in effect (a device set to Refuse has closed its listener when the call returns).
//
//   SimFleet fleet({device});
//   QString error;
//   ASSERT_TRUE(fleet.start(&error)) << error.toStdString();
//   fleet.setAlarms(QStringLiteral("127.0.1.5"), 0x05);
//   ... client code ...
//   EXPECT_EQ(fleet.received(QStringLiteral("127.0.1.5")).count("GS"), 1);
//
// Replies: G S status (23 data bytes), G V values (6-byte entries per channel in use), X R register
// reads, G R outputs (2 info bytes and 3-byte entries per present output), I A login (parameter 1
// when user and password match), R 0 / R 1 switch output `parameter` off / on, applied only after
// an accepted login on the same TCP connection (never over UDP); other commands get an empty reply.
// UDP replies go to the sender from the device's own address and are at most 100 bytes: a longer
// reply keeps only the entries (or register bytes) that fit.

#include "sim/sim_device.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace quodra::sim {

enum class Misbehaviour {
    None,
    Refuse,        // TCP listener closed (connections refused); UDP silent
    Silent,        // requests are read, never answered
    Slow,          // every reply is sent after delayMs
    CloseMidFrame, // TCP: 3 header bytes, then the connection closes; UDP: a 3-byte datagram
    Oversized,     // reply header announces 2000 data bytes (TCP sends them; UDP sends 94)
    Garbage,       // TCP: header announcing 50 bytes, 5 bytes, close; UDP: a 150-byte datagram
};

struct SimRequest {
    QByteArray command; // the two letters, e.g. "GS", "R1"
    std::uint8_t parameter = 0;
    QByteArray data;
    bool udp = false;
};

struct SimLogin {
    QString user;
    QString password;
    bool accepted = false;
};

struct SimSwitch {
    int output = 0;
    bool on = false;
    bool applied = false; // false: no accepted login on that connection, UDP, or bad index
};

// What one device received since start (or clearReceived). A long-running fleet keeps the most
// recent kKeptRequests entries of each list, so its memory stays bounded.
struct SimReceived {
    static constexpr int kKeptRequests = 20000;

    QList<SimRequest> requests; // in order of arrival, both transports
    QList<SimLogin> logins;
    QList<SimSwitch> switches;
    int tcpConnections = 0; // connections accepted

    // Requests with these two letters ("GS", "XR", ...); udp: -1 both, 0 TCP only, 1 UDP only.
    int count(const char* command, int udp = -1) const;
    // Start addresses of the X R reads, in order.
    QList<int> registerReads() const;
};

struct SimFleetImpl;

class SimFleet {
public:
    explicit SimFleet(QList<DeviceDescription> devices, int tickMs = 0, quint32 seed = 1);
    explicit SimFleet(const SimConfig& config);
    ~SimFleet(); // stops and joins the thread
    SimFleet(const SimFleet&) = delete;
    SimFleet& operator=(const SimFleet&) = delete;

    // Binds every device and starts the thread serving them (one epoll loop on plain sockets; no
    // Qt event loop or application object is needed). On failure nothing stays bound and *error
    // says which address and port could not be bound and why (e.g. "127.0.1.5 TCP 9760: ...").
    bool start(QString* error = nullptr);
    void stop();
    bool isRunning() const;

    QStringList addresses() const;

    // Control by device address; false when no device has that address (or bad channel/index).
    bool setAlarms(const QString& address, std::uint8_t alarms);
    bool setValueAlarms(const QString& address, std::uint16_t valueAlarms);
    bool setErrors(const QString& address, std::uint16_t errors);
    bool setCustomAlarms(const QString& address, std::uint32_t customAlarms);
    bool setValue(const QString& address, int channel, double value);
    bool setOutput(const QString& address, int output, bool on);
    // Any other change of the description (texts, kinds, login...); takes effect at once.
    bool modify(const QString& address, const std::function<void(DeviceDescription&)>& change);
    // Misbehaviour for every reply, or only for requests with the letters onlyCommand ("GV").
    // Refuse always concerns the whole device. Requests still take effect (a silent device
    // switches an output after a login all the same); only the reply misbehaves.
    bool setMisbehaviour(const QString& address, Misbehaviour m, int delayMs = 0,
                         const QByteArray& onlyCommand = {});

    // The device's current description (values, alarms, outputs as they are now).
    std::optional<DeviceDescription> device(const QString& address) const;
    SimReceived received(const QString& address) const;
    void clearReceived(const QString& address);

    // One change step now (what the tick timer does), for tests that drive time themselves.
    void tick();

private:
    std::unique_ptr<SimFleetImpl> m_impl;
};

} // namespace quodra::sim
