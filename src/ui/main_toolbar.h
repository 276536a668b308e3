#pragma once
// The main toolbar: "Stavy " (read all devices), the period field "Perioda", the settings submenu
// "Nastavení " and the view submenu "Zobraz ". The actions are public so the window connects
// them; the toolbar itself only keeps the dependent states of its items consistent.

#include <QToolBar>

class QAction;
class QMenu;
class QSpinBox;

namespace quodra::core {
struct Settings;
}

namespace quodra::ui {

class MainToolBar : public QToolBar {
    Q_OBJECT
public:
    explicit MainToolBar(QWidget* parent = nullptr);

    // Check and enabled states as stored; the period into the field (without marking it edited).
    void applySettings(const core::Settings& s);
    // The items' states back into the settings.
    void storeSettings(core::Settings& s) const;

    QAction* readAll = nullptr;         // "Stavy "
    QSpinBox* period = nullptr;         // "Perioda", 0..65535 s
    QMenu* settingsMenu = nullptr;      // "Nastavení "
    QAction* protocolUdp = nullptr;     // "Protokol UDP"
    QAction* writeLog = nullptr;        // "Zapisovat Log"
    QAction* saveList = nullptr;        // "Ulož"
    QAction* trapCapture = nullptr;     // "Zachytávat trapy"
    QAction* trapReadState = nullptr;   // "Číst stav při trapu"
    QAction* trapBalloon = nullptr;     // "Zobrazit hlášku při trapu"
    QAction* trapWindow = nullptr;      // "Zobrazit okno při trapu"
    QAction* trapAddStations = nullptr; // "Přidávat stanice"
    QAction* startNormal = nullptr;     // "Spustit normálně"
    QAction* startMinimised = nullptr;  // "Spustit minimalizovaně"
    QAction* resetEth = nullptr;        // "Reset Eth.", visible when CRES_TM >= 1
    QMenu* viewMenu = nullptr;          // "Zobraz "
    QAction* showGridPanel = nullptr;   // "Panel adres"
    QAction* showStatusBar = nullptr;   // "Status bar"

Q_SIGNALS:
    // The period field was edited by the operator (periodChanged).
    void periodEdited(int seconds);

private:
    void applyTrapCapture(bool on);
    bool m_settingPeriod = false;
};

} // namespace quodra::ui
