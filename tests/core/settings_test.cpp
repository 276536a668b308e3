#include "core/ini_file.h"
#include "core/program_dir.h"
#include "core/settings.h"
#include "file_size_limit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "test_files.h"

#include <gtest/gtest.h>

#include <functional>
#include <unistd.h>

using namespace quodra::core;

namespace {

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_home = m_dir.path() + QStringLiteral("/home");
        ASSERT_TRUE(QDir().mkpath(m_home));
        m_ini = m_home + QStringLiteral("/Quodra_st.ini");
    }
    Settings loadText(const char* text)
    {
        writeAll(m_ini, QByteArray(text));
        return Settings::load(m_ini, m_home);
    }
    QString fileValue(const QString& section, const QString& key) const
    {
        const auto ini = IniFile::read(m_ini);
        return ini ? ini->value(section, key).value_or(QStringLiteral("<absent>"))
                   : QStringLiteral("<unreadable>");
    }
    QTemporaryDir m_dir;
    QString m_home;
    QString m_ini;
};

} // namespace

TEST_F(SettingsFile, MissingFileGivesDefaults)
{
    const Settings s = Settings::load(m_ini, m_home);
    EXPECT_EQ(s, Settings::load(m_home + QStringLiteral("/none.ini"), m_home));
    EXPECT_EQ(s.logDirWrite, m_home + QLatin1Char('/'));
    EXPECT_EQ(s.logDirRead, m_home + QLatin1Char('/'));
    EXPECT_EQ(s.protocol, 1);
    EXPECT_TRUE(s.customAlarmsUsed);
    EXPECT_TRUE(s.outputsUsed);
    EXPECT_TRUE(s.startNormal);
    EXPECT_FALSE(s.startMinimised);
    EXPECT_TRUE(s.gridPanelVisible);
    EXPECT_TRUE(s.buttonTexts);
    EXPECT_EQ(s.gridDock, QStringLiteral("TBXMultiDock1"));
    EXPECT_EQ(s.gridFloatX, 100);
    EXPECT_EQ(s.gridDockWidth, 355);
    EXPECT_EQ(s.gridWidth, 365);
    EXPECT_EQ(s.columnWidths[2], 117);
    EXPECT_EQ(s.columnWidths[9], 12);
    EXPECT_EQ(s.columnWidths[10], 0);
    EXPECT_EQ(s.columnWidths[25], 0);
    EXPECT_EQ(s.valueDecimals[15], 1);
    EXPECT_EQ(s.valueHeaders[0], QStringLiteral("Val1"));
    EXPECT_EQ(s.valueHeaders[15], QStringLiteral("Val16"));
    EXPECT_EQ(s.showOutputs, 1);
    EXPECT_EQ(s.viewType, 0);
    EXPECT_EQ(s.valuesPanelHeight, 435);
    EXPECT_EQ(s.customPanelWidth, 100);
    EXPECT_EQ(s.windowWidth, 1000);
    EXPECT_EQ(s.windowHeight, 650);
    EXPECT_FALSE(s.graphShown);
    EXPECT_EQ(s.resetInterval, 0);
    EXPECT_FALSE(s.pingFirst);
    EXPECT_EQ(s.trapPort, 162);
    EXPECT_TRUE(s.graph.isEmpty());
    EXPECT_TRUE(s.placement.isEmpty());
}

