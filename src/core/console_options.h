#pragma once
// Option globals of the running console that the worker threads read: set from the settings at
// start-up and by menu items, read by every query. Each is a single atomic value.

#include <QString>

#include <array>
#include <atomic>

namespace quodra::core {

enum class Transport : quint8 { Tcp = 1, Udp = 2 };

class ConsoleOptions {
public:
    Transport protocol() const { return Transport(m_protocol.load()); }
    void setProtocol(Transport t) { m_protocol.store(quint8(t)); }
    bool customAlarmsUsed() const { return m_customAlarmsUsed.load(); }
    void setCustomAlarmsUsed(bool on) { m_customAlarmsUsed.store(on); }
    bool outputsUsed() const { return m_outputsUsed.load(); }
    void setOutputsUsed(bool on) { m_outputsUsed.store(on); }
    bool pingFirst() const { return m_pingFirst.load(); }
    void setPingFirst(bool on) { m_pingFirst.store(on); }
    quint8 valueDecimals(int k) const { return m_valueDecimals[std::size_t(k)].load(); }
    void setValueDecimals(int k, quint8 d) { m_valueDecimals[std::size_t(k)].store(d); }

private:
    std::atomic<quint8> m_protocol{1};
    std::atomic<bool> m_customAlarmsUsed{true};
    std::atomic<bool> m_outputsUsed{true};
    std::atomic<bool> m_pingFirst{false};
    std::array<std::atomic<quint8>, 16> m_valueDecimals{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
};

} // namespace quodra::core
