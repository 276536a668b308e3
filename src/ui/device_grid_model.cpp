#include "ui/device_grid_model.h"

#include "core/language.h"

#include <algorithm>

namespace quodra::ui {

using namespace grid;

namespace {

QString constantText(const char* name)
{
    return core::lookupConstant(QString::fromLatin1(name)).value_or(QString());
}

const QString& columnTitle(int column)
{
    static const std::array<QString, ColFirstValue> titles{
        QStringLiteral("#"), QStringLiteral("IP adresa"), QStringLiteral("Typ"), QStringLiteral("Popis"),
        QStringLiteral("D"), QStringLiteral("L"),         QStringLiteral("A"),   QStringLiteral("C"),
        QStringLiteral("V"), QStringLiteral("E"),         QStringLiteral("T"),
    };
    return titles[std::size_t(column)];
}

} // namespace

DeviceGridModel::DeviceGridModel(core::DeviceTable& table, QObject* parent)
    : QAbstractTableModel(parent), m_table(table)
{
    for (int k = 0; k < core::kValueCount; ++k)
        m_valueTitles[std::size_t(k)] = QStringLiteral("Hodnota%1").arg(k + 1);
    // The table signals from whichever thread changed it; rows are re-read here on the UI thread.
    connect(&m_table, &core::DeviceTable::deviceChanged, this, &DeviceGridModel::refreshDevice,
            Qt::QueuedConnection);
    connect(&m_table, &core::DeviceTable::structureChanged, this, &DeviceGridModel::reloadStructure,
            Qt::QueuedConnection);
    fill();
}

int DeviceGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_visible.size());
}

int DeviceGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const core::DeviceSnapshot* DeviceGridModel::deviceOfRow(int row) const
{
    if (row < 0 || row >= int(m_visible.size()))
        return nullptr;
    const int slot = int(m_visible[std::size_t(row)]) - 1;
    if (slot < 0 || slot >= int(m_devices.size()))
        return nullptr;
    return &m_devices[std::size_t(slot)];
}

quint8 DeviceGridModel::deviceAt(int row) const
{
    const core::DeviceSnapshot* d = deviceOfRow(row);
    return d ? d->number : 0;
}

int DeviceGridModel::rowOf(quint8 device) const
{
    const auto it = std::find(m_visible.begin(), m_visible.end(), device);
    return it == m_visible.end() ? -1 : int(it - m_visible.begin());
}

QColor DeviceGridModel::markColour(RowMark mark, quint8 commState)
{
    switch (mark) {
    case RowMark::Query:
        return kQueryColour;
    // A device whose last exchange failed is never shown green.
    case RowMark::Answered:
        return commState > core::CommAnswered ? kFailedColour : kAnsweredColour;
    case RowMark::Failed:
        return kFailedColour;
    case RowMark::None:
        break;
    }
    // No mark yet in this run: the state the device is in decides.
    if (commState == core::CommAnswered)
        return kAnsweredColour;
    if (commState > core::CommAnswered)
        return kFailedColour;
    return kFixedColour;
}

QVariant DeviceGridModel::data(const QModelIndex& index, int role) const
{
    const core::DeviceSnapshot* d = deviceOfRow(index.row());
    if (!d || !index.isValid())
        return {};
    const core::Tkonfig& k = d->konfig;
    const core::Tstav& s = d->stav;
    const int col = index.column();

    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        switch (col) {
        case ColNumber:
            return QString::number(d->number);
        case ColAddress:
            return k.addressWithPort();
        case ColType:
            return k.typ.text();
        case ColDescription:
            return k.popis.text();
        case ColPoll:
            return role == Qt::EditRole
                       ? QVariant()
                       : QVariant(k.pollEnabled == 1 ? QStringLiteral("Y") : QStringLiteral("N"));
        case ColStateLog:
            return role == Qt::EditRole
                       ? QVariant()
                       : QVariant(k.stateLogEnabled == 1 ? QStringLiteral("Y") : QStringLiteral("N"));
        default:
            if (col >= ColFirstValue && col < ColumnCount)
                return s.valueText[std::size_t(col - ColFirstValue)];
            return {};
        }
    case Qt::CheckStateRole:
        if (col == ColPoll)
            return k.pollEnabled == 1 ? Qt::Checked : Qt::Unchecked;
        if (col == ColStateLog)
            return k.stateLogEnabled == 1 ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::BackgroundRole:
        switch (col) {
        case ColNumber:
            return markColour(rowMark(d->id), s.commState);
        case ColAlarm:
            return s.alarms != 0 ? QVariant(kYellow) : QVariant();
        case ColCustomAlarm:
            return s.customAlarms != 0 ? QVariant(kYellow) : QVariant();
        case ColValueAlarm:
            return s.valueAlarms != 0 ? QVariant(kYellow) : QVariant();
        case ColError:
            return s.errors != 0 ? QVariant(kFailedColour) : QVariant();
        case ColTrap:
            return s.trapFlag != 0 ? QVariant(kMagenta) : QVariant();
        default:
            return {};
        }
    case FrameRole:
        switch (col) {
        case ColAlarm:
            return s.alarmsChanged != 0;
        case ColCustomAlarm:
            return s.customAlarmsChanged != 0;
        case ColValueAlarm:
            return s.valueAlarmsChanged != 0;
        case ColError:
            return s.errorsChanged != 0;
        default:
            return false;
        }
    case DeviceRole:
        return d->number;
    default:
        return {};
    }
}

