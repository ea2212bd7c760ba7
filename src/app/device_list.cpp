#include "app/device_list.h"

#include <QIcon>
#include <QPainter>
#include <QPixmap>

namespace tunavox {

namespace {

QIcon MarkIcon(TDeviceListModel::TMark mark) {
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(TDeviceListModel::MarkColor(mark));
    p.drawEllipse(1, 1, 10, 10);
    return QIcon(pixmap);
}

QString StateLine(const TDeviceListModel::TItem& item, bool brief = false) {
    QString text = item.State;
    if (brief && item.Differences >= 0 && !item.State.startsWith(QStringLiteral("отличается")))
        return text + QStringLiteral(" · различий: %1").arg(item.Differences);
    // "отличается от эталона: N" carries the count already.
    if (item.Differences >= 0 && !item.State.startsWith(QStringLiteral("отличается")))
        text += QStringLiteral(", различий от эталона: %1").arg(item.Differences);
    return text;
}

} // namespace

void TDeviceListModel::SetItems(std::vector<TItem> items) {
    if (items.size() != items_.size()) {
        beginResetModel();
        items_ = std::move(items);
        endResetModel();
        return;
    }
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i] == items_[i]) continue;
        items_[i] = std::move(items[i]);
        const QModelIndex at = index(static_cast<int>(i));
        emit dataChanged(at, at);
    }
}

QString TDeviceListModel::DisplayText(const TItem& item) {
    return QStringLiteral("ID %1 · %2\n%3").arg(item.Id).arg(item.Name, StateLine(item, true));
}

QString TDeviceListModel::AccessibleText(const TItem& item) {
    return QStringLiteral("%1 · ID %2: %3").arg(item.Name).arg(item.Id).arg(StateLine(item));
}

QColor TDeviceListModel::MarkColor(TMark mark) {
    switch (mark) {
    case TMark::Good: return QColor(0x20, 0x90, 0x30);
    case TMark::Warning: return QColor(0xD0, 0x90, 0x00);
    case TMark::Bad: return QColor(0xC0, 0x10, 0x10);
    case TMark::Unknown: break;
    }
    return QColor(0x90, 0x90, 0x90);
}

int TDeviceListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(items_.size());
}

QVariant TDeviceListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const TItem& item = items_[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole: return DisplayText(item);
    case Qt::AccessibleTextRole: return AccessibleText(item);
    case Qt::ToolTipRole:
        return item.Detail.isEmpty() ? AccessibleText(item)
                                     : AccessibleText(item) + QStringLiteral("\n") + item.Detail;
    case Qt::DecorationRole: return MarkIcon(item.Mark);
    case Qt::ForegroundRole:
        return item.Mark == TMark::Bad ? QVariant(MarkColor(TMark::Bad)) : QVariant();
    default: return {};
    }
}

TDeviceListView::TDeviceListView(QWidget* parent)
    : QListView(parent), model_(new TDeviceListModel(this)) {
    setModel(model_);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false); // Tab leaves the list, arrows move in it
    setUniformItemSizes(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight); // the ID leads, a long name is cut at its end
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSpacing(1);
}

QSize TDeviceListView::sizeHint() const {
    return QSize(fontMetrics().averageCharWidth() * 38, QListView::sizeHint().height());
}

} // namespace tunavox
