// bench_poll [--reps N] [--devices N] [--transport tcp|udp|both] [--breakdown]
//
// Whole-program timing of the console's poll pass: the real poll thread runs one pass over N
// simulated devices (default 255, on 127.0.100.1 and up; TCP 9760, UDP 30305) exactly as the
// console does it: DeviceLink::QueryStatus non-interactive for every device, texts already loaded,
// outputs in use (status, values and outputs exchanges), event log and state log on.
//
// The floor is measured in the same run on the same addresses: a trivial echo server (TCP 9770,
// UDP 30315) and a plain blocking-socket client doing one TCP connect and three request/reply
// round trips per device, or three UDP datagram round trips. Every repetition measures floor and
// pass back to back; the table shows the medians per device and the pass/floor ratio.
//
// --breakdown adds rows that split the gap between floor and pass: the plain client against the
// simulator (the simulator's share), the console's transport (FrameExchange: connect, G S, G V,
// G R, close) against an echo server on the device ports of 127.0.101.x (the transport's share),
// the console's transport against the simulator, and the status queries called in a plain loop
// instead of by the poll thread. --no-proxy sets the application proxy to "no proxy" first (Qt
// otherwise asks the system's proxy configuration for every connection). --sim-threads N serves
// the devices from N simulator fleets, each on its own thread, instead of one.

#include "bench/echo_floor.h"

#include "comm/device_link.h"
#include "comm/frame_exchange.h"
#include "comm/poll_thread.h"
#include "core/console_options.h"
#include "core/device_table.h"
#include "core/poll_cycle.h"
#include "logs/binary_logs.h"
#include "logs/event_log.h"
#include "sim/sim_fleet.h"

#include <QCoreApplication>
#include <QFile>
#include <QNetworkProxy>
#include <QSemaphore>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace quodra;

namespace {

constexpr quint16 kEchoTcpPort = 9770;
constexpr quint16 kEchoUdpPort = 30315;
constexpr int kRoundTrips = 3; // status, values, outputs

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// A device as the bench polls it: 12 channels (plain, one power, one duration; no reference
// channels, so the values exchange is one round trip), alarms, custom alarms and three outputs.
// 12 entries keep the values reply within the 100 bytes a UDP datagram may carry.
sim::DeviceDescription benchDevice(const QString& address)
{
    sim::DeviceDescription d;
    d.address = address;
    d.type = QStringLiteral("Quodra IO");
    d.description = QStringLiteral("Bench");
    d.alarmsInUse = 0xFF;
    d.alarms = 0x05;
    d.valueAlarms = 0x0002;
    d.customAlarmsInUse = 0x0003;
    d.customAlarms = 0x1;
    for (int k = 0; k < 12; ++k) {
        sim::SimChannel c;
        c.channel = k;
        c.kind = k == 10 ? 4 : k == 11 ? 8 : 0;
        c.value = k == 11 ? 98410 : 20.0 + k * 1.25;
        d.channels.append(c);
    }
    d.outputs[0] = {true, 1, false, QStringLiteral("A")};
    d.outputs[2] = {true, 2, true, QStringLiteral("B")};
    d.outputs[5] = {true, 1, true, QStringLiteral("C")};
    return d;
}

// The console's transport alone: per device one FrameExchange doing what a status query does on
// the wire (open, G S, G V, G R, close), with no record handling.
bool exchangePass(const QStringList& addresses, core::Transport t, QString* error)
{
    for (const QString& address : addresses) {
        core::Tkonfig k{};
        k.ipAddress.setText(address);
        comm::FrameExchange ex(k, t, comm::ExchangeTimeouts{}, nullptr);
        const bool ok =
            ex.openSelected() && ex.request('G', 'S') && ex.request('G', 'V') && ex.request('G', 'R');
        ex.closeTcp();
        if (!ok) {
            *error =
                address + QStringLiteral(": ") + (ex.lastError.isEmpty() ? ex.openError() : ex.lastError);
            return false;
        }
    }
    return true;
}

struct Options {
    int reps = 5;
    int devices = 255;
    bool tcp = true;
    bool udp = true;
    bool breakdown = false;
    bool noProxy = false;
    int simThreads = 1;
};

bool parseOptions(const QStringList& args, Options& o)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const QString next = i + 1 < args.size() ? args[i + 1] : QString();
        bool ok = true;
        if (a == QLatin1String("--reps")) {
            o.reps = next.toInt(&ok);
            ok = ok && o.reps > 0;
            ++i;
        } else if (a == QLatin1String("--devices")) {
            o.devices = next.toInt(&ok);
            ok = ok && o.devices > 0 && o.devices <= 255;
            ++i;
        } else if (a == QLatin1String("--transport")) {
            o.tcp = next == QLatin1String("tcp") || next == QLatin1String("both");
            o.udp = next == QLatin1String("udp") || next == QLatin1String("both");
            ok = o.tcp || o.udp;
            ++i;
        } else if (a == QLatin1String("--sim-threads")) {
            o.simThreads = next.toInt(&ok);
            ok = ok && o.simThreads > 0 && o.simThreads <= 64;
            ++i;
        } else if (a == QLatin1String("--no-proxy")) {
            o.noProxy = true;
        } else if (a == QLatin1String("--breakdown")) {
            o.breakdown = true;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "usage: bench_poll [--reps N] [--devices 1..255] [--transport tcp|udp|both] "
                                 "[--breakdown] [--no-proxy] [--sim-threads N]\n");
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    Options opt;
    if (!parseOptions(QCoreApplication::arguments().mid(1), opt))
        return 1;

