#include "logs/binary_logs.h"

#include "core/date_time.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <thread>

using namespace quodra;
using namespace quodra::logs;

namespace {

core::Tkonfig device(const QString& address, quint16 port, std::uint8_t stateLog = 1) {
    core::Tkonfig k{};
    k.ipAddress.setText(address);
    k.port = port;
    k.stateLogEnabled = stateLog;
    return k;
}

// A chart stand-in that keeps every call.
struct RecordingFeed : ChartFeed {
    struct ValueCall {
        quint8 device;
        int channel;
        float value;
        double time;
    };
    void AppendStatePoints(quint8 device, const StateLogRecord& record) override {
        std::lock_guard lock(mutex);
        states.push_back({device, record});
    }
    void AppendValuePoint(quint8 device, int channel, float value, double time) override {
        std::lock_guard lock(mutex);
        values.push_back({device, channel, value, time});
    }
    std::mutex mutex;
    std::vector<std::pair<quint8, StateLogRecord>> states;
    std::vector<ValueCall> values;
};

bool sameRecord(const StateLogRecord& a, const StateLogRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

qint64 fileSize(const QString& path) {
    return QFileInfo(path).size();
}

void appendBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Append));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

struct BinaryLogsFixture : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        logs.setDirectory(dir.path() + QLatin1Char('/'));
        logs.setChartFeed(&feed);
    }
    quint8 add(const core::Tkonfig& k, const core::Tstav& s = {}) {
        const quint8 n = quint8(table.deviceCount() + 1);
        EXPECT_TRUE(table.InsertDevice(n));
        table.modify(n, [&](core::Tkonfig& slotK, core::Tstav& slotS) {
            slotK = k;
            slotS = s;
        });
        return n;
    }
    QString statePath(quint8 n) const { return dir.filePath(stateLogFileName(table.konfig(n))); }
    QString valuePath(quint8 n, int channel) const {
        return dir.filePath(valueLogFileName(table.konfig(n), channel));
    }

    QTemporaryDir dir;
    core::DeviceTable table;
    BinaryLogs logs{table};
    RecordingFeed feed;
};

} // namespace

TEST(LogFileNames, AddressPortAndChannel) {
    struct Row {
        QString address;
        quint16 port;
        int channel;
        QString stateName;
        QString valueName;
    } rows[] = {
        {QStringLiteral("192.168.1.5"), 0, 3, QStringLiteral("192_168_1_5.slg"),
         QStringLiteral("192_168_1_5_03.vlg")},
        {QStringLiteral("192.168.1.5"), 9760, 3, QStringLiteral("192_168_1_5_9760.slg"),
         QStringLiteral("192_168_1_5_9760_03.vlg")},
        {QStringLiteral("192.168.1.5"), 0, 12, QStringLiteral("192_168_1_5.slg"),
         QStringLiteral("192_168_1_5_12.vlg")},
        {QStringLiteral("192.168.1.5"), 0, 0, QStringLiteral("192_168_1_5.slg"),
         QStringLiteral("192_168_1_5_00.vlg")},
        {QStringLiteral("192.168.1.5"), 0, 15, QStringLiteral("192_168_1_5.slg"),
         QStringLiteral("192_168_1_5_15.vlg")},
        // Typed addresses that must not lead out of the log directory.
        {QStringLiteral("../x"), 0, 1, QStringLiteral("___x.slg"), QStringLiteral("___x_01.vlg")},
        {QStringLiteral("a/b"), 0, 1, QStringLiteral("a_b.slg"), QStringLiteral("a_b_01.vlg")},
        {QStringLiteral("a\\b"), 0, 1, QStringLiteral("a_b.slg"), QStringLiteral("a_b_01.vlg")},
        {QStringLiteral("\n"), 0, 1, QStringLiteral("_.slg"), QStringLiteral("__01.vlg")},
        {QStringLiteral("a\tb\x7F"), 0, 1, QStringLiteral("a_b_.slg"), QStringLiteral("a_b__01.vlg")},
        {QStringLiteral(".."), 0, 1, QStringLiteral("__.slg"), QStringLiteral("___01.vlg")},
        {QStringLiteral("."), 0, 1, QStringLiteral("_.slg"), QStringLiteral("__01.vlg")},
        {QString(), 0, 1, QStringLiteral("_.slg"), QStringLiteral("__01.vlg")},
        {QString(), 80, 1, QStringLiteral("__80.slg"), QStringLiteral("__80_01.vlg")},
    };
    const QString base = QStringLiteral("/logs/");
    for (const Row& r : rows) {
        const core::Tkonfig k = device(r.address, r.port);
        const std::string name = r.address.toStdString();
        EXPECT_EQ(stateLogFileName(k), r.stateName) << name;
        EXPECT_EQ(valueLogFileName(k, r.channel), r.valueName) << name;
        for (const QString& file : {stateLogFileName(k), valueLogFileName(k, r.channel)})
            EXPECT_EQ(QFileInfo(base + file).absolutePath(), QStringLiteral("/logs")) << name;
    }
}

