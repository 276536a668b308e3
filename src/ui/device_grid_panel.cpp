#include "ui/device_grid_panel.h"

#include "core/console_options.h"
#include "core/language.h"
#include "core/settings.h"
#include "core/summary.h"
#include "logs/binary_logs.h"
#include "logs/event_log.h"
#include "ui/device_grid_view.h"

#include <QActionGroup>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QScopedValueRollback>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidgetAction>

#include <array>

namespace quodra::ui {

using namespace grid;

namespace {
constexpr int kShownValueWidth = 64;
const QString kLeftDockName = QStringLiteral("TBXMultiDock1");
const QString kBottomDockName = QStringLiteral("TBXMultiDock2");

QString countWord()
{
    return core::lookupConstant(QStringLiteral("hpocet")).value_or(QString());
}

// The filter mode of each state-filter button, in core::FilterButton order.
constexpr std::array<int, core::kFilterButtonCount> kFilterModes{1, 2, 3, 4, core::GridFilterState::kTrapMode,
                                                                 5, 6, 7, 8};

quint32 sumOf(const core::Summary& s, int button)
{
    switch (button) {
    case core::fbAlarms:
        return s.sumAlarms;
    case core::fbCustomAlarms:
        return s.sumCustomAlarms;
    case core::fbValueAlarms:
        return s.sumValueAlarms;
    case core::fbErrors:
        return s.sumErrors;
    case core::fbTrap:
        return s.sumTrap ? 1u : 0u;
    case core::fbAlarmsChanged:
        return s.sumAlarmsChanged;
    case core::fbCustomAlarmsChanged:
        return s.sumCustomAlarmsChanged;
    case core::fbValueAlarmsChanged:
        return s.sumValueAlarmsChanged;
    case core::fbErrorsChanged:
        return s.sumErrorsChanged;
    default:
        return 0;
    }
}

// The small lamp above a filter button's caption.
QIcon lampIcon(const QColor& colour)
{
    QPixmap pix(10, 10);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1));
    p.setBrush(colour);
    p.drawEllipse(QRectF(1, 1, 8, 8));
    return QIcon(pix);
}
} // namespace

struct DeviceGridPanel::Private {
    core::DeviceTable& table;
    core::ConsoleOptions& options;
    DeviceGridModel* model = nullptr;
    DeviceGridView* view = nullptr;
    QToolBar* toolBar = nullptr;
    std::array<QAction*, core::kFilterButtonCount> filterButtons{};
    core::Summary lastSummary;
    QMenu* valuesMenu = nullptr;
    std::array<QAction*, core::kValueCount> valueItems{};
    logs::EventLog* eventLog = nullptr;
    logs::BinaryLogs* binaryLogs = nullptr;

    int menuColumn = -1;
    bool selecting = false; // the current row is being set by the program

    QMenu* deviceMenu = nullptr;
    QAction* queryItem = nullptr;
    QAction* textsItem = nullptr;
    QAction* logItem = nullptr;
    QAction* thermostatItem = nullptr;
    QAction* upItem = nullptr;
    QAction* downItem = nullptr;
    QAction* insertItem = nullptr;
    QAction* deleteItem = nullptr;
    QMenu* valueCellMenu = nullptr;
    QMenu* valueColumnMenu = nullptr;
    std::array<QAction*, 3> decimalItems{};
    QMenu* textFilterMenu = nullptr;
    QLineEdit* filterEdit = nullptr;

    // Dock keys kept as read; those without a meaning here are written back unchanged.
    core::Settings dock;
    Qt::DockWidgetArea area = Qt::LeftDockWidgetArea;

    Private(core::DeviceTable& t, core::ConsoleOptions& o) : table(t), options(o) {}
};

