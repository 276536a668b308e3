#include "comm/device_link.h"

#include "comm/icmp_echo.h"
#include "logs/binary_logs.h"
#include "logs/event_log.h"

#include <QLocale>

#include <cstring>
#include <functional>
#include <type_traits>
#include <vector>

namespace quodra::comm {

namespace {

const QString kNoPingAnswer = QStringLiteral("No answer to the ping");

using core::DeviceId;
using core::Tkonfig;
using core::Tstav;

CommObserver g_silent;

// Register map of the device texts.
constexpr quint16 kAlarmOffTextAddress = 626;
constexpr quint16 kAlarmOnTextAddress = 866;
constexpr quint16 kValueTextAddress = 1106;
constexpr quint16 kTextStride = 30;
constexpr quint16 kPopisAddress = 526;
constexpr quint8 kPopisCount = 26;
constexpr quint16 kTypAddress = 91;
constexpr quint8 kTypCount = 16;
constexpr quint16 kOutputNameAddress = 2026;
constexpr quint8 kOutputNameCount = 90;
constexpr quint16 kCustomMaskAddress = 2501;
constexpr quint16 kCustomTableAddress = 2781;
constexpr quint8 kCustomTableCount = 80;
constexpr quint16 kReferenceAddress = 412;
constexpr quint16 kReferenceStride = 7;

constexpr int kValueEntrySize = 6;
constexpr quint8 kKindPower = 4;
constexpr quint8 kKindReference1 = 6;
constexpr quint8 kKindReference2 = 7;
constexpr quint8 kKindDuration = 8;

QByteArray registerRequest(quint16 address, quint8 count)
{
    QByteArray data;
    appendU16(data, address);
    data.append(char(count));
    return data;
}

// A text of the register area: from `from` up to the first zero byte, the end of the data or
// the limit, whichever comes first.
QByteArray registerText(const QByteArray& data, int from, int limit)
{
    QByteArray text;
    for (int i = from; i < data.size() && i < from + limit && data[i] != '\0'; ++i)
        text.append(data[i]);
    return text;
}

// Appends a login field: up to 8 bytes, a zero byte, zero padding to 9 bytes.
void appendLoginField(QByteArray& out, QByteArrayView bytes)
{
    const QByteArray field = bytes.first(qMin<qsizetype>(bytes.size(), 8)).toByteArray();
    out.append(field);
    out.append(QByteArray(9 - field.size(), '\0'));
}

QString durationText(const unsigned char b[4])
{
    return QString::asprintf("%dd %d:%d:%d", int(b[3]), int(b[2]), int(b[1]), int(b[0]));
}

QString numberText(float value, int decimals, const QString& point)
{
    QString text = QString::asprintf("%.*f", decimals, double(value));
    if (point != QLatin1String("."))
        text.replace(QLatin1Char('.'), point);
    return text;
}

} // namespace

DeviceLink::DeviceLink(core::DeviceTable& table, const core::ConsoleOptions& options,
                       logs::EventLog& eventLog, logs::BinaryLogs& binaryLogs, CommObserver* observer)
    : m_table(table), m_options(options), m_eventLog(eventLog), m_binaryLogs(binaryLogs), m_observer(observer)
{
}

void DeviceLink::setObserver(CommObserver* observer)
{
    m_observer.store(observer);
}

QString DeviceLink::lastFailure() const
{
    QMutexLocker lock(&m_operation);
    return m_lastFailure;
}

CommObserver& DeviceLink::obs() const
{
    CommObserver* o = m_observer.load();
    return o ? *o : g_silent;
}

std::optional<core::DeviceSnapshot> DeviceLink::snapshotOf(DeviceId id) const
{
    for (;;) {
        const quint8 n = m_table.numberOf(id);
        if (n == 0)
            return std::nullopt;
        core::DeviceSnapshot s = m_table.snapshot(n);
        if (s.id == id)
            return s;
        // The table moved between the two look-ups: look again.
    }
}

bool DeviceLink::PingDevice(const QString& address)
{
    if (!m_options.pingFirst())
        return true;
    const EchoOutcome outcome = icmpEcho(address, pingTimeoutMs);
    if (outcome.result == EchoResult::NotPermitted) {
        if (!m_pingNoticeGiven.exchange(true))
            obs().operatorNotice(
                QStringLiteral("PING: ICMP echo is not permitted here (%1); every ping answers false")
                    .arg(outcome.error));
        return false;
    }
    return outcome.result == EchoResult::Reply;
}

void DeviceLink::writeStateLog(DeviceId id, std::uint8_t code)
{
    if (const auto s = snapshotOf(id))
        m_binaryLogs.writeStateRecord(s->number, s->konfig, s->stav, code);
}

void DeviceLink::markUnreachable(DeviceId id, bool interactive, bool clearMasks, const QString& reason)
{
    m_lastFailure = reason;
    bool firstFailure = false;
    Tkonfig device{};
    const bool landed = m_table.modifyById(id, [&](Tkonfig& k, Tstav& s) {
        s.alarms = 0;
        s.valueAlarms = 0;
        s.customAlarms = 0;
        s.errors = 0;
        if (clearMasks) {
            s.alarmsChanged = 0;
            s.valueAlarmsChanged = 0;
            s.customAlarmsChanged = 0;
            s.errorsChanged = 0;
        }
        firstFailure = s.commState < 2;
        if (interactive)
            s.commState = core::CommFailed;
        else if (s.commState != core::CommFailed)
            s.commState = core::CommFailedNew;
        device = k;
    });
    if (!landed)
        return;
    if (firstFailure) {
        m_eventLog.writeForDevice(device, logs::event::statusCommError);
        writeStateLog(id, logs::slCommFail);
    }
    if (interactive)
        obs().gridMark(id, GridMark::Failed);
    obs().refreshRequested(id);
}

void DeviceLink::ReadDeviceTexts(quint8 device, bool interactive)
{
    QMutexLocker lock(&m_operation);
    if (device < 1 || device > m_table.deviceCount())
        return;
    if (interactive)
        obs().setBusy(true);
    readTextsLocked(m_table.idOf(device), interactive);
    if (interactive)
        obs().setBusy(false);
}

void DeviceLink::readTextsLocked(DeviceId id, bool interactive)
{
    auto snap = snapshotOf(id);
    if (!snap)
        return;
    Tkonfig k = snap->konfig;
    if (!PingDevice(k.ipAddress.text()))
        return;
    FrameExchange ex(k, core::Transport::Tcp, timeouts, &m_eventLog);
    if (!ex.openTcp()) {
        const QString text = ex.openError();
        if (interactive)
            obs().showError(text);
        else
            obs().memoLine(k.addressWithPort() + QStringLiteral(": ") + text);
        return;
    }

    // Every text read is applied to the copy and remembered, so that what was read lands on the
    // device even when a later read fails.
    std::vector<std::function<void(Tkonfig&)>> changes;
    auto store = [&](std::function<void(Tkonfig&)> change) {
        change(k);
        changes.push_back(std::move(change));
    };
    auto read = [&](quint16 address, quint8 count) -> std::optional<QByteArray> {
        if (!ex.request('X', 'R', 0, registerRequest(address, count)))
            return std::nullopt;
        return ex.frameBuffer.data;
    };

    const bool outputsUsed = m_options.outputsUsed();
    const bool customUsed = m_options.customAlarmsUsed();
    bool complete = [&]() -> bool {
        for (int i = 0; i < core::kAlarmCount; ++i) {
            const auto d = read(quint16(kAlarmOffTextAddress + kTextStride * i), kTextStride);
            if (!d)
                return false;
            const QByteArray t = registerText(*d, 0, 30);
            store([i, t](Tkonfig& c) { c.alarmOffText[i].setBytes(t); });
            obs().memoLine(k.alarmOffText[i].text());
        }
        for (int i = 0; i < core::kAlarmCount; ++i) {
            const auto d = read(quint16(kAlarmOnTextAddress + kTextStride * i), kTextStride);
            if (!d)
                return false;
            const QByteArray t = registerText(*d, 0, 30);
            store([i, t](Tkonfig& c) { c.alarmOnText[i].setBytes(t); });
            obs().memoLine(k.alarmOnText[i].text());
        }
        for (int i = 0; i < core::kValueCount; ++i) {
            const auto d = read(quint16(kValueTextAddress + kTextStride * i), kTextStride);
            if (!d)
                return false;
            const QByteArray name = registerText(*d, 0, 25);
            const QByteArray unit = registerText(*d, 25, 5);
            store([i, name, unit](Tkonfig& c) {
                c.valueName[i].setBytes(name);
                c.valueUnit[i].setBytes(unit);
            });
            obs().memoLine(k.valueName[i].text());
            obs().memoLine(k.valueUnit[i].text());
        }
        if (const auto d = read(kPopisAddress, kPopisCount)) {
            const QByteArray t = registerText(*d, 0, kPopisCount);
            store([t](Tkonfig& c) { c.popis.setBytes(t); });
        } else {
            return false;
        }
        if (const auto d = read(kTypAddress, kTypCount)) {
            const QByteArray t = registerText(*d, 0, 15);
            store([t](Tkonfig& c) { c.typ.setBytes(t); });
        } else {
            return false;
        }
        if (outputsUsed) {
            const auto d = read(kOutputNameAddress, kOutputNameCount);
            if (!d)
                return false;
            for (int i = 0; i < core::kOutputCount; ++i) {
                const QByteArray t = registerText(*d, 15 * i, 15);
                store([i, t](Tkonfig& c) { c.outputName[i].setBytes(t); });
            }
        }
        if (!customUsed) {
            store([](Tkonfig& c) { c.customAlarmsInUse = 0; });
            return true;
        }
        const auto maskData = read(kCustomMaskAddress, 2);
        if (!maskData)
            return false;
        const auto mask = readU16(*maskData, 0);
        if (!mask)
            return ex.rejectReply(QStringLiteral("Custom alarm mask reply too short"));
        store([m = *mask](Tkonfig& c) { c.customAlarmsInUse = m; });
        const auto table = read(kCustomTableAddress, kCustomTableCount);
        if (!table)
            return false;
        const QByteArray entries = *table;
        for (int i = 0; i < core::kCustomAlarmCount; ++i) {
            if (!(*mask & (1u << i)))
                continue;
            const auto address = readU16(entries, 5 * i);
            const auto count = readU8(entries, 5 * i + 3);
            if (!address || !count)
                return ex.rejectReply(QStringLiteral("Custom alarm table reply too short"));
            const auto d = read(*address, *count);
            if (!d)
                return false;
            const QByteArray t = registerText(*d, 0, 39);
            store([i, t](Tkonfig& c) { c.customAlarmName[i].setBytes(t); });
        }
        return true;
    }();
    ex.closeTcp();
    if (complete)
        store([](Tkonfig& c) { c.textsLoaded = 1; });
    m_table.modifyById(id, [&](Tkonfig& c, Tstav&) {
        for (const auto& change : changes)
            change(c);
    });
    if (complete)
        obs().refreshRequested(id);
}

void DeviceLink::QueryStatus(quint8 device, bool interactive)
{
    QMutexLocker lock(&m_operation);
    m_lastFailure.clear();
    if (device < 1 || device > m_table.deviceCount())
        return;
    const DeviceId id = m_table.idOf(device);
    auto snap = snapshotOf(id);
    if (!snap)
        return;
    if (interactive) {
        obs().setBusy(true);
        obs().gridMark(id, GridMark::Running);
    }
    struct BusyOff {
        CommObserver& o;
        bool on;
        ~BusyOff()
        {
            if (on)
                o.setBusy(false);
        }
    } busyOff{obs(), interactive};

    if (snap->konfig.textsLoaded == 0) {
        readTextsLocked(id, interactive);
        snap = snapshotOf(id);
        if (!snap)
            return;
    }
    const Tkonfig k = snap->konfig;
    if (!PingDevice(k.ipAddress.text())) {
        markUnreachable(id, interactive, true, kNoPingAnswer);
        return;
    }

    FrameExchange ex(k, m_options.protocol(), timeouts, &m_eventLog);
    const bool tcp = ex.protocol() == core::Transport::Tcp;
    if (!ex.openSelected()) {
        markUnreachable(id, interactive, true, ex.openError());
        return;
    }

    // Status.
    const bool customUsed = m_options.customAlarmsUsed();
    if (!ex.request('G', 'S')) {
        ex.closeTcp();
        markUnreachable(id, interactive, true, ex.lastError);
        return;
    }
    const QByteArray status = ex.frameBuffer.data;
    const auto variant = readU8(status, 3);
    const auto alarmsInUse = readU8(status, 5);
    const auto alarms = readU8(status, 6);
    const auto valuesInUse = readU16(status, 7);
    const auto errors = readU16(status, 9);
    const auto valueAlarms = readU16(status, 11);
    const auto customAlarms = customUsed ? readU32(status, 19) : std::optional<std::uint32_t>(0);
    if (!variant || !alarmsInUse || !alarms || !valuesInUse || !errors || !valueAlarms || !customAlarms) {
        ex.rejectReply(QStringLiteral("Status reply too short (%1 bytes)").arg(status.size()));
        ex.closeTcp();
        markUnreachable(id, interactive, true, ex.lastError);
        return;
    }

    // Values; the entries are kept aside because the reference reads reuse the frame buffer.
    if (!ex.request('G', 'V')) {
        ex.closeTcp();
        markUnreachable(id, interactive, true, ex.lastError);
        return;
    }
    struct Entry {
        int channel;
        quint8 kind;
        unsigned char bytes[4];
    };
    std::vector<Entry> entries;
    {
        const QByteArray data = ex.frameBuffer.data;
        const int count = qMin<int>(int(data.size() / kValueEntrySize), core::kValueCount);
        for (int i = 0; i < count; ++i) {
            Entry e{};
            e.channel = quint8(data[i * kValueEntrySize]);
            e.kind = quint8(data[i * kValueEntrySize + 1]);
            std::memcpy(e.bytes, data.constData() + i * kValueEntrySize + 2, 4);
            entries.push_back(e);
        }
    }
    quint16 powerMask = k.powerMask;
    quint16 timeMask = k.timeMask;
    struct ChannelResult {
        int channel;
        float value;
        QString text;
    };
    std::vector<ChannelResult> results;
    const QString decimalPoint = QLocale::system().decimalPoint();
    quint16 touched = 0;
    for (const Entry& e : entries) {
        if (e.channel >= core::kValueCount)
            continue; // no such channel
        const quint16 bit = quint16(1u << e.channel);
        touched = quint16(touched | bit);
        powerMask = e.kind == kKindPower ? quint16(powerMask | bit) : quint16(powerMask & ~bit);
        bool duration = e.kind == kKindDuration;
        if (e.kind == kKindReference1 || e.kind == kKindReference2) {
            if (ex.request('X', 'R', 0,
                           registerRequest(quint16(kReferenceAddress + kReferenceStride * e.channel), 1))) {
                if (const auto ref = readU8(ex.frameBuffer.data, 0)) {
                    for (const Entry& other : entries)
                        if (other.channel == *ref && other.kind == kKindDuration)
                            duration = true;
                } else {
                    ex.rejectReply(QStringLiteral("Reference reply too short"));
                }
            }
        }
        float value = 0;
        std::memcpy(&value, e.bytes, 4);
        QString text;
        if (duration) {
            timeMask = quint16(timeMask | bit);
            text = durationText(e.bytes);
        } else {
            timeMask = quint16(timeMask & ~bit);
            text = numberText(value, m_options.valueDecimals(e.channel), decimalPoint);
        }
        results.push_back({e.channel, value, text});
    }
    const bool outputsUsed = m_options.outputsUsed();
    if (tcp && !outputsUsed)
        ex.closeTcp();

    // Compare and record.
    std::vector<QString> events;
    bool changed = false;
    bool failureBefore = false;
    Tkonfig landedKonfig{};
    Tstav state;
    const bool landed = m_table.modifyById(id, [&](Tkonfig& c, Tstav& s) {
        c.deviceVariant = *variant;
        c.alarmsInUse = *alarmsInUse;
        c.valuesInUse = *valuesInUse;
        // Only the bits of the channels in this reply change.
        c.powerMask = quint16((c.powerMask & ~touched) | (powerMask & touched));
        c.timeMask = quint16((c.timeMask & ~touched) | (timeMask & touched));
        for (const ChannelResult& r : results) {
            s.value[std::size_t(r.channel)] = r.value;
            s.valueText[std::size_t(r.channel)] = r.text;
        }
        auto compare = [&](auto& current, auto& changedMask, auto fresh, const QString& event) {
            if (current == fresh)
                return;
            using T = std::remove_reference_t<decltype(current)>;
            changedMask = T(changedMask | (current ^ fresh));
            current = T(fresh);
            events.push_back(event + QString::number(quint64(fresh)));
            changed = true;
        };
        compare(s.alarms, s.alarmsChanged, *alarms, logs::event::statusAlarm);
        compare(s.valueAlarms, s.valueAlarmsChanged, *valueAlarms, logs::event::statusValue);
        compare(s.errors, s.errorsChanged, *errors, logs::event::statusError);
        compare(s.customAlarms, s.customAlarmsChanged, *customAlarms, logs::event::statusCustomAlarm);
        failureBefore = s.commState == core::CommFailedNew || s.commState == core::CommFailed;
        landedKonfig = c;
        state = s;
    });
    if (!landed)
        return; // the device was deleted meanwhile: its results go nowhere
    for (const QString& event : events)
        m_eventLog.writeForDevice(landedKonfig, event);
    const quint8 number = m_table.numberOf(id);
    for (int c = 0; c < core::kValueCount; ++c)
        if (landedKonfig.valueLogMask & (1u << c))
            m_binaryLogs.writeValueRecord(number, landedKonfig, c, state.value[std::size_t(c)]);
    if (interactive)
        obs().gridMark(id, GridMark::Answered);

    if (outputsUsed) {
        const auto before = state.outputState;
        queryOutputsLocked(&ex, id, false, interactive);
        if (const auto after = snapshotOf(id); after && after->stav.outputState != before)
            changed = true;
    }
    if (failureBefore)
        changed = true;
    if (changed)
        writeStateLog(id, failureBefore ? logs::slCommBack : logs::slChange);
    m_table.modifyById(id, [](Tkonfig&, Tstav& s) { s.commState = core::CommAnswered; });
    obs().refreshRequested(id);
}

void DeviceLink::QueryOutputs(quint8 device, bool ping, bool interactive)
{
    QMutexLocker lock(&m_operation);
    m_lastFailure.clear();
    if (device < 1 || device > m_table.deviceCount())
        return;
    if (interactive)
        obs().setBusy(true);
    queryOutputsLocked(nullptr, m_table.idOf(device), ping, interactive);
    if (interactive)
        obs().setBusy(false);
}

void DeviceLink::queryOutputsLocked(FrameExchange* open, DeviceId id, bool ping, bool interactive)
{
    const auto snap = snapshotOf(id);
    if (!snap)
        return;
    const Tkonfig& k = snap->konfig;
    if (interactive)
        obs().gridMark(id, GridMark::Running);
    if (ping && !PingDevice(k.ipAddress.text())) {
        markUnreachable(id, interactive, false, kNoPingAnswer);
        return;
    }
    std::optional<FrameExchange> own;
    FrameExchange* ex = open;
    if (!ex)
        ex = &own.emplace(k, m_options.protocol(), timeouts, &m_eventLog);
    if (!ex->openSelected()) {
        // Inside a status query the device has just answered; on its own, a refused or timed-out
        // connection means the device is unreachable.
        if (!open)
            markUnreachable(id, interactive, false, ex->openError());
        return;
    }
    const bool ok = ex->request('G', 'R');
    if (ex->protocol() == core::Transport::Tcp)
        ex->closeTcp();
    if (!ok) {
        // On its own (outputs dialog, after a switch) a failed read means the device is gone, as
        // a refused connection does; inside a status query the device has just answered.
        if (!open)
            markUnreachable(id, interactive, false, ex->lastError);
        return;
    }
    const QByteArray data = ex->frameBuffer.data;
    const int count = data.size() < 5 ? 0 : int((data.size() - 2) / 3);
    const bool landed = m_table.modifyById(id, [&](Tkonfig& c, Tstav& s) {
        for (int i = 0; i < core::kOutputCount; ++i) {
            c.outputMode[i] = 0;
            s.outputState[std::size_t(i)] = 0;
        }
        for (int i = 0; i < count; ++i) {
            const int index = quint8(data[2 + 3 * i]);
            if (index >= core::kOutputCount)
                continue; // no such output
            c.outputMode[index] = quint8(data[3 + 3 * i]);
            s.outputState[std::size_t(index)] = quint8(data[4 + 3 * i]);
        }
        s.commState = core::CommAnswered;
    });
    if (!landed)
        return;
    if (interactive)
        obs().gridMark(id, GridMark::Answered);
    obs().refreshRequested(id);
}

SwitchOutcome DeviceLink::SwitchOutput(quint8 device, int k, OutputSwitchUi& ui)
{
    if (k < 0 || k >= core::kOutputCount || device < 1 || device > m_table.deviceCount())
        return SwitchOutcome::NoDevice;
    const DeviceId id = m_table.idOf(device);
    auto snap = snapshotOf(id);
    if (!snap)
        return SwitchOutcome::NoDevice;
    // The login is asked before the lock is taken: the dialog must not stop the poll thread.
    if (snap->konfig.loginPassword.isEmpty()) {
        if (const auto entry = ui.askLogin()) {
            m_table.modifyById(id, [&](Tkonfig& c, Tstav&) {
                c.loginPassword.setText(entry->password.left(8));
                c.loginUser.setText(entry->user.left(8));
            });
        }
        snap = snapshotOf(id);
        if (!snap)
            return SwitchOutcome::NoDevice;
    }
    if (snap->konfig.loginPassword.isEmpty())
        return SwitchOutcome::NoPassword;

    QMutexLocker lock(&m_operation);
    snap = snapshotOf(id);
    if (!snap)
        return SwitchOutcome::NoDevice;
    const Tkonfig& c = snap->konfig;
    if (!PingDevice(c.ipAddress.text())) {
        ui.showConstantMessage(kConstConnectionFailed);
        return SwitchOutcome::NotReachable;
    }
    FrameExchange ex(c, core::Transport::Tcp, timeouts, &m_eventLog);
    if (!ex.openTcp()) {
        ui.showErrorText(ex.openError());
        return SwitchOutcome::ConnectFailed;
    }
    QByteArray login;
    appendLoginField(login, c.loginUser.bytes());
    appendLoginField(login, c.loginPassword.bytes());
    // A failed login exchange counts as refused.
    const bool accepted = ex.request('I', 'A', 0, login) && ex.frameBuffer.parameter == 1;
    if (!accepted) {
        ex.closeTcp();
        ui.showConstantMessage(kConstWrongPassword);
        m_table.modifyById(id, [](Tkonfig& r, Tstav&) { r.loginPassword.clear(); });
        return SwitchOutcome::LoginRefused;
    }
    const bool isOn = snap->stav.outputState[std::size_t(k)] != 0;
    ex.request('R', isOn ? '0' : '1', std::uint8_t(k)); // the reply is not examined
    ex.closeTcp();
    queryOutputsLocked(nullptr, id, false, true);
    writeStateLog(id, logs::slOutputSwitch);
    obs().refreshRequested(id);
    return SwitchOutcome::Switched;
}

} // namespace quodra::comm