QString DeviceGridModel::headerHint(int column)
{
    switch (column) {
    case ColNumber:
        return QStringLiteral("Status:\r") + constantText("ahint11") + QLatin1Char('\r') +
               constantText("ahint12") + QLatin1Char('\r') + constantText("ahint13") + QLatin1Char('\r') +
               constantText("ahint14");
    case ColPoll:
        return constantText("ahint2");
    case ColStateLog:
        return constantText("ahint6");
    case ColAlarm:
        return QStringLiteral("Alarm");
    case ColCustomAlarm:
        return QStringLiteral("Custom alarm");
    case ColValueAlarm:
        return constantText("ahint3");
    case ColError:
        return constantText("ahint4");
    case ColTrap:
        return constantText("ahint5");
    default:
        return {};
    }
}

QVariant DeviceGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return section < ColFirstValue ? columnTitle(section)
                                       : m_valueTitles[std::size_t(section - ColFirstValue)];
    case Qt::BackgroundRole:
        if ((section == ColType && !m_filter.typeFilter.isEmpty()) ||
            (section == ColDescription && !m_filter.descriptionFilter.isEmpty()))
            return kYellow;
        return kFixedColour;
    case Qt::ToolTipRole: {
        // Tool tips break lines at LF.
        QString hint = headerHint(section);
        hint.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        return hint.isEmpty() ? QVariant() : QVariant(hint);
    }
    default:
        return {};
    }
}

Qt::ItemFlags DeviceGridModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const int col = index.column();
    if (col == ColAddress || col == ColType || col == ColDescription)
        f |= Qt::ItemIsEditable;
    if (col == ColPoll || col == ColStateLog)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

bool DeviceGridModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    const core::DeviceSnapshot* d = deviceOfRow(index.row());
    if (!d || !index.isValid())
        return false;
    const core::DeviceId id = d->id;
    const int col = index.column();
    bool stored = false;

    if (role == Qt::EditRole) {
        const QString text = value.toString();
        if (col == ColAddress) {
            // The address before the colon is taken even when the port is not a number; the
            // port then keeps its value and the operator is told.
            const core::AddressEdit edit = core::parseAddressEdit(text);
            stored = m_table.modifyById(id, [&](core::Tkonfig& k, core::Tstav&) {
                k.ipAddress.setText(edit.address);
                if (edit.ok())
                    k.port = edit.port;
            });
            if (stored)
                refreshDevice(id);
            if (!edit.ok()) {
                Q_EMIT editRejected(edit.error);
                return false;
            }
            return stored;
        } else if (col == ColType) {
            stored =
                m_table.modifyById(id, [&](core::Tkonfig& k, core::Tstav&) { k.typ.setText(text.left(15)); });
        } else if (col == ColDescription) {
            stored = m_table.modifyById(
                id, [&](core::Tkonfig& k, core::Tstav&) { k.popis.setText(text.left(50)); });
        }
    } else if (role == Qt::CheckStateRole && (col == ColPoll || col == ColStateLog)) {
        const std::uint8_t on = value.value<Qt::CheckState>() == Qt::Checked ? 1 : 0;
        stored = m_table.modifyById(id, [&](core::Tkonfig& k, core::Tstav&) {
            (col == ColPoll ? k.pollEnabled : k.stateLogEnabled) = on;
        });
    }
    if (stored)
        refreshDevice(id);
    return stored;
}

