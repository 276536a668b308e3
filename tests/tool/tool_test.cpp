// Runs the real quodra-tool on files made here and reads what it prints.

#include "core/date_time.h"
#include "core/device_list_file.h"
#include "logs/binary_logs.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "tool_run.h"

#include <gtest/gtest.h>

using namespace quodra;

namespace {

// One compact JSON object per line.
std::vector<QJsonObject> jsonLines(const QByteArray& out) {
    std::vector<QJsonObject> objects;
    QList<QByteArray> lines = out.split('\n');
    EXPECT_TRUE(lines.last().isEmpty()) << "output must end with a line end";
    lines.removeLast();
    for (const QByteArray& line : lines) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        EXPECT_TRUE(doc.isObject()) << line.constData() << " " << error.errorString().toStdString();
        EXPECT_EQ(doc.toJson(QJsonDocument::Compact), line);
        objects.push_back(doc.object());
    }
    return objects;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

template <class Record> QByteArray recordBytes(const std::vector<Record>& records) {
    return QByteArray(reinterpret_cast<const char*>(records.data()),
                      qsizetype(records.size() * sizeof(Record)));
}

double at(int h, int m, int s) {
    return core::toDateTimeNumber(QDateTime(QDate(2026, 3, 5), QTime(h, m, s)));
}

struct ToolTest : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir;
};

} // namespace

