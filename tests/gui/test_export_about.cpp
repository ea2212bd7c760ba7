// Export from the window and the About box.
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTest>
#include <sys/stat.h>

#include "gui_support.h"
#include "ui/about_box.h"
#include "util/cp1251.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

struct Loaded {
    TempDir dir;
    std::unique_ptr<TfMain> w;
    Loaded() {
        CopySamples(dir, {QStringLiteral("NastrBUK2.xml")});
        TMainOptions o = OptionsFor(dir);
        w = std::make_unique<TfMain>(o);
    }
};

// Answers the save dialog with a file name; reports the proposed name and filter.
void AnswerSaveDialog(const QString& path, QString* proposed, QString* filter) {
    OnNextModal(
        [=](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (!dialog) return;
            if (filter) *filter = dialog->selectedNameFilter();
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (!name) return;
            if (proposed) *proposed = name->text();
            // Typed as a user would: a folder and a name, maybe without an extension.
            dialog->setDirectory(QFileInfo(path).absolutePath());
            name->setText(QFileInfo(path).fileName());
            static_cast<QDialog*>(dialog)->accept();
        },
        5000, "QFileDialog");
}

} // namespace

class ExportAboutTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearSettings(); }

    void exportFollowsTheMenuItem() {
        Loaded l;
        QString proposed, filter;
        const QString csv = QString::fromStdString(l.dir.File("report"));
        AnswerSaveDialog(csv, &proposed, &filter);
        l.w->miExportCsv->trigger();
        QVERIFY(QRegularExpression(
                    QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d\\.\\d\\d\\.\\d\\d\\.csv$"))
                    .match(proposed)
                    .hasMatch());
        QCOMPARE(filter, QStringLiteral("Текст CSV (*.csv)"));
        const std::string bytes = ReadBytes(l.dir.File("report.csv"));
        QVERIFY(bytes.rfind(Utf8ToCp1251(";Код;Параметр;Значение\r\n"), 0) == 0);
        // Service rows are hidden on screen but exported.
        QVERIFY(bytes.find(Utf8ToCp1251("Пароль сервиса")) != std::string::npos);

        // HTML content into a name ending in .rtf: the menu item decides.
        AnswerSaveDialog(QString::fromStdString(l.dir.File("report.rtf")), nullptr, &filter);
        l.w->miExportHtml->trigger();
        QCOMPARE(filter, QStringLiteral("Веб-страницы (*.html *.htm)"));
        const std::string html = ReadBytes(l.dir.File("report.rtf"));
        QVERIFY(html.find("<caption>Настройка БУК-2 (контроллер котельной)</caption>") !=
                std::string::npos);

        AnswerSaveDialog(QString::fromStdString(l.dir.File("r.rtf")), nullptr, nullptr);
        l.w->miExportRtf->trigger();
        QVERIFY(ReadBytes(l.dir.File("r.rtf")).rfind("{\\rtf1", 0) == 0);
    }

    void aWriteFailureIsShownAndTheProgramGoesOn() {
        Loaded l;
        // /dev/full opens but takes no bytes; a folder cannot be opened as a file. Both
        // fail whoever we are (root writes into read-only folders).
        // The file named, the reason in the program's own words.
        const QString folder = QString::fromStdString(l.dir.Path());
        const struct {
            QString Path, Text;
        } failures[] = {
            {QStringLiteral("/dev/full"),
             QStringLiteral("Не удалось записать файл /dev/full: нет места на диске")},
            {folder, QStringLiteral("Не удалось записать файл %1: это папка").arg(folder)},
        };
        for (const auto& f : failures) {
            QString text;
            CaptureMessageBox(&text);
            l.w->ExportTo(3, f.Path);
            QCOMPARE(text, f.Text);
        }
        QVERIFY(l.w->isEnabled());
        QCOMPARE(l.w->vstList->model()->rowCount(), l.w->Regs().Count());
        // The program goes on: the next export works, and the status line names the file.
        const QString ok = QString::fromStdString(l.dir.File("ok.html"));
        l.w->ExportTo(1, ok);
        QVERIFY(ReadBytes(l.dir.File("ok.html")).find("</table>") != std::string::npos);
        QCOMPARE(l.w->StatusText->text(), QStringLiteral(" Таблица сохранена в файл ") + ok);
    }

    void aboutBox() {
        Loaded l;
        l.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(l.w.get()));
        TAboutBox* box = TAboutBox::Open(l.w.get(), l.w->windowTitle());
        QPointer<TAboutBox> alive(box);
        QVERIFY(QTest::qWaitForWindowExposed(box));
        QCOMPARE(box->windowTitle(), QStringLiteral("О программе"));
        QCOMPARE(box->ProductName->text(), l.w->windowTitle());
        QVERIFY(box->Version->text().startsWith(QStringLiteral("Версия: ")));
        QVERIFY(box->Version->y() >= box->ProductName->geometry().bottom() + 11);
        const QString info = box->mCvsInfo->toPlainText();
        QVERIFY(info.startsWith(QStringLiteral("Build: ")));
        QVERIFY(info.contains(QStringLiteral("\nCommit: ")));
        QVERIFY(info.contains(QStringLiteral("\nRevision: ")));
        QVERIFY(info.contains(QStringLiteral("\nHash: ")));
        // Collapsed at first; the arrow expands and collapses again.
        QVERIFY(box->mCvsInfo->isHidden());
        const int collapsed = box->height();
        QCOMPARE(collapsed, 146 + 8 + 284 - 237);
        box->PaintBox1Click();
        QVERIFY(!box->mCvsInfo->isHidden());
        QCOMPARE(box->height(), 82 + 146 + 8 + 284 - 237);
        box->PaintBox1Click();
        QCOMPARE(box->height(), collapsed);
        // Escape closes it.
        QTest::keyClick(box, Qt::Key_Escape);
        QTRY_VERIFY(alive.isNull());

        // Losing activation closes it too.
        box = TAboutBox::Open(l.w.get(), QString());
        alive = box;
        QVERIFY(QTest::qWaitForWindowExposed(box));
        QCOMPARE(box->ProductName->text(), QStringLiteral("Тунавокс"));
        QEvent deactivate(QEvent::WindowDeactivate);
        QApplication::sendEvent(box, &deactivate);
        QTRY_VERIFY(alive.isNull());
        // The main window was usable throughout: the box is not modal.
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void buildTimeFormat() {
        // 2026-12-07 17:44:10 UTC shown at +0300.
        QCOMPARE(QString::fromStdString(FormatBuildTime(1796665450)),
                 QStringLiteral("2026-12-07 20:44 +0300"));
        const std::string info = BuildInformation(1796665450, "2026-12-01 10:00 +0300", "42",
                                                  "0123456789abcdef0123456789abcdef01234567");
        QCOMPARE(
            QString::fromStdString(info),
            QStringLiteral("Build: 2026-12-07 20:44 +0300\r\nCommit: 2026-12-01 10:00 +0300\r\n"
                           "Revision: 42\r\nHash: cdef01234567"));
        QCOMPARE(
            QString::fromStdString(BuildInformation(0, "", "", "")),
            QStringLiteral("Build: 1970-01-01 03:00 +0300\r\nCommit: \r\nRevision: \r\nHash: "));
    }
};

int RunExportAboutTests(int argc, char** argv) {
    ExportAboutTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_export_about.moc"
