#pragma once
// The notification-area icon: eight images for the aggregate state, the pop-up menu "Show" /
// "Exit", balloons and the tooltip "SNMPtrap". When the desktop has no system tray the icon is
// never shown and the window falls back to a normal minimise (see available()).

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>

class QMenu;

namespace quodra::ui {

// Image `index` of the tray image list (0..7): 2 x alarm + error + 4 x trap. Drawn, 32 x 32.
QIcon trayImage(int index);

class TrayController : public QObject {
    Q_OBJECT
public:
    explicit TrayController(QObject* parent = nullptr);
    ~TrayController() override;

    // The desktop offers a system tray; without one, hiding to the tray becomes a minimise.
    static bool available();

    void setImage(int index);
    int image() const { return m_image; }
    void setVisible(bool visible);
    bool isVisible() const;
    // Information balloon shown for `ms` milliseconds.
    void showBalloon(const QString& title, const QString& text, int ms = 10000);

Q_SIGNALS:
    void showRequested(); // "Show", icon click, balloon click
    void exitRequested(); // "Exit"

private:
    QSystemTrayIcon* m_icon = nullptr;
    QMenu* m_menu = nullptr;
    int m_image = -1;
};

} // namespace quodra::ui
