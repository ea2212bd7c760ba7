// The main window: finding rows (Ctrl+F), copying rows (Ctrl+C) and Space on a row.
#include <QApplication>
#include <QClipboard>
#include <set>

#include "app/main_window.h"

namespace tunavox {

void TfMain::ShowFind() {
    eFind->show();
    eFind->setFocus();
    eFind->selectAll();
    ApplyRowVisibility();
}

void TfMain::HideFind() {
    eFind->clear();
    eFind->hide();
    ApplyRowVisibility();
    vstList->setFocus();
}

void TfMain::ApplyRowVisibility() {
    // Service rows are hidden outside service mode; with a search text (or "Только
    // отличающиеся от заводских"), so is every register row whose code and name do not
    // contain it (that is its factory value), and a heading row whose group has no row
    // left. Registers and the polling order are not touched.
    const TRegisterModel* m = vstList->Model();
    const QString needle = eFind->isVisible() ? eFind->text() : QString();
    const auto matches = [&](int row) {
        return m->index(row, TRegisterModel::ColCode)
                   .data()
                   .toString()
                   .contains(needle, Qt::CaseInsensitive) ||
               m->index(row, TRegisterModel::ColName)
                   .data()
                   .toString()
                   .contains(needle, Qt::CaseInsensitive);
    };
    const int rows = m->rowCount();
    int heading = -1;
    bool groupShown = false;
    const auto closeGroup = [&] {
        if (heading >= 0)
            vstList->setRowHidden(
                heading,
                (!ServiceMode && dev_->Regs->Items(heading)->Admin) ||
                    ((!needle.isEmpty() || chOnlyFactoryDiffs->isChecked()) && !groupShown));
    };
    for (int r = 0; r < rows; ++r) {
        const TReg* reg = dev_->Regs->Items(r);
        if (reg->RegType == rtHeader) {
            closeGroup();
            heading = r;
            groupShown = false;
            continue;
        }
        const bool shown = (ServiceMode || !reg->Admin) && (needle.isEmpty() || matches(r)) &&
                           (!chOnlyFactoryDiffs->isChecked() || reg->DiffersFromFactory());
        vstList->setRowHidden(r, !shown);
        groupShown = groupShown || shown;
    }
    closeGroup();
}

QString TfMain::SelectedRowsText() const {
    const TRegisterModel* m = vstList->Model();
    std::set<int> rows;
    for (const QModelIndex& i : vstList->selectionModel()->selectedIndexes())
        rows.insert(i.row());
    QString text;
    for (const int r : rows) {
        if (vstList->isRowHidden(r)) continue;
        QStringList cells;
        if (m->index(r, 0).data(TRegisterModel::HeadingRole).toBool()) {
            cells << QString() << QString()
                  << m->index(r, 0).data(TRegisterModel::HeadingTextRole).toString() << QString();
        } else {
            cells << (m->HasCheckBox(r) && m->CheckState(r) != Qt::Unchecked ? QStringLiteral("✓")
                                                                             : QString());
            for (int c = TRegisterModel::ColCode; c <= TRegisterModel::ColValue; ++c)
                cells << m->index(r, c).data().toString();
        }
        text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

void TfMain::CopySelectedRows() {
    const QString text = SelectedRowsText();
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

void TfMain::ToggleCurrentCheck() {
    TRegisterModel* m = vstList->Model();
    const int row = vstList->currentIndex().row();
    if (row < 0 || !m->HasCheckBox(row)) return;
    // Through the model, as a click: polling and the header box follow.
    m->setData(m->index(row, TRegisterModel::ColCheck),
               m->CheckState(row) == Qt::Unchecked ? Qt::Checked : Qt::Unchecked,
               Qt::CheckStateRole);
}

} // namespace tunavox
