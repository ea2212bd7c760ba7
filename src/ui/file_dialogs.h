#pragma once
#include <QString>

class QWidget;

namespace tunavox {

// Asks for a parameter set file (*.params) in the program's own file dialog: an
// existing one to open, or a name to save under (".params" added when missing, no
// question about replacing: the caller checks the target). Empty when cancelled.
QString ChooseParamSetFile(QWidget* parent, const QString& title, const char* objectName, bool save,
                           const QString& proposed = {});

} // namespace tunavox
