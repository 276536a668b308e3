// The device link against the simulator on loopback: full queries, texts, values, change
// detection with its logs, outputs and switching, and the table reordered during a query.

#include "comm_fixture.h"

#include <QLocale>
#include <QThread>

#include <cstring>
#include <thread>

using namespace quodra;
using quodra::test::CommTest;
using quodra::test::richDevice;

namespace {

QString localNumber(const char* cText)
{
    QString text = QString::fromLatin1(cText);
    return text.replace(QLatin1Char('.'), QLocale::system().decimalPoint());
}

QString durationOf(float value)
{
    unsigned char b[4];
    std::memcpy(b, &value, 4);
    return QStringLiteral("%1d %2:%3:%4").arg(b[3]).arg(b[2]).arg(b[1]).arg(b[0]);
}

struct TransportCase {
    const char* name;
    core::Transport transport;
    QString address;
};

class FullQuery : public CommTest, public ::testing::WithParamInterface<TransportCase> {};

} // namespace

TEST_P(FullQuery, ReadsEverythingOfTheDevice)
{
    const TransportCase& tc = GetParam();
    startFleet({richDevice(tc.address)});
    options.setProtocol(tc.transport);
    options.setValueDecimals(0, 3);
    options.setValueDecimals(4, 0);
    const quint8 n = addDevice(tc.address);
    const core::DeviceId id = table.idOf(n);

    link.QueryStatus(n, true);

    const core::Tkonfig k = table.konfig(n);
    const core::Tstav s = table.stav(n);
    EXPECT_EQ(k.textsLoaded, 1);
    EXPECT_EQ(k.popis.text(), QStringLiteral("Kotelna"));
    EXPECT_EQ(k.typ.text(), QStringLiteral("Quodra IO"));
    EXPECT_EQ(k.deviceVariant, 1);
    EXPECT_EQ(k.alarmsInUse, 0x3F);
    EXPECT_EQ(+k.valuesInUse, 0x003F);
    EXPECT_EQ(s.alarms, 5);
    EXPECT_EQ(s.valueAlarms, 0x0002);
    EXPECT_EQ(s.errors, 0x0004);
    EXPECT_EQ(s.customAlarms, 0x3u);
    EXPECT_EQ(s.alarmsChanged, 5);
    EXPECT_EQ(s.commState, core::CommAnswered);

    // Values: decimals with the system's separator, power, duration and the two reference kinds.
    EXPECT_EQ(s.valueText[0], localNumber("23.456"));
    EXPECT_EQ(s.valueText[1], localNumber("1.5"));
    EXPECT_EQ(s.valueText[2], QStringLiteral("1d 3:20:10"));
    EXPECT_EQ(s.valueText[3], durationOf(s.value[3])); // refers to channel 2, a duration
    EXPECT_EQ(s.valueText[4], QStringLiteral("2"));    // refers to channel 0, a number; 0 decimals
    EXPECT_EQ(s.valueText[5], localNumber("3.9"));     // refers to a channel not in the reply
    EXPECT_FLOAT_EQ(s.value[0], 23.456f);
    EXPECT_EQ(+k.powerMask, 0x0002);
    EXPECT_EQ(+k.timeMask, 0x000C);

    // Outputs: entries for 0 and 3 only; the others read as absent and off.
    EXPECT_EQ(k.outputMode[0], 1);
    EXPECT_EQ(k.outputMode[3], 2);
    EXPECT_EQ(s.outputState[0], 0);
    EXPECT_EQ(s.outputState[3], 1);
    for (int i : {1, 2, 4, 5}) {
        EXPECT_EQ(k.outputMode[i], 0) << i;
        EXPECT_EQ(s.outputState[std::size_t(i)], 0) << i;
    }

    // The status, values and outputs reads went over the chosen transport; the texts over TCP.
    const bool udp = tc.transport == core::Transport::Udp;
    const sim::SimReceived r = fleet->received(tc.address);
    EXPECT_EQ(r.count("GS", udp ? 1 : 0), 1);
    EXPECT_EQ(r.count("GV", udp ? 1 : 0), 1);
    EXPECT_EQ(r.count("GR", udp ? 1 : 0), 1);
    EXPECT_EQ(r.count("XR", 1), udp ? 3 : 0); // the three reference reads
    EXPECT_EQ(r.registerReads().count(412 + 7 * 3), 1);
    EXPECT_EQ(r.registerReads().count(412 + 7 * 4), 1);
    EXPECT_EQ(r.registerReads().count(412 + 7 * 5), 1);

    // Marks: light blue first, green at the end, never red; the hourglass is off again.
    ASSERT_FALSE(observer.marks.empty());
    EXPECT_EQ(observer.marks.front(), std::make_pair(id, comm::GridMark::Running));
    EXPECT_EQ(observer.marks.back(), std::make_pair(id, comm::GridMark::Answered));
    for (const auto& m : observer.marks)
        EXPECT_NE(m.second, comm::GridMark::Failed);
    EXPECT_EQ(observer.busy, 0);
    EXPECT_GT(observer.busyCalls, 0);

    // The four changed groups were logged in order, then one state-log record of code 0.
    const QStringList status = eventsWith(QStringLiteral("<STATUS>"));
    ASSERT_EQ(status.size(), 4) << status.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(status[0].endsWith(QStringLiteral("<STATUS> <ALARM> = 5")));
    EXPECT_TRUE(status[1].endsWith(QStringLiteral("<STATUS> <VALUE> = 2")));
    EXPECT_TRUE(status[2].endsWith(QStringLiteral("<STATUS> <ERROR> = 4")));
    EXPECT_TRUE(status[3].endsWith(QStringLiteral("<STATUS> <CALARM> = 3")));
    for (const QString& line : status)
        EXPECT_TRUE(line.contains(tc.address + QLatin1Char(' '))) << line.toStdString();
    const auto records = stateLog(n);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].code, logs::slChange);
    EXPECT_EQ(records[0].alarms, 5);
    EXPECT_EQ(records[0].outputs, 0x08);
}

