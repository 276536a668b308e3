#include "core/device_list_file.h"
#include "file_size_limit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "test_files.h"

#include <gtest/gtest.h>

using namespace quodra::core;

namespace {

// A file of `count` records whose every byte is a fixed pseudo-random pattern, so stale bytes
// after each string's length are in it too.
QByteArray patternFile(int count, quint32 seed)
{
    QByteArray bytes;
    bytes.append(char(count));
    bytes.append(char(7)); // any version is read the same way
    quint32 x = seed;
    for (qsizetype i = 0; i < qsizetype(count) * qsizetype(kTkonfigSize); ++i) {
        x = x * 1103515245u + 12345u;
        bytes.append(char(x >> 24));
    }
    return bytes;
}

void addDevice(DeviceTable& table, const QString& address)
{
    ASSERT_TRUE(table.InsertDevice(quint8(table.deviceCount() + 1)));
    table.modify(table.deviceCount(), [&](Tkonfig& k, Tstav&) { k.ipAddress.setText(address); });
}

class DeviceListFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath(kDeviceListFileName);
    }
    QTemporaryDir m_dir;
    QString m_path;
};

} // namespace

TEST_F(DeviceListFile, ThreeDevicesInAFreshFile)
{
    DeviceTable table;
    for (const char* a : {"10.0.0.1", "10.0.0.2", "10.0.0.3"})
        addDevice(table, QString::fromLatin1(a));
    ASSERT_TRUE(SaveDeviceList(m_path, table));
    const QByteArray bytes = readAll(m_path);
    ASSERT_EQ(bytes.size(), 5777);
    EXPECT_EQ(bytes[0], 3);
    EXPECT_EQ(bytes[1], 1);
    EXPECT_EQ(bytes.mid(2 + 1925, 9), QByteArray("\x08"
                                                 "10.0.0.2"));

    DeviceTable loaded;
    ASSERT_TRUE(LoadDeviceList(m_path, loaded));
    ASSERT_EQ(loaded.deviceCount(), 3);
    EXPECT_EQ(loaded.konfig(3).ipAddress.text(), QStringLiteral("10.0.0.3"));
    EXPECT_EQ(loaded.konfig(3).toBytes(), table.konfig(3).toBytes());
}

TEST_F(DeviceListFile, CountAndTruncation)
{
    struct Case {
        const char* name;
        QByteArray file;
        int count;
    };
    const Case cases[] = {
        {"count byte 0", QByteArray("\x00\x01", 2), 0},
        {"empty file", QByteArray(), 0},
        {"only the header, count 4", QByteArray("\x04\x01", 2), 4},
        {"count 4, version byte missing", QByteArray("\x04", 1), 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeAll(m_path, c.file);
        DeviceTable table;
        ASSERT_TRUE(LoadDeviceList(m_path, table));
        ASSERT_EQ(table.deviceCount(), c.count);
        for (int n = 1; n <= c.count; ++n)
            EXPECT_EQ(table.konfig(quint8(n)).toBytes(), QByteArray(kTkonfigSize, '\0')) << "slot " << n;
    }
}

TEST_F(DeviceListFile, RecordCutShortKeepsTheRestZero)
{
    QByteArray file = patternFile(2, 1);
    file.truncate(2 + 1925 + 100); // device 2 has only its first 100 bytes
    writeAll(m_path, file);
    DeviceTable table;
    ASSERT_TRUE(LoadDeviceList(m_path, table));
    ASSERT_EQ(table.deviceCount(), 2);
    EXPECT_EQ(table.konfig(1).toBytes(), file.mid(2, 1925));
    const QByteArray second = table.konfig(2).toBytes();
    EXPECT_EQ(second.left(100), file.mid(2 + 1925, 100));
    EXPECT_EQ(second.mid(100), QByteArray(1825, '\0'));
}

TEST_F(DeviceListFile, UnchangedTableIsWrittenBackByteForByte)
{
    QByteArray file = patternFile(3, 42);
    writeAll(m_path, file);
    DeviceTable table;
    ASSERT_TRUE(LoadDeviceList(m_path, table));
    // Emptying a text touches only its length byte; the bytes after it travel as loaded.
    table.modify(2, [](Tkonfig& k, Tstav&) { k.popis.clear(); });
    ASSERT_TRUE(SaveDeviceList(m_path, table));
    file[1] = 1; // the writer's version
    file[2 + 1925 + 53] = 0;
    EXPECT_EQ(readAll(m_path), file);
}

TEST_F(DeviceListFile, ShorterListReplacesTheWholeFile)
{
    writeAll(m_path, patternFile(5, 9));
    ASSERT_EQ(readAll(m_path).size(), 9627);
    DeviceTable table;
    addDevice(table, QStringLiteral("192.168.1.10"));
    addDevice(table, QStringLiteral("192.168.1.11"));
    ASSERT_TRUE(SaveDeviceList(m_path, table));
    const QByteArray bytes = readAll(m_path);
    ASSERT_EQ(bytes.size(), 3852); // no stale records 3 to 5 behind the two
    EXPECT_EQ(bytes[0], 2);
    EXPECT_EQ(bytes[1], 1);
    EXPECT_EQ(bytes.mid(2, 1925), table.konfig(1).toBytes());
    EXPECT_EQ(bytes.mid(2 + 1925, 1925), table.konfig(2).toBytes());
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{kDeviceListFileName});
}

TEST_F(DeviceListFile, MissingFileLoadsNothing)
{
    DeviceTable table;
    QString error;
    EXPECT_TRUE(LoadDeviceList(m_path, table, &error));
    EXPECT_EQ(table.deviceCount(), 0);
    EXPECT_TRUE(error.isEmpty());
}

TEST_F(DeviceListFile, UnreadableOrUnwritableFileIsAnError)
{
    DeviceTable table;
    addDevice(table, QStringLiteral("10.0.0.1"));
    // A directory where the file should be cannot be read nor replaced.
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(kDeviceListFileName));
    QString error;
    EXPECT_FALSE(LoadDeviceList(m_path, table, &error));
    EXPECT_TRUE(error.contains(m_path)) << error.toStdString();
    EXPECT_EQ(table.deviceCount(), 1); // the table is left as it was
    error.clear();
    EXPECT_FALSE(SaveDeviceList(m_path, table, &error));
    EXPECT_FALSE(error.isEmpty());
    error.clear();
    EXPECT_FALSE(SaveDeviceList(m_dir.filePath(QStringLiteral("no/such/dir/x.eth")), table, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("x.eth"))) << error.toStdString();
}

TEST_F(DeviceListFile, WriteFailingHalfWayKeepsTheOldFile)
{
    const QByteArray old = patternFile(3, 5);
    writeAll(m_path, old);
    DeviceTable table;
    for (int i = 0; i < 4; ++i)
        addDevice(table, QStringLiteral("10.1.1.%1").arg(i));
    QString error;
    bool saved = true;
    {
        FileSizeLimit limit(3000); // the new list needs 7702 bytes
        ASSERT_TRUE(limit.active());
        saved = SaveDeviceList(m_path, table, &error);
    }
    EXPECT_FALSE(saved);
    EXPECT_TRUE(error.contains(m_path)) << error.toStdString();
    EXPECT_EQ(readAll(m_path), old);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{kDeviceListFileName});
}
