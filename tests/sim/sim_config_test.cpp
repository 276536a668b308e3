// The description file, changes over time, binding errors and the quodra-sim program.

#include "sim_test_client.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <bit>

using namespace quodra::sim;
using namespace simtest;

TEST(SimConfig, ExampleAndDemoFilesParse)
{
    QString error;
    const auto example = parseSimConfig(exampleSimConfig(), &error);
    ASSERT_TRUE(example) << error.toStdString();
    ASSERT_EQ(example->devices.size(), 4);
    const DeviceDescription& d = example->devices[0];
    EXPECT_EQ(d.address, QStringLiteral("127.0.0.11"));
    EXPECT_EQ(d.description, QStringLiteral("Kotelna - sever"));
    EXPECT_EQ(d.alarmOnTexts[1], QStringLiteral("Zaplavení"));
    EXPECT_EQ(d.valuesInUse(), 0x000F);
    EXPECT_EQ(d.channels[2].kind, 8);
    EXPECT_EQ(d.channels[3].refersTo, 2);
    EXPECT_EQ(d.channels[1].change, ChangeMode::Walk);
    EXPECT_TRUE(d.outputs[0].present && d.outputs[0].on);
    EXPECT_FALSE(d.outputs[2].present);
    EXPECT_EQ(d.customAlarmNames[2], QStringLiteral("Únik plynu"));
    EXPECT_EQ(example->devices[3].address, QStringLiteral("127.0.3.1"));
    EXPECT_EQ(example->devices[3].description, QStringLiteral("Čidlo 3"));

    const auto demo = loadSimConfig(QStringLiteral(QUODRA_SOURCE_DIR "/sim/demo_fleet.json"), &error);
    ASSERT_TRUE(demo) << error.toStdString();
    EXPECT_GE(demo->devices.size(), 10);
}

TEST(SimConfig, FleetOfTwoHundredFiftyFiveIsOneEntry)
{
    QString error;
    const auto config = parseSimConfig(R"({"fleets":[{"count":255,"firstAddress":"127.0.1.1",
        "template":{"type":"T%n","port":9000,"channels":[{"name":"a"}]}}]})", &error);
    ASSERT_TRUE(config) << error.toStdString();
    ASSERT_EQ(config->devices.size(), 255);
    EXPECT_EQ(config->devices[0].address, QStringLiteral("127.0.1.1"));
    EXPECT_EQ(config->devices[254].address, QStringLiteral("127.0.255.1"));
    EXPECT_EQ(config->devices[254].type, QStringLiteral("T255"));
    EXPECT_EQ(config->devices[254].port, 9000);
    EXPECT_EQ(config->tickMs, 1000);
}