DeviceGridPanel::DeviceGridPanel(core::DeviceTable& table, core::ConsoleOptions& options, QWidget* parent)
    : QDockWidget(QStringLiteral("Seznam zařízení"), parent), d(std::make_unique<Private>(table, options))
{
    setObjectName(QStringLiteral("GridPanel"));
    setAllowedAreas(Qt::LeftDockWidgetArea | Qt::BottomDockWidgetArea);

    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    d->toolBar = new QToolBar(QStringLiteral("Filtr"), body);
    d->toolBar->setObjectName(QStringLiteral("GridFilterBar"));
    d->toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    d->toolBar->setIconSize(QSize(10, 10));
    // Nine state-filter buttons in one group: at most one is checked, a click on the checked one
    // unchecks it. All start disabled; the summary enables them.
    auto* filterGroup = new QActionGroup(d->toolBar);
    filterGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    const std::array<QString, core::kFilterButtonCount> captions{
        QStringLiteral("A"), QStringLiteral("C"), QStringLiteral("V"),
        QStringLiteral("E"), QStringLiteral("T"), QStringLiteral("A"),
        QStringLiteral("C"), QStringLiteral("V"), QStringLiteral("E")};
    const std::array<QColor, core::kFilterButtonCount> lamps{
        kYellow, kYellow, kYellow, kFailedColour, kMagenta, kYellow, kYellow, kYellow, kFailedColour};
    for (int b = 0; b < core::kFilterButtonCount; ++b) {
        if (b == core::fbAlarms || b == core::fbAlarmsChanged) {
            if (b == core::fbAlarmsChanged)
                d->toolBar->addSeparator();
            auto* label = new QLabel(b == core::fbAlarms ? QStringLiteral("Stav") : QStringLiteral("Změna"),
                                     d->toolBar);
            label->setContentsMargins(3, 0, 3, 0);
            d->toolBar->addWidget(label);
        }
        QAction* button = d->toolBar->addAction(lampIcon(lamps[std::size_t(b)]), captions[std::size_t(b)]);
        button->setObjectName(QStringLiteral("filterButton%1").arg(b));
        button->setCheckable(true);
        button->setEnabled(false);
        filterGroup->addAction(button);
        connect(button, &QAction::triggered, this, [this, b](bool checked) {
            const quint32 mask = sumOf(d->lastSummary, b);
            setStateFilter(checked ? kFilterModes[std::size_t(b)] : 0, checked ? mask : 0);
            Q_EMIT summaryRequested();
        });
        d->filterButtons[std::size_t(b)] = button;
    }
    d->toolBar->addSeparator();
    d->valuesMenu = new QMenu(QStringLiteral("Hodnoty"), d->toolBar);
    for (int k = 0; k < core::kValueCount; ++k) {
        QAction* item = d->valuesMenu->addAction(QStringLiteral("Hodnota%1").arg(k + 1));
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, k](bool on) { showValueColumn(k, on); });
        d->valueItems[std::size_t(k)] = item;
    }
    auto* valuesButton = new QToolButton(d->toolBar);
    valuesButton->setText(QStringLiteral("Hodnoty"));
    valuesButton->setToolTip(QStringLiteral("Zobrazí sloupce hodnot"));
    valuesButton->setMenu(d->valuesMenu);
    valuesButton->setPopupMode(QToolButton::InstantPopup);
    valuesButton->setStyleSheet(QStringLiteral("QToolButton { color: blue; font-weight: bold; }"));
    d->toolBar->addWidget(valuesButton);
    layout->addWidget(d->toolBar);

    d->model = new DeviceGridModel(table, this);
    d->view = new DeviceGridView(body);
    d->view->setModel(d->model);
    layout->addWidget(d->view);
    setWidget(body);

    static constexpr std::array<int, ColFirstValue> kDefaultWidths{34, 100, 82, 117, 17, 17,
                                                                   12, 12,  12, 12,  12};
    for (int c = 1; c < ColFirstValue; ++c)
        d->view->setColumnWidth(c, kDefaultWidths[std::size_t(c)]);
    for (int k = 0; k < core::kValueCount; ++k)
        setValueColumnWidth(k, 0);

    // Device menu.
    d->deviceMenu = new QMenu(this);
    d->queryItem = d->deviceMenu->addAction(QStringLiteral("Stav <DblClick>"));
    d->textsItem = d->deviceMenu->addAction(QStringLiteral("Texty"));
    d->logItem = d->deviceMenu->addAction(QStringLiteral("Log"));
    d->thermostatItem = d->deviceMenu->addAction(QStringLiteral("Klimo6"));
    d->deviceMenu->addSeparator();
    d->upItem = d->deviceMenu->addAction(QStringLiteral("Nahoru"));
    d->downItem = d->deviceMenu->addAction(QStringLiteral("Dolů"));
    d->insertItem = d->deviceMenu->addAction(QStringLiteral("Vlož"));
    d->deleteItem = d->deviceMenu->addAction(QStringLiteral("Smaž"));
    auto selected = [this] { return d->table.selectedDevice(); };
    connect(d->queryItem, &QAction::triggered, this, [this, selected] { Q_EMIT queryRequested(selected()); });
    connect(d->textsItem, &QAction::triggered, this, [this, selected] { Q_EMIT textsRequested(selected()); });
    connect(d->logItem, &QAction::triggered, this,
            [this, selected] { Q_EMIT logViewerRequested(selected()); });
    connect(d->thermostatItem, &QAction::triggered, this,
            [this, selected] { Q_EMIT thermostatRequested(selected()); });
    connect(d->upItem, &QAction::triggered, this, [this, selected] { moveUp(selected()); });
    connect(d->downItem, &QAction::triggered, this, [this, selected] { moveDown(selected()); });
    connect(d->insertItem, &QAction::triggered, this, [this, selected] { insertDevice(selected()); });
    connect(d->deleteItem, &QAction::triggered, this, [this, selected] { deleteDevice(selected()); });

    // Value cell menu.
    d->valueCellMenu = new QMenu(this);
    connect(d->valueCellMenu->addAction(QStringLiteral("Graf")), &QAction::triggered, this, [this, selected] {
        if (d->menuColumn >= ColFirstValue)
            Q_EMIT graphChannelRequested(selected(), d->menuColumn - ColFirstValue);
    });

    // Value column menu.
    d->valueColumnMenu = new QMenu(this);
    d->valueColumnMenu->addAction(QStringLiteral("Des. míst"))->setEnabled(false);
    d->valueColumnMenu->addSeparator();
    auto* decimals = new QActionGroup(d->valueColumnMenu);
    for (int n = 1; n <= 3; ++n) {
        QAction* item = d->valueColumnMenu->addAction(QString::number(n));
        item->setCheckable(true);
        decimals->addAction(item);
        connect(item, &QAction::triggered, this, [this, n] {
            if (d->menuColumn >= ColFirstValue && d->menuColumn < ColumnCount)
                d->options.setValueDecimals(d->menuColumn - ColFirstValue, quint8(n));
        });
        d->decimalItems[std::size_t(n - 1)] = item;
    }
    d->valueColumnMenu->addSeparator();
    connect(d->valueColumnMenu->addAction(QStringLiteral("Popis")), &QAction::triggered, this, [this] {
        if (d->menuColumn < ColFirstValue || d->menuColumn >= ColumnCount)
            return;
        const int k = d->menuColumn - ColFirstValue;
        const QString title = d->model->valueTitle(k);
        bool ok = false;
        const QString text = QInputDialog::getText(
            this, QStringLiteral("Popis"), QStringLiteral("Nový popis"), QLineEdit::Normal, title, &ok);
        setValueColumnTitle(k, ok ? text : title);
    });

    // Text filter menu.
    d->textFilterMenu = new QMenu(this);
    auto* editAction = new QWidgetAction(d->textFilterMenu);
    auto* editBox = new QWidget(d->textFilterMenu);
    auto* editLayout = new QHBoxLayout(editBox);
    editLayout->setContentsMargins(4, 2, 4, 2);
    editLayout->addWidget(new QLabel(QStringLiteral("Filtr"), editBox));
    d->filterEdit = new QLineEdit(editBox);
    d->filterEdit->setFixedWidth(128);
    editLayout->addWidget(d->filterEdit);
    editAction->setDefaultWidget(editBox);
    d->textFilterMenu->addAction(editAction);
    connect(d->filterEdit, &QLineEdit::returnPressed, this, [this] {
        setTextFilter(d->menuColumn, d->filterEdit->text());
        d->textFilterMenu->close();
    });
    connect(d->textFilterMenu->addAction(QStringLiteral("Filtr dle výběru")), &QAction::triggered, this,
            [this] {
                const QModelIndex current = d->view->currentIndex();
                const QString text = current.isValid()
                                         ? d->model->index(current.row(), d->menuColumn).data().toString()
                                         : QString();
                setTextFilter(d->menuColumn, text);
            });
    connect(d->textFilterMenu->addAction(QStringLiteral("Zruš filtr")), &QAction::triggered, this,
            [this] { setTextFilter(d->menuColumn, QString()); });

    // Pointer and mouse.
    connect(d->view, &DeviceGridView::pointerMoved, this, &DeviceGridPanel::pointerMoved);
    connect(d->view, &DeviceGridView::cellPressed, this, [this](const QModelIndex& index) {
        if (const quint8 dev = d->model->deviceAt(index.row()))
            acknowledge(dev);
    });
    connect(d->view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        const quint8 dev = d->model->deviceAt(index.row());
        if (dev == 0)
            return;
        d->table.setSelectedDevice(dev);
        Q_EMIT queryRequested(dev);
    });
    connect(d->view, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        d->menuColumn = d->view->columnAt(pos.x());
        const QModelIndex index = d->view->indexAt(pos);
        const quint8 dev = index.isValid() ? d->model->deviceAt(index.row()) : 0;
        if (dev == 0)
            return;
        QMenu* menu = d->menuColumn >= ColFirstValue ? d->valueCellMenu : deviceMenuFor(dev);
        {
            QScopedValueRollback guard(d->selecting, true);
            d->view->setCurrentIndex(
                d->model->index(index.row(), d->menuColumn >= ColFirstValue ? d->menuColumn : 0));
        }
        d->table.setSelectedDevice(dev);
        Q_EMIT selectedDeviceChanged(dev);
        menu->popup(d->view->viewport()->mapToGlobal(pos));
    });
    connect(d->view->gridHeader(), &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        d->menuColumn = d->view->gridHeader()->logicalIndexAt(pos);
        if (QMenu* menu = headerMenuFor(d->menuColumn))
            menu->popup(d->view->gridHeader()->mapToGlobal(pos));
    });
    connect(d->view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (d->selecting || !current.isValid())
                    return;
                const quint8 dev = d->model->deviceAt(current.row());
                if (dev == 0)
                    return;
                d->table.setSelectedDevice(dev);
                Q_EMIT selectedDeviceChanged(dev);
            });
    // A rebuild loses the current row; it goes back to the selected device without new signals.
    connect(d->model, &QAbstractItemModel::modelReset, this,
            [this] { selectDevice(d->table.selectedDevice()); });
    connect(d->model, &DeviceGridModel::editRejected, this, &DeviceGridPanel::messageRequested);
    connect(this, &QDockWidget::dockLocationChanged, this, [this](Qt::DockWidgetArea area) {
        if (area == Qt::LeftDockWidgetArea || area == Qt::BottomDockWidgetArea)
            d->area = area;
    });
}

