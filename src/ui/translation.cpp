#include "ui/translation.h"

#include <QLibraryInfo>
#include <QTranslator>

namespace tunavox {

bool InstallQtRussian(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_ru"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace tunavox