INSTANTIATE_TEST_SUITE_P(
    Transports, FullQuery,
    ::testing::Values(TransportCase{"Tcp", core::Transport::Tcp, QStringLiteral("127.0.2.1")},
                      TransportCase{"Udp", core::Transport::Udp, QStringLiteral("127.0.2.2")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommTest, TextsReadEveryRegisterRowAndCustomNamesByMask)
{
    const QString address = QStringLiteral("127.0.2.3");
    auto d = richDevice(address, 9761);
    d.description = QStringLiteral("Popis přesně dvacet šest!!"); // 26 characters, no zero byte
    d.type = QStringLiteral("Typ o šestnácti!");                  // 16 characters: 15 are kept
    startFleet({d});
    const quint8 n = addDevice(address, 9761);

    link.ReadDeviceTexts(n);

    const core::Tkonfig k = table.konfig(n);
    EXPECT_EQ(k.textsLoaded, 1);
    EXPECT_EQ(k.popis.text(), QStringLiteral("Popis přesně dvacet šest!!"));
    EXPECT_EQ(k.typ.text(), QStringLiteral("Typ o šestnácti"));
    EXPECT_EQ(k.alarmOffText[7].text(), QStringLiteral("Klid 7"));
    EXPECT_EQ(k.alarmOnText[0].text(), QStringLiteral("Poplach 0"));
    EXPECT_EQ(k.valueName[1].text(), QStringLiteral("Příkon"));
    EXPECT_EQ(k.valueUnit[0].text(), QStringLiteral("°C"));
    EXPECT_EQ(k.outputName[0].text(), QStringLiteral("Čerpadlo"));
    EXPECT_EQ(k.outputName[3].text(), QStringLiteral("Ventil"));
    EXPECT_EQ(+k.customAlarmsInUse, 0x0005u);
    EXPECT_EQ(k.customAlarmName[0].text(), QStringLiteral("Přetlak"));
    EXPECT_TRUE(k.customAlarmName[1].isEmpty()); // not in the mask: not read
    EXPECT_EQ(k.customAlarmName[2].text(), QStringLiteral("Únik"));

    // Rows 1..8 in order, then the names of custom alarms 0 and 2 only.
    const QList<int> reads = fleet->received(address).registerReads();
    QList<int> expected;
    for (int i = 0; i < 8; ++i)
        expected << 626 + 30 * i;
    for (int i = 0; i < 8; ++i)
        expected << 866 + 30 * i;
    for (int i = 0; i < 16; ++i)
        expected << 1106 + 30 * i;
    expected << 526 << 91 << 2026 << 2501 << 2781;
    ASSERT_EQ(reads.size(), expected.size() + 2);
    EXPECT_EQ(reads.mid(0, expected.size()), expected);
    EXPECT_EQ(fleet->received(address).count("XR", 0), reads.size()); // texts always over TCP

    // Each name is read at the address and with the count of its own table entry.
    comm::FrameExchange ex(k, core::Transport::Tcp, link.timeouts, nullptr);
    ASSERT_TRUE(ex.openTcp());
    ASSERT_TRUE(ex.request('X', 'R', 0, QByteArray("\xDD\x0A\x50", 3))); // 80 bytes from 2781
    const QByteArray nameTable = ex.frameBuffer.data;
    ASSERT_EQ(nameTable.size(), 80);
    QList<QByteArray> nameReads;
    for (const sim::SimRequest& r : fleet->received(address).requests)
        if (r.command == "XR")
            nameReads << r.data;
    nameReads = nameReads.mid(expected.size(), 2);
    ASSERT_EQ(nameReads.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const int entry = 5 * (2 * i); // custom alarms 0 and 2
        EXPECT_EQ(nameReads[i], nameTable.mid(entry, 2) + nameTable.mid(entry + 3, 1)) << i;
    }

    // Memo: every alarm text, value name and unit as one line.
    EXPECT_EQ(observer.memo.size(), 8 + 8 + 16 + 16);
    EXPECT_TRUE(observer.memo.contains(QStringLiteral("Poplach 3")));
    EXPECT_EQ(observer.busy, 0);
}

TEST_F(CommTest, TextsWithoutCustomAlarmsOrOutputsSkipThoseRows)
{
    const QString address = QStringLiteral("127.0.2.4");
    startFleet({richDevice(address)});
    options.setCustomAlarmsUsed(false);
    options.setOutputsUsed(false);
    const quint8 n = addDevice(address);

    link.ReadDeviceTexts(n);

    EXPECT_EQ(table.konfig(n).textsLoaded, 1);
    EXPECT_EQ(+table.konfig(n).customAlarmsInUse, 0u);
    const QList<int> reads = fleet->received(address).registerReads();
    EXPECT_FALSE(reads.contains(2026));
    EXPECT_FALSE(reads.contains(2501));
    EXPECT_FALSE(reads.contains(2781));
    EXPECT_EQ(reads.size(), 8 + 8 + 16 + 2);
}

TEST_F(CommTest, FailedTextReadLeavesTextsUnloadedAndTheQueryGoesOn)
{
    const QString address = QStringLiteral("127.0.2.5");
    startFleet({richDevice(address)});
    shortTimeouts();
    options.setProtocol(core::Transport::Udp);
    fleet->setMisbehaviour(address, sim::Misbehaviour::CloseMidFrame, 0, "XR");
    const quint8 n = addDevice(address);

    link.QueryStatus(n, false);

    const core::Tkonfig k = table.konfig(n);
    EXPECT_EQ(k.textsLoaded, 0);
    EXPECT_TRUE(k.alarmOffText[0].isEmpty());
    EXPECT_TRUE(observer.memo.isEmpty());
    // The text read over TCP left its event; the status query answered anyway.
    const QStringList errors = eventsWith(QStringLiteral("<ERROR> <"));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(address + QLatin1Char(' ')));
    EXPECT_EQ(table.stav(n).commState, core::CommAnswered);
    EXPECT_EQ(table.stav(n).alarms, 5);
    // The reference reads failed too: their channels are numbers.
    EXPECT_EQ(+k.timeMask, 0x0004);

    // The next query tries the texts again.
    fleet->setMisbehaviour(address, sim::Misbehaviour::None);
    link.QueryStatus(n, false);
    EXPECT_EQ(table.konfig(n).textsLoaded, 1);
    EXPECT_EQ(+table.konfig(n).timeMask, 0x000C);
}

TEST_F(CommTest, ValueKindsFollowTheLatestReply)
{
    const QString address = QStringLiteral("127.0.2.6");
    startFleet({richDevice(address)});
    const quint8 n = addDevice(address, 0, true);
    link.QueryStatus(n, false);
    ASSERT_EQ(table.konfig(n).timeMask & 0x4, 0x4) << eventLines().join(QLatin1Char(10)).toStdString()
                                                   << observer.errors.join(QLatin1Char(10)).toStdString()
                                                   << observer.memo.join(QLatin1Char(10)).toStdString();
    ASSERT_EQ(table.konfig(n).powerMask & 0x2, 0x2);

    // The duration channel turns into a plain number, the power channel into a plain one.
    fleet->modify(address, [](sim::DeviceDescription& d) {
        d.channel(2)->kind = 0;
        d.channel(2)->value = 12.3456;
        d.channel(1)->kind = 0;
    });
    for (int decimals : {0, 1, 3}) {
        options.setValueDecimals(2, quint8(decimals));
        link.QueryStatus(n, false);
        const QString expected = decimals == 0   ? QStringLiteral("12")
                                 : decimals == 1 ? localNumber("12.3")
                                                 : localNumber("12.346");
        EXPECT_EQ(table.stav(n).valueText[2], expected) << decimals;
    }
    EXPECT_EQ(table.konfig(n).timeMask & 0x4, 0);
    EXPECT_EQ(table.konfig(n).powerMask & 0x2, 0);
    // Channel 3 refers to channel 2, which is no longer a duration.
    EXPECT_EQ(table.konfig(n).timeMask & 0x8, 0);
}

TEST_F(CommTest, ChangesAreComparedRecordedAndLogged)
{
    const QString address = QStringLiteral("127.0.2.7");
    startFleet({richDevice(address)});
    options.setOutputsUsed(false);
    const quint8 n = addDevice(address, 0, true);
    table.modify(n, [](core::Tkonfig& k, core::Tstav&) { k.valueLogMask = 0x0005; });

    link.QueryStatus(n, false);
    ASSERT_EQ(stateLog(n).size(), 1u);
    const int eventsAfterFirst = eventLines().size();

    // Same state: no event, no state record, but one more value record per logged channel.
    link.QueryStatus(n, false);
    EXPECT_EQ(eventLines().size(), eventsAfterFirst);
    EXPECT_EQ(stateLog(n).size(), 1u);
    EXPECT_EQ(valueLog(n, 0).size(), 2u);
    EXPECT_EQ(valueLog(n, 2).size(), 2u);
    EXPECT_TRUE(valueLog(n, 1).empty());
    EXPECT_FLOAT_EQ(valueLog(n, 0).back().value, 23.456f);

    // 5 -> 4: bit 0 changes; back to 5 leaves the accumulated mask alone.
    table.modify(n, [](core::Tkonfig&, core::Tstav& s) { s.alarmsChanged = 0; });
    fleet->setAlarms(address, 4);
    link.QueryStatus(n, false);
    EXPECT_EQ(table.stav(n).alarms, 4);
    EXPECT_EQ(table.stav(n).alarmsChanged, 1);
    fleet->setAlarms(address, 5);
    fleet->setErrors(address, 0);
    link.QueryStatus(n, false);
    EXPECT_EQ(table.stav(n).alarmsChanged, 1);
    EXPECT_EQ(table.stav(n).errorsChanged, 4);

    const QStringList lines = eventLines().mid(eventsAfterFirst);
    ASSERT_EQ(lines.size(), 3) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("<STATUS> <ALARM> = 4")));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("<STATUS> <ALARM> = 5")));
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral("<STATUS> <ERROR> = 0")));
    const auto records = stateLog(n);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].alarms, 4);
    EXPECT_EQ(records[2].alarms, 5);
    EXPECT_EQ(records[2].errors, 0);
    for (const auto& r : records)
        EXPECT_EQ(r.code, logs::slChange);
    EXPECT_EQ(valueLog(n, 0).size(), 4u);
}