DeviceGridPanel::~DeviceGridPanel() = default;

void DeviceGridPanel::setLogs(logs::EventLog* eventLog, logs::BinaryLogs* binaryLogs)
{
    d->eventLog = eventLog;
    d->binaryLogs = binaryLogs;
}

void DeviceGridPanel::applySettings(const core::Settings& settings)
{
    for (int c = 1; c < ColFirstValue; ++c)
        d->view->setColumnWidth(c, settings.columnWidths[std::size_t(c - 1)]);
    for (int k = 0; k < core::kValueCount; ++k) {
        setValueColumnWidth(k, settings.columnWidths[std::size_t(ColFirstValue - 1 + k)]);
        setValueColumnTitle(k, settings.valueHeaders[std::size_t(k)]);
        d->options.setValueDecimals(k, settings.valueDecimals[std::size_t(k)]);
    }
    d->dock = settings;
    d->area = settings.gridDock == kBottomDockName ? Qt::BottomDockWidgetArea : Qt::LeftDockWidgetArea;
    resize(settings.gridWidth, settings.gridHeight);
}

void DeviceGridPanel::storeSettings(core::Settings& settings) const
{
    for (int c = 1; c < ColFirstValue; ++c)
        settings.columnWidths[std::size_t(c - 1)] = d->view->isColumnHidden(c) ? 0 : d->view->columnWidth(c);
    for (int k = 0; k < core::kValueCount; ++k) {
        settings.columnWidths[std::size_t(ColFirstValue - 1 + k)] = valueColumnWidth(k);
        settings.valueHeaders[std::size_t(k)] = valueColumnTitle(k);
        settings.valueDecimals[std::size_t(k)] = d->options.valueDecimals(k);
    }
    const core::Settings& kept = d->dock;
    settings.gridFloatX = kept.gridFloatX;
    settings.gridFloatY = kept.gridFloatY;
    settings.gridFloatWidth = kept.gridFloatWidth;
    settings.gridFloatHeight = kept.gridFloatHeight;
    settings.gridDockWidth = kept.gridDockWidth;
    settings.gridDockHeight = kept.gridDockHeight;
    settings.gridDock = kept.gridDock;
    settings.gridDockPos = kept.gridDockPos;
    settings.gridDockRow = kept.gridDockRow;
    settings.gridSplitHeight = kept.gridSplitHeight;
    settings.gridSplitWidth = kept.gridSplitWidth;
    settings.gridFloating = isFloating() ? 1 : 0;
    if (isFloating()) {
        // While floating the dock name stays as it was.
        settings.gridFloatX = x();
        settings.gridFloatY = y();
        settings.gridFloatWidth = width();
        settings.gridFloatHeight = height();
    } else if (parentWidget()) {
        settings.gridDock = d->area == Qt::BottomDockWidgetArea ? kBottomDockName : kLeftDockName;
        settings.gridDockWidth = width();
        settings.gridDockHeight = height();
    }
    settings.gridWidth = width();
    settings.gridHeight = height();
}

