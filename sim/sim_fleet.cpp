#include "sim/sim_fleet.h"

#include "comm/device_frame.h"
#include "sim/sim_event_loop.h"
#include "sim/sim_replies.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <unordered_map>
#include <vector>

namespace quodra::sim {

int SimReceived::count(const char* command, int udp) const
{
    const QByteArrayView wanted(command);
    return int(std::count_if(requests.begin(), requests.end(), [&](const SimRequest& r) {
        return r.command == wanted && (udp < 0 || r.udp == (udp == 1));
    }));
}

QList<int> SimReceived::registerReads() const
{
    QList<int> out;
    for (const SimRequest& r : requests)
        if (r.command == "XR")
            out.append(comm::readU16(r.data, 0).value_or(-1));
    return out;
}

namespace {

constexpr int kOversizedLength = 2000;
constexpr int kGarbageAnnounced = 50;
constexpr int kGarbageDatagram = 150;

// Drops the older half of a record list that reached its limit.
template <class T> void keepRecent(QList<T>& list)
{
    if (list.size() >= SimReceived::kKeptRequests)
        list.remove(0, list.size() / 2);
}

struct DeviceState {
    DeviceDescription desc;
    Misbehaviour misbehaviour = Misbehaviour::None;
    int delayMs = 0;
    QByteArray onlyCommand;
    SimReceived received;
};

QByteArray header(char l1, char l2, int length)
{
    QByteArray out;
    out.append(comm::kFrameStart);
    out.append(l1);
    out.append(l2);
    out.append('\0');
    comm::appendU16(out, std::uint16_t(length));
    return out;
}

// Value alarm bit k follows the limits of channel k, where it has any.
void applyLimits(DeviceDescription& d)
{
    for (const SimChannel& c : d.channels) {
        if (!c.alarmLow && !c.alarmHigh)
            continue;
        const bool alarm = (c.alarmLow && c.value < *c.alarmLow) || (c.alarmHigh && c.value > *c.alarmHigh);
        const auto bit = std::uint16_t(1u << c.channel);
        d.valueAlarms = alarm ? std::uint16_t(d.valueAlarms | bit) : std::uint16_t(d.valueAlarms & ~bit);
    }
}

} // namespace

namespace {

// One accepted TCP connection.
struct Connection {
    std::uint64_t key = 0; // in FleetNetwork::m_connections
    int fd = -1;
    int device = 0;
    std::uint64_t token = 0;  // of the event loop's watch
    std::uint32_t events = 0; // epoll events asked for now
    QByteArray input;         // bytes of a frame not complete yet
    QByteArray output;        // reply bytes the socket did not take yet
    bool loggedIn = false;    // an accepted I A on this connection
    bool closing = false;     // reads nothing more; closes once output is sent
};

// The sockets of one device.
struct DeviceSockets {
    in_addr address{};
    quint16 tcpPort = 0;
    QString name; // the address as text, for messages
    int listener = -1;
    std::uint64_t listenerToken = 0;
    int udp = -1;
    std::uint64_t udpToken = 0;
};

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

sockaddr_in socketAddress(in_addr address, quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr = address;
    return a;
}

} // namespace

// The devices' sockets on one event loop. Runs on the loop's thread only (or on the owner's while
// the loop is not running).
class FleetNetwork {
public:
    FleetNetwork(SimFleetImpl* impl, SimEventLoop& loop) : m_impl(impl), m_loop(loop) {}
    ~FleetNetwork() { closeAll(); }
    FleetNetwork(const FleetNetwork&) = delete;
    FleetNetwork& operator=(const FleetNetwork&) = delete;

    // Binds every device (TCP listener, UDP socket). On failure nothing stays bound.
    bool open(QString* error);
    // Opens or closes the listener as the misbehaviour asks; refusing also drops open connections.
    void updateListening(int device);

private:
    bool openListener(int device, QString* error);
    bool openUdp(int device, QString* error);
    void closeListener(int device);
    void closeAll();

    void acceptConnections(int device);
    void connectionEvent(std::uint64_t key, std::uint32_t events);
    void readStream(Connection& c);
    void write(Connection& c, QByteArrayView bytes);
    void flush(Connection& c);
    // Closes a connection that is done, or asks for the events it waits for now.
    void settle(std::uint64_t key);
    void closeConnection(std::uint64_t key);
    void readDatagrams(int device);
    void sendDatagram(int device, QByteArrayView bytes, const sockaddr_in& to);

