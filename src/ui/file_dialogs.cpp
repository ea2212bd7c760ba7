#include "ui/file_dialogs.h"

#include <QFileDialog>

namespace tunavox {

QString ChooseParamSetFile(QWidget* parent, const QString& title, const char* objectName, bool save,
                           const QString& proposed) {
    QFileDialog dialog(parent, title);
    dialog.setObjectName(QString::fromLatin1(objectName));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (!save) dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setNameFilters(
        {QStringLiteral("Файлы параметров (*.params)"), QStringLiteral("Все файлы (*.*)")});
    if (save) dialog.setDefaultSuffix(QStringLiteral("params"));
    if (!proposed.isEmpty()) dialog.selectFile(proposed);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

} // namespace tunavox
