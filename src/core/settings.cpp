#include "core/settings.h"

#include "core/ini_file.h"
#include "core/program_dir.h"

#include <QFileInfo>

#include <algorithm>

namespace quodra::core {

namespace {

const QString kMain = QStringLiteral("Nastaveni");
const QString kPanels = QStringLiteral("Panely");
const QString kForm = QStringLiteral("Form");
const QString kGraph = QStringLiteral("Graf");
const QString kPlacement = QStringLiteral("Placement");

// Keys that start-up reads but shut-down leaves as the operator wrote them.
enum class Write { Always, Never };

class Reader {
public:
    explicit Reader(const IniFile& ini) : m_ini(ini) {}

    std::optional<int> integer(const QString& section, const QString& key) const
    {
        const auto text = m_ini.value(section, key);
        return text ? parseIniInteger(*text) : std::nullopt;
    }
    void field(const QString& section, const QString& key, bool& f, Write = Write::Always) const
    {
        if (const auto v = integer(section, key))
            f = *v != 0;
    }
    void field(const QString& section, const QString& key, int& f, Write = Write::Always) const
    {
        if (const auto v = integer(section, key))
            f = *v;
    }
    // 8- and 16-bit settings keep the low bits of the number, as the variables they fill do.
    void field(const QString& section, const QString& key, quint8& f, Write = Write::Always) const
    {
        if (const auto v = integer(section, key))
            f = quint8(*v & 0xFF);
    }
    void field(const QString& section, const QString& key, quint16& f, Write = Write::Always) const
    {
        if (const auto v = integer(section, key))
            f = quint16(*v & 0xFFFF);
    }
    void field(const QString& section, const QString& key, QString& f, Write = Write::Always) const
    {
        if (const auto v = m_ini.value(section, key))
            f = *v;
    }

private:
    const IniFile& m_ini;
};

class Writer {
public:
    explicit Writer(IniFile& ini) : m_ini(ini) {}