TEST_F(CommTest, CustomAlarmsIgnoredWhenSwitchedOff)
{
    const QString address = QStringLiteral("127.0.2.8");
    startFleet({richDevice(address)});
    options.setCustomAlarmsUsed(false);
    const quint8 n = addDevice(address, 0, true);
    link.QueryStatus(n, false);
    EXPECT_EQ(table.stav(n).customAlarms, 0u);
    EXPECT_TRUE(eventsWith(QStringLiteral("<CALARM>")).isEmpty());
}

TEST_F(CommTest, OutputChangeAloneWritesAStateRecord)
{
    const QString address = QStringLiteral("127.0.2.9");
    startFleet({richDevice(address)});
    const quint8 n = addDevice(address, 0, true);
    link.QueryStatus(n, false);
    ASSERT_EQ(stateLog(n).size(), 1u);
    fleet->setOutput(address, 0, true);
    link.QueryStatus(n, false);
    const auto records = stateLog(n);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].code, logs::slChange);
    EXPECT_EQ(records[1].outputs, 0x09);
}

// The first answer after a failure writes code 4 even when no group and no output changed, with
// the outputs read in the same query.
TEST_F(CommTest, FirstAnswerAfterAFailureWritesCode4EvenWithoutAChange)
{
    const QString address = QStringLiteral("127.0.2.10");
    sim::DeviceDescription quiet = richDevice(address);
    quiet.alarms = 0;
    quiet.valueAlarms = 0;
    quiet.errors = 0;
    quiet.customAlarms = 0;
    startFleet({quiet});
    shortTimeouts();
    ASSERT_TRUE(options.outputsUsed());
    const quint8 n = addDevice(address, 0, true);
    link.QueryStatus(n, false);
    ASSERT_EQ(stateLog(n).size(), 1u); // output 3 came on
    link.QueryStatus(n, false);
    ASSERT_EQ(stateLog(n).size(), 1u); // nothing changed, nothing written

    fleet->setMisbehaviour(address, sim::Misbehaviour::Refuse);
    link.QueryStatus(n, false);
    ASSERT_EQ(table.stav(n).commState, core::CommFailedNew);
    fleet->setMisbehaviour(address, sim::Misbehaviour::None);
    const int eventsBefore = eventLines().size();
    link.QueryStatus(n, false);

    EXPECT_EQ(table.stav(n).commState, core::CommAnswered);
    EXPECT_EQ(eventLines().size(), eventsBefore) << "no group changed";
    EXPECT_EQ(fleet->received(address).count("GR"), 3);
    const auto records = stateLog(n);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].code, logs::slCommFail);
    EXPECT_EQ(records[2].code, logs::slCommBack);
    EXPECT_EQ(records[2].outputs, 0x08);

    // Answering again is no comeback: nothing more is written.
    link.QueryStatus(n, false);
    EXPECT_EQ(stateLog(n).size(), 3u);
}