TEST_F(SettingsFile, DerivedValues)
{
    struct Case {
        const char* name;
        const char* ini;
        std::function<int(const Settings&)> field;
        int expected;
    };
    auto protocol = [](const Settings& s) { return int(s.protocol); };
    const Case cases[] = {
        {"protokol 0 becomes TCP", "[Nastaveni]\nprotokol=0\n", protocol, 1},
        {"protokol 7 becomes TCP", "[Nastaveni]\nprotokol=7\n", protocol, 1},
        {"protokol 2 is UDP", "[Nastaveni]\nprotokol=2\n", protocol, 2},
        {"protokol 258 keeps its low byte", "[Nastaveni]\nprotokol=258\n", protocol, 2},
        {"protokol not a number", "[Nastaveni]\nprotokol=udp\n", protocol, 1},
        {"names in any letter case", "[NASTAVENI]\nPROTOKOL=2\n", protocol, 2},
        {"16-bit date keeps low bits", "[Nastaveni]\ngr_datum_od=65537\n",
         [](const Settings& s) { return int(s.graphDateFrom); }, 1},
        {"16-bit date in range", "[Nastaveni]\ngr_datum_do=46367\n",
         [](const Settings& s) { return int(s.graphDateTo); }, 46367},
        {"8-bit decimals keep low bits", "[Nastaveni]\nGrid_dm3=300\n",
         [](const Settings& s) { return int(s.valueDecimals[3]); }, 44},
        {"8-bit view type keeps low bits", "[Panely]\nTyp=257\n",
         [](const Settings& s) { return int(s.viewType); }, 1},
        {"8-bit values panel -1", "[Panely]\nHod=-1\n", [](const Settings& s) { return int(s.showValues); },
         255},
        {"Out read while outputs are used", "[Nastaveni]\noutput_use=1\n[Panely]\nOut=0\n",
         [](const Settings& s) { return int(s.showOutputs); }, 0},
        {"Out ignored while outputs are off", "[Nastaveni]\noutput_use=0\n[Panely]\nOut=1\n",
         [](const Settings& s) { return int(s.showOutputs); }, 0},
        {"bool: any non-zero is true", "[Nastaveni]\ncust_alarm=5\n",
         [](const Settings& s) { return int(s.customAlarmsUsed); }, 1},
        {"bool: zero is false", "[Nastaveni]\ncust_alarm=0\n",
         [](const Settings& s) { return int(s.customAlarmsUsed); }, 0},
        {"bool: text gives the default", "[Nastaveni]\ncust_alarm=no\n",
         [](const Settings& s) { return int(s.customAlarmsUsed); }, 1},
        {"integer with trailing text", "[Nastaveni]\nperioda_val=12x\n",
         [](const Settings& s) { return s.pollPeriod; }, 0},
        {"integer written as float", "[Form]\nWidth=1e3\n", [](const Settings& s) { return s.windowWidth; },
         1000},
        {"empty integer", "[Nastaveni]\nGrid_fpx=\n", [](const Settings& s) { return s.gridFloatX; }, 100},
        {"integer beyond 32 bits", "[Form]\nHeight=99999999999\n",
         [](const Settings& s) { return s.windowHeight; }, 650},
        {"hexadecimal integer", "[Nastaveni]\nperioda_val=$10\n",
         [](const Settings& s) { return s.pollPeriod; }, 16},
        {"spaces around the value", "[Nastaveni]\n perioda_val = 30 \n",
         [](const Settings& s) { return s.pollPeriod; }, 30},
        {"poll period capped at 65535", "[Nastaveni]\nperioda_val=70000\n",
         [](const Settings& s) { return s.pollPeriod; }, 65535},
        {"poll period never negative", "[Nastaveni]\nperioda_val=-5\n",
         [](const Settings& s) { return s.pollPeriod; }, 0},
        {"key in another section is not read", "[Panely]\nprotokol=2\n", protocol, 1},
        {"first of two equal keys wins", "[Nastaveni]\nprotokol=2\nprotokol=1\n", protocol, 2},
        {"CRES_TM read", "[Nastaveni]\nCRES_TM=30\n", [](const Settings& s) { return s.resetInterval; }, 30},
        {"PING read", "[Nastaveni]\nPING=1\n", [](const Settings& s) { return int(s.pingFirst); }, 1},
        {"TRAP_PORT read", "[Nastaveni]\nTRAP_PORT=10162\n",
         [](const Settings& s) { return int(s.trapPort); }, 10162},
        {"TRAP_PORT 0 keeps 162", "[Nastaveni]\nTRAP_PORT=0\n",
         [](const Settings& s) { return int(s.trapPort); }, 162},
        {"TRAP_PORT above 65535 keeps 162", "[Nastaveni]\nTRAP_PORT=70000\n",
         [](const Settings& s) { return int(s.trapPort); }, 162},
        {"grid floating", "[Nastaveni]\nGrid_fl=1\n", [](const Settings& s) { return s.gridFloating; }, 1},
        {"value column width", "[Nastaveni]\nGrid_cw26=40\n",
         [](const Settings& s) { return s.columnWidths[25]; }, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.field(loadText(c.ini)), c.expected);
    }
}

