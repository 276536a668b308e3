#pragma once
// The view of the device grid: its look (colours, sizes, font), the painting of status colours,
// change frames and "Y"/"N" check boxes, and the raw pointer events the panel turns into actions.

#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableView>

namespace quodra::ui {

// Paints cell colours, the blue change frames and the check boxes, and toggles a box on a click.
class DeviceGridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
};

// Header with per-section background colours (a set text filter paints its column yellow) and
// hints that stay for 10 seconds.
class DeviceGridHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit DeviceGridHeader(QWidget* parent = nullptr);

Q_SIGNALS:
    void pointerMoved();

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    bool viewportEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
};

class DeviceGridView : public QTableView {
    Q_OBJECT
public:
    explicit DeviceGridView(QWidget* parent = nullptr);
    DeviceGridHeader* gridHeader() const { return m_header; }

Q_SIGNALS:
    void pointerMoved();
    // Left button pressed on a data cell.
    void cellPressed(const QModelIndex& index);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    DeviceGridHeader* m_header;
};

} // namespace quodra::ui
