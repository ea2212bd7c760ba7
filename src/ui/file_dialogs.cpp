#include "ui/file_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>

#include "ui/screen_fit.h"
#include "util/file_io.h"
#include "util/program_folder.h"

namespace tunavox {

QString ChooseParamSetFile(QWidget* parent, const QString& title, const char* objectName, bool save,
                           const QString& proposed) {
    QFileDialog dialog(parent, title);
    dialog.setObjectName(QString::fromLatin1(objectName));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (!save) dialog.setFileMode(QFileDialog::ExistingFile);
    PrepareFileDialog(dialog);
    dialog.setNameFilters(
        {QStringLiteral("Файлы параметров (*.params)"), QStringLiteral("Все файлы (*.*)")});
    if (save) dialog.setDefaultSuffix(QStringLiteral("params"));
    if (!proposed.isEmpty()) dialog.selectFile(proposed);
    if (dialog.exec() != QDialog::Accepted) return {};
    return ChosenFile(dialog);
}

QString DialogStartFolder() {
    const QString current = QDir::currentPath();
    std::string why;
    if (CheckReplaceable(QDir(current).filePath(QStringLiteral("probe")).toStdString(), why))
        return current;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? QDir::homePath() : documents;
}

void PrepareFileDialog(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    KeepOnScreen(&dialog);
    dialog.setDirectory(DialogStartFolder());
}

QString ChosenFile(const QFileDialog& dialog) {
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : NativeName(files.first());
}

QString NativeName(const QString& path) {
    return QString::fromStdString(NativePath(path.toStdString()));
}

} // namespace tunavox
