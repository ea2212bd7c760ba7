#pragma once
// The line's devices as a list beside the table: each item its ID and name, its state in
// words and as a coloured mark, and how many settings differ from its reference.
#include <QAbstractListModel>
#include <QColor>
#include <QListView>
#include <QString>
#include <vector>

namespace tunavox {

class TDeviceListModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    enum class TMark { Unknown, Good, Warning, Bad };
    struct TItem {
        QString Name;      // the description's device name
        uint32_t Id = 0;
        QString State;     // in words: the link's, or what the site's check found
        TMark Mark = TMark::Unknown;
        int Differences = -1; // from the reference; -1: none compared
        QString Detail;       // a longer reason, for the tool tip
        bool operator==(const TItem&) const = default;
    };

    // Replaces the items; rows that stay are redrawn only when they changed.
    void SetItems(std::vector<TItem> items);
    const TItem& Item(int row) const { return items_[static_cast<size_t>(row)]; }

    // "ID 3 · БУК-2 (…)" on the first line, the state (and differences) on the second.
    static QString DisplayText(const TItem& item);
    // What a screen reader says: "БУК-2 (…) · ID 3: на месте, различий от эталона: 0".
    static QString AccessibleText(const TItem& item);
    static QColor MarkColor(TMark mark);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<TItem> items_;
};

// The list: one selected item, the current device; arrows move it, Tab leaves it.
class TDeviceListView : public QListView {
public:
    explicit TDeviceListView(QWidget* parent = nullptr);
    TDeviceListModel* Model() const { return model_; }
    QSize sizeHint() const override;

private:
    TDeviceListModel* model_;
};

} // namespace tunavox
