#include "ui/value_editor.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QToolTip>

namespace tunavox {

int TPasswordStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                              QStyleHintReturn* returnData) const {
    if (hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

bool TPickFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            picked_();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

TReg* TPropertyEditLink::Register() const {
    return Table->Model()->Reg(Row);
}

QWidget* TPropertyEditLink::Prepare(QWidget* parent, int row, int column) {
    Row = row;
    Column = column;
    TReg* reg = Register();
    const QString shown = QString::fromStdString(reg->DisplayText());
    if (reg->RegType != rtStr && !reg->ValueTexts.Empty()) {
        auto* combo = new QComboBox(parent);
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        QStringList items;
        for (size_t i = 0; i < reg->ValueTexts.Count(); ++i)
            items << QString::fromStdString(reg->ValueTexts.Value(i));
        combo->addItems(items);
        // The list opens at the current value; a text that names no item stays as typed.
        combo->setCurrentIndex(static_cast<int>(items.indexOf(shown)));
        combo->setEditText(shown);
        combo->setFrame(false);
        // Enter on an item of the open list takes it and writes, as Enter in the box.
        combo->view()->installEventFilter(new TPickFilter(combo, [this, combo] {
            const QModelIndex current = combo->view()->currentIndex();
            if (current.isValid()) combo->setCurrentIndex(current.row());
            combo->hidePopup();
            Table->AcceptEditing();
            PostKey(Qt::Key_Return);
        }));
        EditControl = combo;
    } else {
        auto* edit = new QLineEdit(parent);
        if (reg->RegType == rtStr && reg->Pass) {
            edit->setEchoMode(QLineEdit::Password);
            auto* stars = new TPasswordStyle;
            stars->setParent(edit);
            edit->setStyle(stars);
        }
        edit->setText(shown);
        edit->setMaxLength(1023);
        edit->setFrame(false);
        EditControl = edit;
    }
    EditControl->setObjectName(QStringLiteral("EditControl"));
    return EditControl;
}

QString TPropertyEditLink::Text() const {
    if (auto* combo = qobject_cast<QComboBox*>(EditControl.data())) return combo->currentText();
    if (auto* edit = qobject_cast<QLineEdit*>(EditControl.data())) return edit->text().left(1023);
    return {};
}

bool TPropertyEditLink::Accept() {
    TReg* reg = Register();
    if (!reg) return false;
    const std::string text = Text().toStdString();
    if (!reg->SetValueFromText(text, false)) {
        // The editor stays open on what was typed; the hint beside it says why.
        Problem = QStringLiteral("Значение не принято: %1")
                      .arg(QString::fromStdString(reg->TextProblem(text)));
        if (EditControl) {
            EditControl->setToolTip(Problem);
            QToolTip::showText(EditControl->mapToGlobal(QPoint(0, EditControl->height())),
                               Problem, EditControl);
        }
        return false;
    }
    Problem.clear();
    if (EditControl) EditControl->setToolTip(QString());
    if (reg->IsModified()) Table->Model()->RefreshRow(Row);
    if (EditControl) EditControl->hide();
    return true;
}

void TPropertyEditLink::PostKey(int key) const {
    QCoreApplication::postEvent(Table, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, 0,
                                                     TRegisterView::kForwardedKey, 0));
}

bool TPropertyEditLink::KeyDown(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Accept, then let the table see Enter: it writes the register when modified.
        Table->AcceptEditing();
        PostKey(Qt::Key_Return);
        return true;
    case Qt::Key_Escape:
        Table->CancelEditing();
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down: {
        auto* combo = qobject_cast<QComboBox*>(EditControl.data());
        const bool dropped = combo && combo->view() && combo->view()->isVisible();
        const bool modified = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier |
                                                    Qt::AltModifier | Qt::MetaModifier);
        if (dropped || modified || QApplication::mouseButtons() != Qt::NoButton) return false;
        PostKey(event->key());
        return true;
    }
    default:
        return false;
    }
}

} // namespace tunavox