    void handle(int device, const comm::DeviceFrame& frame, Connection* connection,
                const sockaddr_in* sender);
    void sendStream(Misbehaviour mode, const QByteArray& reply, int delayMs, const comm::DeviceFrame& frame,
                    Connection& c);
    void sendDatagramAs(Misbehaviour mode, const QByteArray& reply, int delayMs,
                        const comm::DeviceFrame& frame, int device, const sockaddr_in& to);

    SimFleetImpl* m_impl;
    SimEventLoop& m_loop;
    std::vector<DeviceSockets> m_devices;
    std::unordered_map<std::uint64_t, Connection> m_connections; // by key
    std::uint64_t m_nextKey = 1;
    std::vector<char> m_buffer = std::vector<char>(65536);
};

struct SimFleetImpl {
    mutable QMutex mutex; // guards states and ticks
    std::vector<DeviceState> states;
    QHash<QString, int> byAddress;
    int tickMs = 0;
    std::mt19937 rng;
    quint64 ticks = 0;
    // Both exist while the fleet runs.
    std::unique_ptr<SimEventLoop> loop;
    std::unique_ptr<FleetNetwork> network;

    int find(const QString& address) const { return byAddress.value(address, -1); }
    void tick();
    // The tick timer: one change step every tickMs on the loop's thread.
    void scheduleTick()
    {
        loop->addTimer(tickMs, [this] {
            tick();
            scheduleTick();
        });
    }
    template <class Fn> bool change(const QString& address, Fn&& fn)
    {
        QMutexLocker lock(&mutex);
        const int i = find(address);
        if (i < 0)
            return false;
        return fn(states[size_t(i)]);
    }
};

void SimFleetImpl::tick()
{
    QMutexLocker lock(&mutex);
    ++ticks;
    for (DeviceState& s : states) {
        DeviceDescription& d = s.desc;
        for (SimChannel& c : d.channels) {
            if (c.change == ChangeMode::Walk) {
                std::uniform_real_distribution<double> delta(-std::abs(c.step), std::abs(c.step));
                c.value = std::clamp(c.value + delta(rng), c.min, c.max);
            } else if (c.change == ChangeMode::Ramp) {
                c.value += c.step;
                if (c.value > c.max)
                    c.value = c.min;
                else if (c.value < c.min)
                    c.value = c.max;
            }
        }
        applyLimits(d);
        if (d.flipEveryTicks > 0 && ticks % quint64(d.flipEveryTicks) == 0) {
            // Bits 0-7 alarms, 8-23 value alarms, 24-39 errors, 40-71 custom alarms.
            std::vector<int> bits;
            for (int b = 0; b < 8; ++b)
                if (d.flipAlarms >> b & 1)
                    bits.push_back(b);
            for (int b = 0; b < 16; ++b) {
                if (d.flipValueAlarms >> b & 1)
                    bits.push_back(8 + b);
                if (d.flipErrors >> b & 1)
                    bits.push_back(24 + b);
            }
            for (int b = 0; b < 32; ++b)
                if (d.flipCustomAlarms >> b & 1)
                    bits.push_back(40 + b);
            if (!bits.empty()) {
                const int b = bits[std::uniform_int_distribution<size_t>(0, bits.size() - 1)(rng)];
                if (b < 8)
                    d.alarms ^= std::uint8_t(1u << b);
                else if (b < 24)
                    d.valueAlarms ^= std::uint16_t(1u << (b - 8));
                else if (b < 40)
                    d.errors ^= std::uint16_t(1u << (b - 24));
                else
                    d.customAlarms ^= 1u << (b - 40);
            }
        }
    }
}

bool FleetNetwork::open(QString* error)
{
    std::vector<int> refusing;
    {
        QMutexLocker lock(&m_impl->mutex);
        for (const DeviceState& s : m_impl->states) {
            DeviceSockets d;
            d.name = s.desc.address;
            d.tcpPort = s.desc.port;
            if (::inet_pton(AF_INET, s.desc.address.toLatin1().constData(), &d.address) != 1) {
                *error = QStringLiteral("%1 TCP %2: not an IPv4 address").arg(d.name).arg(d.tcpPort);
                m_devices.clear();
                return false;
            }
            if (s.misbehaviour == Misbehaviour::Refuse)
                refusing.push_back(int(m_devices.size()));
            m_devices.push_back(d);
        }
    }
    for (int i = 0; i < int(m_devices.size()); ++i) {
        if (!openListener(i, error) || !openUdp(i, error)) {
            closeAll();
            return false;
        }
    }
    // A device told to refuse before the start is bound (so a taken port is still reported),
    // then closed again.
    for (int i : refusing)
        closeListener(i);
    return true;
}

bool FleetNetwork::openListener(int device, QString* error)
{
    DeviceSockets& d = m_devices[size_t(device)];
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    const sockaddr_in a = socketAddress(d.address, d.tcpPort);
    std::uint64_t token = 0;
    if (fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
        ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, SOMAXCONN) == 0) {
        token = m_loop.watch(fd, EPOLLIN, [this, device](std::uint32_t) { acceptConnections(device); });
    }
    if (token == 0) {
        *error = QStringLiteral("%1 TCP %2: %3").arg(d.name).arg(d.tcpPort).arg(errnoText(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    d.listener = fd;
    d.listenerToken = token;
    return true;
}

bool FleetNetwork::openUdp(int device, QString* error)
{
    DeviceSockets& d = m_devices[size_t(device)];
    // No SO_REUSEADDR: on Linux it would let two sockets share the port of a datagram socket.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const sockaddr_in a = socketAddress(d.address, kUdpPort);
    std::uint64_t token = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0)
        token = m_loop.watch(fd, EPOLLIN, [this, device](std::uint32_t) { readDatagrams(device); });
    if (token == 0) {
        *error = QStringLiteral("%1 UDP %2: %3").arg(d.name).arg(kUdpPort).arg(errnoText(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    d.udp = fd;
    d.udpToken = token;
    return true;
}

void FleetNetwork::closeListener(int device)
{
    DeviceSockets& d = m_devices[size_t(device)];
    if (d.listener < 0)
        return;
    m_loop.unwatch(d.listenerToken);
    ::close(d.listener);
    d.listener = -1;
}

void FleetNetwork::closeAll()
{
    std::vector<std::uint64_t> keys;
    for (const auto& [key, c] : m_connections)
        keys.push_back(key);
    for (std::uint64_t key : keys)
        closeConnection(key);
    for (int i = 0; i < int(m_devices.size()); ++i) {
        closeListener(i);
        DeviceSockets& d = m_devices[size_t(i)];
        if (d.udp >= 0) {
            m_loop.unwatch(d.udpToken);
            ::close(d.udp);
            d.udp = -1;
        }
    }
}

void FleetNetwork::updateListening(int device)
{
    if (device < 0 || size_t(device) >= m_devices.size())
        return;
    bool refuse = false;
    {
        QMutexLocker lock(&m_impl->mutex);
        refuse = m_impl->states[size_t(device)].misbehaviour == Misbehaviour::Refuse;
    }
    if (refuse) {
        closeListener(device);
        std::vector<std::uint64_t> keys;
        for (const auto& [key, c] : m_connections)
            if (c.device == device)
                keys.push_back(key);
        for (std::uint64_t key : keys)
            closeConnection(key);
    } else if (m_devices[size_t(device)].listener < 0) {
        QString error;
        if (!openListener(device, &error))
            qWarning("quodra-sim: %s", qPrintable(error));
    }
}

void FleetNetwork::acceptConnections(int device)
{
    DeviceSockets& d = m_devices[size_t(device)];
    for (;;) {
        const int fd = ::accept4(d.listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                // Out of descriptors or memory: the waiting connection stays in the queue, so
                // rest the listener for a moment instead of waking again at once.
                qWarning("quodra-sim: %s TCP %d: accept: %s", qPrintable(d.name), d.tcpPort,
                         std::strerror(errno));
                m_loop.setEvents(d.listenerToken, 0);
                m_loop.addTimer(100, [this, device, token = d.listenerToken] {
                    if (m_devices[size_t(device)].listenerToken == token)
                        m_loop.setEvents(token, EPOLLIN);
                });
            }
            return;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        const std::uint64_t key = m_nextKey++;
        const std::uint64_t token =
            m_loop.watch(fd, EPOLLIN, [this, key](std::uint32_t events) { connectionEvent(key, events); });
        if (token == 0) {
            ::close(fd);
            continue;
        }
        Connection c;
        c.key = key;
        c.fd = fd;
        c.device = device;
        c.token = token;
        c.events = EPOLLIN;
        m_connections.emplace(key, std::move(c));
        QMutexLocker lock(&m_impl->mutex);
        ++m_impl->states[size_t(device)].received.tcpConnections;
    }
}

void FleetNetwork::connectionEvent(std::uint64_t key, std::uint32_t events)
{
    const auto it = m_connections.find(key);
    if (it == m_connections.end())
        return;
    Connection& c = it->second;
    if (events & EPOLLOUT)
        flush(c);
    if (!c.closing && (events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
        readStream(c);
    else if (events & (EPOLLHUP | EPOLLERR)) // closing, and the peer is gone: nothing to send to
        c.output.clear();
    settle(key);
}

void FleetNetwork::readStream(Connection& c)
{
    bool peerGone = false;
    for (;;) {
        const ssize_t n = ::recv(c.fd, m_buffer.data(), m_buffer.size(), 0);
        if (n > 0) {
            c.input.append(m_buffer.data(), n);
            if (size_t(n) < m_buffer.size())
                break;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            peerGone = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
            break;
        }
    }
    while (!c.closing && c.input.size() >= comm::kFrameHeaderSize) {
        const auto head = comm::decodeHeader(c.input);
        if (!head) { // a length no device accepts: drop the connection
            c.closing = true;
            c.output.clear();
            return;
        }
        const qsizetype size = comm::kFrameHeaderSize + head->length;
        if (c.input.size() < size)
            break;
        const auto frame = comm::decodeFrame(QByteArrayView(c.input).first(size));
        c.input.remove(0, size);
        handle(c.device, *frame, &c, nullptr);
    }
    // The replies to what came before the peer's end still go out, then the connection closes.
    if (peerGone)
        c.closing = true;
}

void FleetNetwork::write(Connection& c, QByteArrayView bytes)
{
    if (c.output.isEmpty()) {
        ssize_t n = ::send(c.fd, bytes.data(), size_t(bytes.size()), MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            c.closing = true; // the peer is gone
            return;
        }
        n = std::max<ssize_t>(n, 0);
        if (n == bytes.size())
            return;
        bytes = bytes.sliced(n);
    }
    c.output.append(bytes);
}

void FleetNetwork::flush(Connection& c)
{
    while (!c.output.isEmpty()) {
        const ssize_t n = ::send(c.fd, c.output.constData(), size_t(c.output.size()), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                c.closing = true;
                c.output.clear();
            }
            return;
        }
        c.output.remove(0, n);
    }
}

void FleetNetwork::settle(std::uint64_t key)
{
    const auto it = m_connections.find(key);
    if (it == m_connections.end())
        return;
    Connection& c = it->second;
    if (c.closing && c.output.isEmpty()) {
        closeConnection(key);
        return;
    }
    const std::uint32_t events =
        (c.closing ? 0u : std::uint32_t(EPOLLIN)) | (c.output.isEmpty() ? 0u : EPOLLOUT);
    if (events != c.events) {
        c.events = events;
        m_loop.setEvents(c.token, events);
    }
}

void FleetNetwork::closeConnection(std::uint64_t key)
{
    const auto it = m_connections.find(key);
    if (it == m_connections.end())
        return;
    m_loop.unwatch(it->second.token);
    ::close(it->second.fd);
    m_connections.erase(it);
}

void FleetNetwork::readDatagrams(int device)
{
    const int fd = m_devices[size_t(device)].udp;
    // A bounded batch per wake-up, so a flood on one device does not starve the others.
    for (int i = 0; i < 64; ++i) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n =
            ::recvfrom(fd, m_buffer.data(), m_buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (const auto frame = comm::decodeFrame(QByteArrayView(m_buffer.data(), n)))
            handle(device, *frame, nullptr, &from);
    }
}

void FleetNetwork::sendDatagram(int device, QByteArrayView bytes, const sockaddr_in& to)
{
    const int fd = m_devices[size_t(device)].udp;
    if (fd >= 0)
        ::sendto(fd, bytes.data(), size_t(bytes.size()), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
}

// Records the request, applies its effect and sends the reply (or misbehaves).
void FleetNetwork::handle(int device, const comm::DeviceFrame& frame, Connection* connection,
                          const sockaddr_in* sender)
{
    const bool udp = connection == nullptr;
    const QByteArray command = QByteArray(1, frame.letter1) + frame.letter2;
    QByteArray reply;
    Misbehaviour mode = Misbehaviour::None;
    int delayMs = 0;
    {
        QMutexLocker lock(&m_impl->mutex);
        DeviceState& s = m_impl->states[size_t(device)];
        if (s.misbehaviour == Misbehaviour::Refuse)
            return;
        keepRecent(s.received.requests);
        s.received.requests.append({command, frame.parameter, frame.data, udp});
        if (command == "IA") {
            const LoginData login = decodeLogin(frame.data);
            const bool accepted = loginMatches(s.desc, login);
            keepRecent(s.received.logins);
            s.received.logins.append({login.user, login.password, accepted});
            if (connection)
                connection->loggedIn = accepted;
        } else if (command == "R0" || command == "R1") {
            const int k = frame.parameter;
            const bool on = frame.letter2 == '1';
            const bool applied =
                connection && connection->loggedIn && k < 6 && s.desc.outputs[size_t(k)].present;
            if (applied)
                s.desc.outputs[size_t(k)].on = on;
            keepRecent(s.received.switches);
            s.received.switches.append({k, on, applied});
        }
        reply = buildReply(s.desc, frame, udp ? comm::kMaxUdpDatagram : 0);
        if (s.onlyCommand.isEmpty() || s.onlyCommand == command)
            mode = s.misbehaviour;
        delayMs = s.delayMs;
    }
    if (udp) {
        sendDatagramAs(mode, reply, delayMs, frame, device, *sender);
    } else {
        sendStream(mode, reply, delayMs, frame, *connection);
    }
}

void FleetNetwork::sendStream(Misbehaviour mode, const QByteArray& reply, int delayMs,
                              const comm::DeviceFrame& frame, Connection& c)
{
    switch (mode) {
    case Misbehaviour::None:
        write(c, reply);
        break;
    case Misbehaviour::Slow:
        // Sent later if the connection is still there then.
        m_loop.addTimer(delayMs, [this, key = c.key, reply] {
            const auto it = m_connections.find(key);
            if (it == m_connections.end())
                return;
            write(it->second, reply);
            settle(key);
        });
        break;
    case Misbehaviour::Refuse:
    case Misbehaviour::Silent:
        break;
    case Misbehaviour::CloseMidFrame:
        write(c, QByteArrayView(reply).first(3));
        c.closing = true;
        break;
    case Misbehaviour::Oversized:
        write(c, header(frame.letter1, frame.letter2, kOversizedLength) + QByteArray(kOversizedLength, '\0'));
        break;
    case Misbehaviour::Garbage:
        write(c, header(frame.letter1, frame.letter2, kGarbageAnnounced) + QByteArray(5, '\x55'));
        c.closing = true;
        break;
    }
}

void FleetNetwork::sendDatagramAs(Misbehaviour mode, const QByteArray& reply, int delayMs,
                                  const comm::DeviceFrame& frame, int device, const sockaddr_in& to)
{
    switch (mode) {
    case Misbehaviour::None:
        sendDatagram(device, reply, to);
        break;
    case Misbehaviour::Slow:
        m_loop.addTimer(delayMs, [this, device, reply, to] { sendDatagram(device, reply, to); });
        break;
    case Misbehaviour::Refuse:
    case Misbehaviour::Silent:
        break;
    case Misbehaviour::CloseMidFrame:
        sendDatagram(device, QByteArrayView(reply).first(3), to);
        break;
    case Misbehaviour::Oversized:
        sendDatagram(device,
                     header(frame.letter1, frame.letter2, kOversizedLength) +
                         QByteArray(comm::kMaxUdpDatagram - comm::kFrameHeaderSize, '\0'),
                     to);
        break;
    case Misbehaviour::Garbage:
        sendDatagram(device,
                     header(frame.letter1, frame.letter2, kGarbageDatagram) +
                         QByteArray(kGarbageDatagram - comm::kFrameHeaderSize, '\x55'),
                     to);
        break;
    }
}

SimFleet::SimFleet(QList<DeviceDescription> devices, int tickMs, quint32 seed)
    : m_impl(std::make_unique<SimFleetImpl>())
{
    m_impl->tickMs = tickMs;
    m_impl->rng.seed(seed);
    for (DeviceDescription& d : devices) {
        applyLimits(d);
        m_impl->byAddress.insert(d.address, int(m_impl->states.size()));
        m_impl->states.push_back({std::move(d), Misbehaviour::None, 0, {}, {}});
    }
}

SimFleet::SimFleet(const SimConfig& config) : SimFleet(config.devices, config.tickMs, config.seed) {}

SimFleet::~SimFleet()
{
    stop();
}

bool SimFleet::start(QString* error)
{
    if (m_impl->loop)
        return true;
    QString message;
    if (m_impl->byAddress.size() != qsizetype(m_impl->states.size())) {
        message = QStringLiteral("two devices share an address");
    } else {
        auto loop = std::make_unique<SimEventLoop>();
        auto network = std::make_unique<FleetNetwork>(m_impl.get(), *loop);
        // Bound on this thread, before the loop runs: the loop's thread starts only for a fleet
        // that is complete.
        if (loop->isValid(&message) && network->open(&message)) {
            m_impl->loop = std::move(loop);
            m_impl->network = std::move(network);
            if (m_impl->tickMs > 0)
                m_impl->scheduleTick();
            m_impl->loop->start();
            return true;
        }
    }
    if (error)
        *error = message;
    return false;
}

void SimFleet::stop()
{
    if (!m_impl->loop)
        return;
    m_impl->loop->stop();
    m_impl->network.reset(); // closes every socket
    m_impl->loop.reset();
}

bool SimFleet::isRunning() const
{
    return m_impl->loop != nullptr;
}

QStringList SimFleet::addresses() const
{
    QMutexLocker lock(&m_impl->mutex);
    QStringList out;
    for (const DeviceState& s : m_impl->states)
        out.append(s.desc.address);
    return out;
}

bool SimFleet::setAlarms(const QString& address, std::uint8_t alarms)
{
    return m_impl->change(address, [&](DeviceState& s) { return s.desc.alarms = alarms, true; });
}

bool SimFleet::setValueAlarms(const QString& address, std::uint16_t valueAlarms)
{
    return m_impl->change(address, [&](DeviceState& s) { return s.desc.valueAlarms = valueAlarms, true; });
}

bool SimFleet::setErrors(const QString& address, std::uint16_t errors)
{
    return m_impl->change(address, [&](DeviceState& s) { return s.desc.errors = errors, true; });
}

bool SimFleet::setCustomAlarms(const QString& address, std::uint32_t customAlarms)
{
    return m_impl->change(address, [&](DeviceState& s) { return s.desc.customAlarms = customAlarms, true; });
}

bool SimFleet::setValue(const QString& address, int channel, double value)
{
    return m_impl->change(address, [&](DeviceState& s) {
        SimChannel* c = s.desc.channel(channel);
        if (!c)
            return false;
        c->value = value;
        applyLimits(s.desc);
        return true;
    });
}

bool SimFleet::setOutput(const QString& address, int output, bool on)
{
    return m_impl->change(address, [&](DeviceState& s) {
        if (output < 0 || output >= 6)
            return false;
        s.desc.outputs[size_t(output)].on = on;
        return true;
    });
}

bool SimFleet::modify(const QString& address, const std::function<void(DeviceDescription&)>& change)
{
    return m_impl->change(address, [&](DeviceState& s) {
        const QString keepAddress = s.desc.address;
        const quint16 keepPort = s.desc.port;
        change(s.desc);
        s.desc.address = keepAddress; // the sockets stay where they are
        s.desc.port = keepPort;
        return true;
    });
}

bool SimFleet::setMisbehaviour(const QString& address, Misbehaviour m, int delayMs,
                               const QByteArray& onlyCommand)
{
    const bool known = m_impl->change(address, [&](DeviceState& s) {
        s.misbehaviour = m;
        s.delayMs = std::max(0, delayMs);
        s.onlyCommand = onlyCommand;
        return true;
    });
    if (known && m_impl->loop) {
        const int index = m_impl->find(address);
        m_impl->loop->call([this, index] { m_impl->network->updateListening(index); });
    }
    return known;
}

std::optional<DeviceDescription> SimFleet::device(const QString& address) const
{
    QMutexLocker lock(&m_impl->mutex);
    const int i = m_impl->find(address);
    if (i < 0)
        return std::nullopt;
    // The channels get a list of their own: the tick changes values in place on the fleet's
    // thread, and a list shared with the caller's copy would be read and written without a lock.
    DeviceDescription copy = m_impl->states[size_t(i)].desc;
    copy.channels.detach();
    return copy;
}

SimReceived SimFleet::received(const QString& address) const
{
    QMutexLocker lock(&m_impl->mutex);
    const int i = m_impl->find(address);
    return i < 0 ? SimReceived{} : m_impl->states[size_t(i)].received;
}

void SimFleet::clearReceived(const QString& address)
{
    m_impl->change(address, [](DeviceState& s) { return s.received = {}, true; });
}

void SimFleet::tick()
{
    m_impl->tick();
}

} // namespace quodra::sim
