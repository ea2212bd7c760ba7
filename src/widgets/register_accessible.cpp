#include "widgets/register_accessible.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QListView>

#include "widgets/register_view.h"

namespace tunavox {
namespace {

bool HasFocusIn(const QWidget* w) {
    const QWidget* focus = QApplication::focusWidget();
    return focus && (focus == w || w->isAncestorOf(focus));
}

// One cell of a table or item of a list, or (row -1) a table column's header.
class TAccessibleItemCell : public QAccessibleInterface,
                            public QAccessibleTableCellInterface,
                            public QAccessibleActionInterface {
public:
    TAccessibleItemCell(QAbstractItemView* view, int row, int column)
        : view_(view), row_(row), column_(column) {}

    bool isValid() const override {
        return view_ && row_ < view_->model()->rowCount() && column_ < view_->model()->columnCount();
    }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override {
        return view_ ? view_->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* parent() const override {
        return view_ ? QAccessible::queryAccessibleInterface(view_.data()) : nullptr;
    }
    // The register table's value editor, while it is open on this cell.
    QWidget* Editor() const {
        auto* table = qobject_cast<TRegisterView*>(view_.data());
        if (!table || row_ < 0 || column_ != TRegisterModel::ColValue) return nullptr;
        const QModelIndex current = table->currentIndex();
        return current.row() == row_ ? table->OpenEditor() : nullptr;
    }
    int childCount() const override { return Editor() ? 1 : 0; }
    QAccessibleInterface* child(int index) const override {
        QWidget* editor = Editor();
        return index == 0 && editor ? QAccessible::queryAccessibleInterface(editor) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        QWidget* editor = Editor();
        return editor && child && child->object() == editor ? 0 : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        QAccessibleInterface* editor = child(0);
        return editor && editor->rect().contains(x, y) ? editor : nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        QWidget* editor = Editor();
        return editor && HasFocusIn(editor) ? child(0) : nullptr;
    }

    QModelIndex Index() const {
        return view_ ? view_->model()->index(row_, column_) : QModelIndex();
    }
    QString text(QAccessible::Text t) const override {
        if (!isValid()) return {};
        if (row_ < 0)
            return t == QAccessible::Name
                       ? view_->model()
                             ->headerData(column_, Qt::Horizontal, Qt::AccessibleTextRole)
                             .toString()
                       : QString();
        const QModelIndex index = Index();
        if (t == QAccessible::Name) {
            const QVariant spoken = index.data(Qt::AccessibleTextRole);
            return spoken.isValid() ? spoken.toString() : index.data().toString();
        }
        if (t == QAccessible::Description)
            return index.data(Qt::AccessibleDescriptionRole).toString();
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid()) return {};
        auto* tableView = qobject_cast<QTableView*>(view_.data());
        if (row_ < 0 && tableView) {
            const QHeaderView* header = tableView->horizontalHeader();
            return QRect(header->mapToGlobal(QPoint(header->sectionViewportPosition(column_), 0)),
                         QSize(header->sectionSize(column_), header->height()));
        }
        const QRect r = view_->visualRect(Index());
        return QRect(view_->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override {
        if (row_ < 0) return QAccessible::ColumnHeader;
        return qobject_cast<QListView*>(view_.data()) ? QAccessible::ListItem : QAccessible::Cell;
    }
    QAccessible::State state() const override {
        QAccessible::State st;
        if (!isValid()) {
            st.invalid = true;
            return st;
        }
        if (row_ < 0 || Hidden() || !view_->isVisible()) {
            st.invisible = row_ >= 0 || !view_->isVisible();
            return st;
        }
        const QModelIndex index = Index();
        st.selectable = true;
        st.focusable = true;
        st.multiSelectable = view_->selectionMode() != QAbstractItemView::SingleSelection;
        st.extSelectable = view_->selectionMode() == QAbstractItemView::ExtendedSelection;
        st.selected = view_->selectionModel()->isSelected(index);
        // The current cell is focused only while the keyboard is in the table.
        const QModelIndex current = view_->currentIndex();
        st.focused = HasFocusIn(view_) && current.row() == row_ && current.column() == column_;
        const QVariant check = index.data(Qt::CheckStateRole);
        if (check.isValid()) {
            st.checkable = true;
            st.checked = check.toInt() == Qt::Checked;
            st.checkStateMixed = check.toInt() == Qt::PartiallyChecked;
        }
        if (index.flags() & Qt::ItemIsEditable) st.editable = true;
        return st;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface*>(this);
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    bool isSelected() const override { return state().selected; }
    QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return column_; }
    int rowIndex() const override { return row_; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

    QStringList actionNames() const override {
        return isValid() && row_ >= 0 && (Index().flags() & Qt::ItemIsUserCheckable)
                   ? QStringList{toggleAction()}
                   : QStringList{};
    }
    // Toggle ticks or unticks the row, with every effect a click has (polling on).
    void doAction(const QString& name) override {
        if (name != toggleAction() || !actionNames().contains(name)) return;
        const QModelIndex index = Index();
        const bool checked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        view_->model()->setData(index, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    }
    QStringList keyBindingsForAction(const QString& name) const override {
        return name == toggleAction() ? QStringList{QStringLiteral("Space")} : QStringList{};
    }

private:
    bool Hidden() const {
        if (auto* table = qobject_cast<QTableView*>(view_.data()))
            return table->isRowHidden(row_) || table->isColumnHidden(column_);
        if (auto* list = qobject_cast<QListView*>(view_.data())) return list->isRowHidden(row_);
        return false;
    }

    QPointer<QAbstractItemView> view_;
    int row_;
    int column_;
};

// A list (the chart's lines, a choice of devices) whose items report the focus only
// while the list has it, and whose checkable items toggle as a click does.
class TAccessibleItemList : public QAccessibleWidget {
public:
    explicit TAccessibleItemList(QWidget* list) : QAccessibleWidget(list, QAccessible::List) {}
    ~TAccessibleItemList() override {
        for (const auto& [row, id] : items_)
            QAccessible::deleteAccessibleInterface(id);
    }
    QListView* List() const { return static_cast<QListView*>(widget()); }
    int childCount() const override { return List()->model()->rowCount(); }
    QAccessibleInterface* child(int row) const override {
        if (row < 0 || row >= childCount()) return nullptr;
        if (const auto found = items_.find(row); found != items_.end())
            return QAccessible::accessibleInterface(found->second);
        auto* item = new TAccessibleItemCell(List(), row, 0);
        items_[row] = QAccessible::registerAccessibleInterface(item);
        return item;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const QAccessibleTableCellInterface* cell =
            child ? const_cast<QAccessibleInterface*>(child)->tableCellInterface() : nullptr;
        return cell ? cell->rowIndex() : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QModelIndex index =
            List()->indexAt(List()->viewport()->mapFromGlobal(QPoint(x, y)));
        return index.isValid() ? child(index.row()) : nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        const QModelIndex current = List()->currentIndex();
        return HasFocusIn(List()) && current.isValid() ? child(current.row()) : nullptr;
    }

private:
    mutable std::map<int, QAccessible::Id> items_;
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    if (className == QLatin1String("tunavox::TRegisterView"))
        return new TAccessibleRegisterTable(static_cast<QWidget*>(object));
    if (className == QLatin1String("QListWidget"))
        return new TAccessibleItemList(static_cast<QWidget*>(object));
    return nullptr;
}

} // namespace

void TAccessibleRegisterTable::Install() {
    static const bool installed = [] {
        QAccessible::installFactory(Factory);
        return true;
    }();
    (void)installed;
}

TAccessibleRegisterTable::TAccessibleRegisterTable(QWidget* table)
    : QAccessibleWidget(table, QAccessible::Table) {}

TAccessibleRegisterTable::~TAccessibleRegisterTable() {
    Forget();
}

void TAccessibleRegisterTable::Forget() {
    for (const auto& [at, id] : cells_)
        QAccessible::deleteAccessibleInterface(id);
    cells_.clear();
}

TRegisterView* TAccessibleRegisterTable::View() const {
    return static_cast<TRegisterView*>(widget());
}

int TAccessibleRegisterTable::columnCount() const {
    return View()->model()->columnCount();
}

int TAccessibleRegisterTable::rowCount() const {
    return View()->model()->rowCount();
}

QAccessibleInterface* TAccessibleRegisterTable::Cell(int row, int column) const {
    if (column < 0 || column >= columnCount() || row < -1 || row >= rowCount()) return nullptr;
    const auto found = cells_.find({row, column});
    if (found != cells_.end()) return QAccessible::accessibleInterface(found->second);
    auto* cell = new TAccessibleItemCell(View(), row, column);
    cells_[{row, column}] = QAccessible::registerAccessibleInterface(cell);
    return cell;
}

// As the item views number their children in focus events: the header row first.
int TAccessibleRegisterTable::childCount() const {
    return (rowCount() + 1) * columnCount();
}

QAccessibleInterface* TAccessibleRegisterTable::child(int index) const {
    const int columns = columnCount();
    if (index < 0 || columns == 0) return nullptr;
    return Cell(index / columns - 1, index % columns);
}

int TAccessibleRegisterTable::indexOfChild(const QAccessibleInterface* child) const {
    const QAccessibleTableCellInterface* cell =
        child ? const_cast<QAccessibleInterface*>(child)->tableCellInterface() : nullptr;
    if (!cell) return -1;
    return (cell->rowIndex() + 1) * columnCount() + cell->columnIndex();
}

QAccessibleInterface* TAccessibleRegisterTable::childAt(int x, int y) const {
    const QPoint at = View()->viewport()->mapFromGlobal(QPoint(x, y));
    const QModelIndex index = View()->indexAt(at);
    return index.isValid() ? Cell(index.row(), index.column()) : nullptr;
}

QAccessibleInterface* TAccessibleRegisterTable::focusChild() const {
    if (!HasFocusIn(View())) return nullptr;
    const QModelIndex current = View()->currentIndex();
    QAccessibleInterface* cell = current.isValid() ? Cell(current.row(), current.column()) : nullptr;
    if (cell)
        if (QAccessibleInterface* editor = cell->focusChild()) return editor;
    return cell;
}

void* TAccessibleRegisterTable::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessibleInterface* TAccessibleRegisterTable::cellAt(int row, int column) const {
    return row >= 0 ? Cell(row, column) : nullptr;
}

int TAccessibleRegisterTable::selectedCellCount() const {
    return static_cast<int>(View()->selectionModel()->selectedIndexes().size());
}

int TAccessibleRegisterTable::selectedRowCount() const {
    return static_cast<int>(View()->selectionModel()->selectedRows().size());
}

QString TAccessibleRegisterTable::columnDescription(int column) const {
    return View()->model()->headerData(column, Qt::Horizontal, Qt::AccessibleTextRole).toString();
}

QList<QAccessibleInterface*> TAccessibleRegisterTable::selectedCells() const {
    QList<QAccessibleInterface*> out;
    for (const QModelIndex& i : View()->selectionModel()->selectedIndexes())
        out << Cell(i.row(), i.column());
    return out;
}

QList<int> TAccessibleRegisterTable::selectedRows() const {
    QList<int> out;
    for (const QModelIndex& i : View()->selectionModel()->selectedRows())
        out << i.row();
    return out;
}

bool TAccessibleRegisterTable::isRowSelected(int row) const {
    return View()->selectionModel()->isRowSelected(row, {});
}

bool TAccessibleRegisterTable::selectRow(int row) {
    if (row < 0 || row >= rowCount()) return false;
    View()->selectRow(row);
    return true;
}

bool TAccessibleRegisterTable::unselectRow(int row) {
    if (row < 0 || row >= rowCount()) return false;
    View()->selectionModel()->select(View()->model()->index(row, 0),
                                     QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    return true;
}

void TAccessibleRegisterTable::modelChange(QAccessibleTableModelChangeEvent*) {
    // Cells stand for places in the table: after rows come or go, made anew.
    Forget();
}

} // namespace tunavox