TEST_F(BinaryLogsFixture, HostileAddressWritesInsideTheDirectory) {
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("logs")));
    logs.setDirectory(dir.filePath(QStringLiteral("logs")) + QLatin1Char('/'));
    const quint8 n = add(device(QStringLiteral("../escaped"), 0));
    ASSERT_TRUE(logs.WriteStateLog(n, slChange)) << logs.lastError().toStdString();
    ASSERT_TRUE(logs.WriteValueLog(n, 2)) << logs.lastError().toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList());
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("logs"))).entryList(QDir::Files),
              (QStringList{QStringLiteral("___escaped.slg"), QStringLiteral("___escaped_02.vlg")}));
}

TEST_F(BinaryLogsFixture, RecordsCarryTheStateAndFilesGrowByWholeRecords) {
    core::Tstav s;
    s.alarms = 0x81;
    s.valueAlarms = 0x8001;
    s.customAlarms = 0xFFFFFFFFu;
    s.errors = 0x0102;
    s.trapFlag = 1;
    s.outputState = {1, 0, 0, 0, 0, 1};
    s.value[4] = 21.5f;
    const quint8 n = add(device(QStringLiteral("10.0.0.1"), 9760), s);

    const double before = core::nowDateTimeNumber();
    ASSERT_TRUE(logs.WriteStateLog(n, slChange));
    table.modify(n, [](core::Tkonfig&, core::Tstav& st) { st.trapFlag = 0; });
    ASSERT_TRUE(logs.WriteStateLog(n, slTrapAccept));
    ASSERT_TRUE(logs.WriteStateLog(n, slCommFail));
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(logs.WriteValueLog(n, 4));
    const double after = core::nowDateTimeNumber();

    EXPECT_EQ(fileSize(statePath(n)), 3 * 20);
    EXPECT_EQ(fileSize(valuePath(n, 4)), 4 * 12);

    const auto states = readStateLog(statePath(n));
    ASSERT_TRUE(states.has_value());
    ASSERT_EQ(states->size(), 3u);
    const StateLogRecord& first = (*states)[0];
    EXPECT_EQ(first.code, slChange);
    EXPECT_EQ(first.alarms, 0x81);
    EXPECT_EQ(first.valueAlarms, 0x8001);
    EXPECT_EQ(first.customAlarms, 0xFFFFFFFFu);
    EXPECT_EQ(first.errors, 0x0102);
    EXPECT_EQ(first.trapFlag, 1);
    EXPECT_EQ(first.outputs, 33); // outputs 1 and 6
    EXPECT_GE(first.time, before);
    EXPECT_LE(first.time, after);
    EXPECT_EQ((*states)[1].code, slTrapAccept);
    EXPECT_EQ((*states)[1].trapFlag, 0);

    const auto values = readValueLog(valuePath(n, 4));
    ASSERT_TRUE(values.has_value());
    ASSERT_EQ(values->size(), 4u);
    for (const ValueLogRecord& v : *values) {
        EXPECT_EQ(v.value, 21.5f);
        EXPECT_GE(v.time, before);
        EXPECT_LE(v.time, after);
    }

    // Every record went to the chart as written.
    ASSERT_EQ(feed.states.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(feed.states[i].first, n);
        EXPECT_TRUE(sameRecord(feed.states[i].second, (*states)[i]));
    }
    ASSERT_EQ(feed.values.size(), 4u);
    EXPECT_EQ(feed.values[3].device, n);
    EXPECT_EQ(feed.values[3].channel, 4);
    EXPECT_EQ(feed.values[3].value, 21.5f);
    EXPECT_EQ(feed.values[3].time, (*values)[3].time);
}

