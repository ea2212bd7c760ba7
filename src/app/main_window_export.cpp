// The main window: table export, where the exchange log goes, and the About box.
#include <QFileDialog>

#include "app/main_window.h"
#include "export/table_export.h"
#include "ui/about_box.h"
#include "ui/file_dialogs.h"
#include "ui/message_box.h"
#include "util/file_io.h"
#include "util/program_folder.h"

namespace tunavox {

void TfMain::miExportClick(int tag) {
    static const char* const kExtensions[] = {"", "html", "rtf", "csv"};
    if (tag < 1 || tag > 3) return;
    const QString extension = QString::fromLatin1(kExtensions[tag]);
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("SaveDialog1"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    PrepareFileDialog(dialog);
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
    if (dialog.exec() != QDialog::Accepted || ChosenFile(dialog).isEmpty()) return;
    ExportTo(tag, ChosenFile(dialog));
}

void TfMain::ExportTo(int tag, const QString& path) {
    // The format follows the menu item alone, whatever the name's extension.
    const TTableTexts texts = CollectTableTexts(dev_->Regs.get(), dev_->ErrorTexts.get());
    const std::string content = tag == 1   ? ExportHtml(texts, windowTitle().toStdString())
                                : tag == 2 ? ExportRtf(texts)
                                           : ExportCsv(texts, ';');
    // Our own words for what went wrong (not the runtime's English), the file named.
    std::string error;
    if (!WriteFileBytes(path.toStdString(), content, error)) {
        ShowWarning(this, QStringLiteral("Не удалось записать файл %1: %2")
                              .arg(NativeName(path), QString::fromStdString(error)));
        return;
    }
    ShowStatus(QStringLiteral("Таблица сохранена в файл %1").arg(NativeName(path)), true,
               normalStatusColor_);
}

void TfMain::UseLogs(bool on) {
    line_->Canal->SetLogging(on);
    if (!on || logsPlaceSaid_) return;
    const std::string beside = ProgramFolder() + "Logs/";
    const std::string folder = WritableProgramSubfolder("Logs/");
    if (folder == beside) return;
    logsPlaceSaid_ = true;
    ShowStatus(QStringLiteral("Папка программы недоступна для записи: журнал обмена пишется в %1")
                   .arg(NativeName(QString::fromStdString(folder))),
               true, normalStatusColor_);
}

void TfMain::N4Click() {
    TAboutBox::Open(this, windowTitle());
}

} // namespace tunavox
