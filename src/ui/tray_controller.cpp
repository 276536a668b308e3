#include "ui/tray_controller.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QPixmap>

#include <array>

namespace quodra::ui {

namespace {

QPixmap drawTrayImage(int index)
{
    const bool alarm = index & 2;
    const bool error = index & 1;
    const bool trap = index & 4;
    QPixmap pix(32, 32);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    // Base disc: green when all is quiet, red with alarms.
    p.setPen(QPen(QColor(0x20, 0x20, 0x20), 1.5));
    p.setBrush(alarm ? QColor(0xE0, 0x10, 0x10) : QColor(0x10, 0xC0, 0x30));
    p.drawEllipse(QRectF(2, 2, 24, 24));
    if (alarm) {
        p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(14, 7), QPointF(14, 16));
        p.drawPoint(QPointF(14, 21));
    }
    if (error) {
        // Yellow triangle, lower right: a communication or measurement error.
        QPolygonF tri;
        tri << QPointF(21, 15) << QPointF(31, 31) << QPointF(11, 31);
        p.setPen(QPen(QColor(0x30, 0x30, 0x00), 1.2));
        p.setBrush(QColor(0xFF, 0xD8, 0x00));
        p.drawPolygon(tri);
        p.setPen(QPen(Qt::black, 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(21, 20), QPointF(21, 26));
        p.drawPoint(QPointF(21, 29));
    }
    if (trap) {
        // Violet dot, upper right: a trap waits for acknowledgement.
        p.setPen(QPen(Qt::white, 1.5));
        p.setBrush(QColor(0x90, 0x20, 0xD0));
        p.drawEllipse(QRectF(19, 0, 12, 12));
    }
    return pix;
}

} // namespace

QIcon trayImage(int index)
{
    static std::array<QIcon, 8> cache;
    index = qBound(0, index, 7);
    if (cache[std::size_t(index)].isNull())
        cache[std::size_t(index)] = QIcon(drawTrayImage(index));
    return cache[std::size_t(index)];
}

TrayController::TrayController(QObject* parent)
    : QObject(parent), m_icon(new QSystemTrayIcon(this)), m_menu(new QMenu())
{
    m_icon->setToolTip(QStringLiteral("SNMPtrap"));
    QAction* show = m_menu->addAction(QStringLiteral("Show"));
    QAction* exit = m_menu->addAction(QStringLiteral("Exit"));
    connect(show, &QAction::triggered, this, &TrayController::showRequested);
    connect(exit, &QAction::triggered, this, &TrayController::exitRequested);
    m_icon->setContextMenu(m_menu);
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger)
            Q_EMIT showRequested();
    });
    connect(m_icon, &QSystemTrayIcon::messageClicked, this, &TrayController::showRequested);
    setImage(0);
}

TrayController::~TrayController()
{
    delete m_menu;
}

bool TrayController::available()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayController::setImage(int index)
{
    if (index == m_image)
        return;
    m_image = index;
    m_icon->setIcon(trayImage(index));
}

void TrayController::setVisible(bool visible)
{
    m_icon->setVisible(visible && available());
}

bool TrayController::isVisible() const
{
    return m_icon->isVisible();
}

void TrayController::showBalloon(const QString& title, const QString& text, int ms)
{
    if (m_icon->isVisible())
        m_icon->showMessage(title, text, QSystemTrayIcon::Information, ms);
}

} // namespace quodra::ui