void DeviceGridPanel::placeIn(QMainWindow& window)
{
    window.addDockWidget(d->area, this);
    const core::Settings& s = d->dock;
    if (s.gridFloating == 1) {
        setFloating(true);
        setGeometry(s.gridFloatX, s.gridFloatY, s.gridFloatWidth, s.gridFloatHeight);
    } else if (d->area == Qt::BottomDockWidgetArea) {
        window.resizeDocks({this}, {s.gridDockHeight}, Qt::Vertical);
    } else {
        window.resizeDocks({this}, {s.gridDockWidth}, Qt::Horizontal);
    }
}

void DeviceGridPanel::FillGrid()
{
    d->model->fill();
    const std::vector<core::DeviceSnapshot> devices = d->table.snapshots();
    int count = int(devices.size());
    if (count == 1 && devices.front().konfig.ipAddress.isEmpty())
        count = 0;
    Q_EMIT countTextChanged(countWord() + QStringLiteral(": ") + QString::number(count));
}

void DeviceGridPanel::ApplyGridFilter()
{
    d->model->applyFilter();
    Q_EMIT countTextChanged(
        core::deviceCountText(countWord(), d->model->deviceCount(), d->model->visibleCount()));
}

void DeviceGridPanel::setStateFilter(int mode, quint32 mask)
{
    d->model->setStateFilter(mode, mask);
}

