// The window's table: finding rows (Ctrl+F), copying rows (Ctrl+C), and Space on a row.
#include <QApplication>
#include <QClipboard>
#include <set>

#include "app/find_face.h"

#include "app/main_window.h"

namespace tunavox {

TFindFace::TFindFace(TfMain& window, QWidget* parent) : QObject(&window), w_(window) {
    eFind = Named(new QLineEdit(parent), "eFind");
    eFind->setPlaceholderText(QStringLiteral("Поиск по коду и названию параметра"));
    eFind->setAccessibleName(QStringLiteral("Поиск"));
    eFind->setClearButtonEnabled(true);
    eFind->hide();
    connect(eFind, &QLineEdit::textChanged, this, [this] { ApplyRowVisibility(); });
}

bool TFindFace::HandleKey(QObject* watched, const QKeyEvent& key) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget && widget->window() == &w_ && key.matches(QKeySequence::Find)) {
        ShowFind();
        return true;
    }
    if (watched == eFind && key.key() == Qt::Key_Escape) {
        HideFind();
        return true;
    }
    if (watched == eFind && key.key() == Qt::Key_Down) {
        w_.vstList->setFocus();
        return true;
    }
    if (watched == w_.vstList && key.matches(QKeySequence::Copy)) {
        CopySelectedRows();
        return true;
    }
    return false;
}

void TFindFace::ShowFind() {
    eFind->show();
    eFind->setFocus();
    eFind->selectAll();
    ApplyRowVisibility();
}

void TFindFace::HideFind() {
    eFind->clear();
    eFind->hide();
    ApplyRowVisibility();
    w_.vstList->setFocus();
}

void TFindFace::ApplyRowVisibility() {
    // Service rows are hidden outside service mode; with a search text (or "Только
    // отличающиеся от заводских"), so is every register row whose code and name do not
    // contain it (that is its factory value), and a heading row whose group has no row
    // left. Registers and the polling order are not touched.
    const TRegisterModel* m = w_.vstList->Model();
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
            w_.vstList->setRowHidden(
                heading,
                (!w_.ServiceMode && w_.Dev().Regs->Items(heading)->Admin) ||
                    ((!needle.isEmpty() || w_.chOnlyFactoryDiffs->isChecked()) && !groupShown));
    };
    for (int r = 0; r < rows; ++r) {
        const TReg* reg = w_.Dev().Regs->Items(r);
        if (reg->RegType == rtHeader) {
            closeGroup();
            heading = r;
            groupShown = false;
            continue;
        }
        const bool shown = (w_.ServiceMode || !reg->Admin) && (needle.isEmpty() || matches(r)) &&
                           (!w_.chOnlyFactoryDiffs->isChecked() || reg->DiffersFromFactory());
        w_.vstList->setRowHidden(r, !shown);
        groupShown = groupShown || shown;
    }
    closeGroup();
}

QString TFindFace::SelectedRowsText() const {
    const TRegisterModel* m = w_.vstList->Model();
    std::set<int> rows;
    for (const QModelIndex& i : w_.vstList->selectionModel()->selectedIndexes())
        rows.insert(i.row());
    QString text;
    for (const int r : rows) {
        if (w_.vstList->isRowHidden(r)) continue;
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

void TFindFace::CopySelectedRows() {
    const QString text = SelectedRowsText();
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

} // namespace tunavox
