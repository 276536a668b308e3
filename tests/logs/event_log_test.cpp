#include "logs/event_log.h"

#include "core/code_page.h"
#include "core/date_time.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

using namespace quodra;
using namespace quodra::logs;

namespace {

core::Tkonfig device(const char* address, quint16 port) {
    core::Tkonfig k{};
    k.ipAddress.setText(QString::fromLatin1(address));
    k.port = port;
    return k;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Lines of the file without their CR LF; fails the test when a line lacks it.
QList<QByteArray> fileLines(const QString& path) {
    QByteArray bytes = readAll(path);
    EXPECT_TRUE(bytes.isEmpty() || bytes.endsWith("\r\n"));
    QList<QByteArray> lines = bytes.split('\n');
    lines.removeLast(); // after the last "\n"
    for (QByteArray& l : lines) {
        EXPECT_TRUE(l.endsWith('\r')) << l.constData();
        l.chop(1);
    }
    return lines;
}

struct EventLogFixture : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        log.setDirectory(dir.path() + QLatin1Char('/'));
        log.setEnabled(true);
    }
    quint8 add(const core::Tkonfig& k) {
        const quint8 n = quint8(table.deviceCount() + 1);
        EXPECT_TRUE(table.InsertDevice(n));
        table.modify(n, [&](core::Tkonfig& slot, core::Tstav&) { slot = k; });
        return n;
    }
    QString path() const { return dir.filePath(EventLog::fileName); }

    QTemporaryDir dir;
    core::DeviceTable table;
    EventLog log{table};
};

} // namespace

// The exact line with the fixed formats the program switches to (this sets them for the rest of
// this test process, which the other tests do not depend on).
TEST(EventLogLine, LayoutWithFixedFormats) {
    core::DateTimeText::useFixedFormats();
    const QDateTime when(QDate(2026, 3, 5), QTime(14, 7, 9));
    core::Tstav allCustom;
    allCustom.customAlarms = 0xFFFFFFFFu;
    struct Row {
        const char* name;
        QString devicePart;
        QString text;
        QString expected;
    } rows[] = {
        {"port 0", EventLog::devicePart(device("192.168.1.5", 0)), event::statusAlarm + QStringLiteral("5"),
         QStringLiteral("05.03.2026 14:07:09 - 192.168.1.5 <STATUS> <ALARM> = 5")},
        {"port 9760", EventLog::devicePart(device("192.168.1.5", 9760)),
         event::statusAlarm + QStringLiteral("5"),
         QStringLiteral("05.03.2026 14:07:09 - 192.168.1.5:9760 <STATUS> <ALARM> = 5")},
        {"program event", QString(), event::programStart,
         QStringLiteral("05.03.2026 14:07:09 - <PROGRAM> <START>")},
        {"empty failure text", EventLog::devicePart(device("10.0.0.1", 0)), event::exchangeError(QString()),
         QStringLiteral("05.03.2026 14:07:09 - 10.0.0.1 <ERROR> <>")},
        {"all custom alarms, unsigned", EventLog::devicePart(device("10.0.0.1", 0)),
         event::statusCustomAlarm + QString::number(allCustom.customAlarms),
         QStringLiteral("05.03.2026 14:07:09 - 10.0.0.1 <STATUS> <CALARM> = 4294967295")},
    };
    for (const Row& r : rows)
        EXPECT_EQ(EventLog::formatLine(when, r.devicePart, r.text), r.expected) << r.name;
}

// The same layouts through the file, with whatever date and time formats are current.
TEST_F(EventLogFixture, WritesOneCrLfLinePerEventWithTheDevicePart) {
    const quint8 plain = add(device("192.168.1.5", 0));
    const quint8 withPort = add(device("192.168.1.6", 9760));
    struct Row {
        quint8 device;
        QString text;
        QString afterTime;
    } rows[] = {
        {plain, event::statusAlarm + QStringLiteral("3"),
         QStringLiteral(" - 192.168.1.5 <STATUS> <ALARM> = 3")},
        {withPort, event::trapAccept, QStringLiteral(" - 192.168.1.6:9760 <TRAP> <ACCEPT>")},
        {0, event::programEnd, QStringLiteral(" - <PROGRAM> <END>")},
        {withPort, event::exchangeError(QString()), QStringLiteral(" - 192.168.1.6:9760 <ERROR> <>")},
    };
    for (const Row& r : rows) {
        const QDateTime before = QDateTime::currentDateTime();
        ASSERT_TRUE(log.WriteEventLog(r.device, r.text)) << log.lastError().toStdString();
        const QDateTime after = QDateTime::currentDateTime();
        const QString line = QString::fromLatin1(fileLines(path()).last());
        const QString atBefore = core::DateTimeText::dateAndTime(before) + r.afterTime;
        const QString atAfter = core::DateTimeText::dateAndTime(after) + r.afterTime;
        EXPECT_TRUE(line == atBefore || line == atAfter) << line.toStdString();
    }
    EXPECT_EQ(fileLines(path()).size(), 4);
}