void DeviceGridPanel::applySummary(const core::Summary& summary)
{
    d->lastSummary = summary;
    const auto states = summary.filterButtons();
    for (int b = 0; b < core::kFilterButtonCount; ++b) {
        QAction* button = d->filterButtons[std::size_t(b)];
        button->setEnabled(states[std::size_t(b)].enabled);
        if (states[std::size_t(b)].forceUnchecked && button->isChecked()) {
            button->setChecked(false);
            setStateFilter(0, 0);
        }
    }
}

QAction* DeviceGridPanel::filterButton(int button) const
{
    return button >= 0 && button < core::kFilterButtonCount ? d->filterButtons[std::size_t(button)] : nullptr;
}

const core::GridFilterState& DeviceGridPanel::filterState() const
{
    return d->model->filter();
}

bool DeviceGridPanel::hasHiddenRows() const
{
    return d->model->hasHiddenRows();
}

void DeviceGridPanel::setRowMark(core::DeviceId id, RowMark mark)
{
    d->model->setRowMark(id, mark);
}

void DeviceGridPanel::setRowMark(quint8 device, RowMark mark)
{
    if (const core::DeviceId id = d->table.idOf(device))
        d->model->setRowMark(id, mark);
}

RowMark DeviceGridPanel::rowMark(core::DeviceId id) const
{
    return d->model->rowMark(id);
}

