#include "ui/main_toolbar.h"

#include "core/settings.h"

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace quodra::ui {

namespace {
QAction* checkItem(QMenu* menu, const QString& text, const QString& name)
{
    QAction* a = menu->addAction(text);
    a->setCheckable(true);
    a->setObjectName(name);
    return a;
}

QToolButton* menuButton(QToolBar* bar, QMenu* menu, const QString& text)
{
    auto* button = new QToolButton(bar);
    button->setText(text);
    button->setToolTip(text.trimmed());
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->addWidget(button);
    return button;
}
} // namespace

MainToolBar::MainToolBar(QWidget* parent) : QToolBar(QStringLiteral("Hlavní"), parent)
{
    setObjectName(QStringLiteral("MainToolBar"));
    setMovable(false);
    setToolButtonStyle(Qt::ToolButtonTextOnly);

    readAll = addAction(QStringLiteral("Stavy "));
    readAll->setObjectName(QStringLiteral("TBXItem8"));

    auto* periodBox = new QWidget(this);
    auto* periodLayout = new QVBoxLayout(periodBox);
    periodLayout->setContentsMargins(6, 0, 6, 0);
    periodLayout->setSpacing(0);
    auto* caption = new QLabel(QStringLiteral("Prodleva dotazu[s]"), periodBox);
    period = new QSpinBox(periodBox);
    period->setObjectName(QStringLiteral("Perioda"));
    period->setRange(0, 65535);
    period->setToolTip(QStringLiteral("Doba pro periodické dotazování na zařízení. 0 - nedotazuje se."));
    periodLayout->addWidget(caption);
    periodLayout->addWidget(period);
    addWidget(periodBox);
    connect(period, &QSpinBox::valueChanged, this, [this](int v) {
        if (!m_settingPeriod)
            Q_EMIT periodEdited(v);
    });

    settingsMenu = new QMenu(this);
    settingsMenu->setObjectName(QStringLiteral("Nastaveni"));
    protocolUdp = checkItem(settingsMenu, QStringLiteral("Protokol UDP"), QStringLiteral("TBXItem26"));
    writeLog = checkItem(settingsMenu, QStringLiteral("Zapisovat Log"), QStringLiteral("wlog"));
    saveList = settingsMenu->addAction(QStringLiteral("Ulož"));
    saveList->setObjectName(QStringLiteral("TBXItem31"));
    settingsMenu->addSeparator();
    trapCapture = checkItem(settingsMenu, QStringLiteral("Zachytávat trapy"), QStringLiteral("ztrapy"));
    trapReadState = checkItem(settingsMenu, QStringLiteral("Číst stav při trapu"), QStringLiteral("tnstav"));
    trapBalloon =
        checkItem(settingsMenu, QStringLiteral("Zobrazit hlášku při trapu"), QStringLiteral("htrapy"));
    trapWindow = checkItem(settingsMenu, QStringLiteral("Zobrazit okno při trapu"), QStringLiteral("otrapy"));
    trapAddStations = checkItem(settingsMenu, QStringLiteral("Přidávat stanice"), QStringLiteral("prstan"));
    settingsMenu->addSeparator();
    startNormal = checkItem(settingsMenu, QStringLiteral("Spustit normálně"), QStringLiteral("onorm"));
    startMinimised =
        checkItem(settingsMenu, QStringLiteral("Spustit minimalizovaně"), QStringLiteral("omin"));
    auto* startGroup = new QActionGroup(this);
    startGroup->setExclusive(true);
    startGroup->addAction(startNormal);
    startGroup->addAction(startMinimised);
    settingsMenu->addSeparator();
    resetEth = settingsMenu->addAction(QStringLiteral("Reset Eth."));
    resetEth->setObjectName(QStringLiteral("TBXItem32"));
    resetEth->setVisible(false);
    menuButton(this, settingsMenu, QStringLiteral("Nastavení "));
    connect(trapCapture, &QAction::toggled, this, &MainToolBar::applyTrapCapture);

    viewMenu = new QMenu(this);
    viewMenu->setObjectName(QStringLiteral("Zobraz"));
    showGridPanel = checkItem(viewMenu, QStringLiteral("Panel adres"), QStringLiteral("panelAdres"));
    showStatusBar = checkItem(viewMenu, QStringLiteral("Status bar"), QStringLiteral("statusBarItem"));
    menuButton(this, viewMenu, QStringLiteral("Zobraz "));
}

// The four trap reactions are usable only while traps are captured; switching capture off also
// unchecks them.
void MainToolBar::applyTrapCapture(bool on)
{
    for (QAction* a : {trapReadState, trapBalloon, trapWindow, trapAddStations}) {
        a->setEnabled(on);
        if (!on)
            a->setChecked(false);
    }
}

void MainToolBar::applySettings(const core::Settings& s)
{
    protocolUdp->setChecked(s.protocol == 2);
    writeLog->setChecked(s.eventLogOn);
    {
        const QSignalBlocker block(trapCapture);
        trapCapture->setChecked(s.trapCapture);
    }
    trapReadState->setChecked(s.trapReadState);
    trapReadState->setEnabled(s.trapReadStateEnabled);
    trapBalloon->setChecked(s.trapBalloon);
    trapBalloon->setEnabled(s.trapBalloonEnabled);
    trapWindow->setChecked(s.trapWindow);
    trapWindow->setEnabled(s.trapWindowEnabled);
    trapAddStations->setChecked(s.trapAddStations);
    trapAddStations->setEnabled(s.trapAddStationsEnabled);
    // One of the two start modes is always checked.
    if (s.startMinimised && !s.startNormal)
        startMinimised->setChecked(true);
    else
        startNormal->setChecked(true);
    resetEth->setVisible(s.resetInterval >= 1);
    showGridPanel->setChecked(s.gridPanelVisible);
    showStatusBar->setChecked(s.statusBarVisible);
    m_settingPeriod = true;
    period->setValue(s.pollPeriod);
    m_settingPeriod = false;
    readAll->setToolTip(QString()); // the window sets the hint with the transport
}

void MainToolBar::storeSettings(core::Settings& s) const
{
    s.protocol = protocolUdp->isChecked() ? 2 : 1;
    s.eventLogOn = writeLog->isChecked();
    s.trapCapture = trapCapture->isChecked();
    s.trapReadState = trapReadState->isChecked();
    s.trapReadStateEnabled = trapReadState->isEnabled();
    s.trapBalloon = trapBalloon->isChecked();
    s.trapBalloonEnabled = trapBalloon->isEnabled();
    s.trapWindow = trapWindow->isChecked();
    s.trapWindowEnabled = trapWindow->isEnabled();
    s.trapAddStations = trapAddStations->isChecked();
    s.trapAddStationsEnabled = trapAddStations->isEnabled();
    s.startNormal = startNormal->isChecked();
    s.startMinimised = startMinimised->isChecked();
    s.gridPanelVisible = showGridPanel->isChecked();
    s.statusBarVisible = showStatusBar->isChecked();
    s.pollPeriod = period->value();
}

} // namespace quodra::ui