namespace {

class ScriptedLogin : public comm::OutputSwitchUi {
public:
    std::optional<comm::LoginEntry> askLogin() override
    {
        ++asked;
        return answer;
    }
    void showConstantMessage(const QString& name) override { constants << name; }
    void showErrorText(const QString& text) override { errors << text; }

    std::optional<comm::LoginEntry> answer;
    int asked = 0;
    QStringList constants;
    QStringList errors;
};

} // namespace

TEST_F(CommTest, SwitchWithAcceptedLoginTogglesAndKeepsThePassword)
{
    const QString address = QStringLiteral("127.0.3.1");
    startFleet({richDevice(address)});
    options.setProtocol(core::Transport::Udp); // login and switch still go over TCP
    const quint8 n = addDevice(address, 0, true);
    link.QueryOutputs(n, true, true);
    ASSERT_EQ(table.stav(n).outputState[0], 0);

    ScriptedLogin ui;
    ui.answer = comm::LoginEntry{QStringLiteral("admin"), QStringLiteral("heslo")};
    EXPECT_EQ(link.SwitchOutput(n, 0, ui), comm::SwitchOutcome::Switched);
    EXPECT_EQ(ui.asked, 1);
    EXPECT_EQ(table.stav(n).outputState[0], 1);
    EXPECT_EQ(table.konfig(n).loginPassword.text(), QStringLiteral("heslo"));

    // The kept password is sent again without asking; the output goes back off.
    EXPECT_EQ(link.SwitchOutput(n, 0, ui), comm::SwitchOutcome::Switched);
    EXPECT_EQ(ui.asked, 1);
    EXPECT_EQ(table.stav(n).outputState[0], 0);
    EXPECT_TRUE(ui.constants.isEmpty());

    const sim::SimReceived r = fleet->received(address);
    ASSERT_EQ(r.switches.size(), 2);
    EXPECT_TRUE(r.switches[0].on && r.switches[0].applied);
    EXPECT_FALSE(r.switches[1].on);
    EXPECT_EQ(r.count("IA", 0), 2);
    EXPECT_EQ(r.count("R1", 0), 1);
    EXPECT_EQ(r.count("R0", 0), 1);
    EXPECT_EQ(r.count("GR", 1), 3); // the outputs reads use the chosen transport
    const auto records = stateLog(n);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].code, logs::slOutputSwitch);
    EXPECT_EQ(records[0].outputs, 0x09);
    EXPECT_EQ(records[1].outputs, 0x08);
}

