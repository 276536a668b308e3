#include "ui/main_status_bar.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

namespace quodra::ui {

namespace {
// The console's cursor 6: a hand-drawn pause sign (two bars in a circle) that tells the label can
// stop and restart the countdown.
QCursor pauseCursor()
{
    static const QCursor cursor = [] {
        QPixmap pix(32, 32);
        pix.fill(Qt::transparent);
        QPainter p(&pix);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::white, 2));
        p.setBrush(QColor(0x20, 0x20, 0x20));
        p.drawEllipse(QRectF(2, 2, 20, 20));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(8, 7, 3, 10));
        p.drawRect(QRectF(13, 7, 3, 10));
        return QCursor(pix, 12, 12);
    }();
    return cursor;
}
} // namespace

void CountdownLabel::setCountdownRunning(bool running)
{
    if (running)
        setCursor(pauseCursor());
    else
        unsetCursor();
}

void CountdownLabel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        Q_EMIT clicked();
    QLabel::mousePressEvent(event);
}

MainStatusBar::MainStatusBar(QWidget* parent)
    : QStatusBar(parent), m_count(new QLabel(this)), m_countdown(new CountdownLabel(this)),
      m_tags(new QLabel(this))
{
    setObjectName(QStringLiteral("StatusBar"));
    m_count->setObjectName(QStringLiteral("countPanel"));
    m_countdown->setObjectName(QStringLiteral("Label4"));
    m_tags->setObjectName(QStringLiteral("tagPanel"));
    m_count->setMinimumWidth(110);
    m_countdown->setMinimumWidth(130);
    m_countdown->setAlignment(Qt::AlignCenter);
    m_countdown->setToolTip(QStringLiteral("Stop / Start"));
    QFont tagFont = m_tags->font();
    tagFont.setBold(true);
    m_tags->setFont(tagFont);
    m_tags->setStyleSheet(QStringLiteral("color: #C00000"));
    addWidget(m_count);
    addWidget(m_countdown);
    addWidget(m_tags, 1);
    connect(m_countdown, &CountdownLabel::clicked, this, &MainStatusBar::countdownClicked);
}

void MainStatusBar::setCountText(const QString& text)
{
    m_count->setText(text);
}

void MainStatusBar::setCountdownText(const QString& text, bool running)
{
    m_countdown->setText(text);
    m_countdown->setCountdownRunning(running);
}

void MainStatusBar::setTagText(const QString& text)
{
    m_tags->setText(text);
}

QString MainStatusBar::countText() const
{
    return m_count->text();
}

QString MainStatusBar::countdownText() const
{
    return m_countdown->text();
}

QString MainStatusBar::tagText() const
{
    return m_tags->text();
}

} // namespace quodra::ui
