// Runs the real quodra-tool query against the simulator started in this process, each case on
// its own 127.0.30.x address, and reads the JSON object it prints.

#include "sim/sim_fleet.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "tool_run.h"

#include <gtest/gtest.h>

#include <bit>
#include <memory>

using namespace quodra;

namespace {

struct QueryRun : ToolRun {
    QJsonObject json; // the printed object when exit code 0
};

sim::SimChannel channel(int n, std::uint8_t kind, double value, int refersTo = 0)
{
    sim::SimChannel c;
    c.channel = n;
    c.name = QStringLiteral("Kanál %1").arg(n);
    c.unit = QStringLiteral("u%1").arg(n);
    c.kind = kind;
    c.value = value;
    c.refersTo = refersTo;
    return c;
}

// Channels 0..3 and 5 in use (4 and 6..15 are not reported): a plain number, a power channel, a
// duration, a reference to the duration and a reference to the plain number.
sim::DeviceDescription device(const QString& address, quint16 port = sim::kDefaultTcpPort)
{
    sim::DeviceDescription d;
    d.address = address;
    d.port = port;
    d.type = QStringLiteral("Quodra IO");
    d.description = QStringLiteral("Kotelna");
    d.variant = 1;
    d.alarmsInUse = 0x3F;
    d.alarms = 5;
    d.valueAlarms = 0x0002;
    d.errors = 0x0004;
    d.customAlarms = 0x80000003u;
    for (int i = 0; i < 8; ++i) {
        d.alarmOffTexts[std::size_t(i)] = QStringLiteral("Klid %1").arg(i);
        d.alarmOnTexts[std::size_t(i)] = QStringLiteral("Poplach %1").arg(i);
    }
    d.channels = {channel(0, 0, 23.456), channel(1, 4, 1.5), channel(2, 8, 98410), channel(3, 6, 5400, 2),
                  channel(5, 7, 2.5, 0)};
    d.customAlarmsInUse = 0x0005;
    d.customAlarmNames[0] = QStringLiteral("Přetlak");
    d.customAlarmNames[1] = QStringLiteral("Nečte se");
    d.customAlarmNames[2] = QStringLiteral("Únik");
    d.outputs[0] = {true, 1, false, QStringLiteral("Čerpadlo")};
    d.outputs[3] = {true, 2, true, QStringLiteral("Ventil")};
    return d;
}

class ToolQueryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(workDir.isValid()); }

    void startFleet(QList<sim::DeviceDescription> devices)
    {
        fleet = std::make_unique<sim::SimFleet>(std::move(devices));
        QString error;
        ASSERT_TRUE(fleet->start(&error)) << error.toStdString();
    }

    // Runs the tool in an empty working directory, by default in the C locale ("." as the decimal
    // separator).
    QueryRun query(const QStringList& arguments, const QString& locale = QStringLiteral("C"))
    {
        QueryRun r;
        static_cast<ToolRun&>(r) = runTool(QStringList{QStringLiteral("query")} + arguments, locale, workDir.path());
        if (r.exitCode == 0) {
            EXPECT_TRUE(r.out.endsWith('\n'));
            EXPECT_EQ(r.out.count('\n'), 1) << "one object on one line";
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(r.out, &error);
            EXPECT_TRUE(doc.isObject()) << r.out.constData() << error.errorString().toStdString();
            r.json = doc.object();
        }
        // The tool writes no logs, so nothing appears where it runs.
        EXPECT_TRUE(QDir(workDir.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        return r;
    }

    QTemporaryDir workDir;
    std::unique_ptr<sim::SimFleet> fleet;
};

float floatOfBytes(std::uint32_t littleEndian)
{
    return std::bit_cast<float>(littleEndian);
}

// Status fields and values as the simulator device above gives them; the same over both
// transports, and in neither case are texts or outputs read.
TEST_F(ToolQueryTest, StatusAndValuesOverTcpAndUdp)
{
    const QString tcp = QStringLiteral("127.0.30.1");
    const QString udp = QStringLiteral("127.0.30.2");
    startFleet({device(tcp), device(udp)});

    struct Case {
        QString address;
        QStringList arguments;
        bool overUdp;
    };
    for (const Case& c : {Case{tcp, {tcp}, false}, Case{udp, {udp, QStringLiteral("--udp")}, true}}) {
        SCOPED_TRACE(c.address.toStdString());
        const QueryRun r = query(c.arguments);
        ASSERT_EQ(r.exitCode, 0) << r.err.constData();
        const QJsonObject& o = r.json;
        EXPECT_EQ(o.value(QStringLiteral("deviceVariant")).toInt(), 1);
        EXPECT_EQ(o.value(QStringLiteral("alarmsInUse")).toInt(), 0x3F);
        EXPECT_EQ(o.value(QStringLiteral("valuesInUse")).toInt(), 0x002F);
        EXPECT_EQ(o.value(QStringLiteral("alarms")).toInt(), 5);
        EXPECT_EQ(o.value(QStringLiteral("valueAlarms")).toInt(), 2);
        EXPECT_EQ(o.value(QStringLiteral("errors")).toInt(), 4);
        EXPECT_EQ(o.value(QStringLiteral("customAlarms")).toDouble(), double(0x80000003u));
        EXPECT_TRUE(o.value(QStringLiteral("outputs")).isNull());
        EXPECT_FALSE(o.contains(QStringLiteral("valueName"))) << "texts only with --texts";

        const QJsonArray values = o.value(QStringLiteral("values")).toArray();
        ASSERT_EQ(values.size(), 16);
        struct Expected {
            int channel;
            float raw;
            const char* text;
            bool power;
            bool duration;
        };
        const Expected expected[] = {
            {0, 23.456f, "23.5", false, false},
            {1, 1.5f, "1.5", true, false},
            {2, floatOfBytes(0x0103140Au), "1d 3:20:10", false, true}, // 98410 s
            {3, floatOfBytes(0x00011E00u), "0d 1:30:0", false, true},  // refers to the duration
            {5, 2.5f, "2.5", false, false},                            // refers to a number
        };
        for (const Expected& e : expected) {
            SCOPED_TRACE(e.channel);
            const QJsonObject v = values[e.channel].toObject();
            EXPECT_EQ(float(v.value(QStringLiteral("raw")).toDouble()), e.raw);
            EXPECT_EQ(v.value(QStringLiteral("text")).toString(), QLatin1String(e.text));
            EXPECT_EQ(v.value(QStringLiteral("power")).toBool(), e.power);
            EXPECT_EQ(v.value(QStringLiteral("duration")).toBool(), e.duration);
        }
        for (int k : {4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15})
            EXPECT_TRUE(values[k].isNull()) << "channel " << k << " is not reported";

        const sim::SimReceived got = fleet->received(c.address);
        EXPECT_EQ(got.count("GS", c.overUdp ? 1 : 0), 1);
        EXPECT_EQ(got.count("GV", c.overUdp ? 1 : 0), 1);
        EXPECT_EQ(got.count("GR"), 0);
        EXPECT_EQ(got.registerReads(), (QList<int>{412 + 7 * 3, 412 + 7 * 5})) << "reference reads only";
        EXPECT_EQ(got.tcpConnections, c.overUdp ? 0 : 1);
    }
}

TEST_F(ToolQueryTest, DecimalsApplyToEveryNumberChannel)
{
    const QString address = QStringLiteral("127.0.30.3");
    startFleet({device(address)});
    struct Case {
        const char* locale;
        const char* decimals;
        const char* channel0;
        const char* channel1;
    };
    // The decimal separator is the system's: a Czech system writes a comma.
    for (const Case& c : {Case{"C", "0", "23", "2"}, Case{"C", "3", "23.456", "1.500"},
                          Case{"cs_CZ.UTF-8", "3", "23,456", "1,500"}, Case{"cs_CZ.UTF-8", "0", "23", "2"}}) {
        SCOPED_TRACE(std::string(c.locale) + " " + c.decimals);
        const QueryRun r = query({address, QStringLiteral("--decimals"), QLatin1String(c.decimals)},
                                 QLatin1String(c.locale));
        ASSERT_EQ(r.exitCode, 0) << r.err.constData();
        const QJsonArray values = r.json.value(QStringLiteral("values")).toArray();
        EXPECT_EQ(values[0].toObject().value(QStringLiteral("text")).toString(), QLatin1String(c.channel0));
        EXPECT_EQ(values[1].toObject().value(QStringLiteral("text")).toString(), QLatin1String(c.channel1));
        EXPECT_EQ(values[2].toObject().value(QStringLiteral("text")).toString(),
                  QStringLiteral("1d 3:20:10"));
    }
}

// Texts are read first (over TCP even with --udp), the custom alarm names by their mask; outputs
// report absent entries as mode 0, state 0.
TEST_F(ToolQueryTest, TextsAndOutputs)
{
    const QString address = QStringLiteral("127.0.30.4");
    startFleet({device(address, 9771)});
    const QueryRun r = query({address + QStringLiteral(":9771"), QStringLiteral("--udp"),
                              QStringLiteral("--texts"), QStringLiteral("--outputs")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QJsonObject& o = r.json;
    EXPECT_EQ(o.value(QStringLiteral("typ")).toString(), QStringLiteral("Quodra IO"));
    EXPECT_EQ(o.value(QStringLiteral("popis")).toString(), QStringLiteral("Kotelna"));
    EXPECT_EQ(o.value(QStringLiteral("alarmOnText")).toArray()[7].toString(), QStringLiteral("Poplach 7"));
    EXPECT_EQ(o.value(QStringLiteral("alarmOffText")).toArray()[0].toString(), QStringLiteral("Klid 0"));
    const QJsonArray names = o.value(QStringLiteral("valueName")).toArray();
    ASSERT_EQ(names.size(), 16);
    EXPECT_EQ(names[5].toString(), QStringLiteral("Kanál 5"));
    EXPECT_EQ(o.value(QStringLiteral("valueUnit")).toArray()[2].toString(), QStringLiteral("u2"));
    const QJsonArray outputNames = o.value(QStringLiteral("outputName")).toArray();
    EXPECT_EQ(outputNames[0].toString(), QStringLiteral("Čerpadlo"));
    EXPECT_EQ(outputNames[3].toString(), QStringLiteral("Ventil"));
    const QJsonArray custom = o.value(QStringLiteral("customAlarmName")).toArray();
    EXPECT_EQ(custom[0].toString(), QStringLiteral("Přetlak"));
    EXPECT_EQ(custom[1].toString(), QString()) << "not in the mask, not read";
    EXPECT_EQ(custom[2].toString(), QStringLiteral("Únik"));
    EXPECT_EQ(o.value(QStringLiteral("customAlarmsInUse")).toInt(), 5);

    const QJsonArray outputs = o.value(QStringLiteral("outputs")).toArray();
    ASSERT_EQ(outputs.size(), 6);
    const int modes[6] = {1, 0, 0, 2, 0, 0};
    const int states[6] = {0, 0, 0, 1, 0, 0};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(outputs[i].toObject().value(QStringLiteral("mode")).toInt(), modes[i]) << i;
        EXPECT_EQ(outputs[i].toObject().value(QStringLiteral("state")).toInt(), states[i]) << i;
    }
    const sim::SimReceived got = fleet->received(address);
    EXPECT_EQ(got.count("GS", 1), 1);
    EXPECT_EQ(got.count("GR", 1), 1);
    EXPECT_EQ(got.count("XR", 0), 8 + 8 + 16 + 2 + 1 + 2 + 2) << "texts over TCP";
}

// Every way of not getting an answer ends with exit code 2 and a message naming the device;
// nothing is printed on stdout.
TEST_F(ToolQueryTest, UnreachableDeviceAndFailedExchangesExitWithTwo)
{
    const QString midFrame = QStringLiteral("127.0.30.6");
    const QString badOutputs = QStringLiteral("127.0.30.7");
    const QString badTexts = QStringLiteral("127.0.30.8");
    startFleet({device(midFrame), device(badOutputs), device(badTexts)});
    ASSERT_TRUE(fleet->setMisbehaviour(midFrame, sim::Misbehaviour::CloseMidFrame, 0, "GV"));
    ASSERT_TRUE(fleet->setMisbehaviour(badOutputs, sim::Misbehaviour::Garbage, 0, "GR"));
    ASSERT_TRUE(fleet->setMisbehaviour(badTexts, sim::Misbehaviour::CloseMidFrame, 0, "XR"));

    struct Case {
        QStringList arguments;
        const char* named;
        const char* reason; // why, as the message gives it
    };
    const Case cases[] = {
        {{QStringLiteral("127.0.30.9")}, "127.0.30.9:9760", "refused"}, // nothing listens there
        {{QStringLiteral("127.0.30.9:9999")}, "127.0.30.9:9999", "refused"},
        {{midFrame}, "127.0.30.6:9760", "closed the connection"},
        {{midFrame, QStringLiteral("--udp")}, "127.0.30.6 (UDP", "Malformed reply datagram"},
        {{badOutputs, QStringLiteral("--outputs")}, "outputs", "outputs"},
        {{badTexts, QStringLiteral("--texts")}, "texts", "texts"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const QueryRun r = query(c.arguments);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.out.isEmpty()) << r.out.constData();
        EXPECT_TRUE(r.err.startsWith("quodra-tool: ")) << r.err.constData();
        EXPECT_TRUE(r.err.contains(c.named)) << r.err.constData();
        EXPECT_TRUE(r.err.contains(c.reason)) << r.err.constData();
    }
}

// A device that accepts the connection and never answers ends the query at the read time-out
// (5000 ms), not never.
TEST_F(ToolQueryTest, SilentDeviceEndsAtTheReadTimeout)
{
    const QString address = QStringLiteral("127.0.30.12");
    startFleet({device(address)});
    ASSERT_TRUE(fleet->setMisbehaviour(address, sim::Misbehaviour::Silent));
    QElapsedTimer clock;
    clock.start();
    const QueryRun r = query({address});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("127.0.30.12:9760")) << r.err.constData();
    EXPECT_TRUE(r.err.contains("Read timed out after 5000 ms")) << r.err.constData();
    EXPECT_GE(clock.elapsed(), 4500);
    EXPECT_EQ(fleet->received(address).count("GS"), 1);
    EXPECT_EQ(fleet->received(address).count("GV"), 0);
}

TEST_F(ToolQueryTest, BadArgumentsExitWithOneAndTheUsage)
{
    const QStringList cases[] = {
        {},
        {QStringLiteral("127.0.30.10:0")},
        {QStringLiteral("127.0.30.10:70000")},
        {QStringLiteral("127.0.30.10"), QStringLiteral("--decimals")},
        {QStringLiteral("127.0.30.10"), QStringLiteral("--decimals"), QStringLiteral("x")},
        {QStringLiteral("127.0.30.10"), QStringLiteral("--decimals"), QStringLiteral("16")},
        {QStringLiteral("127.0.30.10"), QStringLiteral("--tcp")},
        {QStringLiteral("127.0.30.10"), QStringLiteral("127.0.30.11")},
    };
    for (const QStringList& args : cases) {
        SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
        const QueryRun r = query(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.contains("usage: quodra-tool query")) << r.err.constData();
    }
}

} // namespace
