#include "ui/translation.h"

#include <QLibraryInfo>
#include <QTranslator>

namespace tunavox {

bool InstallQtRussian(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    // Qt's own folder on Linux; inside the program where it carries its own copy.
    if (!translator->load(QStringLiteral("qtbase_ru"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        !translator->load(QStringLiteral(":/i18n/qtbase_ru.qm"))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace tunavox