TEST_F(ToolTest, DevicesPrintsOneObjectPerDeviceWithDecodedTexts) {
    core::Tkonfig a{};
    a.ipAddress.setText(QStringLiteral("192.168.1.5"));
    a.typ.setText(QStringLiteral("QIO-8"));
    a.popis.setText(QStringLiteral("Čerpadlo šachta"));
    a.pollEnabled = 1;
    a.stateLogEnabled = 1;
    a.valuesInUse = 0x000F;
    a.alarmsInUse = 0x0F;
    a.customAlarmsInUse = 0xFFFFFFFFu;
    a.valueLogMask = 0x0003;
    a.deviceVariant = 1;
    a.loginUser.setText(QStringLiteral("admin"));
    a.loginPassword.setText(QStringLiteral("secret"));
    a.outputMode[0] = 1;
    a.outputMode[1] = 2;
    a.textsLoaded = 1;
    a.powerMask = 4;
    a.timeMask = 8;
    a.alarmOnText[0].setText(QStringLiteral("Požár"));
    a.alarmOffText[7].setText(QStringLiteral("Klid"));
    a.valueName[1].setText(QStringLiteral("Teplota"));
    a.valueUnit[1].setText(QStringLiteral("°C"));
    a.outputName[5].setText(QStringLiteral("Ventilátor"));
    a.customAlarmName[15].setText(QStringLiteral("Únik vody"));
    core::Tkonfig b{};
    b.ipAddress.setText(QStringLiteral("10.0.0.2"));
    b.port = 9760;
    b.stateLogEnabled = 2; // any value but 1 is off
    b.popis.setText(QStringLiteral("stale"));
    b.popis.clear(); // bytes after the length stay in the file but are no text
    QString error;
    ASSERT_TRUE(core::writeDeviceList(path("Quodra_st.eth"), {a, b}, &error)) << error.toStdString();

    const ToolRun r = runTool({QStringLiteral("devices"), path("Quodra_st.eth")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.err.isEmpty());
    const auto devices = jsonLines(r.out);
    ASSERT_EQ(devices.size(), 2u);

    const QJsonObject& d1 = devices[0];
    EXPECT_EQ(d1.value(QStringLiteral("number")).toInt(), 1);
    EXPECT_EQ(d1.value(QStringLiteral("ipAddress")).toString(), QStringLiteral("192.168.1.5"));
    EXPECT_EQ(d1.value(QStringLiteral("port")).toInt(), 0);
    EXPECT_EQ(d1.value(QStringLiteral("typ")).toString(), QStringLiteral("QIO-8"));
    EXPECT_EQ(d1.value(QStringLiteral("popis")).toString().toStdString(), "Čerpadlo šachta");
    EXPECT_EQ(d1.value(QStringLiteral("pollEnabled")), QJsonValue(true));
    EXPECT_EQ(d1.value(QStringLiteral("stateLogEnabled")), QJsonValue(true));
    EXPECT_EQ(d1.value(QStringLiteral("textsLoaded")), QJsonValue(true));
    EXPECT_EQ(d1.value(QStringLiteral("valuesInUse")).toInt(), 15);
    EXPECT_EQ(d1.value(QStringLiteral("alarmsInUse")).toInt(), 15);
    EXPECT_EQ(d1.value(QStringLiteral("customAlarmsInUse")).toInteger(), 4294967295LL);
    EXPECT_EQ(d1.value(QStringLiteral("valueLogMask")).toInt(), 3);
    EXPECT_EQ(d1.value(QStringLiteral("deviceVariant")).toInt(), 1);
    EXPECT_EQ(d1.value(QStringLiteral("loginUser")).toString(), QStringLiteral("admin"));
    EXPECT_FALSE(r.out.contains("secret")); // the password is never printed
    EXPECT_EQ(d1.value(QStringLiteral("outputMode")).toArray(), (QJsonArray{1, 2, 0, 0, 0, 0}));
    EXPECT_EQ(d1.value(QStringLiteral("powerMask")).toInt(), 4);
    EXPECT_EQ(d1.value(QStringLiteral("timeMask")).toInt(), 8);
    struct ArrayRow {
        const char* key;
        int size;
        int index;
        QString text;
    } arrays[] = {
        {"alarmOnText", 8, 0, QStringLiteral("Požár")},
        {"alarmOffText", 8, 7, QStringLiteral("Klid")},
        {"valueName", 16, 1, QStringLiteral("Teplota")},
        {"valueUnit", 16, 1, QStringLiteral("°C")},
        {"outputName", 6, 5, QStringLiteral("Ventilátor")},
        {"customAlarmName", 16, 15, QStringLiteral("Únik vody")},
    };
    for (const ArrayRow& row : arrays) {
        const QJsonArray array = d1.value(QString::fromLatin1(row.key)).toArray();
        ASSERT_EQ(array.size(), row.size) << row.key;
        EXPECT_EQ(array[row.index].toString().toStdString(), row.text.toStdString()) << row.key;
        EXPECT_EQ(array[row.index == 0 ? 1 : 0].toString(), QString()) << row.key;
    }

    const QJsonObject& d2 = devices[1];
    EXPECT_EQ(d2.value(QStringLiteral("number")).toInt(), 2);
    EXPECT_EQ(d2.value(QStringLiteral("port")).toInt(), 9760);
    EXPECT_EQ(d2.value(QStringLiteral("popis")).toString(), QString());
    EXPECT_EQ(d2.value(QStringLiteral("pollEnabled")), QJsonValue(false));
    EXPECT_EQ(d2.value(QStringLiteral("stateLogEnabled")), QJsonValue(false));
}

TEST_F(ToolTest, StateLogPrintsEachWholeRecord) {
    logs::StateLogRecord first{};
    first.time = at(14, 7, 9);
    first.code = logs::slStart;
    logs::StateLogRecord second{};
    second.time = at(23, 59, 58);
    second.code = logs::slChange;
    second.alarms = 0x81;
    second.valueAlarms = 0x8001;
    second.customAlarms = 0xFFFFFFFFu;
    second.errors = 0x0102;
    second.trapFlag = 1;
    second.outputs = 33;
    writeFile(path("d.slg"), recordBytes<logs::StateLogRecord>({first, second}) + QByteArray(7, '\x55'));

    const ToolRun r = runTool({QStringLiteral("statelog"), path("d.slg")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const auto records = jsonLines(r.out);
    ASSERT_EQ(records.size(), 2u); // the torn tail is not a record
    EXPECT_EQ(records[0].value(QStringLiteral("time")).toString(), QStringLiteral("2026-03-05T14:07:09"));
    EXPECT_EQ(records[0].value(QStringLiteral("code")).toInt(), 1);
    EXPECT_EQ(records[0].value(QStringLiteral("outputs")).toInt(), 0);
    const QJsonObject& s = records[1];
    EXPECT_EQ(s.value(QStringLiteral("time")).toString(), QStringLiteral("2026-03-05T23:59:58"));
    EXPECT_EQ(s.value(QStringLiteral("code")).toInt(), 0);
    EXPECT_EQ(s.value(QStringLiteral("alarms")).toInt(), 0x81);
    EXPECT_EQ(s.value(QStringLiteral("valueAlarms")).toInt(), 0x8001);
    EXPECT_EQ(s.value(QStringLiteral("customAlarms")).toInteger(), 4294967295LL);
    EXPECT_EQ(s.value(QStringLiteral("errors")).toInt(), 0x0102);
    EXPECT_EQ(s.value(QStringLiteral("trapFlag")).toInt(), 1);
    EXPECT_EQ(s.value(QStringLiteral("outputs")).toInt(), 33);
}

TEST_F(ToolTest, ValueLogPrintsTimeAndValue) {
    const std::vector<logs::ValueLogRecord> values = {
        {at(0, 0, 0), 21.5f}, {at(12, 30, 0), 0.1f}, {at(12, 31, 0), -7.0f}};
    writeFile(path("d_03.vlg"), recordBytes(values) + QByteArray(11, '\x01'));

    const ToolRun r = runTool({QStringLiteral("valuelog"), path("d_03.vlg")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const auto records = jsonLines(r.out);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].value(QStringLiteral("time")).toString(), QStringLiteral("2026-03-05T00:00:00"));
    EXPECT_EQ(records[0].value(QStringLiteral("value")).toDouble(), 21.5);
    EXPECT_EQ(records[1].value(QStringLiteral("time")).toString(), QStringLiteral("2026-03-05T12:30:00"));
    EXPECT_TRUE(r.out.contains("\"value\":0.1}"))
        << r.out.constData(); // the float as written, not 0.1000000015
    EXPECT_EQ(records[2].value(QStringLiteral("value")).toDouble(), -7.0);
}

TEST_F(ToolTest, EmptyLogPrintsNothing) {
    writeFile(path("empty.vlg"), QByteArray(5, '\0'));
    const ToolRun r = runTool({QStringLiteral("valuelog"), path("empty.vlg")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.isEmpty());
}

TEST_F(ToolTest, MissingFilesAndBadUsageExitWithOneAndAMessage) {
    const QString missing = path("missing.file");
    struct Row {
        const char* name;
        QStringList arguments;
        QByteArray errContains;
    } rows[] = {
        {"missing device list", {QStringLiteral("devices"), missing}, missing.toUtf8()},
        {"missing state log", {QStringLiteral("statelog"), missing}, missing.toUtf8()},
        {"missing value log", {QStringLiteral("valuelog"), missing}, missing.toUtf8()},
        {"directory", {QStringLiteral("statelog"), dir.path()}, dir.path().toUtf8()},
        {"no command", {}, "usage"},
        {"unknown command", {QStringLiteral("frobnicate")}, "frobnicate"},
        {"no file", {QStringLiteral("statelog")}, "usage: quodra-tool statelog"},
        {"two files", {QStringLiteral("devices"), missing, missing}, "usage: quodra-tool devices"},
    };
    for (const Row& row : rows) {
        const ToolRun r = runTool(row.arguments);
        EXPECT_EQ(r.exitCode, 1) << row.name;
        EXPECT_TRUE(r.out.isEmpty()) << row.name;
        EXPECT_TRUE(r.err.contains(row.errContains)) << row.name << ": " << r.err.constData();
    }
}

TEST_F(ToolTest, HelpListsTheCommands) {
    const ToolRun r = runTool({QStringLiteral("help")});
    EXPECT_EQ(r.exitCode, 0);
    for (const char* name : {"devices", "statelog", "valuelog"})
        EXPECT_TRUE(r.out.contains(name)) << name;
}
