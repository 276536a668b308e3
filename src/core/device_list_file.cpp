#include "core/device_list_file.h"

#include "core/atomic_file.h"

namespace quodra::core {

namespace {
constexpr int kHeaderSize = 2;
} // namespace

std::optional<std::vector<Tkonfig>> readDeviceList(const QString& path, QString* error,
                                                   const std::vector<Tkonfig>& base)
{
    const std::optional<QByteArray> read = readFileIfExists(path, error);
    if (!read)
        return std::nullopt;
    const QByteArray& bytes = *read;
    if (bytes.isEmpty())
        return std::vector<Tkonfig>{};
    const int count = quint8(bytes[0]);
    std::vector<Tkonfig> records(std::size_t(count), Tkonfig{});
    for (int i = 0; i < count; ++i) {
        if (std::size_t(i) < base.size())
            records[std::size_t(i)] = base[std::size_t(i)];
        const qsizetype offset = kHeaderSize + qsizetype(i) * qsizetype(kTkonfigSize);
        if (offset < bytes.size())
            records[std::size_t(i)].overwriteFrom(QByteArrayView(bytes).sliced(offset));
    }
    return records;
}

bool writeDeviceList(const QString& path, const std::vector<Tkonfig>& records, QString* error)
{
    QByteArray bytes;
    const std::size_t count = std::min<std::size_t>(records.size(), kMaxDevices);
    bytes.reserve(qsizetype(kHeaderSize + count * kTkonfigSize));
    bytes.append(char(count));
    bytes.append(char(1));
    for (std::size_t i = 0; i < count; ++i)
        bytes.append(records[i].toBytes());
    return writeFileAtomically(path, bytes, error);
}

bool LoadDeviceList(const QString& path, DeviceTable& table, QString* error)
{
    std::vector<Tkonfig> base;
    base.reserve(kMaxDevices);
    for (int n = 1; n <= kMaxDevices; ++n)
        base.push_back(table.konfig(quint8(n)));
    auto records = readDeviceList(path, error, base);
    if (!records)
        return false;
    table.loadConfigs(*records);
    return true;
}

bool SaveDeviceList(const QString& path, const DeviceTable& table, QString* error)
{
    return writeDeviceList(path, table.configs(), error);
}

} // namespace quodra::core