void DeviceGridPanel::setValueColumnWidth(int k, int width)
{
    if (k < 0 || k >= core::kValueCount)
        return;
    const int col = ColFirstValue + k;
    d->view->setColumnHidden(col, width <= 0);
    if (width > 0)
        d->view->setColumnWidth(col, width);
    QAction* item = d->valueItems[std::size_t(k)];
    const QSignalBlocker block(item);
    item->setChecked(width > 0);
}

int DeviceGridPanel::valueColumnWidth(int k) const
{
    const int col = ColFirstValue + k;
    return d->view->isColumnHidden(col) ? 0 : d->view->columnWidth(col);
}

void DeviceGridPanel::setValueColumnTitle(int k, const QString& title)
{
    d->model->setValueTitle(k, title);
}

QString DeviceGridPanel::valueColumnTitle(int k) const
{
    return d->model->valueTitle(k);
}

void DeviceGridPanel::showValueColumn(int k, bool show)
{
    if (k < 0 || k >= core::kValueCount)
        return;
    if (show) {
        // The title comes from the first device of the table, whichever device is selected.
        const QString name = d->table.deviceCount() > 0 ? d->table.konfig(1).valueName[k].text() : QString();
        setValueColumnWidth(k, kShownValueWidth);
        setValueColumnTitle(k, name);
    } else {
        setValueColumnWidth(k, 0);
    }
}

void DeviceGridPanel::afterStructureChange(quint8 select)
{
    FillGrid();
    d->table.setSelectedDevice(select);
    selectDevice(select);
    Q_EMIT selectedDeviceChanged(select);
}

void DeviceGridPanel::moveUp(quint8 device)
{
    if (device <= 1 || device > d->table.deviceCount())
        return;
    d->table.SwapDevices(device, quint8(device - 1));
    afterStructureChange(quint8(device - 1));
}

void DeviceGridPanel::moveDown(quint8 device)
{
    if (device < 1 || device >= d->table.deviceCount())
        return;
    d->table.SwapDevices(device, quint8(device + 1));
    afterStructureChange(quint8(device + 1));
}

bool DeviceGridPanel::insertDevice(quint8 device)
{
    if (d->table.deviceCount() >= core::kMaxDevices) {
        Q_EMIT messageRequested(
            QStringLiteral("Seznam už má %1 zařízení, další nelze vložit.").arg(core::kMaxDevices));
        return false;
    }
    const quint8 at = device == 0 ? 1 : device;
    if (!d->table.InsertDevice(at))
        return false;
    afterStructureChange(at);
    return true;
}