TEST_F(BinaryLogsFixture, StateLoggingOffWritesNothingAndFeedsNothing) {
    const quint8 off = add(device(QStringLiteral("10.0.0.1"), 0, 0));
    const quint8 odd = add(device(QStringLiteral("10.0.0.2"), 0, 2)); // only 1 means on
    EXPECT_TRUE(logs.WriteStateLog(off, slChange));
    EXPECT_TRUE(logs.WriteStateLog(odd, slChange));
    EXPECT_TRUE(logs.writeStateRecord(off, table.konfig(off), table.stav(off), slChange));
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    EXPECT_TRUE(feed.states.empty());
}

TEST_F(BinaryLogsFixture, DeviceZeroWritesOneZeroRecordWithOneTimeForEachLoggedDevice) {
    core::Tstav busy;
    busy.alarms = 0xFF;
    busy.trapFlag = 1;
    busy.outputState = {1, 1, 1, 1, 1, 1};
    const quint8 a = add(device(QStringLiteral("10.0.0.1"), 0), busy);
    const quint8 off = add(device(QStringLiteral("10.0.0.2"), 0, 0), busy);
    const quint8 odd = add(device(QStringLiteral("10.0.0.3"), 0, 2), busy);
    const quint8 b = add(device(QStringLiteral("10.0.0.4"), 9760), busy);

    ASSERT_TRUE(logs.WriteStateLog(0, slStart)) << logs.lastError().toStdString();

    EXPECT_FALSE(QFile::exists(statePath(off)));
    EXPECT_FALSE(QFile::exists(statePath(odd)));
    const auto ra = readStateLog(statePath(a));
    const auto rb = readStateLog(statePath(b));
    ASSERT_TRUE(ra && rb);
    ASSERT_EQ(ra->size(), 1u);
    ASSERT_EQ(rb->size(), 1u);
    StateLogRecord expected{};
    expected.time = (*ra)[0].time;
    expected.code = slStart;
    EXPECT_TRUE(sameRecord((*ra)[0], expected));
    EXPECT_TRUE(sameRecord((*rb)[0], expected)); // same time, every state field 0
    EXPECT_TRUE(feed.states.empty());            // device 0 records are not handed on
}

TEST_F(BinaryLogsFixture, DeviceZeroStopsAtTheFirstFailure) {
    const quint8 a = add(device(QStringLiteral("10.0.0.1"), 0));
    const quint8 b = add(device(QStringLiteral("10.0.0.2"), 0));
    // A directory where device a's log should be makes its append fail.
    ASSERT_TRUE(QDir(dir.path()).mkdir(stateLogFileName(table.konfig(a))));
    EXPECT_FALSE(logs.WriteStateLog(0, slEnd));
    EXPECT_TRUE(logs.lastError().contains(stateLogFileName(table.konfig(a))))
        << logs.lastError().toStdString();
    EXPECT_FALSE(QFile::exists(statePath(b)));
}

TEST_F(BinaryLogsFixture, MissingDirectoryFailsAndIsNotCreated) {
    const quint8 n = add(device(QStringLiteral("10.0.0.1"), 0));
    const QString missing = dir.filePath(QStringLiteral("gone"));
    logs.setDirectory(missing + QLatin1Char('/'));
    EXPECT_FALSE(logs.WriteStateLog(n, slChange));
    EXPECT_TRUE(logs.lastError().contains(missing));
    EXPECT_FALSE(logs.WriteValueLog(n, 0));
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_TRUE(feed.states.empty());
    EXPECT_TRUE(feed.values.empty());
}