TEST_F(CommTest, RefusedLoginForgetsThePasswordAndSwitchesNothing)
{
    const QString address = QStringLiteral("127.0.3.2");
    startFleet({richDevice(address)});
    const quint8 n = addDevice(address, 0, true);
    ScriptedLogin ui;
    ui.answer = comm::LoginEntry{QStringLiteral("admin"), QStringLiteral("spatne")};

    EXPECT_EQ(link.SwitchOutput(n, 3, ui), comm::SwitchOutcome::LoginRefused);
    EXPECT_EQ(ui.constants, QStringList{QStringLiteral("herrp")});
    EXPECT_TRUE(table.konfig(n).loginPassword.isEmpty());
    EXPECT_EQ(table.konfig(n).loginUser.text(), QStringLiteral("admin"));
    const sim::SimReceived r = fleet->received(address);
    ASSERT_EQ(r.logins.size(), 1);
    EXPECT_EQ(r.logins[0].password, QStringLiteral("spatne"));
    EXPECT_FALSE(r.logins[0].accepted);
    // User name in bytes 0-8, password in 9-17, each ended by a zero byte and padded with zeros.
    ASSERT_EQ(r.count("IA"), 1);
    for (const sim::SimRequest& request : r.requests) {
        if (request.command == "IA") {
            EXPECT_EQ(request.data, QByteArray("admin\0\0\0\0spatne\0\0\0", 18));
        }
    }
    EXPECT_TRUE(r.switches.isEmpty());
    EXPECT_TRUE(stateLog(n).empty());

    // The next switch asks again.
    ui.answer = comm::LoginEntry{QStringLiteral("admin"), QStringLiteral("heslo")};
    EXPECT_EQ(link.SwitchOutput(n, 3, ui), comm::SwitchOutcome::Switched);
    EXPECT_EQ(ui.asked, 2);
    EXPECT_EQ(fleet->received(address).switches.size(), 1);
    ASSERT_EQ(stateLog(n).size(), 1u);
    EXPECT_EQ(stateLog(n)[0].code, logs::slOutputSwitch);
}