TEST_F(SettingsFile, LogDirectoriesFallBackToProgramDirAndAreWrittenBack)
{
    const QString logs = m_dir.path() + QStringLiteral("/logs");
    ASSERT_TRUE(QDir().mkpath(logs));
    const QString home = m_home + QLatin1Char('/');
    struct Case {
        const char* name;
        QString value;
        QString expected;
    };
    const Case cases[] = {
        {"existing directory gets a trailing slash", logs, logs + QLatin1Char('/')},
        {"existing directory with its slash", logs + QLatin1Char('/'), logs + QLatin1Char('/')},
        {"missing directory", m_dir.path() + QStringLiteral("/gone/"), home},
        {"a file is not a directory", m_ini, home},
        {"empty value", QString(), home},
        {"a path of the old platform", QStringLiteral("C:\\Quodra\\logs\\"), home},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray text =
            "[Nastaveni]\nAdresar_write=" + c.value.toUtf8() + "\nAdresar_read=" + c.value.toUtf8() + "\n";
        writeAll(m_ini, text);
        const Settings s = Settings::load(m_ini, m_home);
        EXPECT_EQ(s.logDirWrite, c.expected);
        EXPECT_EQ(s.logDirRead, c.expected);
        ASSERT_TRUE(s.save(m_ini));
        EXPECT_EQ(fileValue(QStringLiteral("Nastaveni"), QStringLiteral("Adresar_write")), c.expected);
        EXPECT_EQ(fileValue(QStringLiteral("Nastaveni"), QStringLiteral("Adresar_read")), c.expected);
    }
}

TEST_F(SettingsFile, OutputsOffWritesOutAsZero)
{
    Settings s = loadText("[Nastaveni]\noutput_use=0\n[Panely]\nOut=1\n");
    EXPECT_EQ(s.showOutputs, 0);
    s.showOutputs = 1; // whatever the panels made of it, the file gets 0
    ASSERT_TRUE(s.save(m_ini));
    EXPECT_EQ(fileValue(QStringLiteral("Panely"), QStringLiteral("Out")), QStringLiteral("0"));
    s.outputsUsed = true;
    ASSERT_TRUE(s.save(m_ini));
    EXPECT_EQ(fileValue(QStringLiteral("Panely"), QStringLiteral("Out")), QStringLiteral("1"));
}

TEST_F(SettingsFile, ReadOnlyKeysAreNeverWritten)
{
    // A fresh file gets none of them.
    Settings s = Settings::load(m_ini, m_home);
    s.resetInterval = 30;
    s.pingFirst = true;
    s.trapPort = 5000;
    ASSERT_TRUE(s.save(m_ini));
    for (const char* key : {"CRES_TM", "PING", "TRAP_PORT"})
        EXPECT_EQ(fileValue(QStringLiteral("Nastaveni"), QString::fromLatin1(key)),
                  QStringLiteral("<absent>"))
            << key;

    // The operator's values survive a run that changed the variables.
    s = loadText("[Nastaveni]\nCRES_TM=30\nPING=1\nTRAP_PORT=10162\n");
    s.resetInterval = 0;
    s.pingFirst = false;
    s.trapPort = 162;
    ASSERT_TRUE(s.save(m_ini));
    EXPECT_EQ(fileValue(QStringLiteral("Nastaveni"), QStringLiteral("CRES_TM")), QStringLiteral("30"));
    EXPECT_EQ(fileValue(QStringLiteral("Nastaveni"), QStringLiteral("PING")), QStringLiteral("1"));
    EXPECT_EQ(fileValue(QStringLiteral("Nastaveni"), QStringLiteral("TRAP_PORT")), QStringLiteral("10162"));
}

