#include "ui/device_grid_view.h"

#include "ui/device_grid_model.h"

#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace quodra::ui {

using namespace grid;

namespace {
constexpr int kRowHeight = 21;
constexpr int kHeaderHeight = 21;
constexpr int kFixedColumnWidth = 34;
constexpr int kCheckBoxSize = 15;
constexpr int kHintMs = 10000;

bool isCheckColumn(int column)
{
    return column == ColPoll || column == ColStateLog;
}
bool isColourColumn(int column)
{
    return column == ColNumber || (column >= ColAlarm && column <= ColTrap);
}

QRect checkBoxRect(const QRect& cell)
{
    QRect box(0, 0, kCheckBoxSize, kCheckBoxSize);
    box.moveCenter(cell.center());
    return box;
}
} // namespace

void DeviceGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const
{
    const int col = index.column();
    const QVariant bg = index.data(Qt::BackgroundRole);
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    painter->save();

    QColor fill = bg.isValid() ? bg.value<QColor>() : (col == ColNumber ? kFixedColour : kGridBackground);
    // Status and state cells keep their colours on the current row; text cells show the selection.
    if (selected && !isColourColumn(col) && !isCheckColumn(col))
        fill = option.palette.color(QPalette::Highlight);
    painter->fillRect(option.rect, fill);

    if (isCheckColumn(col)) {
        QStyleOptionButton box;
        box.rect = checkBoxRect(option.rect);
        box.state =
            QStyle::State_Enabled |
            (index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked ? QStyle::State_On
                                                                                   : QStyle::State_Off);
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, widget);
    } else {
        const QString text = index.data(Qt::DisplayRole).toString();
        if (!text.isEmpty()) {
            painter->setPen(selected && !isColourColumn(col) ? option.palette.color(QPalette::HighlightedText)
                                                             : QColor(Qt::black));
            const QRect r = option.rect.adjusted(2, 0, -2, 0);
            painter->setFont(option.font);
            const Qt::Alignment align =
                Qt::AlignVCenter | (col == ColNumber ? Qt::AlignHCenter : Qt::AlignLeft);
            painter->drawText(r, int(align), option.fontMetrics.elidedText(text, Qt::ElideRight, r.width()));
        }
    }

    if (index.data(FrameRole).toBool()) {
        painter->setPen(QPen(kFrameColour, 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
    }
    painter->restore();
}

bool DeviceGridDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                     const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (!isCheckColumn(index.column()) || !(index.flags() & Qt::ItemIsUserCheckable))
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    bool toggle = false;
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* me = static_cast<QMouseEvent*>(event);
        toggle = me->button() == Qt::LeftButton && option.rect.contains(me->position().toPoint());
    } else if (event->type() == QEvent::MouseButtonDblClick || event->type() == QEvent::MouseButtonPress) {
        return false;
    } else if (event->type() == QEvent::KeyPress) {
        toggle = static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space;
    }
    if (!toggle)
        return false;
    const bool checked = index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
    return model->setData(index, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

DeviceGridHeader::DeviceGridHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
{
    setSectionsClickable(false);
    setHighlightSections(false);
    setMouseTracking(true);
    setFixedHeight(kHeaderHeight);
    setDefaultAlignment(Qt::AlignCenter);
}

void DeviceGridHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    if (!rect.isValid())
        return;
    painter->save();
    const QVariant bg =
        model() ? model()->headerData(logicalIndex, Qt::Horizontal, Qt::BackgroundRole) : QVariant();
    painter->fillRect(rect, bg.isValid() ? bg.value<QColor>() : kFixedColour);
    painter->setPen(QColor(Qt::gray));
    painter->drawLine(rect.topRight(), rect.bottomRight());
    painter->drawLine(rect.bottomLeft(), rect.bottomRight());
    painter->setPen(Qt::black);
    const QString text =
        model() ? model()->headerData(logicalIndex, Qt::Horizontal, Qt::DisplayRole).toString() : QString();
    painter->drawText(rect.adjusted(1, 0, -1, 0), Qt::AlignCenter,
                      fontMetrics().elidedText(text, Qt::ElideRight, rect.width() - 2));
    painter->restore();
}

bool DeviceGridHeader::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip && model()) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int section = logicalIndexAt(help->pos());
        const QString hint = section < 0
                                 ? QString()
                                 : model()->headerData(section, Qt::Horizontal, Qt::ToolTipRole).toString();
        if (hint.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), hint, viewport(), QRect(), kHintMs);
        return true;
    }
    return QHeaderView::viewportEvent(event);
}

void DeviceGridHeader::mouseMoveEvent(QMouseEvent* event)
{
    Q_EMIT pointerMoved();
    QHeaderView::mouseMoveEvent(event);
}

DeviceGridView::DeviceGridView(QWidget* parent) : QTableView(parent), m_header(new DeviceGridHeader(this))
{
    setHorizontalHeader(m_header);
    setItemDelegate(new DeviceGridDelegate(this));
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    m_header->setMinimumSectionSize(0);
    m_header->setDefaultSectionSize(64);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed |
                    QAbstractItemView::SelectedClicked);
    setSortingEnabled(false);
    setWordWrap(false);
    setMouseTracking(true);
    setContextMenuPolicy(Qt::CustomContextMenu);
    m_header->setContextMenuPolicy(Qt::CustomContextMenu);
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    setStyleSheet(QStringLiteral("QTableView { background-color: #ECF1C5; gridline-color: silver; }"));
    connect(m_header, &DeviceGridHeader::pointerMoved, this, &DeviceGridView::pointerMoved);
    connect(m_header, &QHeaderView::sectionCountChanged, this, [this] {
        m_header->resizeSection(ColNumber, kFixedColumnWidth);
        m_header->setSectionResizeMode(ColNumber, QHeaderView::Fixed);
    });
}

void DeviceGridView::mouseMoveEvent(QMouseEvent* event)
{
    Q_EMIT pointerMoved();
    QTableView::mouseMoveEvent(event);
}

void DeviceGridView::mousePressEvent(QMouseEvent* event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    QTableView::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && index.isValid())
        Q_EMIT cellPressed(index);
}

} // namespace quodra::ui