void DeviceGridPanel::deleteDevice(quint8 device)
{
    if (d->table.deviceCount() < 2) {
        d->table.ClearDevice(1);
        if (d->table.deviceCount() == 0)
            d->table.setDeviceCount(1);
    } else {
        if (device < 1 || device > d->table.deviceCount())
            return;
        d->table.DeleteDevice(device);
    }
    afterStructureChange(qMax<quint8>(1, d->table.selectedDevice()));
    Q_EMIT summaryRequested();
}

void DeviceGridPanel::acknowledge(quint8 device)
{
    bool trapAccepted = false;
    core::Tkonfig konfig{};
    core::Tstav stav;
    const bool exists = d->table.modify(device, [&](core::Tkonfig& k, core::Tstav& s) {
        if (s.trapFlag != 0) {
            s.trapFlag = 0;
            trapAccepted = true;
        }
        s.alarmsChanged = 0;
        s.customAlarmsChanged = 0;
        s.valueAlarmsChanged = 0;
        s.errorsChanged = 0;
        konfig = k;
        stav = s;
    });
    if (!exists)
        return;
    if (trapAccepted) {
        // The records taken with the change name this device even if the table moves meanwhile.
        if (d->eventLog && !d->eventLog->writeForDevice(konfig, logs::event::trapAccept))
            Q_EMIT messageRequested(d->eventLog->lastError());
        if (d->binaryLogs && !d->binaryLogs->writeStateRecord(device, konfig, stav, logs::slTrapAccept))
            Q_EMIT messageRequested(d->binaryLogs->lastError());
    }
    d->model->refreshDevice(d->table.idOf(device));
    d->table.setSelectedDevice(device);
    Q_EMIT summaryRequested();
    Q_EMIT selectedDeviceChanged(device);
}

void DeviceGridPanel::setTextFilter(int column, const QString& text)
{
    if (column != ColType && column != ColDescription)
        return;
    d->model->setTextFilter(column, text);
    Q_EMIT summaryRequested();
    d->view->viewport()->update();
}

QMenu* DeviceGridPanel::deviceMenuFor(quint8 device)
{
    const core::Tkonfig k = d->table.konfig(device);
    d->logItem->setEnabled(k.stateLogEnabled == 1);
    d->thermostatItem->setVisible(k.deviceVariant == 1);
    const bool structural = !hasHiddenRows();
    for (QAction* item : {d->upItem, d->downItem, d->insertItem, d->deleteItem})
        item->setEnabled(structural);
    return d->deviceMenu;
}

QMenu* DeviceGridPanel::headerMenuFor(int column)
{
    d->menuColumn = column;
    if (column == ColType || column == ColDescription) {
        d->filterEdit->setText(d->model->textFilter(column));
        return d->textFilterMenu;
    }
    if (column >= ColFirstValue && column < ColumnCount) {
        const int decimals = d->options.valueDecimals(column - ColFirstValue);
        for (int n = 1; n <= 3; ++n)
            d->decimalItems[std::size_t(n - 1)]->setChecked(n == decimals);
        return d->valueColumnMenu;
    }
    return nullptr;
}

DeviceGridModel* DeviceGridPanel::model() const
{
    return d->model;
}
DeviceGridView* DeviceGridPanel::view() const
{
    return d->view;
}
QToolBar* DeviceGridPanel::filterToolBar() const
{
    return d->toolBar;
}
QMenu* DeviceGridPanel::valueColumnsMenu() const
{
    return d->valuesMenu;
}
int DeviceGridPanel::menuColumn() const
{
    return d->menuColumn;
}

void DeviceGridPanel::refresh()
{
    d->model->refreshAll();
}

void DeviceGridPanel::selectDevice(quint8 device)
{
    const int row = d->model->rowOf(device);
    QScopedValueRollback guard(d->selecting, true);
    if (row < 0) {
        d->view->selectionModel()->clearCurrentIndex();
        return;
    }
    const int col = d->view->currentIndex().isValid() ? d->view->currentIndex().column() : 0;
    d->view->setCurrentIndex(d->model->index(row, col));
}

} // namespace quodra::ui