TEST(SimConfig, BadFilesGiveAClearError)
{
    struct Case {
        const char* name;
        const char* json;
        const char* error; // part of the message
    };
    const QList<Case> cases = {
        {"syntax", R"({"devices": [ {"address": "127.0.0.1",, } ]})", "not valid JSON at offset"},
        {"not an object", R"([1, 2])", "file: must be an object"},
        {"no address", R"({"devices":[{"type":"x"}]})", "devices[0]: has no address"},
        {"bad address", R"({"devices":[{"address":"127.0.0.300"}]})", "devices[0].address: \"127.0.0.300\" is not"},
        {"channel above 15", R"({"devices":[{"address":"127.0.0.1","channels":[{"channel":16}]}]})",
         "devices[0].channels[0].channel: must be a whole number from 0 to 15"},
        {"kind not a number", R"({"devices":[{"address":"127.0.0.1","channels":[{"kind":"x"}]}]})",
         "devices[0].channels[0].kind: must be a number"},
        {"channel twice",
         R"({"devices":[{"address":"127.0.0.1","channels":[{"channel":3},{"channel":3}]}]})",
         "devices[0].channels[1]: channel 3 appears twice"},
        {"17 channels",
         R"({"devices":[{"address":"127.0.0.1","channels":[{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{}]}]})",
         "devices[0].channels: has more than 16 entries"},
        {"unknown key", R"({"devices":[{"address":"127.0.0.1","alarm":1}]})", "devices[0].alarm: unknown key"},
        {"same address twice", R"({"devices":[{"address":"127.0.0.1"},{"address":"127.0.0.1"}]})",
         "address 127.0.0.1 is used by two devices"},
        {"ramp min above max",
         R"({"devices":[{"address":"127.0.0.1","channels":[{"change":{"mode":"ramp","min":5,"max":1}}]}]})",
         "devices[0].channels[0].change: min is above max"},
        {"bad change mode",
         R"({"devices":[{"address":"127.0.0.1","channels":[{"change":{"mode":"jump"}}]}]})",
         "change.mode: must be"},
        {"seven outputs", R"({"devices":[{"address":"127.0.0.1","outputs":[null,null,null,null,null,null,null]}]})",
         "devices[0].outputs: has more than 6 entries"},
        {"alarm bits above 255", R"({"devices":[{"address":"127.0.0.1","alarms":256}]})",
         "devices[0].alarms: must be a whole number from 0 to 255"},
        {"port 0", R"({"devices":[{"address":"127.0.0.1","port":0}]})", "devices[0].port"},
        {"text not a text", R"({"devices":[{"address":"127.0.0.1","alarmOnTexts":[1]}]})",
         "devices[0].alarmOnTexts[0]: must be a text"},
        {"fleet past 127/8", R"({"fleets":[{"count":300,"firstAddress":"127.255.0.1","template":{}}]})",
         "fleets[0].count: addresses run past"},
        {"template with address", R"({"fleets":[{"template":{"address":"127.0.0.1"}}]})",
         "fleets[0].template.address: unknown key"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        EXPECT_FALSE(parseSimConfig(QByteArray(c.json), &error));
        EXPECT_TRUE(error.contains(QString::fromUtf8(c.error))) << error.toStdString();
    }
    QString error;
    EXPECT_FALSE(loadSimConfig(QStringLiteral("/nonexistent/dir/fleet.json"), &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("/nonexistent/dir/fleet.json: "))) << error.toStdString();
}

TEST(SimTick, ValuesAndAlarmsChangeAsDescribed)
{
    DeviceDescription d;
    d.address = QStringLiteral("127.0.1.30");
    SimChannel walk;
    walk.channel = 0;
    walk.value = 20;
    walk.change = ChangeMode::Walk;
    walk.step = 5;
    walk.min = 15;
    walk.max = 25;
    walk.alarmHigh = 22;
    SimChannel ramp;
    ramp.channel = 1;
    ramp.value = 8;
    ramp.change = ChangeMode::Ramp;
    ramp.step = 1;
    ramp.min = 0;
    ramp.max = 9;
    SimChannel still;
    still.channel = 2;
    still.value = 7;
    d.channels = {walk, ramp, still};
    d.flipAlarms = 0x06;
    d.flipEveryTicks = 3;
    SimFleet fleet({d}, 0, 42); // not started: tick() drives the changes
    const QString addr = d.address;

    QList<double> rampValues;
    bool walked = false;
    for (int t = 1; t <= 30; ++t) {
        const std::uint8_t before = fleet.device(addr)->alarms;
        fleet.tick();
        const DeviceDescription now = *fleet.device(addr);
        const double w = now.channels[0].value;
        ASSERT_GE(w, 15);
        ASSERT_LE(w, 25);
        walked = walked || w != 20;
        EXPECT_EQ((now.valueAlarms & 1) != 0, w > 22) << "tick " << t;
        rampValues.append(now.channels[1].value);
        EXPECT_EQ(now.channels[2].value, 7);
        const std::uint8_t flipped = before ^ now.alarms;
        if (t % 3 == 0) {
            EXPECT_EQ(std::popcount(flipped), 1) << "tick " << t;
            EXPECT_EQ(flipped & ~0x06, 0);
        } else {
            EXPECT_EQ(flipped, 0) << "tick " << t;
        }
    }
    EXPECT_TRUE(walked);
    EXPECT_EQ(rampValues.mid(0, 4), (QList<double>{9, 0, 1, 2}));

    // A value set on command moves the limit alarm at once.
    fleet.setValue(addr, 0, 24);
    EXPECT_EQ(fleet.device(addr)->valueAlarms & 1, 1);
    fleet.setValue(addr, 0, 16);
    EXPECT_EQ(fleet.device(addr)->valueAlarms & 1, 0);
}

TEST(SimTick, TimerRunsWhileStarted)
{
    DeviceDescription d;
    d.address = QStringLiteral("127.0.1.31");
    SimChannel ramp;
    ramp.change = ChangeMode::Ramp;
    ramp.step = 1;
    ramp.max = 1000;
    d.channels = {ramp};
    SimFleet fleet({d}, 20);
    ASSERT_TRUE(fleet.start());
    for (int i = 0; i < 100 && fleet.device(d.address)->channels[0].value < 3; ++i)
        QThread::msleep(20);
    EXPECT_GE(fleet.device(d.address)->channels[0].value, 3);
    fleet.stop();
    const double stopped = fleet.device(d.address)->channels[0].value;
    QThread::msleep(100);
    EXPECT_EQ(fleet.device(d.address)->channels[0].value, stopped);
}

TEST(SimFleetStart, BindErrorsNameTheAddressAndNothingStaysBound)
{
    DeviceDescription a;
    a.address = QStringLiteral("127.0.1.32");
    DeviceDescription b;
    b.address = QStringLiteral("127.0.1.33");
    SimFleet first({a});
    ASSERT_TRUE(first.start());

    // The second fleet's second device collides: its first device must be released again.
    SimFleet second({b, a});
    QString error;
    EXPECT_FALSE(second.start(&error));
    EXPECT_FALSE(second.isRunning());
    EXPECT_TRUE(error.startsWith(QStringLiteral("127.0.1.32 TCP 9760: "))) << error.toStdString();
    SimFleet again({b});
    EXPECT_TRUE(again.start(&error)) << error.toStdString();

    DeviceDescription foreign;
    foreign.address = QStringLiteral("192.0.2.1"); // not an address of this machine
    SimFleet bad({foreign});
    EXPECT_FALSE(bad.start(&error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("192.0.2.1 TCP 9760: "))) << error.toStdString();

    // The UDP port is checked too.
    DeviceDescription c;
    c.address = QStringLiteral("127.0.1.34");
    c.port = 9761;
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(QHostAddress(c.address), kUdpPort));
    SimFleet udpTaken({c});
    EXPECT_FALSE(udpTaken.start(&error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("127.0.1.34 UDP 30305: "))) << error.toStdString();
}

