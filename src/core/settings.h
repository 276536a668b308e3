#pragma once
// The settings file "Quodra_st.ini": every key the console reads at start-up and writes at
// shut-down, with its default and the value derived from it. Read once, written once; the file
// is replaced atomically and keeps the keys and sections of other writers (the chart window's
// "Graf" section, hand-edited read-only keys) as they were.

#include <QByteArray>
#include <QMap>
#include <QString>

#include <array>

namespace quodra::core {

inline const QString kSettingsFileName = QStringLiteral("Quodra_st.ini");

struct Settings {
    // [Nastaveni]
    QString logDirWrite; // "Adresar_write", always ends with "/"; the program's directory when absent
    QString logDirRead;  // "Adresar_read", the same
    QString graphName;   // "Jmeno_grafu"
    quint8 protocol = 1; // "protokol": 1 TCP, 2 UDP
    bool customAlarmsUsed = true;        // "cust_alarm"
    bool outputsUsed = true;             // "output_use"
    bool startNormal = true;             // "onorm_ch"
    bool startMinimised = false;         // "omin_ch"
    bool sidePanelVisible = false;       // "panel2_vis"
    int pollPeriod = 0;                  // "perioda_val", seconds 0..65535, 0 = no periodic poll
    bool trapCapture = false;            // "ztrapy_ch"
    bool trapReadState = false;          // "tnstav_ch"
    bool trapReadStateEnabled = false;   // "tnstav_en"
    bool trapBalloon = false;            // "htrapy_ch"
    bool trapBalloonEnabled = false;     // "htrapy_en"
    bool trapWindow = false;             // "otrapy_ch"
    bool trapWindowEnabled = false;      // "otrapy_en"
    bool trapAddStations = false;        // "prstan_ch"
    bool trapAddStationsEnabled = false; // "prstan_en"
    bool gridPanelVisible = true;        // "gridpanel_vis"
    bool statusBarVisible = true;        // "statusbar_vis"
    bool eventLogOn = false;             // "wlog_ch"
    bool smallIcons = false;             // "menu_min"
    bool buttonTexts = true;             // "menu_text"
    bool layoutLocked = false;           // "close_w"
    quint16 graphDateFrom = 0;           // "gr_datum_od"
    quint16 graphDateTo = 0;             // "gr_datum_do"
    bool graphUseDate = false;           // "gr_use_datum"

    // Device grid panel and columns.
    int gridFloatX = 100;                               // "Grid_fpx"
    int gridFloatY = 100;                               // "Grid_fpy"
    int gridFloating = 0;                               // "Grid_fl": 1 = floating, otherwise docked
    QString gridDock = QStringLiteral("TBXMultiDock1"); // "Grid_dcu", written only while docked
    int gridDockHeight = 190;                           // "Grid_dch"
    int gridDockWidth = 355;                            // "Grid_dcw"
    int gridDockPos = 0;                                // "Grid_dcp"
    int gridDockRow = 0;                                // "Grid_dcr"
    int gridFloatHeight = 200;                          // "Grid_flh"
    int gridFloatWidth = 500;                           // "Grid_flw"
    int gridSplitHeight = 190;                          // "Grid_sch"
    int gridSplitWidth = 200;                           // "Grid_scw"
    int gridHeight = 325;                               // "Grid_dhe"
    int gridWidth = 365;                                // "Grid_dwi"
    // "Grid_cw1" .. "Grid_cw26": index c-1 for column c; columns 11..26 are the values 0..15 (0 hides).
    std::array<int, 26> columnWidths{100, 82, 117, 17, 17, 12, 12, 12, 12, 12};
    std::array<quint8, 16> valueDecimals{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}; // "Grid_dm0".."15"
    std::array<QString, 16> valueHeaders; // "Grid_hd0".."15", default "Val1".."Val16"

    int resetInterval = 0;  // "CRES_TM", read only: poll-timer ticks between Ethernet resets, < 1 = off
    bool pingFirst = false; // "PING", read only
    quint16 trapPort = 162; // "TRAP_PORT", read only: the port the trap receiver binds

    // [Panely]
    quint8 viewType = 0;          // "Typ"
    quint8 showValues = 1;        // "Hod"
    quint8 showAlarms = 1;        // "Alr"
    quint8 showOutputs = 1;       // "Out", 0 while outputs are not used
    int valuesPanelHeight = 435;  // "Hod_h"
    int valuesPanelWidth = 356;   // "Hod_w"
    int alarmsPanelHeight = 228;  // "Alr_h"
    int alarmsPanelWidth = 211;   // "Alr_w"
    int customPanelHeight = 228;  // "CAlr_h"
    int customPanelWidth = 100;   // "CAlr_w"
    int outputsPanelHeight = 202; // "Out_h"
    int outputsPanelWidth = 211;  // "Out_w"

    // [Form]
    int windowHeight = 650;  // "Height"
    int windowWidth = 1000;  // "Width"
    bool graphShown = false; // "Graf"

    // [Graf]: the chart window's own keys, kept as texts.
    QMap<QString, QString> graph;
    // [Placement]: window geometry by window name (QWidget::saveGeometry bytes, base64 in the file).
    QMap<QString, QByteArray> placement;

    Settings();
    bool operator==(const Settings&) const = default;

    int graphInt(const QString& key, int defaultValue) const;
    void setGraphInt(const QString& key, int value) { graph[key] = QString::number(value); }

    // Reads the file; a missing file, section or key, or a value that is not a valid integer where
    // one is expected, gives the default. `programDir` is the directory that log directories fall
    // back to when theirs does not exist.
    static Settings load(const QString& iniPath, const QString& programDir);
    // Writes every persistent key into the file, in the order start-up reads them, leaving all
    // other keys and sections of the file as they were. False with an error text when the file
    // cannot be read or replaced; the old file is then left as it was.
    bool save(const QString& iniPath, QString* error = nullptr) const;
};

} // namespace quodra::core
