#pragma once
// Helpers of the whole-program tests: a program directory with a prepared device list and
// settings file, the console started as a real process (offscreen, its own runtime directory so
// the single-instance lock of one test never meets another's), and waits on what it writes.

#include "core/device_list_file.h"
#include "core/device_records.h"
#include "logs/binary_logs.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <vector>

namespace quodra::e2e {

// One offscreen QApplication for the whole executable (the in-process window tests need widgets).
inline void ensureApp()
{
    static int argc = 1;
    static char name[] = "test_e2e";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv);
    }
}

// Polls `done` every 50 ms until it holds or `ms` have passed.
inline bool waitUntil(const std::function<bool()>& done, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        QCoreApplication::processEvents();
        QThread::msleep(50);
    }
    return done();
}

inline QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline core::Tkonfig device(const char* address, bool polled, bool stateLog, quint16 valueLogMask = 0)
{
    core::Tkonfig k{};
    k.ipAddress.setText(QString::fromLatin1(address));
    k.pollEnabled = polled ? 1 : 0;
    k.stateLogEnabled = stateLog ? 1 : 0;
    k.valueLogMask = valueLogMask;
    k.valuesInUse = 0xFFFF;
    k.alarmsInUse = 0xFF;
    for (auto& m : k.outputMode)
        m = 1;
    return k;
}

class Console {
public:
    Console()
    {
        ensureApp();
        m_dir = std::make_unique<QTemporaryDir>();
        m_runtime = std::make_unique<QTemporaryDir>();
    }
    ~Console()
    {
        if (m_process && m_process->state() != QProcess::NotRunning) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }

    QString dir() const { return m_dir->path(); }
    QString runtimeDir() const { return m_runtime->path(); }
    QString file(const QString& name) const { return QDir(dir()).filePath(name); }

    bool writeDevices(const std::vector<core::Tkonfig>& devices)
    {
        return core::writeDeviceList(file(core::kDeviceListFileName), devices);
    }
    bool writeIni(const QByteArray& text)
    {
        QFile f(file(QStringLiteral("Quodra_st.ini")));
        return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
    }

    // Starts quodra-st --dir DIR offscreen.
    std::unique_ptr<QProcess> launch() const
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QStringLiteral(QUODRA_ST_PATH), {QStringLiteral("--dir"), dir()});
        p->waitForStarted(5000);
        return p;
    }
    QProcess& start()
    {
        m_process = launch();
        return *m_process;
    }
    QProcess& process() { return *m_process; }

    QByteArray eventLog() const { return readAll(file(QStringLiteral("Quodra_st.log"))); }
    bool eventLogHas(const char* text) const { return eventLog().contains(text); }
    std::vector<logs::StateLogRecord> stateLog(const char* address) const
    {
        core::Tkonfig k = device(address, false, false);
        return logs::readStateLog(file(logs::stateLogFileName(k)))
            .value_or(std::vector<logs::StateLogRecord>{});
    }
    std::vector<logs::ValueLogRecord> valueLog(const char* address, int channel) const
    {
        core::Tkonfig k = device(address, false, false);
        return logs::readValueLog(file(logs::valueLogFileName(k, channel)))
            .value_or(std::vector<logs::ValueLogRecord>{});
    }

    // SIGTERM, then the exit code (-1 when it did not end in time or crashed).
    int terminate(int ms = 15000) { return signal(SIGTERM, ms); }
    // The same with another signal (SIGINT: Ctrl+C in the terminal that started it).
    int signal(int sig, int ms = 15000)
    {
        ::kill(pid_t(m_process->processId()), sig);
        if (!m_process->waitForFinished(ms))
            return -1;
        return m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_runtime;
    std::unique_ptr<QProcess> m_process;
};

} // namespace quodra::e2e
