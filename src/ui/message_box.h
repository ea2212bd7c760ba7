#pragma once
#include <QMessageBox>
#include <QString>
#include <QStringList>

namespace tunavox {

// The caption of every message box: the application's title when the program
// started (its executable's name unless set otherwise).
QString DialogCaption();
// Records the caption; call once after the application object exists.
void InitDialogCaption();

// A standard message dialog with the program's title as caption; the first buttons
// (in the standard order) get the given captions, the rest keep theirs. Enter presses
// defaultButton when one is given, else the one Qt chooses.
int MessageBoxWithCaptions(QWidget* parent, const QString& text, QMessageBox::Icon kind,
                           QMessageBox::StandardButtons buttons, const QStringList& captions,
                           QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

// A warning with one "OK" button; returns when the user has closed it.
void ShowWarning(QWidget* parent, const QString& text);

} // namespace tunavox