TEST_F(CommTest, SwitchWithoutPasswordOrConnectionSendsNothing)
{
    const QString address = QStringLiteral("127.0.3.3");
    startFleet({richDevice(address)});
    const quint8 n = addDevice(address, 0, true);
    ScriptedLogin ui;

    ui.answer = std::nullopt; // cancelled
    EXPECT_EQ(link.SwitchOutput(n, 0, ui), comm::SwitchOutcome::NoPassword);
    ui.answer = comm::LoginEntry{QStringLiteral("admin"), QString()}; // empty password
    EXPECT_EQ(link.SwitchOutput(n, 0, ui), comm::SwitchOutcome::NoPassword);
    EXPECT_EQ(fleet->received(address).tcpConnections, 0);

    ui.answer = comm::LoginEntry{QStringLiteral("admin"), QStringLiteral("heslo")};
    fleet->setMisbehaviour(address, sim::Misbehaviour::Refuse);
    EXPECT_EQ(link.SwitchOutput(n, 0, ui), comm::SwitchOutcome::ConnectFailed);
    ASSERT_EQ(ui.errors.size(), 1);
    EXPECT_FALSE(ui.errors[0].isEmpty());
    EXPECT_EQ(link.SwitchOutput(n, 9, ui), comm::SwitchOutcome::NoDevice);
}