TEST_F(SettingsFile, GridDockWrittenOnlyWhileDocked)
{
    Settings s = loadText("[Nastaveni]\nGrid_fl=0\nGrid_dcu=BottomDock\n");
    EXPECT_EQ(s.gridDock, QStringLiteral("BottomDock"));
    s.gridFloating = 1;
    s.gridDock = QStringLiteral("LeftDock");
    ASSERT_TRUE(s.save(m_ini));
    EXPECT_EQ(fileValue(QStringLiteral("Nastaveni"), QStringLiteral("Grid_dcu")),
              QStringLiteral("BottomDock"));
    s.gridFloating = 0;
    ASSERT_TRUE(s.save(m_ini));
    EXPECT_EQ(fileValue(QStringLiteral("Nastaveni"), QStringLiteral("Grid_dcu")), QStringLiteral("LeftDock"));
}

TEST_F(SettingsFile, FreshFileHasKeysInShutDownOrder)
{
    ASSERT_TRUE(Settings::load(m_ini, m_home).save(m_ini));
    QStringList expected = {
        QStringLiteral("[Nastaveni]"),  QStringLiteral("Adresar_write"), QStringLiteral("Adresar_read"),
        QStringLiteral("protokol"),     QStringLiteral("cust_alarm"),    QStringLiteral("output_use"),
        QStringLiteral("onorm_ch"),     QStringLiteral("omin_ch"),       QStringLiteral("panel2_vis"),
        QStringLiteral("perioda_val"),  QStringLiteral("ztrapy_ch"),     QStringLiteral("tnstav_ch"),
        QStringLiteral("tnstav_en"),    QStringLiteral("htrapy_ch"),     QStringLiteral("htrapy_en"),
        QStringLiteral("otrapy_ch"),    QStringLiteral("otrapy_en"),     QStringLiteral("prstan_ch"),
        QStringLiteral("prstan_en"),    QStringLiteral("gridpanel_vis"), QStringLiteral("statusbar_vis"),
        QStringLiteral("wlog_ch"),      QStringLiteral("menu_min"),      QStringLiteral("menu_text"),
        QStringLiteral("close_w"),      QStringLiteral("gr_datum_od"),   QStringLiteral("gr_datum_do"),
        QStringLiteral("gr_use_datum"), QStringLiteral("Jmeno_grafu"),   QStringLiteral("Grid_fpx"),
        QStringLiteral("Grid_fpy"),     QStringLiteral("Grid_fl"),       QStringLiteral("Grid_dcu"),
        QStringLiteral("Grid_dch"),     QStringLiteral("Grid_dcw"),      QStringLiteral("Grid_dcp"),
        QStringLiteral("Grid_dcr"),     QStringLiteral("Grid_flh"),      QStringLiteral("Grid_flw"),
        QStringLiteral("Grid_sch"),     QStringLiteral("Grid_scw"),      QStringLiteral("Grid_dhe"),
        QStringLiteral("Grid_dwi"),
    };
    for (int c = 1; c <= 10; ++c)
        expected << QStringLiteral("Grid_cw%1").arg(c);
    for (int k = 0; k < 16; ++k)
        expected << QStringLiteral("Grid_cw%1").arg(k + 11) << QStringLiteral("Grid_dm%1").arg(k)
                 << QStringLiteral("Grid_hd%1").arg(k);
    expected << QStringLiteral("[Panely]") << QStringLiteral("Typ") << QStringLiteral("Hod")
             << QStringLiteral("Alr") << QStringLiteral("Out") << QStringLiteral("Hod_h")
             << QStringLiteral("Hod_w") << QStringLiteral("Alr_h") << QStringLiteral("Alr_w")
             << QStringLiteral("CAlr_h") << QStringLiteral("CAlr_w") << QStringLiteral("Out_h")
             << QStringLiteral("Out_w") << QStringLiteral("[Form]") << QStringLiteral("Height")
             << QStringLiteral("Width") << QStringLiteral("Graf");

    QStringList actual;
    for (const QString& line : QString::fromUtf8(readAll(m_ini)).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('[')))
            actual << line;
        else if (line.contains(QLatin1Char('=')))
            actual << line.section(QLatin1Char('='), 0, 0);
    }
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(fileValue(QStringLiteral("Nastaveni"), QStringLiteral("Grid_hd3")), QStringLiteral("Val4"));
    EXPECT_EQ(fileValue(QStringLiteral("Nastaveni"), QStringLiteral("cust_alarm")), QStringLiteral("1"));
    EXPECT_EQ(fileValue(QStringLiteral("Form"), QStringLiteral("Width")), QStringLiteral("1000"));
}

