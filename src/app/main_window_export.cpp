// The main window: table export and the About box.
#include <QFile>
#include <QFileDialog>

#include "app/main_window.h"
#include "export/table_export.h"
#include "ui/about_box.h"
#include "ui/message_box.h"

namespace tunavox {

void TfMain::miExportClick(int tag) {
    static const char* const kExtensions[] = {"", "html", "rtf", "csv"};
    if (tag < 1 || tag > 3) return;
    const QString extension = QString::fromLatin1(kExtensions[tag]);
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("SaveDialog1"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    const QStringList filters = {
        QStringLiteral("Веб-страницы (*.html *.htm)"), QStringLiteral("Rich Text Format (*.rtf)"),
        QStringLiteral("Текст CSV (*.csv)"), QStringLiteral("Все файлы (*.*)")};
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters[tag - 1]);
    dialog.setDefaultSuffix(extension);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    dialog.selectFile(QString::fromStdString(ExportTimeStamp(local)) + QLatin1Char('.') +
                      extension);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    ExportTo(tag, dialog.selectedFiles().first());
}

void TfMain::ExportTo(int tag, const QString& path) {
    // The format follows the menu item alone, whatever the name's extension.
    const TTableTexts texts = CollectTableTexts(regs_.get(), errorTexts_.get());
    const std::string content = tag == 1   ? ExportHtml(texts, windowTitle().toStdString())
                                : tag == 2 ? ExportRtf(texts)
                                           : ExportCsv(texts, ';');
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        ShowWarning(this, file.errorString());
        return;
    }
    if (file.write(content.data(), static_cast<qint64>(content.size())) !=
            static_cast<qint64>(content.size()) ||
        !file.flush()) {
        ShowWarning(this, file.errorString());
    }
    file.close();
}

void TfMain::N4Click() {
    TAboutBox::Open(this, windowTitle());
}

} // namespace tunavox
