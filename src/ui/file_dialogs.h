#pragma once
#include <QString>

class QFileDialog;
class QWidget;

namespace tunavox {

// Asks for a parameter set file (*.params) in the program's own file dialog: an
// existing one to open, or a name to save under (".params" added when missing, no
// question about replacing: the caller checks the target). Empty when cancelled.
QString ChooseParamSetFile(QWidget* parent, const QString& title, const char* objectName, bool save,
                           const QString& proposed = {});

// Where the program's file dialogs start: the current folder when a file can be made
// there, else the user's documents (a program started from a folder it cannot write,
// as under "Program Files").
QString DialogStartFolder();
// A program file dialog as every one is set up: its own (not the system's), starting
// in DialogStartFolder().
void PrepareFileDialog(QFileDialog& dialog);
// The dialog's chosen file as the system writes paths (backslashes on Windows); empty
// when none.
QString ChosenFile(const QFileDialog& dialog);
// A path as the system writes it, for messages.
QString NativeName(const QString& path);

} // namespace tunavox