void DeviceGridModel::emitRowChanged(int row)
{
    Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void DeviceGridModel::refreshDevice(quint64 id)
{
    const auto it =
        std::find_if(m_devices.begin(), m_devices.end(), [id](const auto& d) { return d.id == id; });
    if (it == m_devices.end())
        return; // a structure change is on its way and re-reads everything
    const quint8 number = m_table.numberOf(id);
    if (number == 0)
        return;
    core::DeviceSnapshot snap = m_table.snapshot(number);
    if (snap.id != id)
        return;
    // Keep the number the row was built with; the structure reload renumbers.
    snap.number = it->number;
    *it = std::move(snap);
    const int row = rowOf(it->number);
    if (row >= 0)
        emitRowChanged(row);
}

void DeviceGridModel::refreshAll()
{
    reload();
}

void DeviceGridModel::reload()
{
    std::vector<core::DeviceSnapshot> devices = m_table.snapshots();
    const bool sameDevices = std::equal(devices.begin(), devices.end(), m_devices.begin(), m_devices.end(),
                                        [](const auto& a, const auto& b) { return a.id == b.id; });
    std::vector<quint8> visible;
    if (m_filterActive) {
        visible = core::visibleDevices(devices, m_filter);
    } else {
        visible.resize(devices.size());
        for (std::size_t i = 0; i < devices.size(); ++i)
            visible[i] = quint8(i + 1);
    }
    if (sameDevices && visible == m_visible) {
        // Same rows: repaint them in place, so an open editor and the current row stay.
        m_devices = std::move(devices);
        if (!m_visible.empty())
            Q_EMIT dataChanged(index(0, 0), index(int(m_visible.size()) - 1, ColumnCount - 1));
        return;
    }
    beginResetModel();
    m_devices = std::move(devices);
    m_visible = std::move(visible);
    endResetModel();
}

void DeviceGridModel::fill()
{
    m_filterActive = false;
    reload();
    // Marks of devices that no longer exist would never be read again.
    for (auto it = m_marks.begin(); it != m_marks.end();) {
        const bool exists =
            std::any_of(m_devices.begin(), m_devices.end(), [&](const auto& d) { return d.id == it.key(); });
        it = exists ? std::next(it) : m_marks.erase(it);
    }
}

void DeviceGridModel::reloadStructure()
{
    reload();
}

void DeviceGridModel::applyFilter()
{
    m_filterActive = true;
    reload();
    Q_EMIT headerDataChanged(Qt::Horizontal, ColType, ColDescription);
}

void DeviceGridModel::setTextFilter(int column, const QString& text)
{
    if (column == ColType)
        m_filter.typeFilter = text;
    else if (column == ColDescription)
        m_filter.descriptionFilter = text;
    Q_EMIT headerDataChanged(Qt::Horizontal, ColType, ColDescription);
}

QString DeviceGridModel::textFilter(int column) const
{
    return column == ColType          ? m_filter.typeFilter
           : column == ColDescription ? m_filter.descriptionFilter
                                      : QString();
}

void DeviceGridModel::setStateFilter(int mode, quint32 mask)
{
    m_filter.stateMode = mode;
    m_filter.mask = mask;
}

bool DeviceGridModel::hasHiddenRows() const
{
    return m_visible.size() != m_devices.size();
}

void DeviceGridModel::setRowMark(core::DeviceId id, RowMark mark)
{
    if (mark == RowMark::None)
        m_marks.remove(id);
    else
        m_marks.insert(id, mark);
    for (const auto& d : m_devices) {
        if (d.id == id) {
            const int row = rowOf(d.number);
            if (row >= 0)
                Q_EMIT dataChanged(index(row, ColNumber), index(row, ColNumber));
            break;
        }
    }
}

RowMark DeviceGridModel::rowMark(core::DeviceId id) const
{
    return m_marks.value(id, RowMark::None);
}

void DeviceGridModel::setValueTitle(int k, const QString& title)
{
    if (k < 0 || k >= core::kValueCount)
        return;
    m_valueTitles[std::size_t(k)] = title;
    Q_EMIT headerDataChanged(Qt::Horizontal, ColFirstValue + k, ColFirstValue + k);
}

QString DeviceGridModel::valueTitle(int k) const
{
    return k >= 0 && k < core::kValueCount ? m_valueTitles[std::size_t(k)] : QString();
}

} // namespace quodra::ui