    if (opt.noProxy)
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);

    QStringList addresses;
    QList<sim::DeviceDescription> devices;
    for (int i = 1; i <= opt.devices; ++i) {
        addresses.append(QStringLiteral("127.0.100.%1").arg(i));
        devices.append(benchDevice(addresses.last()));
    }
    QString error;
    std::vector<std::unique_ptr<sim::SimFleet>> fleets;
    for (int f = 0; f < opt.simThreads; ++f) {
        QList<sim::DeviceDescription> share;
        for (qsizetype i = f; i < devices.size(); i += opt.simThreads)
            share.append(devices[i]);
        if (share.isEmpty())
            break;
        fleets.push_back(std::make_unique<sim::SimFleet>(share, 0));
        if (!fleets.back()->start(&error)) {
            std::fprintf(stderr, "bench_poll: simulator: %s\n", qPrintable(error));
            return 1;
        }
    }
    bench::EchoServer echo(addresses, kEchoTcpPort, kEchoUdpPort);
    if (!echo.start(&error)) {
        std::fprintf(stderr, "bench_poll: echo server: %s\n", qPrintable(error));
        return 1;
    }

    // The console side: table, options, logs in a temporary directory, the link and the poll thread.
    QTemporaryDir logDir;
    core::DeviceTable table;
    core::ConsoleOptions options;
    options.setOutputsUsed(true);
    options.setCustomAlarmsUsed(true);
    options.setPingFirst(false);
    logs::EventLog eventLog(table);
    eventLog.setDirectory(logDir.path() + QLatin1Char('/'));
    eventLog.setEnabled(true);
    logs::BinaryLogs binaryLogs(table);
    binaryLogs.setDirectory(logDir.path() + QLatin1Char('/'));
    comm::DeviceLink link(table, options, eventLog, binaryLogs);
    for (int i = 1; i <= opt.devices; ++i) {
        table.InsertDevice(quint8(i));
        table.modify(quint8(i), [&](core::Tkonfig& k, core::Tstav&) {
            k.ipAddress.setText(addresses[i - 1]);
            k.pollEnabled = 1;
            k.textsLoaded = 1;
            k.stateLogEnabled = 1;
            k.valueLogMask = 0;
        });
    }
    core::PollCycle cycle;
    comm::PollThread poller(table, cycle, link);
    QSemaphore passDone;
    QObject::connect(
        &poller, &comm::PollThread::passFinished, &poller, [&passDone] { passDone.release(); },
        Qt::DirectConnection);
    poller.start();

    using Clock = std::chrono::steady_clock;
    auto perDeviceUs = [&](Clock::time_point from) {
        return std::chrono::duration<double, std::micro>(Clock::now() - from).count() / opt.devices;
    };
    // One pass of the poll thread; -1 when a device did not answer.
    auto pollPass = [&](core::Transport t) -> double {
        options.setProtocol(t);
        const auto start = Clock::now();
        cycle.pollRequest.store(true);
        poller.wake();
        passDone.acquire();
        const double us = perDeviceUs(start);
        for (int i = 1; i <= opt.devices; ++i) {
            if (table.stav(quint8(i)).commState != core::CommAnswered) {
                std::fprintf(stderr, "bench_poll: device %s did not answer\n", qPrintable(addresses[i - 1]));
                return -1;
            }
        }
        return us;
    };
    auto floorPass = [&](core::Transport t) -> double {
        const auto start = Clock::now();
        const bool ok = t == core::Transport::Tcp
                            ? bench::tcpFloorPass(addresses, kEchoTcpPort, kRoundTrips, &error)
                            : bench::udpFloorPass(addresses, kEchoUdpPort, kRoundTrips, &error);
        if (!ok) {
            std::fprintf(stderr, "bench_poll: floor: %s\n", qPrintable(error));
            return -1;
        }
        return perDeviceUs(start);
    };

    // A measurement: microseconds per device, -1 on failure.
    using Measure = std::function<double(core::Transport)>;
    auto plainToSim = [&](core::Transport t) -> double {
        const auto start = Clock::now();
        const bool ok = t == core::Transport::Tcp
                            ? bench::tcpFloorPass(addresses, sim::kDefaultTcpPort, kRoundTrips, &error)
                            : bench::udpFloorPass(addresses, sim::kUdpPort, kRoundTrips, &error);
        if (!ok) {
            std::fprintf(stderr, "bench_poll: plain client to simulator: %s\n", qPrintable(error));
            return -1;
        }
        return perDeviceUs(start);
    };
    auto exchangeTo = [&](const QStringList& targets) {
        return [&, targets](core::Transport t) -> double {
            const auto start = Clock::now();
            if (!exchangePass(targets, t, &error)) {
                std::fprintf(stderr, "bench_poll: transport: %s\n", qPrintable(error));
                return -1;
            }
            return perDeviceUs(start);
        };
    };
    QStringList echoDeviceAddresses;
    for (int i = 1; i <= opt.devices; ++i)
        echoDeviceAddresses.append(QStringLiteral("127.0.101.%1").arg(i));
    std::unique_ptr<bench::EchoServer> echoOnDevicePorts;
    if (opt.breakdown) {
        echoOnDevicePorts =
            std::make_unique<bench::EchoServer>(echoDeviceAddresses, sim::kDefaultTcpPort, sim::kUdpPort);
        if (!echoOnDevicePorts->start(&error)) {
            std::fprintf(stderr, "bench_poll: echo server: %s\n", qPrintable(error));
            return 1;
        }
    }

    struct Column {
        const char* name;
        Measure measure;
    };
    std::vector<Column> columns = {{"floor: plain client, echo", floorPass}};
    if (opt.breakdown) {
        columns.push_back({"plain client, simulator", plainToSim});
        columns.push_back({"FrameExchange, echo", exchangeTo(echoDeviceAddresses)});
        columns.push_back({"FrameExchange, simulator", exchangeTo(addresses)});
        columns.push_back({"QueryStatus loop, simulator", [&](core::Transport t) -> double {
                               options.setProtocol(t);
                               const auto start = Clock::now();
                               for (int i = 1; i <= opt.devices; ++i)
                                   link.QueryStatus(quint8(i), false);
                               return perDeviceUs(start);
                           }});
    }
    columns.push_back({"poll pass (QueryStatus), simulator", pollPass});

    struct Row {
        core::Transport transport;
        const char* name;
        std::vector<std::vector<double>> us; // per column, per repetition
    };
    std::vector<Row> rows;
    if (opt.tcp)
        rows.push_back({core::Transport::Tcp, "TCP", std::vector<std::vector<double>>(columns.size())});
    if (opt.udp)
        rows.push_back({core::Transport::Udp, "UDP", std::vector<std::vector<double>>(columns.size())});

    int exitCode = 0;
    // Warm-up: the first pass records the devices' first state; later passes find no change.
    for (Row& r : rows)
        for (const Column& c : columns)
            if (c.measure(r.transport) < 0)
                exitCode = 1;
    for (int rep = 0; rep < opt.reps && exitCode == 0; ++rep) {
        for (Row& r : rows) {
            for (std::size_t c = 0; c < columns.size() && exitCode == 0; ++c) {
                const double us = columns[c].measure(r.transport);
                if (us < 0)
                    exitCode = 1;
                r.us[c].push_back(us);
            }
        }
    }
    poller.stop();
    poller.wait();
    if (exitCode != 0)
        return exitCode;

    QFile events(eventLog.filePath());
    if (events.open(QIODevice::ReadOnly) && events.readAll().contains("<ERROR>")) {
        std::fprintf(stderr, "bench_poll: the event log holds exchange errors\n");
        return 1;
    }

    std::printf("poll pass over %d devices (%d simulator thread%s), %d repetitions, medians in microseconds "
                "per device (ratio: to the floor of the same repetition)\n\n",
                opt.devices, int(fleets.size()), fleets.size() == 1 ? "" : "s", opt.reps);
    for (const Row& r : rows) {
        std::printf("| %s | us/device | ratio to floor |\n|---|---:|---:|\n", r.name);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            std::vector<double> ratio;
            for (std::size_t i = 0; i < r.us[c].size(); ++i)
                ratio.push_back(r.us[c][i] / r.us[0][i]);
            std::printf("| %s | %.1f | %.2f |\n", columns[c].name, median(r.us[c]), median(ratio));
        }
        std::printf("\n");
    }
    return 0;
}