TEST_F(CommTest, ResultsLandOnTheQueriedDeviceAfterAnInsert)
{
    const QString address = QStringLiteral("127.0.3.4");
    startFleet({richDevice(address)});
    fleet->setMisbehaviour(address, sim::Misbehaviour::Slow, 400, "GV");
    const quint8 n = addDevice(address, 0, true);
    addDevice(QStringLiteral("127.0.3.5"), 0, true);
    const core::DeviceId id = table.idOf(n);

    std::thread query([&] { link.QueryStatus(n, false); });
    QThread::msleep(150); // the query waits for its values reply now
    ASSERT_TRUE(table.InsertDevice(1));
    query.join();

    EXPECT_EQ(table.numberOf(id), 2);
    EXPECT_EQ(table.stav(2).alarms, 5);
    EXPECT_EQ(table.stav(2).commState, core::CommAnswered);
    EXPECT_EQ(table.stav(2).valueText[2], QStringLiteral("1d 3:20:10"));
    EXPECT_EQ(table.stav(1).commState, core::CommNever); // the new device got nothing
    EXPECT_EQ(table.stav(1).alarms, 0);
    EXPECT_EQ(table.stav(3).commState, core::CommNever); // nor the neighbour
    EXPECT_EQ(stateLog(2).size(), 1u);
}

TEST_F(CommTest, ResultsOfADeletedDeviceAreDropped)
{
    const QString address = QStringLiteral("127.0.3.6");
    startFleet({richDevice(address)});
    fleet->setMisbehaviour(address, sim::Misbehaviour::Slow, 400, "GV");
    addDevice(QStringLiteral("127.0.3.7"), 0, true);
    const quint8 n = addDevice(address, 0, true);

    std::thread query([&] { link.QueryStatus(n, false); });
    QThread::msleep(150);
    table.DeleteDevice(n);
    query.join();

    EXPECT_EQ(table.deviceCount(), 1);
    EXPECT_EQ(table.stav(1).commState, core::CommNever);
    EXPECT_EQ(table.stav(1).alarms, 0);
    EXPECT_TRUE(eventsWith(QStringLiteral("<STATUS>")).isEmpty());
}

TEST_F(CommTest, AnOperationWaitsUntilTheRunningOneHasEnded)
{
    const QString a = QStringLiteral("127.0.3.8");
    const QString b = QStringLiteral("127.0.3.9");
    startFleet({richDevice(a), richDevice(b)});
    fleet->setMisbehaviour(a, sim::Misbehaviour::Slow, 500, "GV");
    const quint8 na = addDevice(a, 0, true);
    const quint8 nb = addDevice(b, 0, true);

    std::thread poll([&] { link.QueryStatus(na, false); });
    QThread::msleep(100); // the poll thread's query waits for its values reply
    std::thread user([&] { link.QueryStatus(nb, true); });
    QThread::msleep(200);
    // The user's query has not sent anything while the other one runs.
    EXPECT_TRUE(fleet->received(b).requests.isEmpty());
    EXPECT_EQ(fleet->received(b).tcpConnections, 0);
    poll.join();
    user.join();
    EXPECT_EQ(table.stav(na).commState, core::CommAnswered);
    EXPECT_EQ(table.stav(nb).commState, core::CommAnswered);
    EXPECT_EQ(fleet->received(b).count("GS"), 1);
    EXPECT_TRUE(eventsWith(QStringLiteral("<ERROR> <")).isEmpty());
}
