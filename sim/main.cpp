// quodra-sim: runs the simulated devices of a description file until SIGINT or SIGTERM.
// Commands on standard input change the devices while they run (type "help").

#include "sim/sim_fleet.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace quodra::sim;

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &byte, 1);
}

// Two sockets per device and some connections: lift the soft limit of open files to the hard one.
void raiseFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

const char* const kHelp = "commands:\n"
                          "  alarm ADDR BITS | valuealarm ADDR BITS | error ADDR BITS | custom ADDR BITS\n"
                          "  value ADDR CHANNEL NUMBER | output ADDR INDEX 0|1\n"
                          "  misbehave ADDR none|refuse|silent|slow MS|close|oversized|garbage [COMMAND]\n"
                          "  show ADDR | help\n";

std::optional<Misbehaviour> misbehaviourByName(const QString& name)
{
    static const QHash<QString, Misbehaviour> names = {
        {QStringLiteral("none"), Misbehaviour::None},
        {QStringLiteral("refuse"), Misbehaviour::Refuse},
        {QStringLiteral("silent"), Misbehaviour::Silent},
        {QStringLiteral("slow"), Misbehaviour::Slow},
        {QStringLiteral("close"), Misbehaviour::CloseMidFrame},
        {QStringLiteral("oversized"), Misbehaviour::Oversized},
        {QStringLiteral("garbage"), Misbehaviour::Garbage},
    };
    const auto it = names.find(name);
    return it == names.end() ? std::nullopt : std::optional(*it);
}

// Runs one command line; returns the answer line.
QString runCommand(SimFleet& fleet, const QString& line)
{
    const QStringList w = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (w.isEmpty())
        return {};
    const QString& cmd = w[0];
    if (cmd == QLatin1String("help"))
        return QString::fromLatin1(kHelp).trimmed();
    if (w.size() < 2)
        return QStringLiteral("error: missing device address (help lists the commands)");
    const QString& addr = w[1];
    if (!fleet.device(addr))
        return QStringLiteral("error: no device %1").arg(addr);
    bool ok = w.size() >= 3;
    const auto number = [&](int i) -> qulonglong {
        bool good = false;
        const qulonglong v = i < w.size() ? w[i].toULongLong(&good, 0) : 0;
        ok = ok && good;
        return v;
    };
    bool done = false;
    if (cmd == QLatin1String("alarm")) {
        const auto v = number(2);
        done = ok && v <= 0xFF && fleet.setAlarms(addr, std::uint8_t(v));
    } else if (cmd == QLatin1String("valuealarm")) {
        const auto v = number(2);
        done = ok && v <= 0xFFFF && fleet.setValueAlarms(addr, std::uint16_t(v));
    } else if (cmd == QLatin1String("error")) {
        const auto v = number(2);
        done = ok && v <= 0xFFFF && fleet.setErrors(addr, std::uint16_t(v));
    } else if (cmd == QLatin1String("custom")) {
        const auto v = number(2);
        done = ok && v <= 0xFFFFFFFFull && fleet.setCustomAlarms(addr, std::uint32_t(v));
    } else if (cmd == QLatin1String("value") && w.size() == 4) {
        const auto channel = number(2);
        bool good = false;
        const double v = w[3].toDouble(&good);
        done = ok && good && fleet.setValue(addr, int(channel), v);
    } else if (cmd == QLatin1String("output") && w.size() == 4) {
        const auto index = number(2);
        const auto on = number(3);
        done = ok && on <= 1 && fleet.setOutput(addr, int(index), on == 1);
    } else if (cmd == QLatin1String("misbehave") && w.size() >= 3) {
        const auto m = misbehaviourByName(w[2]);
        int delay = 0;
        qsizetype next = 3;
        if (m == Misbehaviour::Slow) {
            delay = int(number(3));
            next = 4;
        }
        const QByteArray only = next < w.size() ? w[next].toLatin1().toUpper() : QByteArray();
        done = m && ok && fleet.setMisbehaviour(addr, *m, delay, only);
    } else if (cmd == QLatin1String("show")) {
        const DeviceDescription d = *fleet.device(addr);
        QString out = QStringLiteral("%1 alarms %2 valueAlarms %3 errors %4 custom %5 outputs")
                          .arg(addr)
                          .arg(d.alarms)
                          .arg(d.valueAlarms)
                          .arg(d.errors)
                          .arg(d.customAlarms);
        for (const SimOutput& o : d.outputs)
            out += o.present ? (o.on ? QStringLiteral(" 1") : QStringLiteral(" 0")) : QStringLiteral(" -");
        for (const SimChannel& c : d.channels)
            out += QStringLiteral(" | %1 %2").arg(c.channel).arg(c.value);
        return out;
    } else {
        return QStringLiteral("error: unknown command (help lists the commands)");
    }
    return done ? QStringLiteral("ok") : QStringLiteral("error: bad arguments (help lists the commands)");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quodra-sim"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated Quodra devices on loopback addresses."));
    parser.addHelpOption();
    const QCommandLineOption configOption(QStringLiteral("config"), QStringLiteral("Device description file (JSON)."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption tickOption(QStringLiteral("tick-ms"),
                                        QStringLiteral("Change period in ms (0 = none); overrides the file."),
                                        QStringLiteral("N"));
    const QCommandLineOption exampleOption(QStringLiteral("example"), QStringLiteral("Print an example file."));
    parser.addOptions({configOption, tickOption, exampleOption});
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    if (parser.isSet(exampleOption)) {
        out << QString::fromUtf8(exampleSimConfig());
        return 0;
    }
    if (!parser.isSet(configOption)) {
        err << "quodra-sim: --config FILE is required (--example prints a file to start from)\n";
        return 2;
    }
    QString error;
    auto config = loadSimConfig(parser.value(configOption), &error);
    if (!config) {
        err << "quodra-sim: " << error << "\n";
        return 2;
    }
    if (parser.isSet(tickOption)) {
        bool ok = false;
        config->tickMs = parser.value(tickOption).toInt(&ok);
        if (!ok || config->tickMs < 0) {
            err << "quodra-sim: --tick-ms needs a whole number of milliseconds\n";
            return 2;
        }
    }

    raiseFileLimit();
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) {
        err << "quodra-sim: cannot create the signal pipe\n";
        return 1;
    }
    struct sigaction action{};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });

    SimFleet fleet(*config);
    if (!fleet.start(&error)) {
        err << "quodra-sim: cannot start: " << error << "\n";
        return 1;
    }
    for (const DeviceDescription& d : config->devices)
        out << "started " << d.address << " TCP " << d.port << " UDP " << kUdpPort << "  " << d.type << "  "
            << d.description << "\n";
    out << "quodra-sim: " << config->devices.size() << " devices, tick " << config->tickMs
        << " ms; type \"help\" for commands\n";
    out.flush();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[4096];
        const auto n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) { // end of input: keep running until a signal
            input.setEnabled(false);
            return;
        }
        pending.append(buffer, n);
        qsizetype eol;
        while ((eol = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.first(eol)).trimmed();
            pending.remove(0, eol + 1);
            const QString answer = runCommand(fleet, line);
            if (!answer.isEmpty())
                out << answer << "\n";
        }
        out.flush();
    });

    const int rc = app.exec();
    fleet.stop();
    out << "quodra-sim: stopped\n";
    return rc;
}
