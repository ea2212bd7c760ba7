#pragma once
#include <QAbstractTableModel>
#include <QColor>
#include <vector>

#include "device/name_value_list.h"
#include "device/reg.h"
#include "engine/link_state.h"

namespace tunavox {

// A description colour (red in the lowest byte) as a QColor; invalid for "no colour".
QColor FromDescriptionColor(uint32_t color);

// The register table's rows: row n shows register n of the list. Columns: 0 the
// polling check box, 1 "Код", 2 "Параметр", 3 "Значение". Check states live here.
class TRegisterModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Role {
        HeadingRole = Qt::UserRole + 1, // bool: a group heading row
        HeadingTextRole,                // the heading's caption, for painting across the row
        DeviceErrorRole,                // bool, column 3: the value cell shows a device error
        StaleRole,    // bool, column 3: the value was not confirmed since the link went down
        RowErrorRole, // QString, column 3: why the row's last exchange failed, or empty
        FactoryRole,  // QString, column 3: the factory value when the setting differs from it
    };
    enum Column { ColCheck = 0, ColCode = 1, ColName = 2, ColValue = 3 };

    explicit TRegisterModel(QObject* parent = nullptr);

    // Shows the registers of a freshly loaded description (or none) and initialises
    // every row; CheckableCount starts again from 0.
    void SetSource(TRegList* regs, const TNameValueList* errorTexts);
    TReg* Reg(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    bool HasCheckBox(int row) const;
    Qt::CheckState CheckState(int row) const;
    // Sets a row's state; with notify, RowChecked follows as for a click.
    void SetCheckState(int row, Qt::CheckState state, bool notify);
    // Rows that carry a check box (counted when still 0).
    int CheckableCount();
    int CheckedCount() const;
    // The next checked row after row (-1: from the top), wrapping to the first; -1 when none.
    int NextCheckedRow(int row) const;

    Qt::CheckState HeaderState() const { return headerState_; }
    void SetHeaderState(Qt::CheckState state);

    // Repaints one row with its register's current texts.
    void RefreshRow(int row);
    void RefreshAll();
    // The link's state and each row's last success and failure (may be null).
    void SetLink(const TLinkMonitor* link) { link_ = link; }
    // A table without polling (a set away from the device): no ticks, and nothing of a
    // "Опрос" column reaches screen readers.
    void SetPollColumn(bool on) { pollColumn_ = on; }

    // The table's text colour; each cell starts from it.
    void SetTextColor(const QColor& color);
    QColor TextColor() const { return textColor_; }

signals:
    // A row's check box changed through the user (or SetCheckState with notify).
    void RowChecked(int row, Qt::CheckState state);

private:
    void InitNode(int row);

    TRegList* regs_ = nullptr;
    const TNameValueList* errorTexts_ = nullptr;
    const TLinkMonitor* link_ = nullptr;
    std::vector<bool> hasCheck_;
    std::vector<Qt::CheckState> checks_;
    int checkableCount_ = 0;
    Qt::CheckState headerState_ = Qt::Unchecked;
    bool pollColumn_ = true;
    QColor textColor_ = Qt::black;
};

} // namespace tunavox
