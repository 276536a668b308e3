#include "sim/sim_replies.h"

#include "core/code_page.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace quodra::sim {

namespace {

void putText(QByteArray& area, int address, int size, const QString& text)
{
    const QByteArray bytes = core::toCp1250(text).left(size);
    std::copy(bytes.begin(), bytes.end(), area.begin() + address);
}

QString textUpToZero(QByteArrayView bytes)
{
    const qsizetype zero = bytes.indexOf('\0');
    return core::fromCp1250(zero < 0 ? bytes : bytes.first(zero));
}

// Longest prefix of data that holds whole entries and fits maxData.
qsizetype fittingSize(qsizetype size, qsizetype maxData, qsizetype prefix, qsizetype entry)
{
    if (size <= maxData)
        return size;
    if (maxData < prefix)
        return 0;
    return prefix + (maxData - prefix) / entry * entry;
}

} // namespace

QByteArray registerArea(const DeviceDescription& d)
{
    QByteArray area(kRegisterAreaSize, '\0');
    putText(area, kRegTyp, 16, d.type);
    putText(area, kRegPopis, 26, d.description);
    for (int k = 0; k < 8; ++k) {
        putText(area, kRegAlarmOff + 30 * k, 30, d.alarmOffTexts[size_t(k)]);
        putText(area, kRegAlarmOn + 30 * k, 30, d.alarmOnTexts[size_t(k)]);
    }
    for (const SimChannel& c : d.channels) {
        putText(area, kRegValueName + 30 * c.channel, 25, c.name);
        putText(area, kRegValueName + 30 * c.channel + 25, 5, c.unit);
        if (c.kind == 6 || c.kind == 7)
            area[kRegReference + 7 * c.channel] = char(c.refersTo);
    }
    for (int k = 0; k < 6; ++k)
        putText(area, kRegOutputNames + 15 * k, 15, d.outputs[size_t(k)].name);
    area[kRegCustomMask] = char(d.customAlarmsInUse & 0xFF);
    area[kRegCustomMask + 1] = char(d.customAlarmsInUse >> 8);
    for (int k = 0; k < 16; ++k) {
        const int entry = kRegCustomTable + 5 * k;
        const int address = kRegCustomNames + kCustomNameSize * k;
        area[entry] = char(address & 0xFF);
        area[entry + 1] = char(address >> 8);
        area[entry + 3] = char(kCustomNameSize);
        putText(area, address, kCustomNameSize - 1, d.customAlarmNames[size_t(k)]);
    }
    return area;
}

QByteArray statusData(const DeviceDescription& d)
{
    QByteArray data(kStatusDataSize, '\0');
    data[3] = char(d.variant);
    data[5] = char(d.alarmsInUse);
    data[6] = char(d.alarms);
    const auto put16 = [&](int at, std::uint16_t v) {
        data[at] = char(v & 0xFF);
        data[at + 1] = char(v >> 8);
    };
    put16(7, d.valuesInUse());
    put16(9, d.errors);
    put16(11, d.valueAlarms);
    for (int i = 0; i < 4; ++i)
        data[19 + i] = char((d.customAlarms >> (8 * i)) & 0xFF);
    return data;
}

bool isDuration(const DeviceDescription& d, const SimChannel& c)
{
    if (c.kind == 8)
        return true;
    if (c.kind != 6 && c.kind != 7)
        return false;
    const SimChannel* referred = d.channel(c.refersTo);
    return referred && referred->kind == 8;
}

QByteArray valueBytes(const SimChannel& c, bool duration)
{
    QByteArray out;
    if (duration) {
        const double v = std::isfinite(c.value) ? std::max(0.0, c.value) : 0.0;
        const auto secs = std::uint64_t(std::min(v, 255.0 * 86400 + 86399));
        out.append(char(secs % 60));
        out.append(char(secs / 60 % 60));
        out.append(char(secs / 3600 % 24));
        out.append(char(secs / 86400));
        return out;
    }
    comm::appendU32(out, std::bit_cast<std::uint32_t>(float(c.value)));
    return out;
}

QByteArray valuesData(const DeviceDescription& d)
{
    QList<const SimChannel*> sorted;
    for (const SimChannel& c : d.channels)
        sorted.append(&c);
    std::sort(sorted.begin(), sorted.end(),
              [](const SimChannel* a, const SimChannel* b) { return a->channel < b->channel; });
    QByteArray data;
    for (const SimChannel* c : sorted) {
        data.append(char(c->channel));
        data.append(char(c->kind));
        data.append(valueBytes(*c, isDuration(d, *c)));
    }
    return data;
}

QByteArray outputsData(const DeviceDescription& d)
{
    QByteArray data(2, '\0');
    for (int k = 0; k < 6; ++k) {
        const SimOutput& o = d.outputs[size_t(k)];
        if (!o.present)
            continue;
        data[0] = char(data[0] + 1);
        data.append(char(k));
        data.append(char(o.mode));
        data.append(char(o.on ? 1 : 0));
    }
    return data;
}

LoginData decodeLogin(QByteArrayView data)
{
    const QByteArrayView padded = data;
    LoginData login;
    login.user = textUpToZero(padded.first(std::min<qsizetype>(9, padded.size())));
    if (padded.size() > 9)
        login.password = textUpToZero(padded.sliced(9, std::min<qsizetype>(9, padded.size() - 9)));
    return login;
}

bool loginMatches(const DeviceDescription& d, const LoginData& login)
{
    return login.user == d.loginUser && login.password == d.loginPassword;
}

QByteArray buildReply(const DeviceDescription& d, const comm::DeviceFrame& request, int maxFrame)
{
    const qsizetype maxData = maxFrame > 0 ? std::min(maxFrame - comm::kFrameHeaderSize, comm::kMaxFrameData)
                                           : comm::kMaxFrameData;
    comm::DeviceFrame reply;
    reply.letter1 = request.letter1;
    reply.letter2 = request.letter2;
    const QByteArray command = QByteArray(1, request.letter1) + request.letter2;
    QByteArray data;
    if (command == "GS") {
        data = statusData(d);
    } else if (command == "GV") {
        data = valuesData(d);
        data.truncate(fittingSize(data.size(), maxData, 0, 6));
    } else if (command == "GR") {
        data = outputsData(d);
        data.truncate(fittingSize(data.size(), maxData, 2, 3));
    } else if (command == "XR") {
        const auto address = comm::readU16(request.data, 0);
        const auto count = comm::readU8(request.data, 2);
        if (address && count) {
            const QByteArray area = registerArea(d);
            data = QByteArray(*count, '\0');
            for (int i = 0; i < *count && *address + i < area.size(); ++i)
                data[i] = area[*address + i];
        }
    } else if (command == "IA") {
        reply.parameter = loginMatches(d, decodeLogin(request.data)) ? 1 : 0;
    } else if (command == "R0" || command == "R1") {
        reply.parameter = request.parameter;
    }
    data.truncate(std::min(data.size(), maxData));
    reply.data = data;
    return reply.encode();
}

} // namespace quodra::sim