    void field(const QString& section, const QString& key, bool f, Write w = Write::Always)
    {
        put(section, key, f ? QStringLiteral("1") : QStringLiteral("0"), w);
    }
    template <class Int>
    void field(const QString& section, const QString& key, Int f, Write w = Write::Always)
    {
        put(section, key, QString::number(f), w);
    }
    void field(const QString& section, const QString& key, const QString& f, Write w = Write::Always)
    {
        put(section, key, f, w);
    }

private:
    void put(const QString& section, const QString& key, const QString& text, Write w)
    {
        if (w == Write::Always)
            m_ini.setValue(section, key, text);
    }
    IniFile& m_ini;
};

// The persistent keys in the order shut-down writes them; start-up reads the same list.
template <class Io, class S> void exchange(Io& io, S& s)
{
    const QString& n = kMain;
    io.field(n, QStringLiteral("Adresar_write"), s.logDirWrite);
    io.field(n, QStringLiteral("Adresar_read"), s.logDirRead);
    io.field(n, QStringLiteral("protokol"), s.protocol);
    io.field(n, QStringLiteral("cust_alarm"), s.customAlarmsUsed);
    io.field(n, QStringLiteral("output_use"), s.outputsUsed);
    io.field(n, QStringLiteral("onorm_ch"), s.startNormal);
    io.field(n, QStringLiteral("omin_ch"), s.startMinimised);
    io.field(n, QStringLiteral("panel2_vis"), s.sidePanelVisible);
    io.field(n, QStringLiteral("perioda_val"), s.pollPeriod);
    io.field(n, QStringLiteral("ztrapy_ch"), s.trapCapture);
    io.field(n, QStringLiteral("tnstav_ch"), s.trapReadState);
    io.field(n, QStringLiteral("tnstav_en"), s.trapReadStateEnabled);
    io.field(n, QStringLiteral("htrapy_ch"), s.trapBalloon);
    io.field(n, QStringLiteral("htrapy_en"), s.trapBalloonEnabled);
    io.field(n, QStringLiteral("otrapy_ch"), s.trapWindow);
    io.field(n, QStringLiteral("otrapy_en"), s.trapWindowEnabled);
    io.field(n, QStringLiteral("prstan_ch"), s.trapAddStations);
    io.field(n, QStringLiteral("prstan_en"), s.trapAddStationsEnabled);
    io.field(n, QStringLiteral("gridpanel_vis"), s.gridPanelVisible);
    io.field(n, QStringLiteral("statusbar_vis"), s.statusBarVisible);
    io.field(n, QStringLiteral("wlog_ch"), s.eventLogOn);
    io.field(n, QStringLiteral("menu_min"), s.smallIcons);
    io.field(n, QStringLiteral("menu_text"), s.buttonTexts);
    io.field(n, QStringLiteral("close_w"), s.layoutLocked);
    io.field(n, QStringLiteral("gr_datum_od"), s.graphDateFrom);
    io.field(n, QStringLiteral("gr_datum_do"), s.graphDateTo);
    io.field(n, QStringLiteral("gr_use_datum"), s.graphUseDate);
    io.field(n, QStringLiteral("Jmeno_grafu"), s.graphName);
    io.field(n, QStringLiteral("Grid_fpx"), s.gridFloatX);
    io.field(n, QStringLiteral("Grid_fpy"), s.gridFloatY);
    io.field(n, QStringLiteral("Grid_fl"), s.gridFloating);
    // While the panel floats the file keeps the dock it was last docked in.
    io.field(n, QStringLiteral("Grid_dcu"), s.gridDock, s.gridFloating == 1 ? Write::Never : Write::Always);
    io.field(n, QStringLiteral("Grid_dch"), s.gridDockHeight);
    io.field(n, QStringLiteral("Grid_dcw"), s.gridDockWidth);
    io.field(n, QStringLiteral("Grid_dcp"), s.gridDockPos);
    io.field(n, QStringLiteral("Grid_dcr"), s.gridDockRow);
    io.field(n, QStringLiteral("Grid_flh"), s.gridFloatHeight);
    io.field(n, QStringLiteral("Grid_flw"), s.gridFloatWidth);
    io.field(n, QStringLiteral("Grid_sch"), s.gridSplitHeight);
    io.field(n, QStringLiteral("Grid_scw"), s.gridSplitWidth);
    io.field(n, QStringLiteral("Grid_dhe"), s.gridHeight);
    io.field(n, QStringLiteral("Grid_dwi"), s.gridWidth);
    for (int c = 1; c <= 10; ++c)
        io.field(n, QStringLiteral("Grid_cw%1").arg(c), s.columnWidths[std::size_t(c - 1)]);
    for (int k = 0; k < 16; ++k) {
        io.field(n, QStringLiteral("Grid_cw%1").arg(k + 11), s.columnWidths[std::size_t(k + 10)]);
        io.field(n, QStringLiteral("Grid_dm%1").arg(k), s.valueDecimals[std::size_t(k)]);
        io.field(n, QStringLiteral("Grid_hd%1").arg(k), s.valueHeaders[std::size_t(k)]);
    }
    io.field(n, QStringLiteral("CRES_TM"), s.resetInterval, Write::Never);
    io.field(n, QStringLiteral("PING"), s.pingFirst, Write::Never);

    const QString& p = kPanels;
    io.field(p, QStringLiteral("Typ"), s.viewType);
    io.field(p, QStringLiteral("Hod"), s.showValues);
    io.field(p, QStringLiteral("Alr"), s.showAlarms);
    io.field(p, QStringLiteral("Out"), s.showOutputs);
    io.field(p, QStringLiteral("Hod_h"), s.valuesPanelHeight);
    io.field(p, QStringLiteral("Hod_w"), s.valuesPanelWidth);
    io.field(p, QStringLiteral("Alr_h"), s.alarmsPanelHeight);
    io.field(p, QStringLiteral("Alr_w"), s.alarmsPanelWidth);
    io.field(p, QStringLiteral("CAlr_h"), s.customPanelHeight);
    io.field(p, QStringLiteral("CAlr_w"), s.customPanelWidth);
    io.field(p, QStringLiteral("Out_h"), s.outputsPanelHeight);
    io.field(p, QStringLiteral("Out_w"), s.outputsPanelWidth);

    io.field(kForm, QStringLiteral("Height"), s.windowHeight);
    io.field(kForm, QStringLiteral("Width"), s.windowWidth);
    io.field(kForm, QStringLiteral("Graf"), s.graphShown);
}

QString existingDirOr(const QString& dir, const QString& fallback)
{
    if (dir.trimmed().isEmpty() || !QFileInfo(dir).isDir())
        return fallback;
    return withTrailingSeparator(dir);
}

} // namespace

Settings::Settings()
{
    for (int k = 0; k < 16; ++k)
        valueHeaders[std::size_t(k)] = QStringLiteral("Val%1").arg(k + 1);
}

int Settings::graphInt(const QString& key, int defaultValue) const
{
    const auto it = graph.constFind(key);
    if (it == graph.constEnd())
        return defaultValue;
    return parseIniInteger(*it).value_or(defaultValue);
}

Settings Settings::load(const QString& iniPath, const QString& programDir)
{
    Settings s;
    const QString home = withTrailingSeparator(programDir);
    s.logDirWrite = home;
    s.logDirRead = home;
    // An unreadable file is treated like a missing one: every setting keeps its default.
    const IniFile ini = IniFile::read(iniPath).value_or(IniFile::fromBytes({}));
    Reader reader(ini);
    exchange(reader, s);

    s.logDirWrite = existingDirOr(s.logDirWrite, home);
    s.logDirRead = existingDirOr(s.logDirRead, home);
    if (s.protocol < 1 || s.protocol > 2)
        s.protocol = 1;
    s.pollPeriod = std::clamp(s.pollPeriod, 0, 65535);
    if (!s.outputsUsed)
        s.showOutputs = 0;
    if (const auto port = reader.integer(kMain, QStringLiteral("TRAP_PORT"));
        port && *port >= 1 && *port <= 65535)
        s.trapPort = quint16(*port);

    for (const QString& key : ini.keys(kGraph))
        s.graph.insert(key, ini.value(kGraph, key).value_or(QString()));
    for (const QString& key : ini.keys(kPlacement)) {
        const auto decoded =
            QByteArray::fromBase64Encoding(ini.value(kPlacement, key).value_or(QString()).toLatin1(),
                                           QByteArray::AbortOnBase64DecodingErrors);
        if (decoded)
            s.placement.insert(key, *decoded);
    }
    return s;
}

bool Settings::save(const QString& iniPath, QString* error) const
{
    // Start from the file as it is now, so keys and sections of other writers survive.
    auto ini = IniFile::read(iniPath, error);
    if (!ini)
        return false;
    Settings s = *this;
    if (!s.outputsUsed)
        s.showOutputs = 0;
    Writer writer(*ini);
    exchange(writer, std::as_const(s));
    for (auto it = graph.constBegin(); it != graph.constEnd(); ++it)
        ini->setValue(kGraph, it.key(), it.value());
    for (auto it = placement.constBegin(); it != placement.constEnd(); ++it)
        ini->setValue(kPlacement, it.key(), QString::fromLatin1(it.value().toBase64()));
    return ini->write(iniPath, error);
}

} // namespace quodra::core