TEST_F(BinaryLogsFixture, ChannelOutsideTheSixteenIsRefused) {
    const quint8 n = add(device(QStringLiteral("10.0.0.1"), 0));
    for (int channel : {-1, 16, 99}) {
        EXPECT_FALSE(logs.WriteValueLog(n, channel)) << channel;
        EXPECT_FALSE(logs.writeValueRecord(n, table.konfig(n), channel, 1.0f)) << channel;
    }
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

// A record cut short by an earlier failed write is cut off before the next append, so the file
// stays a whole number of records and the new record is readable at the end.
TEST_F(BinaryLogsFixture, TornRecordIsCutBackBeforeAppending) {
    core::Tstav s;
    s.alarms = 0x42;
    s.value[7] = -3.25f;
    const quint8 n = add(device(QStringLiteral("10.0.0.1"), 0), s);
    struct Row {
        const char* name;
        QString path;
        qint64 recordSize;
        int tornBytes;
        std::function<bool()> write;
    } rows[] = {
        {"state log, 7 torn bytes", statePath(n), 20, 7, [&] { return logs.WriteStateLog(n, slChange); }},
        {"state log, 19 torn bytes", statePath(n), 20, 19, [&] { return logs.WriteStateLog(n, slCommBack); }},
        {"value log, 5 torn bytes", valuePath(n, 7), 12, 5, [&] { return logs.WriteValueLog(n, 7); }},
    };
    for (const Row& r : rows) {
        ASSERT_TRUE(r.write()) << r.name;
        ASSERT_TRUE(r.write()) << r.name;
        const qint64 records = fileSize(r.path) / r.recordSize;
        appendBytes(r.path, QByteArray(r.tornBytes, '\x7F'));
        ASSERT_TRUE(r.write()) << r.name << logs.lastError().toStdString();
        EXPECT_EQ(fileSize(r.path), (records + 1) * r.recordSize) << r.name;
    }
    const auto states = readStateLog(statePath(n));
    ASSERT_TRUE(states);
    ASSERT_EQ(states->size(), 6u);
    EXPECT_EQ(states->back().code, slCommBack);
    EXPECT_EQ(states->back().alarms, 0x42);
    EXPECT_EQ((*states)[2].code, slChange); // the record after the first repair sits on a boundary
    EXPECT_EQ((*states)[2].alarms, 0x42);
    const auto values = readValueLog(valuePath(n, 7));
    ASSERT_TRUE(values);
    ASSERT_EQ(values->size(), 3u);
    EXPECT_EQ(values->back().value, -3.25f);
}

TEST_F(BinaryLogsFixture, ReadersCountWholeRecordsAndReportUnreadableFiles) {
    const quint8 n = add(device(QStringLiteral("10.0.0.1"), 0));
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(logs.WriteStateLog(n, slChange));
        ASSERT_TRUE(logs.WriteValueLog(n, 0));
    }
    appendBytes(statePath(n), QByteArray(11, '\x01'));
    appendBytes(valuePath(n, 0), QByteArray(11, '\x01'));
    EXPECT_EQ(readStateLog(statePath(n))->size(), 2u);
    EXPECT_EQ(readValueLog(valuePath(n, 0))->size(), 2u);

    const QString empty = dir.filePath(QStringLiteral("empty.slg"));
    appendBytes(empty, QByteArray());
    ASSERT_TRUE(readStateLog(empty).has_value());
    EXPECT_TRUE(readStateLog(empty)->empty());

    for (const QString& bad : {dir.filePath(QStringLiteral("missing.slg")), dir.path()}) {
        QString error;
        EXPECT_FALSE(readStateLog(bad, &error).has_value()) << bad.toStdString();
        EXPECT_TRUE(error.contains(bad)) << error.toStdString();
        error.clear();
        EXPECT_FALSE(readValueLog(bad, &error).has_value()) << bad.toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST_F(BinaryLogsFixture, ConcurrentWritersKeepEachThreadsOrderAndWholeRecords) {
    constexpr int kThreads = 4;
    constexpr int kRecords = 150;
    const quint8 n = add(device(QStringLiteral("10.0.0.1"), 0));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRecords; ++i) {
                EXPECT_TRUE(logs.writeValueRecord(n, table.konfig(n), 5, float(t * 1000 + i)));
                EXPECT_TRUE(logs.WriteStateLog(n, std::uint8_t(t)));
            }
        });
    }
    for (auto& th : threads)
        th.join();

    const auto values = readValueLog(valuePath(n, 5));
    ASSERT_TRUE(values);
    EXPECT_EQ(fileSize(valuePath(n, 5)), qint64(kThreads * kRecords * 12));
    ASSERT_EQ(values->size(), std::size_t(kThreads * kRecords));
    int next[kThreads] = {};
    double lastTime = 0;
    for (std::size_t i = 0; i < values->size(); ++i) {
        const int v = int((*values)[i].value);
        const int t = v / 1000;
        ASSERT_TRUE(t >= 0 && t < kThreads) << v;
        EXPECT_EQ(v % 1000, next[t]++);
        EXPECT_GE((*values)[i].time, lastTime); // file order is time order
        lastTime = (*values)[i].time;
        EXPECT_EQ(feed.values[i].value, (*values)[i].value); // the chart sees the file's order
    }
    EXPECT_EQ(fileSize(statePath(n)), qint64(kThreads * kRecords * 20));
}
