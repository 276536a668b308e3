#include "ui/selected_device_view.h"

#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace quodra::ui {

SelectedDeviceView::SelectedDeviceView(QWidget* parent)
    : QWidget(parent), m_title(new QLabel(this)), m_body(new QLabel(this))
{
    setObjectName(QStringLiteral("MainPanel"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0x00, 0xFF, 0xFF));
    setPalette(pal);
    m_title->setAlignment(Qt::AlignCenter);
    m_title->setStyleSheet(QStringLiteral("background: #9CE6FE; font-weight: bold; font-size: 10pt;"));
    m_title->setFixedHeight(18);
    m_body->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_body->setTextFormat(Qt::RichText);
    m_body->setStyleSheet(QStringLiteral("background: #AAFFFF; padding: 6px;"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(0);
    layout->addWidget(m_title);
    layout->addWidget(m_body, 1);
    for (QWidget* w :
         {static_cast<QWidget*>(this), static_cast<QWidget*>(m_title), static_cast<QWidget*>(m_body)}) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
}

bool SelectedDeviceView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove)
        Q_EMIT pointerMoved();
    return QWidget::eventFilter(watched, event);
}

void SelectedDeviceView::showDevice(const core::DeviceSnapshot& d, const QString& note)
{
    const core::Tkonfig& k = d.konfig;
    const core::Tstav& s = d.stav;
    m_title->setText(k.addressWithPort().isEmpty() ? QStringLiteral("-") : k.addressWithPort());
    static const char* const stateNames[] = {"-", "OK", "?", "chyba", "chyba"};
    const char* state = s.commState <= 4 ? stateNames[s.commState] : "?";
    QString html = QStringLiteral("<table cellspacing=3>");
    auto row = [&html](const QString& name, const QString& value) {
        html += QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>")
                    .arg(name.toHtmlEscaped(), value.toHtmlEscaped());
    };
    row(QStringLiteral("Typ"), k.typ.text());
    row(QStringLiteral("Popis"), k.popis.text());
    row(QStringLiteral("Stav"), QString::fromLatin1(state));
    QString alarms;
    for (int i = 0; i < core::kAlarmCount; ++i) {
        if (!(k.alarmsInUse & (1u << i)))
            continue;
        const bool on = s.alarms & (1u << i);
        QString text = on ? k.alarmOnText[i].text() : k.alarmOffText[i].text();
        if (text.isEmpty())
            text = QString::number(i + 1);
        alarms += (on ? QStringLiteral("[!] ") : QString()) + text + QStringLiteral("; ");
    }
    row(QStringLiteral("Alarmy"), alarms);
    for (int i = 0; i < core::kValueCount; ++i) {
        if (!(k.valuesInUse & (1u << i)) || s.valueText[std::size_t(i)].isEmpty())
            continue;
        QString name = k.valueName[i].text();
        if (name.isEmpty())
            name = QStringLiteral("Val%1").arg(i + 1);
        row(name, s.valueText[std::size_t(i)] + QLatin1Char(' ') + k.valueUnit[i].text() +
                      ((s.valueAlarms & (1u << i)) ? QStringLiteral("  <VALUE>") : QString()));
    }
    html += QStringLiteral("</table>");
    if (!note.isEmpty())
        html += QStringLiteral("<p>") + note.toHtmlEscaped() + QStringLiteral("</p>");
    m_body->setText(html);
}

} // namespace quodra::ui
