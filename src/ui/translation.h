#pragma once
#include <QCoreApplication>

namespace tunavox {

// Loads Qt's own Russian texts (standard dialogs and buttons) whatever the system
// locale, so they speak the program's language. False when the file is not there.
bool InstallQtRussian(QCoreApplication& app);

} // namespace tunavox
