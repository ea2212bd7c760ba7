// The site in the window: made from five devices on a simulated line, opened again as a
// check that finds each way a device can have changed, a replaced unit read-only until it
// is accepted; the device list of fifty by keyboard and accessibility.
#include <QAccessible>
#include <QFileInfo>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QListView>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include "app/main_window.h"
#include "device/description.h"
#include "gui_support.h"
#include "journal/journal.h"
#include "report_doc.h"
#include "sim/simulator.h"
#include "site/site.h"
#include "test_support.h"
#include "util/file_io.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

struct SiteBench {
    TempDir dir;
    TRegList buk, chp;
    std::unique_ptr<TDeviceSimulator> sim;
    std::unique_ptr<TfMain> w;
    std::string link;

    explicit SiteBench(bool withLine = true) {
        CopySamples(dir, {QStringLiteral("NastrBUK2.xml"), QStringLiteral("NastrChP7.xml")});
        for (auto [regs, file] : {std::pair{&buk, "NastrBUK2.xml"}, {&chp, "NastrChP7.xml"}}) {
            TNameValueList errors;
            TDescription desc;
            LoadDescription(dir.File(file), *regs, errors, desc, dir.Path() + "/");
        }
        link = dir.File("line");
        if (withLine) {
            TSimOptions o;
            o.DeviceId = 3;
            sim = std::make_unique<TDeviceSimulator>(buk, o);
            sim->AddDevice(chp, 17);
            sim->AddDevice(chp, 200);
            sim->AddDevice(buk, 5);
            sim->AddDevice(buk, 7);
            std::string error;
            if (sim->StartPty(link, error).empty()) qWarning("%s", error.c_str());
        }
        TMainOptions mo;
        mo.DescriptionsDir = QString::fromStdString(dir.Path());
        mo.Ports = QStringList{QStringLiteral("ttyS0")};
        mo.ExtraPort = QString::fromStdString(link);
        mo.JournalDir = QString::fromStdString(dir.File("Journal"));
        mo.Device = QStringLiteral("NastrBUK2.xml");
        w = std::make_unique<TfMain>(mo);
    }
    ~SiteBench() {
        w.reset();
        sim.reset();
    }
    int Entry(const char* file) const {
        const auto& c = w->Catalogue();
        for (size_t i = 0; i < c.size(); ++i)
            if (c[i].Path.find(file) != std::string::npos) return static_cast<int>(i);
        return -1;
    }
    // The window shown with the port open on the device at ID 3, and the others added.
    bool Open(std::initializer_list<std::pair<const char*, uint32_t>> others) {
        w->show();
        if (!QTest::qWaitForWindowExposed(w.get())) return false;
        w->eID->setText(QStringLiteral("3"));
        w->eIDChange();
        w->Dev().PollOnConnect = false;
        w->bOpen->click();
        if (!w->PortOpen()) return false;
        for (auto [file, id] : others)
            if (!w->Devices().Add(Entry(file), id).isEmpty()) return false;
        return true;
    }
    QString Item(int row, int role = Qt::AccessibleTextRole) const {
        return w->Devices().lvDevices->model()->index(row, 0).data(role).toString();
    }
};

} // namespace

class SiteTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearSettings(); }

    void madeThenOpenedAsACheckOfEveryDevice() {
        SiteBench b;
        QVERIFY(b.Open({{"ChP7", 17u}, {"ChP7", 200u}, {"BUK2", 5u}, {"BUK2", 7u}}));
        TDevicesFace& d = b.w->Devices();
        TSiteFace& site = b.w->Site();
        const QString folder = QString::fromStdString(b.dir.File("Котельная 3"));
        QVERIFY(!site.miSaveSite->isEnabled());
        b.w->Trend().sePollPeriod->setValue(1500); // kept with the line
        QVERIFY(site.NewSite(folder, QStringLiteral("Котельная №3")));
        QTRY_VERIFY_WITH_TIMEOUT(site.IsOpen(), 20000);
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/site.xml")));
        for (int i = 0; i < 5; ++i)
            QVERIFY2(b.Item(i).endsWith(QStringLiteral(": на месте, различий от эталона: 0")),
                     qPrintable(b.Item(i)));
        QCOMPARE(site.Recent(), QStringList{folder});
        site.CloseSite();
        QVERIFY(!d.lvDevices->isVisible() || d.Several());
        b.w->Trend().sePollPeriod->setValue(0);

        // The line as the engineer finds it on his next visit.
        b.sim->SetPresent(5, false);
        b.sim->ReplaceDevice(200, b.buk);
        b.sim->SetValueOf(17, 0x0101, "70099999");
        b.sim->SetValueOf(7, 0x0021, "80");
        bool checked = false;
        site.OnChecked = [&] { checked = true; };
        QVERIFY(site.OpenSite(folder));
        QTRY_VERIFY_WITH_TIMEOUT(checked, 20000);
        QCOMPARE(b.w->Line().Pace.Period(), 1500);
        QVERIFY(d.lvDevices->isVisible());
        const QStringList expected{
            QStringLiteral("БУК-2 (контроллер котельной) · ID 3: на месте, различий от эталона: 0"),
            QStringLiteral("ЧП-7 (частотный преобразователь) · ID 17: заменено, различий от "
                           "эталона: 0"),
            QStringLiteral("ЧП-7 (частотный преобразователь) · ID 200: другое устройство"),
            QStringLiteral("БУК-2 (контроллер котельной) · ID 5: нет ответа"),
            QStringLiteral("БУК-2 (контроллер котельной) · ID 7: отличается от эталона: 1"),
        };
        for (int i = 0; i < 5; ++i) QCOMPARE(b.Item(i), expected[i]);
        QVERIFY(b.Item(1, Qt::ToolTipRole).contains(QStringLiteral("70012345 → 70099999")));
        QCOMPARE(b.w->StatusText->text().trimmed(),
                 QStringLiteral("Объект «Котельная №3» проверен: на месте 1 из 5; устройства с "
                                "отличиями — в списке слева"));
        if (const QString out = qEnvironmentVariable("TUNAVOX_SCREENSHOTS"); !out.isEmpty())
            QVERIFY(b.w->grab().save(out + QStringLiteral("/site.png")));

        // The replaced unit is read-only until accepted.
        d.Select(1);
        QVERIFY(b.w->Site().miAccept->isEnabled());
        QVERIFY(!b.w->Site().miRestoreReference->isEnabled());
        const int row = [&] {
            for (int r = 0; r < b.w->Dev().Regs->Count(); ++r)
                if (b.w->Dev().Regs->Items(r)->Addr == 0x0302) return r;
            return -1;
        }();
        QVERIFY(b.w->Dev().Regs->Items(row)->SetValueFromText("33", false));
        b.w->LinkFace().WriteEdited(row);
        QVERIFY(b.w->StatusText->text().trimmed().startsWith(
            QStringLiteral("Запись запрещена: устройство ID 17 не устройство объекта (заменено)")));
        QCOMPARE(b.sim->OtherRequestCount(), size_t{0}); // nothing written anywhere
        b.w->Site().miAccept->trigger();
        QCOMPARE(b.Item(1), QStringLiteral("ЧП-7 (частотный преобразователь) · ID 17: на "
                                           "месте, различий от эталона: 0"));
        TSite read;
        std::string error;
        QVERIFY(ReadSite(folder.toStdString(), read, error));
        QCOMPARE(read.Lines[0].Devices[1].Identity[0].Value, std::string("70099999"));
        QCOMPARE(read.Lines[0].PollPeriodMs, 1500);
        std::vector<TJournalEntry> entries;
        QVERIFY(ReadJournal(b.dir.File("Journal"), {}, entries, error));
        QCOMPARE(entries.size(), size_t{1});
        QCOMPARE(entries[0].Before, std::string("70012345"));
        QCOMPARE(entries[0].Written, std::string("70099999"));
        QCOMPARE(entries[0].Outcome, std::string("принято как устройство объекта"));
        // Accepted, it is written to as any device.
        b.w->LinkFace().WriteEdited(row);
        QTRY_VERIFY_WITH_TIMEOUT(b.sim->OtherRequestCount() > 0, 5000);
    }

    void reportOfAVisitShowsWhatTheDevicesAnsweredAndKept() {
        SiteBench b;
        QVERIFY(b.Open({{"ChP7", 17u}, {"BUK2", 5u}}));
        TDevicesFace& d = b.w->Devices();
        TSiteFace& site = b.w->Site();
        const QString folder = QString::fromStdString(b.dir.File("Котельная 3"));
        QVERIFY(site.NewSite(folder, QStringLiteral("Котельная №3")));
        QTRY_VERIFY_WITH_TIMEOUT(site.IsOpen(), 20000);
        site.CloseSite();
        QVERIFY(!site.miReport->isEnabled());

        // The visit: a setting found off its reference is put right, a write is not kept.
        b.sim->SetValueOf(3, 0x0021, "80");
        bool checked = false;
        site.OnChecked = [&] { checked = true; };
        QVERIFY(site.OpenSite(folder));
        QTRY_VERIFY_WITH_TIMEOUT(checked, 20000);
        QVERIFY(site.Visiting());
        QVERIFY(site.miReport->isEnabled());
        const auto write = [&](int device, uint16_t addr, const char* value, size_t entries) {
            d.Select(device);
            for (int r = 0; r < b.w->Dev().Regs->Count(); ++r)
                if (b.w->Dev().Regs->Items(r)->Addr == addr) {
                    QVERIFY(b.w->Dev().Regs->Items(r)->SetValueFromText(value, false));
                    b.w->LinkFace().WriteEdited(r);
                }
            std::vector<TJournalEntry> read;
            std::string error;
            QTRY_VERIFY_WITH_TIMEOUT(
                ReadJournal(b.dir.File("Journal"), {}, read, error) && read.size() == entries &&
                    read.back().Outcome != kWritten,
                5000);
        };
        write(0, 0x0021, "75", 1);
        TSimFaults faults;
        faults.KeepValue.insert(0x402);
        b.sim->SetFaults(faults);
        write(1, 0x0402, "400", 2);
        b.sim->SetPresent(5, false);

        int reported = 0;
        site.OnReported = [&](bool written) { reported += written ? 1 : 100; };
        const QString html = QString::fromStdString(b.dir.File("отчёт.html"));
        const QString pdf = QString::fromStdString(b.dir.File("отчёт.pdf"));
        // The first report asks the engineer's name, typed as a user does; then the file.
        QStringList asked;
        const auto answerFile = [&](const QString& path) {
            OnNextModal(
                [&asked, path](QWidget* modal) {
                    asked << QString::fromLatin1(modal->metaObject()->className());
                    auto* dialog = qobject_cast<QFileDialog*>(modal);
                    auto* name = dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                                        : nullptr;
                    if (!name) return static_cast<QDialog*>(modal)->reject();
                    dialog->setDirectory(QFileInfo(path).absolutePath());
                    name->setText(QFileInfo(path).fileName());
                    static_cast<QDialog*>(dialog)->accept();
                },
                5000);
        };
        OnNextModal(
            [&](QWidget* modal) {
                asked << QString::fromLatin1(modal->metaObject()->className());
                auto* input = qobject_cast<QInputDialog*>(modal);
                if (!input) return static_cast<QDialog*>(modal)->reject();
                // Cyrillic is put in as an input method does: QTest types ASCII alone.
                input->findChild<QLineEdit*>()->insert(QStringLiteral("  Петров П. П. "));
                answerFile(html);
                QTest::keyClick(input->findChild<QLineEdit*>(), Qt::Key_Return);
            },
            5000);
        site.miReport->trigger();
        QVERIFY(!site.miReport->isEnabled()); // one report at a time
        QTRY_COMPARE_WITH_TIMEOUT(reported, 1, 20000);
        QCOMPARE(site.Engineer(), QStringLiteral("Петров П. П."));
        // Asked once: the next report goes straight to the file.
        answerFile(pdf);
        site.miReport->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(reported, 2, 20000);
        QCOMPARE(asked, (QStringList{QStringLiteral("QInputDialog"), QStringLiteral("QFileDialog"),
                                     QStringLiteral("QFileDialog")}));
        QVERIFY(b.w->StatusText->text().contains(
            QStringLiteral("объект не соответствует эталону (не проверено устройств: 1 из 3)")));

        std::string text, error;
        QVERIFY(ReadFileBytes(html.toStdString(), text, error));
        TReportDoc doc;
        QVERIFY2(ParseReportHtml(text, doc, error), error.c_str());
        QCOMPARE(doc.Facts["Инженер"], std::string("Петров П. П."));
        QCOMPARE(doc.Facts["Начало посещения"], site.Visit().Started);
        QCOMPARE(doc.Devices.size(), size_t{3});
        // The window read the value before writing: the write's "before" is the device's.
        QCOMPARE(doc.Devices[0].Writes.size(), size_t{1});
        QCOMPARE(doc.Devices[0].Writes[0],
                 (std::vector<std::string>{doc.Devices[0].Writes[0][0], "0x21",
                                           doc.Devices[0].Writes[0][2], "80", "75",
                                           "записано и подтверждено"}));
        QCOMPARE(SettingsRow(doc.Devices[0], "0x21")[4], std::string("80"));
        QCOMPARE(SettingsRow(doc.Devices[0], "0x21")[6], std::string("изменено при наладке"));
        QCOMPARE(doc.Devices[1].Writes.size(), size_t{1});
        QCOMPARE(doc.Devices[1].Writes[0][5], std::string("устройство сохранило другое значение"));

        // The PDF says the same: every device, row, value and state, the writes, verdicts.
        // Read in the order it was drawn, cell after cell, a cell's wrapped lines together.
        QProcess extract;
        extract.start(QStringLiteral("pdftotext"), {QStringLiteral("-raw"), pdf,
                                                    QStringLiteral("-")});
        QVERIFY2(extract.waitForFinished(20000) && extract.exitCode() == 0,
                 "pdftotext (poppler-utils, installed by scripts/setup) did not run");
        const QString shown =
            QString::fromUtf8(extract.readAllStandardOutput()).simplified();
        // The same without spaces: a value too long for its column is wrapped inside a word.
        const QString joined = QString(shown).remove(QLatin1Char(' '));
        const auto glued = [](const std::string& text) {
            return QRegularExpression::escape(QString::fromStdString(text).remove(QLatin1Char(' ')));
        };
        for (const char* expected :
             {"Отчёт о наладке: Котельная №3", "Инженер Петров П. П.",
              "0x21 Уставка температуры подачи [°C] 80 75 записано и подтверждено",
              "устройство сохранило другое значение", "Заключение: не проверено: нет связи",
              "Заключение по объекту: не соответствует эталону"})
            QVERIFY2(shown.contains(QString::fromUtf8(expected)), expected);
        for (const TReportDocDevice& device : doc.Devices) {
            QVERIFY(shown.contains(QStringLiteral("ID %1 · ").arg(QString::fromStdString(device.Id))));
            QVERIFY(shown.contains(QString::fromStdString(device.Verdict)));
            for (const auto& row : device.Settings) {
                // The row: its code, name, then its four values and state in order.
                QStringList cells;
                for (size_t c : {size_t{2}, size_t{3}, size_t{4}, size_t{5}, size_t{6}})
                    cells << glued(row[c]);
                const QRegularExpression line(glued(row[0]) + QStringLiteral(".{1,60}?") +
                                              cells.join(QString()));
                QVERIFY2(line.match(joined).hasMatch(),
                         qPrintable(QStringLiteral("ID %1 %2").arg(QString::fromStdString(device.Id),
                                                                   cells.join(' '))));
            }
        }
        if (const QString out = qEnvironmentVariable("TUNAVOX_SCREENSHOTS"); !out.isEmpty()) {
            QFile::remove(out + QStringLiteral("/report-example.html"));
            QVERIFY(QFile::copy(html, out + QStringLiteral("/report-example.html")));
            QFile::remove(out + QStringLiteral("/report-example.pdf"));
            QVERIFY(QFile::copy(pdf, out + QStringLiteral("/report-example.pdf")));
        }
    }

    void aSiteOfTwoLinesOpensOneLineAtATime() {
        SiteBench b;
        TSimOptions o;
        o.DeviceId = 9;
        TDeviceSimulator other(b.chp, o);
        std::string error;
        const std::string link2 = b.dir.File("line2");
        QVERIFY2(!other.StartPty(link2, error).empty(), error.c_str());
        // Written by hand: no references, no identity kept yet.
        TSite written;
        written.Name = "Две линии";
        TSiteDevice buk;
        buk.Description = "NastrBUK2.xml";
        buk.Id = 3;
        TSiteDevice chp;
        chp.Description = "NastrChP7.xml";
        chp.Id = 9;
        written.Lines = {{b.link, 1, false, 0, {buk}}, {link2, 1, false, 0, {chp}}};
        const std::string folder = b.dir.File("site");
        QVERIFY2(CreateSite(folder, written, {}, error), error.c_str());
        b.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(b.w.get()));
        int checks = 0;
        b.w->Site().OnChecked = [&] { ++checks; };
        QVERIFY(b.w->Site().OpenSite(QString::fromStdString(folder)));
        QTRY_COMPARE_WITH_TIMEOUT(checks, 1, 10000);
        TDevicesFace& d = b.w->Devices();
        QVERIFY(d.cbLines->isVisible());
        QCOMPARE(d.cbLines->count(), 2);
        QVERIFY(d.lvDevices->isVisible()); // a site's list, one device or not
        QCOMPARE(b.Item(0), QStringLiteral("БУК-2 (контроллер котельной) · ID 3: на месте"));
        // The other line, chosen by the keyboard: its port and device, checked in turn.
        d.cbLines->setFocus();
        QTest::keyClick(d.cbLines, Qt::Key_Down);
        QTRY_COMPARE_WITH_TIMEOUT(checks, 2, 10000);
        QCOMPARE(b.w->Site().LineIndex(), 1);
        QCOMPARE(b.w->cbPort->currentText(), QString::fromStdString(link2));
        QCOMPARE(d.Count(), 1);
        QCOMPARE(b.Item(0),
                 QStringLiteral("ЧП-7 (частотный преобразователь) · ID 9: на месте"));
        QCOMPARE(d.cbLines->currentIndex(), 1);
        // Nothing of the first line's device answered here.
        QVERIFY(b.w->PortOpen());
    }

    void fiftyDevicesByKeyboardAndAccessibility() {
        SiteBench b(false);
        b.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(b.w.get()));
        b.w->eID->setText(QStringLiteral("1"));
        b.w->eIDChange();
        TDevicesFace& d = b.w->Devices();
        for (uint32_t id = 2; id <= 50; ++id)
            QCOMPARE(d.Add(b.Entry(id % 2 ? "BUK2" : "ChP7"), id), QString());
        QListView* list = d.lvDevices;
        QVERIFY(list->isVisible());
        QCOMPARE(list->model()->rowCount(), 50);
        // ID 1 and ID 11 no longer look alike: each item leads with its ID.
        QVERIFY(b.Item(10, Qt::DisplayRole).startsWith(QStringLiteral("ID 11 · ")));
        // Every item's name carries its state, for a screen reader too.
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(list);
        QVERIFY(a);
        int named = 0;
        for (int i = 0; i < a->childCount(); ++i)
            if (a->child(i)->text(QAccessible::Name).contains(QStringLiteral(": Порт закрыт")))
                ++named;
        QCOMPARE(named, 50);
        // Arrows, Home and End in the list; the table keeps Ctrl+PgUp and Ctrl+PgDown.
        d.Select(0);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(d.Current(), 1);
        QVERIFY(list->hasFocus());
        QTest::keyClick(list, Qt::Key_End);
        QCOMPARE(d.Current(), 49);
        QVERIFY(list->viewport()->rect().intersects(
            list->visualRect(list->model()->index(49, 0))));
        QCOMPARE(b.w->eID->text(), QStringLiteral("50"));
        QTest::keyClick(list, Qt::Key_Tab);
        QVERIFY(!list->hasFocus());
        b.w->vstList->setFocus();
        QTest::keyClick(b.w->vstList, Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(d.Current(), 48);
        QTest::keyClick(b.w->vstList, Qt::Key_PageDown, Qt::ControlModifier);
        QTest::keyClick(b.w->vstList, Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(d.Current(), 0);
        // Selected through accessibility, as a screen reader's user does.
        QAccessibleInterface* item = a->child(20);
        QVERIFY(item && item->actionInterface());
        item->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(d.Current(), 20);
    }
};

int RunSiteTests(int argc, char** argv) {
    SiteTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_site.moc"
