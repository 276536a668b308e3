#include "sim/sim_fleet.h"

#include "comm/device_frame.h"
#include "sim/sim_replies.h"

#include <QCoreApplication>
#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkDatagram>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <random>
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

class DeviceServer;

// Lives on the fleet's thread and owns every socket.
class FleetWorker : public QObject {
public:
    explicit FleetWorker(SimFleetImpl* impl) : m_impl(impl) {}
    bool bindAll(QString* error);
    void shutdown();
    void updateListening(int index);

private:
    SimFleetImpl* m_impl;
    std::vector<DeviceServer*> m_servers;
    QTimer* m_tick = nullptr;
};

struct SimFleetImpl {
    mutable QMutex mutex;
    std::vector<DeviceState> states;
    QHash<QString, int> byAddress;
    int tickMs = 0;
    std::mt19937 rng;
    quint64 ticks = 0;
    QThread thread;
    FleetWorker* worker = nullptr;

    int find(const QString& address) const { return byAddress.value(address, -1); }
    void tick();
    // Runs fn on the fleet's thread and waits for it.
    void runOnThread(const std::function<void()>& fn)
    {
        if (QThread::currentThread() == &thread)
            fn();
        else
            QMetaObject::invokeMethod(worker, fn, Qt::BlockingQueuedConnection);
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

// One device: its TCP listener, its connections and its UDP socket.
class DeviceServer : public QObject {
public:
    DeviceServer(SimFleetImpl* impl, int index, QObject* parent) : QObject(parent), m_impl(impl), m_index(index)
    {
        QMutexLocker lock(&m_impl->mutex);
        const DeviceDescription& d = m_impl->states[size_t(index)].desc;
        m_address = QHostAddress(d.address);
        m_port = d.port;
        m_name = d.address;
    }

    bool bind(QString* error)
    {
        m_tcp = new QTcpServer(this);
        connect(m_tcp, &QTcpServer::newConnection, this, &DeviceServer::acceptConnections);
        if (!listen(error))
            return false;
        m_udp = new QUdpSocket(this);
        if (!m_udp->bind(m_address, kUdpPort)) {
            *error = QStringLiteral("%1 UDP %2: %3").arg(m_name).arg(kUdpPort).arg(m_udp->errorString());
            return false;
        }
        connect(m_udp, &QUdpSocket::readyRead, this, &DeviceServer::readDatagrams);
        return true;
    }

    // Opens or closes the listener as the misbehaviour asks; refusing also drops open connections.
    void updateListening()
    {
        bool refuse = false;
        {
            QMutexLocker lock(&m_impl->mutex);
            refuse = m_impl->states[size_t(m_index)].misbehaviour == Misbehaviour::Refuse;
        }
        if (refuse) {
            m_tcp->close();
            for (QTcpSocket* socket : findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly))
                socket->abort();
        } else if (!m_tcp->isListening()) {
            QString error;
            if (!listen(&error))
                qWarning("quodra-sim: %s", qPrintable(error));
        }
    }

private:
    bool listen(QString* error)
    {
        if (m_tcp->listen(m_address, m_port))
            return true;
        *error = QStringLiteral("%1 TCP %2: %3").arg(m_name).arg(m_port).arg(m_tcp->errorString());
        return false;
    }

    void acceptConnections()
    {
        while (QTcpSocket* socket = m_tcp->nextPendingConnection()) {
            socket->setParent(this);
            {
                QMutexLocker lock(&m_impl->mutex);
                ++m_impl->states[size_t(m_index)].received.tcpConnections;
            }
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readStream(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    void readStream(QTcpSocket* socket)
    {
        QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
        while (buffer.size() >= comm::kFrameHeaderSize) {
            const auto head = comm::decodeHeader(buffer);
            if (!head) { // a length no device accepts: drop the connection
                socket->abort();
                return;
            }
            const qsizetype size = comm::kFrameHeaderSize + head->length;
            if (buffer.size() < size)
                break;
            const auto frame = comm::decodeFrame(buffer.first(size));
            buffer.remove(0, size);
            handle(*frame, socket, {}, 0);
            if (socket->state() != QAbstractSocket::ConnectedState)
                return;
        }
        socket->setProperty("buffer", buffer);
    }

    void readDatagrams()
    {
        while (m_udp->hasPendingDatagrams()) {
            const QNetworkDatagram datagram = m_udp->receiveDatagram();
            if (const auto frame = comm::decodeFrame(datagram.data()))
                handle(*frame, nullptr, datagram.senderAddress(), quint16(datagram.senderPort()));
        }
    }

    // Records the request, applies its effect and sends the reply (or misbehaves).
    void handle(const comm::DeviceFrame& frame, QTcpSocket* socket, const QHostAddress& sender, quint16 senderPort)
    {
        const bool udp = socket == nullptr;
        const QByteArray command = QByteArray(1, frame.letter1) + frame.letter2;
        QByteArray reply;
        Misbehaviour mode = Misbehaviour::None;
        int delayMs = 0;
        {
            QMutexLocker lock(&m_impl->mutex);
            DeviceState& s = m_impl->states[size_t(m_index)];
            if (s.misbehaviour == Misbehaviour::Refuse)
                return;
            s.received.requests.append({command, frame.parameter, frame.data, udp});
            if (command == "IA") {
                const LoginData login = decodeLogin(frame.data);
                const bool accepted = loginMatches(s.desc, login);
                s.received.logins.append({login.user, login.password, accepted});
                if (socket)
                    socket->setProperty("loggedIn", accepted);
            } else if (command == "R0" || command == "R1") {
                const int k = frame.parameter;
                const bool on = frame.letter2 == '1';
                const bool applied = socket && socket->property("loggedIn").toBool() && k < 6
                                     && s.desc.outputs[size_t(k)].present;
                if (applied)
                    s.desc.outputs[size_t(k)].on = on;
                s.received.switches.append({k, on, applied});
            }
            reply = buildReply(s.desc, frame, udp ? comm::kMaxUdpDatagram : 0);
            if (s.onlyCommand.isEmpty() || s.onlyCommand == command)
                mode = s.misbehaviour;
            delayMs = s.delayMs;
        }
        if (udp)
            sendDatagram(mode, reply, delayMs, frame, sender, senderPort);
        else
            sendStream(mode, reply, delayMs, frame, socket);
    }

    void sendStream(Misbehaviour mode, const QByteArray& reply, int delayMs, const comm::DeviceFrame& frame,
                    QTcpSocket* socket)
    {
        switch (mode) {
        case Misbehaviour::None:
            socket->write(reply);
            break;
        case Misbehaviour::Slow:
            QTimer::singleShot(delayMs, socket, [socket, reply] { socket->write(reply); });
            break;
        case Misbehaviour::Refuse:
        case Misbehaviour::Silent:
            break;
        case Misbehaviour::CloseMidFrame:
            socket->write(reply.left(3));
            socket->disconnectFromHost();
            break;
        case Misbehaviour::Oversized:
            socket->write(header(frame.letter1, frame.letter2, kOversizedLength)
                          + QByteArray(kOversizedLength, '\0'));
            break;
        case Misbehaviour::Garbage:
            socket->write(header(frame.letter1, frame.letter2, kGarbageAnnounced) + QByteArray(5, '\x55'));
            socket->disconnectFromHost();
            break;
        }
    }

    void sendDatagram(Misbehaviour mode, const QByteArray& reply, int delayMs, const comm::DeviceFrame& frame,
                      const QHostAddress& to, quint16 port)
    {
        switch (mode) {
        case Misbehaviour::None:
            m_udp->writeDatagram(reply, to, port);
            break;
        case Misbehaviour::Slow:
            QTimer::singleShot(delayMs, m_udp, [udp = m_udp, reply, to, port] { udp->writeDatagram(reply, to, port); });
            break;
        case Misbehaviour::Refuse:
        case Misbehaviour::Silent:
            break;
        case Misbehaviour::CloseMidFrame:
            m_udp->writeDatagram(reply.left(3), to, port);
            break;
        case Misbehaviour::Oversized:
            m_udp->writeDatagram(header(frame.letter1, frame.letter2, kOversizedLength)
                                     + QByteArray(comm::kMaxUdpDatagram - comm::kFrameHeaderSize, '\0'),
                                 to, port);
            break;
        case Misbehaviour::Garbage:
            m_udp->writeDatagram(header(frame.letter1, frame.letter2, kGarbageDatagram)
                                     + QByteArray(kGarbageDatagram - comm::kFrameHeaderSize, '\x55'),
                                 to, port);
            break;
        }
    }

    SimFleetImpl* m_impl;
    int m_index;
    QHostAddress m_address;
    quint16 m_port = 0;
    QString m_name;
    QTcpServer* m_tcp = nullptr;
    QUdpSocket* m_udp = nullptr;
};

bool FleetWorker::bindAll(QString* error)
{
    size_t count = 0;
    {
        QMutexLocker lock(&m_impl->mutex);
        count = m_impl->states.size();
    }
    for (size_t i = 0; i < count; ++i) {
        auto* server = new DeviceServer(m_impl, int(i), this);
        m_servers.push_back(server);
        if (!server->bind(error)) {
            shutdown();
            return false;
        }
        server->updateListening();
    }
    if (m_impl->tickMs > 0) {
        m_tick = new QTimer(this);
        connect(m_tick, &QTimer::timeout, this, [impl = m_impl] { impl->tick(); });
        m_tick->start(m_impl->tickMs);
    }
    return true;
}

void FleetWorker::shutdown()
{
    delete m_tick;
    m_tick = nullptr;
    for (DeviceServer* server : m_servers)
        delete server;
    m_servers.clear();
}

void FleetWorker::updateListening(int index)
{
    if (index >= 0 && size_t(index) < m_servers.size())
        m_servers[size_t(index)]->updateListening();
}

SimFleet::SimFleet(QList<DeviceDescription> devices, int tickMs, quint32 seed) : m_impl(std::make_unique<SimFleetImpl>())
{
    m_impl->tickMs = tickMs;
    m_impl->rng.seed(seed);
    for (DeviceDescription& d : devices) {
        applyLimits(d);
        m_impl->byAddress.insert(d.address, int(m_impl->states.size()));
        m_impl->states.push_back({std::move(d), Misbehaviour::None, 0, {}, {}});
    }
    m_impl->thread.setObjectName(QStringLiteral("quodra-sim"));
}

SimFleet::SimFleet(const SimConfig& config) : SimFleet(config.devices, config.tickMs, config.seed) {}

SimFleet::~SimFleet() { stop(); }

bool SimFleet::start(QString* error)
{
    if (m_impl->worker)
        return true;
    if (m_impl->byAddress.size() != qsizetype(m_impl->states.size())) {
        if (error)
            *error = QStringLiteral("two devices share an address");
        return false;
    }
    if (!QCoreApplication::instance()) {
        // Qt event loops need an application object; a test program may have none. It stays
        // for the rest of the process.
        static int argc = 1;
        static char name[] = "quodra-sim";
        static char* argv[] = {name, nullptr};
        new QCoreApplication(argc, argv);
    }
    m_impl->worker = new FleetWorker(m_impl.get());
    m_impl->worker->moveToThread(&m_impl->thread);
    m_impl->thread.start();
    bool ok = false;
    QString message;
    m_impl->runOnThread([&] { ok = m_impl->worker->bindAll(&message); });
    if (!ok) {
        stop();
        if (error)
            *error = message;
    }
    return ok;
}

void SimFleet::stop()
{
    if (!m_impl->worker)
        return;
    m_impl->runOnThread([this] { m_impl->worker->shutdown(); });
    m_impl->thread.quit();
    m_impl->thread.wait();
    delete m_impl->worker;
    m_impl->worker = nullptr;
}

bool SimFleet::isRunning() const { return m_impl->worker != nullptr; }

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

bool SimFleet::setMisbehaviour(const QString& address, Misbehaviour m, int delayMs, const QByteArray& onlyCommand)
{
    const bool known = m_impl->change(address, [&](DeviceState& s) {
        s.misbehaviour = m;
        s.delayMs = std::max(0, delayMs);
        s.onlyCommand = onlyCommand;
        return true;
    });
    if (known && m_impl->worker) {
        const int index = m_impl->find(address);
        m_impl->runOnThread([this, index] { m_impl->worker->updateListening(index); });
    }
    return known;
}

std::optional<DeviceDescription> SimFleet::device(const QString& address) const
{
    QMutexLocker lock(&m_impl->mutex);
    const int i = m_impl->find(address);
    if (i < 0)
        return std::nullopt;
    return m_impl->states[size_t(i)].desc;
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

void SimFleet::tick() { m_impl->tick(); }

} // namespace quodra::sim
