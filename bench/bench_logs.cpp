// Google Benchmark kernels of the log readers: reading a state log of 1,000,000 records (the
// size the log viewer must open), and a value log of the same count.

#include "logs/binary_logs.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <vector>

using namespace quodra;

namespace {

constexpr std::size_t kRecords = 1'000'000;

template <class Record>
QString writeLog(const QTemporaryDir& dir, const char* name, const std::vector<Record>& records)
{
    const QString path = dir.filePath(QLatin1String(name));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) ||
        f.write(reinterpret_cast<const char*>(records.data()), qint64(records.size() * sizeof(Record))) !=
            qint64(records.size() * sizeof(Record)))
        return {};
    return path;
}

const QTemporaryDir& logDir()
{
    static QTemporaryDir dir;
    return dir;
}

QString stateLogPath()
{
    static const QString path = [] {
        std::vector<logs::StateLogRecord> records(kRecords);
        for (std::size_t i = 0; i < kRecords; ++i)
            records[i] = {46000.0 + double(i) / 86400.0,
                          std::uint8_t(i % 6),
                          std::uint8_t(i),
                          std::uint16_t(i),
                          std::uint32_t(i),
                          std::uint16_t(i >> 3),
                          0,
                          std::uint8_t(i % 64)};
        return writeLog(logDir(), "bench.slg", records);
    }();
    return path;
}

QString valueLogPath()
{
    static const QString path = [] {
        std::vector<logs::ValueLogRecord> records(kRecords);
        for (std::size_t i = 0; i < kRecords; ++i)
            records[i] = {46000.0 + double(i) / 86400.0, float(i) * 0.5f};
        return writeLog(logDir(), "bench.vlg", records);
    }();
    return path;
}

void BM_ReadStateLog(benchmark::State& state)
{
    const QString path = stateLogPath();
    if (path.isEmpty()) {
        state.SkipWithError("cannot write the state log");
        return;
    }
    for (auto _ : state) {
        auto records = logs::readStateLog(path);
        if (!records || records->size() != kRecords) {
            state.SkipWithError("wrong record count");
            return;
        }
        benchmark::DoNotOptimize(records->data());
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * std::int64_t(kRecords));
    state.SetBytesProcessed(std::int64_t(state.iterations()) *
                            std::int64_t(kRecords * sizeof(logs::StateLogRecord)));
}
BENCHMARK(BM_ReadStateLog)->Unit(benchmark::kMillisecond);

void BM_ReadValueLog(benchmark::State& state)
{
    const QString path = valueLogPath();
    if (path.isEmpty()) {
        state.SkipWithError("cannot write the value log");
        return;
    }
    for (auto _ : state) {
        auto records = logs::readValueLog(path);
        if (!records || records->size() != kRecords) {
            state.SkipWithError("wrong record count");
            return;
        }
        benchmark::DoNotOptimize(records->data());
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * std::int64_t(kRecords));
}
BENCHMARK(BM_ReadValueLog)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