TEST_F(SettingsFile, EveryWrittenSettingSurvivesARestart)
{
    Settings s = Settings::load(m_ini, m_home);
    const QString logs = m_dir.path() + QStringLiteral("/logs/");
    ASSERT_TRUE(QDir().mkpath(logs));
    s.logDirWrite = logs;
    s.logDirRead = logs;
    s.graphName = QStringLiteral("Kotelna č. 2.grf");
    s.protocol = 2;
    s.customAlarmsUsed = false;
    s.startNormal = false;
    s.startMinimised = true;
    s.sidePanelVisible = true;
    s.pollPeriod = 65535;
    s.trapCapture = s.trapReadState = s.trapReadStateEnabled = s.trapBalloon = s.trapBalloonEnabled = true;
    s.trapWindow = s.trapWindowEnabled = s.trapAddStations = s.trapAddStationsEnabled = true;
    s.gridPanelVisible = s.statusBarVisible = s.buttonTexts = false;
    s.eventLogOn = s.smallIcons = s.layoutLocked = s.graphUseDate = true;
    s.graphDateFrom = 46000;
    s.graphDateTo = 65535;
    s.gridFloatX = -20;
    s.gridFloatY = 7;
    s.gridDock = QStringLiteral("BottomDock");
    s.gridDockHeight = 1;
    s.gridDockWidth = 2;
    s.gridDockPos = 3;
    s.gridDockRow = 4;
    s.gridFloatHeight = 5;
    s.gridFloatWidth = 6;
    s.gridSplitHeight = 7;
    s.gridSplitWidth = 8;
    s.gridHeight = 9;
    s.gridWidth = 10;
    for (int i = 0; i < 26; ++i)
        s.columnWidths[std::size_t(i)] = 30 + i;
    for (int k = 0; k < 16; ++k) {
        s.valueDecimals[std::size_t(k)] = quint8(k % 4);
        s.valueHeaders[std::size_t(k)] = QStringLiteral("Teplota %1 °C").arg(k);
    }
    s.viewType = 1;
    s.showValues = 0;
    s.showAlarms = 0;
    s.showOutputs = 0;
    s.valuesPanelHeight = 11;
    s.valuesPanelWidth = 12;
    s.alarmsPanelHeight = 13;
    s.alarmsPanelWidth = 14;
    s.customPanelHeight = 15;
    s.customPanelWidth = 16;
    s.outputsPanelHeight = 17;
    s.outputsPanelWidth = 18;
    s.windowHeight = 700;
    s.windowWidth = 1200;
    s.graphShown = true;
    s.setGraphInt(QStringLiteral("Graf_fpx"), 44);
    s.graph[QStringLiteral("Graf_dcu")] = QStringLiteral("Bottom");
    s.placement[QStringLiteral("main")] = QByteArray("\x01\xd9\xd0\xcb\x00\x03\xff\n=", 9);
    ASSERT_TRUE(s.save(m_ini));

    const Settings again = Settings::load(m_ini, m_home);
    EXPECT_EQ(again, s);
    EXPECT_EQ(again.graphInt(QStringLiteral("Graf_fpx"), 0), 44);
    EXPECT_EQ(again.graphInt(QStringLiteral("Graf_dcu"), -1), -1);
    EXPECT_EQ(again.graphInt(QStringLiteral("Sp_fpx"), 100), 100);
}