TEST_F(EventLogFixture, ALineForAHeldRecordNamesThatDeviceNotTheTableSlot) {
    add(device("10.0.0.1", 0));
    const core::Tkonfig held = device("10.0.0.2", 9000);
    ASSERT_TRUE(log.writeForDevice(held, event::statusCommError));
    EXPECT_TRUE(fileLines(path()).last().endsWith(" - 10.0.0.2:9000 <STATUS> <C_ERR> = 1"));
}

TEST_F(EventLogFixture, DisabledWritesNoFileAtAll) {
    log.setEnabled(false);
    EXPECT_TRUE(log.WriteEventLog(0, event::programStart));
    EXPECT_TRUE(log.writeForDevice(device("10.0.0.1", 0), event::trapAccept));
    EXPECT_FALSE(QFile::exists(path()));
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

TEST_F(EventLogFixture, MissingDirectoryFailsWithAnErrorAndIsNotCreated) {
    const QString missing = dir.filePath(QStringLiteral("gone"));
    log.setDirectory(missing + QLatin1Char('/'));
    EXPECT_FALSE(log.WriteEventLog(0, event::programStart));
    EXPECT_TRUE(log.lastError().contains(missing)) << log.lastError().toStdString();
    EXPECT_FALSE(QFileInfo::exists(missing));
    // The writer keeps no state: once the directory is there, the next line is written.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("gone")));
    EXPECT_TRUE(log.WriteEventLog(0, event::programStart));
    EXPECT_EQ(fileLines(missing + QStringLiteral("/Quodra_st.log")).size(), 1);
}

TEST_F(EventLogFixture, DirectoryWithoutSeparatorStillNamesTheFileInside) {
    log.setDirectory(dir.path());
    EXPECT_EQ(log.filePath(), dir.path() + QStringLiteral("/Quodra_st.log"));
    EXPECT_TRUE(log.WriteEventLog(0, event::programStart));
    EXPECT_TRUE(QFile::exists(path()));
}

TEST_F(EventLogFixture, DeletedFileIsCreatedAgain) {
    ASSERT_TRUE(log.WriteEventLog(0, event::programStart));
    ASSERT_TRUE(log.WriteEventLog(0, event::programStart));
    ASSERT_TRUE(QFile::remove(path()));
    ASSERT_TRUE(log.WriteEventLog(0, event::programEnd));
    const auto lines = fileLines(path());
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith("<PROGRAM> <END>"));
}

TEST_F(EventLogFixture, TextIsWrittenInWindows1250) {
    const quint8 n = add(device("10.0.0.7", 0));
    ASSERT_TRUE(log.WriteEventLog(n, event::exchangeError(QStringLiteral("Spojení přerušeno, čekám"))));
    const QByteArray line = fileLines(path()).last();
    EXPECT_TRUE(line.endsWith("10.0.0.7 <ERROR> <Spojen\xED p\xF8"
                              "eru\x9A"
                              "eno, \xE8"
                              "ek\xE1m>"))
        << line.toHex().constData();
    EXPECT_TRUE(core::fromCp1250(line).endsWith(QStringLiteral("<Spojení přerušeno, čekám>")));
}

TEST_F(EventLogFixture, ConcurrentWritersKeepWholeLinesAndEachThreadsOrder) {
    constexpr int kThreads = 4;
    constexpr int kLines = 150;
    for (int t = 0; t < kThreads; ++t)
        add(device(QByteArray("10.0.1." + QByteArray::number(t + 1)).constData(), quint16(9000 + t)));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < kLines; ++i)
                EXPECT_TRUE(log.WriteEventLog(quint8(t + 1), event::statusValue + QString::number(i)));
        });
    }
    for (auto& th : threads)
        th.join();

    const auto lines = fileLines(path());
    ASSERT_EQ(lines.size(), kThreads * kLines);
    int next[kThreads] = {};
    for (const QByteArray& line : lines) {
        const int at = line.indexOf(" - 10.0.1.");
        ASSERT_GT(at, 0) << line.constData();
        const QList<QByteArray> parts =
            line.mid(at + 3).split(' '); // "10.0.1.t:900x", "<STATUS>", "<VALUE>", "=", "i"
        ASSERT_EQ(parts.size(), 5) << line.constData();
        const int t = parts[0].mid(7, 1).toInt() - 1;
        ASSERT_TRUE(t >= 0 && t < kThreads) << line.constData();
        EXPECT_EQ(parts[0], "10.0.1." + QByteArray::number(t + 1) + ":" + QByteArray::number(9000 + t));
        EXPECT_EQ(parts[4].toInt(), next[t]++) << line.constData();
    }
}