TEST(SimProgram, RunsAFileTakesCommandsAndStopsOnSigterm)
{
    const QString program = QStringLiteral(QUODRA_SIM_PATH);
    QProcess example;
    example.start(program, {QStringLiteral("--example")});
    ASSERT_TRUE(example.waitForFinished(10000));
    QString error;
    EXPECT_TRUE(parseSimConfig(example.readAllStandardOutput(), &error)) << error.toStdString();

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("fleet.json"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"({"tickMs":0,"devices":[{"address":"127.0.1.40","description":"Čidlo",
                     "channels":[{"value":1.5}]},{"address":"127.0.1.41","port":9800}]})");
    }
    QProcess sim;
    sim.start(program, {QStringLiteral("--config"), path});
    ASSERT_TRUE(sim.waitForStarted(5000));
    QByteArray out;
    while (!out.contains("commands") && sim.waitForReadyRead(5000))
        out += sim.readAllStandardOutput();
    EXPECT_TRUE(out.contains("started 127.0.1.40 TCP 9760 UDP 30305")) << out.constData();
    EXPECT_TRUE(out.contains("started 127.0.1.41 TCP 9800")) << out.constData();

    sim.write("alarm 127.0.1.40 5\nmisbehave 127.0.1.41 refuse\nalarm 127.0.1.99 1\n");
    out.clear();
    while (out.count('\n') < 3 && sim.waitForReadyRead(5000))
        out += sim.readAllStandardOutput();
    EXPECT_EQ(out, "ok\nok\nerror: no device 127.0.1.99\n");

    TcpClient tcp;
    ASSERT_TRUE(tcp.connect(QStringLiteral("127.0.1.40")));
    EXPECT_EQ(std::uint8_t(dataOf(tcp.exchange(request("GS")))[6]), 5);
    TcpClient refused;
    EXPECT_FALSE(refused.connect(QStringLiteral("127.0.1.41"), 9800));

    sim.terminate(); // SIGTERM
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_TRUE(sim.readAllStandardOutput().contains("stopped"));

    QProcess broken;
    broken.start(program, {QStringLiteral("--config"), dir.filePath(QStringLiteral("missing.json"))});
    ASSERT_TRUE(broken.waitForFinished(5000));
    EXPECT_EQ(broken.exitCode(), 2);
    EXPECT_TRUE(broken.readAllStandardError().contains("missing.json"));
}