TEST_F(SettingsFile, KeysAndSectionsOfOtherWritersSurvive)
{
    const char* text = "; written by hand\n"
                       "[Nastaveni]\n"
                       "protokol=2\n"
                       "Vlastni=abc def\n"
                       "\n"
                       "[Graf]\n"
                       "Graf_fpx=15\n"
                       "Sp_dwi=250\n"
                       "\n"
                       "[Other]\n"
                       "; their comment\n"
                       "x = y = z\n";
    Settings s = loadText(text);
    EXPECT_EQ(s.graph.value(QStringLiteral("Sp_dwi")), QStringLiteral("250"));
    s.setGraphInt(QStringLiteral("Graf_fpx"), 16);
    ASSERT_TRUE(s.save(m_ini));
    const QString saved = QString::fromUtf8(readAll(m_ini));
    EXPECT_TRUE(
        saved.startsWith(QStringLiteral("; written by hand\n[Nastaveni]\nprotokol=2\nVlastni=abc def\n")));
    EXPECT_TRUE(saved.contains(QStringLiteral("[Graf]\nGraf_fpx=16\nSp_dwi=250\n")));
    EXPECT_TRUE(saved.contains(QStringLiteral("[Other]\n; their comment\nx = y = z\n")));
    EXPECT_EQ(saved.count(QStringLiteral("[Nastaveni]")), 1);
    EXPECT_EQ(fileValue(QStringLiteral("Other"), QStringLiteral("x")), QStringLiteral("y = z"));
    // Written twice, the file does not change.
    ASSERT_TRUE(Settings::load(m_ini, m_home).save(m_ini));
    EXPECT_EQ(QString::fromUtf8(readAll(m_ini)), saved);
}

TEST_F(SettingsFile, TextsCannotBreakTheFileApart)
{
    Settings s = Settings::load(m_ini, m_home);
    s.graphName = QStringLiteral("a\n[Form]\nWidth=1");
    s.valueHeaders[0] = QStringLiteral("x\r\nprotokol=2");
    ASSERT_TRUE(s.save(m_ini));
    const Settings again = Settings::load(m_ini, m_home);
    EXPECT_EQ(again.graphName, QStringLiteral("a [Form] Width=1"));
    EXPECT_EQ(again.windowWidth, 1000);
    EXPECT_EQ(again.protocol, 1);
}

TEST_F(SettingsFile, OlderFileInWindows1250IsRead)
{
    // "Čerpadla" in Windows-1250, as a file of the old platform holds it.
    const Settings s = loadText("[Nastaveni]\nJmeno_grafu=\xC8"
                                "erpadla\nGrid_hd0=\xB0"
                                "C\n");
    EXPECT_EQ(s.graphName, QStringLiteral("Čerpadla"));
    EXPECT_EQ(s.valueHeaders[0], QStringLiteral("°C"));
    const Settings bom = loadText("\xEF\xBB\xBF[Nastaveni]\nJmeno_grafu=\xC4\x8C"
                                  "erpadla\n");
    EXPECT_EQ(bom.graphName, QStringLiteral("Čerpadla"));
}

TEST_F(SettingsFile, FailedSaveReportsAndKeepsTheOldFile)
{
    Settings s = loadText("[Nastaveni]\nprotokol=2\n");
    s.windowWidth = 1234;
    const QByteArray before = readAll(m_ini);

    // Into a directory that does not exist.
    QString error;
    EXPECT_FALSE(s.save(m_dir.path() + QStringLiteral("/missing/Quodra_st.ini"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("missing/Quodra_st.ini"))) << error.toStdString();

    // A write that fails half way (here: at the file size limit) must leave the old file whole.
    error.clear();
    bool saved = true;
    {
        FileSizeLimit limit(64);
        ASSERT_TRUE(limit.active());
        saved = s.save(m_ini, &error);
    }
    EXPECT_FALSE(saved);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(readAll(m_ini), before);
    EXPECT_EQ(QDir(m_home).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("Quodra_st.ini")});
}

