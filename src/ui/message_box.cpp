#include "ui/message_box.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileInfo>

namespace tunavox {
namespace {

QString& Caption() {
    static QString caption;
    return caption;
}

} // namespace

void InitDialogCaption() {
    QString title = QApplication::applicationDisplayName();
    if (title.isEmpty()) title = QFileInfo(QApplication::applicationFilePath()).fileName();
    Caption() = title;
}

QString DialogCaption() {
    if (Caption().isEmpty()) InitDialogCaption();
    return Caption();
}

int MessageBoxWithCaptions(QWidget* parent, const QString& text, QMessageBox::Icon kind,
                           QMessageBox::StandardButtons buttons, const QStringList& captions,
                           QMessageBox::StandardButton defaultButton) {
    // Over the window it speaks for, not whichever of the program's windows is in front.
    if (parent && parent->window()->isVisible() && !parent->window()->isActiveWindow()) {
        parent->window()->raise();
        parent->window()->activateWindow();
    }
    QMessageBox box(kind, DialogCaption(), text, buttons, parent);
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    box.setObjectName(QStringLiteral("MessageBox"));
    // Standard buttons in their fixed order: Yes, No, OK, Cancel, Abort, Retry, Ignore,
    // Yes to all, No to all, Help.
    static const QMessageBox::StandardButton kOrder[] = {
        QMessageBox::Yes,     QMessageBox::No,    QMessageBox::Ok,     QMessageBox::Cancel,
        QMessageBox::Abort,   QMessageBox::Retry, QMessageBox::Ignore, QMessageBox::YesToAll,
        QMessageBox::NoToAll, QMessageBox::Help};
    int next = 0;
    for (QMessageBox::StandardButton b : kOrder) {
        if (!(buttons & b)) continue;
        if (next >= captions.size()) break;
        box.button(b)->setText(captions[next++]);
    }
    return box.exec();
}

void ShowWarning(QWidget* parent, const QString& text) {
    MessageBoxWithCaptions(parent, text, QMessageBox::Warning, QMessageBox::Ok,
                           {QStringLiteral("OK")});
}

} // namespace tunavox
