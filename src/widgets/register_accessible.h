#pragma once
#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>
#include <map>

namespace tunavox {

class TRegisterView;

// The register table as screen readers and accessibility-driven tests see it: a table
// whose first row of children is the column headers, then a cell per row and column,
// each with the text it shows and its hint. A tick's "Toggle" ticks the row as a click
// does, a cell is focused only while the table (or its editor) has the keyboard focus,
// and the value editor, while open, is the child of its cell. Lists (QListWidget) get
// the same focus and toggle rules for their items.
class TAccessibleRegisterTable : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit TAccessibleRegisterTable(QWidget* table);
    ~TAccessibleRegisterTable() override;
    // Makes every TRegisterView (and QListWidget) use these; called by the first table.
    static void Install();

    TRegisterView* View() const;

    QAccessible::Role role() const override { return QAccessible::Table; }
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override;
    int columnCount() const override;
    int rowCount() const override;
    int selectedCellCount() const override;
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override;
    QString columnDescription(int column) const override;
    QString rowDescription(int) const override { return {}; }
    QList<QAccessibleInterface*> selectedCells() const override;
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override;
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override;
    bool selectRow(int row) override;
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override;
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent* event) override;

private:
    // row -1: the column's header.
    QAccessibleInterface* Cell(int row, int column) const;
    void Forget();

    mutable std::map<std::pair<int, int>, QAccessible::Id> cells_;
};

} // namespace tunavox