TEST_F(SettingsFile, SaveIntoUnwritableDirectoryFails)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "directory permissions do not bind the superuser";
    Settings s = loadText("[Nastaveni]\nprotokol=2\n");
    s.windowWidth = 1234;
    const QByteArray before = readAll(m_ini);
    ASSERT_TRUE(QFile::setPermissions(m_home, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    QString error;
    const bool saved = s.save(m_ini, &error);
    QFile::setPermissions(m_home, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_FALSE(saved);
    EXPECT_TRUE(error.contains(m_ini)) << error.toStdString();
    EXPECT_EQ(readAll(m_ini), before);
}

TEST(IniInteger, Parsing)
{
    struct Case {
        const char* text;
        std::optional<int> expected;
    };
    const Case cases[] = {
        {"0", 0},
        {"42", 42},
        {"-7", -7},
        {"+7", 7},
        {" 12 ", 12},
        {"$FF", 255},
        {"0x1f", 31},
        {"$FFFFFFFF", -1},
        {"", {}},
        {"-", {}},
        {"1.5", {}},
        {"12a", {}},
        {"2147483647", 2147483647},
        {"2147483648", {}},
        {"-2147483648", INT_MIN},
        {"$", {}},
        {"0x", {}},
        {"$G1", {}},
        {"１２", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseIniInteger(QString::fromUtf8(c.text)), c.expected);
    }
}

TEST(ProgramDir, DirOption)
{
    struct Case {
        QStringList args;
        QString expected;
    };
    const Case cases[] = {
        {{QStringLiteral("quodra-st")}, QString()},
        {{QStringLiteral("quodra-st"), QStringLiteral("--dir"), QStringLiteral("/srv/q")},
         QStringLiteral("/srv/q")},
        {{QStringLiteral("quodra-st"), QStringLiteral("--dir=/srv/q")}, QStringLiteral("/srv/q")},
        {{QStringLiteral("quodra-st"), QStringLiteral("-x"), QStringLiteral("--dir"), QStringLiteral("a b")},
         QStringLiteral("a b")},
        {{QStringLiteral("quodra-st"), QStringLiteral("--dir")}, QString()},
        {{QStringLiteral("--dir=/prog/name")}, QString()}, // the program's own name is no option
    };
    for (const Case& c : cases)
        EXPECT_EQ(dirOption(c.args), c.expected) << c.args.join(QLatin1Char(' ')).toStdString();
}

TEST(ProgramDir, Resolution)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    // --dir wins and is created.
    const QString given = tmp.path() + QStringLiteral("/given/sub");
    EXPECT_EQ(resolveProgramDir(given, tmp.path()), given);
    EXPECT_TRUE(QFileInfo(given).isDir());
    // Without it, the executable's directory when writable.
    EXPECT_EQ(resolveProgramDir(QString(), tmp.path() + QStringLiteral("/given/")),
              tmp.path() + QStringLiteral("/given"));
    // Else the data directory of the user, created on demand.
    const QByteArray oldXdg = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", (tmp.path() + QStringLiteral("/data")).toUtf8());
    const QString fallback = resolveProgramDir(QString(), tmp.path() + QStringLiteral("/no-such-dir"));
    if (oldXdg.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", oldXdg);
    EXPECT_EQ(fallback, tmp.path() + QStringLiteral("/data/quodra-st"));
    EXPECT_TRUE(QFileInfo(fallback).isDir());
    // A directory that cannot be made is an error, not a silent empty path.
    writeAll(tmp.path() + QStringLiteral("/file"), "x");
    QString error;
    EXPECT_TRUE(resolveProgramDir(tmp.path() + QStringLiteral("/file/sub"), QString(), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
}
