// The visit's commissioning report from the window: every device of the line read once more
// ("as left"), then the page written as HTML, CSV or PDF.
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <QTimer>

#include "app/site_face.h"
#include "journal/journal.h"
#include "line/device.h"
#include "line/line.h"
#include "site/report.h"
#include "ui/file_dialogs.h"
#include "ui/message_box.h"
#include "util/file_io.h"
#include "util/time_text.h"

namespace tunavox {
namespace {

// The page on A4 across through Qt's own PDF writer, its tables' headers repeated on each
// page. Qt breaks a row of several lines across two pages: across, a row holds one line.
bool WritePdf(const QString& path, const std::string& html, const QString& title,
              QString& error) {
    QPdfWriter writer(path);
    writer.setTitle(title);
    writer.setCreator(QStringLiteral("Tunavox"));
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageOrientation(QPageLayout::Landscape);
    writer.setPageMargins(QMarginsF(14, 12, 14, 12), QPageLayout::Millimeter);
    QTextDocument doc;
    doc.setHtml(QString::fromStdString(html));
    doc.print(&writer);
    // QPdfWriter says nothing of a file it could not write: look at what it left.
    const QFileInfo written(path);
    if (!written.exists() || written.size() == 0) {
        error = QStringLiteral("файл не создан");
        return false;
    }
    return true;
}

} // namespace

void TSiteFace::AskReport() {
    if (!open_ || Busy()) return;
    QString engineer = Engineer();
    if (engineer.isEmpty()) {
        bool ok = false;
        engineer = QInputDialog::getText(host_.Widget(), QStringLiteral("Отчёт о наладке"),
                                         QStringLiteral("Инженер (фамилия и инициалы):"),
                                         QLineEdit::Normal, QString(), &ok)
                       .trimmed();
        if (!ok) return;
        SetEngineer(engineer);
    }
    QFileDialog dialog(host_.Widget(), QStringLiteral("Отчёт о наладке"));
    dialog.setObjectName(QStringLiteral("ReportDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    PrepareFileDialog(dialog);
    dialog.setNameFilters({QStringLiteral("Веб-страницы (*.html *.htm)"),
                           QStringLiteral("Документ PDF (*.pdf)"),
                           QStringLiteral("Текст CSV (*.csv)")});
    dialog.setDefaultSuffix(QStringLiteral("html"));
    dialog.setDirectory(folder_);
    dialog.selectFile(QStringLiteral("Отчёт %1.html")
                          .arg(QString::fromStdString(
                              LocalTimeText(std::chrono::system_clock::now(), false).substr(0, 10))));
    if (dialog.exec() != QDialog::Accepted || ChosenFile(dialog).isEmpty()) return;
    MakeReport(ChosenFile(dialog), engineer);
}

bool TSiteFace::MakeReport(const QString& path, const QString& engineer) {
    if (!open_ || Busy()) return false;
    if (!visiting_) {
        ShowWarning(host_.Widget(), QStringLiteral("Посещение объекта не начато: отчёт не из "
                                                   "чего составить"));
        return false;
    }
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("html") && suffix != QLatin1String("htm") &&
        suffix != QLatin1String("csv") && suffix != QLatin1String("pdf")) {
        ShowWarning(host_.Widget(),
                    QStringLiteral("Отчёт пишется в файл .html, .pdf или .csv: %1").arg(NativeName(path)));
        return false;
    }
    std::string error;
    if (!CheckReplaceable(path.toStdString(), error)) {
        ShowWarning(host_.Widget(), QStringLiteral("Не удалось записать файл %1: %2")
                                        .arg(NativeName(path), QString::fromStdString(error)));
        return false;
    }
    reportPath_ = path;
    reportEngineer_ = engineer;
    reporting_ = true;
    lefts_.clear();
    toRead_.clear();
    for (int i = 0; i < host_.DeviceCount(); ++i)
        if (EntryOf(host_.DeviceAt(i))) toRead_.push_back(i);
    host_.Say(QStringLiteral("Отчёт о наладке: считываются настройки устройств…"), false);
    ReadLeftNext();
    return true;
}

void TSiteFace::ReadLeftNext() {
    if (toRead_.empty() || !host_.PortIsOpen()) {
        // A closed port reads nothing: the devices left are "не считано".
        toRead_.clear();
        QTimer::singleShot(0, this, [this, gone = std::shared_ptr<TLeftReader>(left_.release())] {
            WriteReport();
        });
        return;
    }
    const int index = toRead_.front();
    toRead_.erase(toRead_.begin());
    TDevice& dev = host_.DeviceAt(index);
    if (left_) QTimer::singleShot(0, this, [gone = std::shared_ptr<TLeftReader>(left_.release())] {});
    left_ = std::make_unique<TLeftReader>(RunnerContext(host_.SiteLine(), dev));
    std::weak_ptr<char> alive = alive_;
    left_->OnFinished = [this, alive, index] {
        if (alive.expired()) return;
        if (left_->Answered()) lefts_[index] = left_->Set();
        ReadLeftNext();
    };
    UpdateActions();
    left_->Start();
}

void TSiteFace::WriteReport() {
    reporting_ = false;
    UpdateActions();
    if (!open_) return;
    std::vector<TJournalEntry> journal;
    std::string error;
    TJournalFilter since;
    since.Since = visit_.Started.substr(0, 10);
    const std::string journalFolder = host_.JournalFolder();
    if (PathKind(journalFolder) != TPathKind::Missing &&
        !ReadJournal(journalFolder, since, journal, error))
        host_.Say(QStringLiteral("Журнал записей не прочитан: %1").arg(QString::fromStdString(error)),
                  true);
    const TSiteLine& siteLine = site_.Lines[static_cast<size_t>(line_)];
    TReport report;
    report.Site = site_.Name;
    report.Notes = site_.Notes;
    report.Engineer = reportEngineer_.toStdString();
    report.VisitStarted = visit_.Started;
    report.Program = ProgramVersion();
    const TDevice* first = host_.DeviceCount() > 0 ? &host_.DeviceAt(0) : nullptr;
    report.Lines.push_back(ReportLineOf(
        siteLine, first && first->Desc.Line ? SettingsText(*first->Desc.Line) : std::string()));
    for (int i = 0; i < host_.DeviceCount(); ++i) {
        TDevice& dev = host_.DeviceAt(i);
        const TSiteDevice* entry = EntryOf(dev);
        if (!entry) continue;
        std::optional<TParamSet> found;
        if (!ReadFound(visit_, *entry, found, error))
            host_.Say(QString::fromStdString(error), true);
        std::string problem;
        const std::optional<TParamSet> reference =
            LoadReference(folder_.toStdString(), *entry, problem);
        TReportSource source;
        source.Site = entry;
        source.Regs = dev.Regs.get();
        source.Sign = dev.Desc.Sign;
        source.Found = found ? &*found : nullptr;
        const auto left = lefts_.find(i);
        source.Left = left == lefts_.end() ? nullptr : &left->second;
        source.Reference = reference ? &*reference : nullptr;
        source.Writes = VisitWrites(journal, siteLine.Port, *entry, visit_.StartedMs);
        report.Lines.back().Devices.push_back(ReportDeviceOf(source));
    }
    lefts_.clear();
    report.Made = LocalTimeWithOffset(std::chrono::system_clock::now());
    const QString suffix = QFileInfo(reportPath_).suffix().toLower();
    const std::string html = ReportHtml(report);
    QString why;
    bool written = false;
    if (suffix == QLatin1String("pdf")) {
        written = WritePdf(reportPath_, html,
                           QStringLiteral("Отчёт о наладке: %1").arg(QString::fromStdString(site_.Name)),
                           why);
    } else {
        written = ReplaceFileBytes(reportPath_.toStdString(),
                                   suffix == QLatin1String("csv") ? ReportCsv(report) : html, error);
        why = QString::fromStdString(error);
    }
    const QString verdict = QString::fromStdString(SiteVerdictText(report));
    if (!written) {
        ShowWarning(host_.Widget(), QStringLiteral("Не удалось записать файл %1: %2")
                                        .arg(NativeName(reportPath_), why));
    } else {
        host_.Say(QStringLiteral("Отчёт о наладке записан: %1 (объект %2)")
                      .arg(NativeName(reportPath_), verdict),
                  verdict != QLatin1String("соответствует эталону"));
    }
    if (OnReported) OnReported(written);
}

} // namespace tunavox
