// "Поиск устройств…": a sweep from the window, a found device opened as the user would
// open it, Escape stopping a sweep, and the hint when nothing answers.
#include <QAccessible>
#include <QTest>

#include "gui_support.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

// Both sample types on one line: the frequency converter at ID 9, the controller at 7.
struct Line {
    TempDir dir;
    TRegList buk, chp;
    std::unique_ptr<TDeviceSimulator> sim;
    std::unique_ptr<TfMain> w;
    QString port;

    Line() {
        CopySamples(dir, {QStringLiteral("NastrBUK2.xml"), QStringLiteral("NastrChP7.xml")});
        TNameValueList errors;
        TDescription desc;
        LoadDescription(dir.File("NastrBUK2.xml"), buk, errors, desc, dir.Path() + "/");
        LoadDescription(dir.File("NastrChP7.xml"), chp, errors, desc, dir.Path() + "/");
        TSimOptions o;
        o.DeviceId = 9;
        sim = std::make_unique<TDeviceSimulator>(chp, o);
        sim->AddDevice(buk, 7);
        std::string error;
        port = QString::fromStdString(sim->StartPty("", error));
        TMainOptions mo = OptionsFor(dir);
        mo.Ports = QStringList{QStringLiteral("ttyS0")};
        mo.ExtraPort = port;
        mo.Device = QStringLiteral("NastrChP7.xml"); // the other type is loaded at first
        mo.JournalDir = QString::fromStdString(dir.File("Journal"));
        w = std::make_unique<TfMain>(mo);
    }
    ~Line() {
        w.reset();
        sim->Stop();
    }
    // F8 from the keyboard: the search window, on the current port.
    TScanWindow* OpenScan() {
        QTest::keyClick(w.get(), Qt::Key_F8);
        return w->Scan().ScanWindow();
    }
    static QString Cell(TScanWindow* s, int row, int column) {
        const QTableWidgetItem* item = s->tResults->item(row, column);
        return item ? item->text() : QString();
    }
};

} // namespace

class ScanTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearSettings(); }

    void aFoundDeviceOpensWithItsPortModeVersionIdAndDescription() {
        Line l;
        l.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(l.w.get()));
        l.w->chOver41G->setChecked(true); // the wrong guesses the search corrects
        l.w->miVer1->setChecked(true);
        l.w->eID->setText(QStringLiteral("1"));
        TScanWindow* s = l.OpenScan();
        QVERIFY(s);
        QTRY_VERIFY(s->isVisible());
        // The current port is ticked, the others are offered unticked.
        QCOMPARE(s->lPorts->count(), 2);
        for (int i = 0; i < s->lPorts->count(); ++i)
            QCOMPARE(s->lPorts->item(i)->checkState() == Qt::Checked,
                     s->lPorts->item(i)->text() == l.port);
        s->seLastId->setValue(12);
        s->cbVersions->setCurrentIndex(1); // 2.0
        s->cbModes->setCurrentIndex(1);    // direct
        QTest::mouseClick(s->bSearch, Qt::LeftButton);
        QVERIFY(s->Searching());
        QVERIFY(!s->bSearch->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!s->Searching(), 20000);
        QCOMPARE(s->tResults->rowCount(), 2);
        QCOMPARE(Line::Cell(s, 0, 3), QStringLiteral("7"));
        QCOMPARE(Line::Cell(s, 0, 4), QStringLiteral("БУК-2 (контроллер котельной)"));
        QCOMPARE(Line::Cell(s, 1, 3), QStringLiteral("9"));
        QCOMPARE(Line::Cell(s, 1, 4), QStringLiteral("ЧП-7 (частотный преобразователь)"));
        QCOMPARE(Line::Cell(s, 0, 1), QStringLiteral("напрямую"));
        QVERIFY(s->lState->text().startsWith(QStringLiteral("Найдено устройств: 2 за ")));
        QCOMPARE(s->pbProgress->value(), 1000);
        // A screen reader reads the found device from the table's cell.
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(s->tResults);
        QVERIFY(table && table->tableInterface());
        QAccessibleInterface* cell = table->tableInterface()->cellAt(0, 4);
        QVERIFY(cell);
        QCOMPARE(cell->text(QAccessible::Name), QStringLiteral("БУК-2 (контроллер котельной)"));
        // The documentation's picture, when scripts/screenshots asks for it.
        if (const QString out = qEnvironmentVariable("TUNAVOX_SCREENSHOTS"); !out.isEmpty())
            QVERIFY(s->grab().save(out + QStringLiteral("/scan.png")));

        // Tab leaves the results for the other controls and Shift+Tab comes back: the
        // buttons and the range are reached by keys.
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(s->tResults));
        QTest::keyClick(s->tResults, Qt::Key_Tab);
        QWidget* next = QApplication::focusWidget();
        QVERIFY(next && next != s->tResults && s->isAncestorOf(next));
        QTest::keyClick(next, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(s->tResults));
        QTest::keyClick(s->tResults, Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(QApplication::focusWidget() != s->tResults);

        // Enter on the controller's row: each step as the user would take it.
        s->tResults->setFocus();
        s->tResults->setCurrentCell(0, 0);
        QTest::keyClick(s->tResults, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(l.w->PortOpen(), 5000);
        QTRY_VERIFY(!l.w->Scan().ScanWindow());
        QCOMPARE(l.w->cbPort->currentText(), l.port);
        QVERIFY(!l.w->chOver41G->isChecked());
        QVERIFY(l.w->miVer2->isChecked());
        QCOMPARE(l.w->eID->text(), QStringLiteral("7"));
        QCOMPARE(l.w->Dev().Id, 7);
        QVERIFY(l.w->windowTitle().contains(QStringLiteral("БУК-2")));
        QVERIFY(!l.w->Scan().miScan->isEnabled()); // the search needs the port closed
        // The first "Считать все" reads every readable row of the controller.
        l.w->chPoll->setChecked(false);
        l.w->bReadAll->click();
        int readable = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                readable = 0;
                for (int r = 0; r < l.w->Regs().Count(); ++r) {
                    const TReg* reg = l.w->Regs().Items(r);
                    if (reg->RegType == rtHeader || (reg->Io != ioR && reg->Io != ioRW)) continue;
                    ++readable;
                    if (reg->GetValue().IsNull() || reg->GetValue().IsEmpty() ||
                        !reg->GetLastError().empty())
                        return false;
                }
                return true;
            }(),
            10000);
        QVERIFY(readable > 10);
        QCOMPARE(l.w->Scan().lScanHint->isVisible(), false);
    }

    void escapeStopsASweepAndSilenceLeadsToTheSearch() {
        Line l;
        l.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(l.w.get()));
        // A wrong ID: nothing answers after "Открыть", and the status bar points to F8.
        l.w->eID->setText(QStringLiteral("3"));
        l.w->Canal().SetTimeout(200);
        l.w->Dev().PollOnConnect = false;
        l.w->bOpen->click();
        QVERIFY(l.w->PortOpen());
        l.w->bReadAll->click();
        QTRY_VERIFY_WITH_TIMEOUT(l.w->Scan().lScanHint->isVisible(), 5000);
        QVERIFY(l.w->Scan().lScanHint->text().contains(QStringLiteral("Поиск устройств… (F8)")));
        QVERIFY(!l.OpenScan()); // not while the port is open
        l.w->bOpen->click();
        QVERIFY(!l.w->PortOpen());
        QVERIFY(!l.w->Scan().lScanHint->isVisible());

        TScanWindow* s = l.OpenScan();
        QVERIFY(s);
        QTest::keyClick(s, Qt::Key_Enter, Qt::NoModifier); // no button takes Enter
        QVERIFY(!s->Searching());
        QTest::mouseClick(s->bSearch, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(s->tResults->rowCount() >= 1, 10000);
        QVERIFY(s->Searching());
        QTest::keyClick(s, Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!s->Searching(), 3000);
        QVERIFY(s->isVisible()); // the first Escape only stopped the sweep
        QVERIFY(s->lState->text().contains(QStringLiteral("(поиск остановлен)")));
        QVERIFY(s->pbProgress->value() < 1000);
        const size_t requests = l.sim->RequestCount();
        QTest::qWait(150);
        QCOMPARE(l.sim->RequestCount(), requests);
        // The second Escape closes the window; the sweep's port is free for the window.
        QTest::keyClick(s, Qt::Key_Escape);
        QTRY_VERIFY(!l.w->Scan().ScanWindow());
        QVERIFY(!l.w->PortOpen());
        l.w->bOpen->click();
        QVERIFY(l.w->PortOpen());
    }

    void foundDevicesAreAddedToTheLineTabByTab() {
        Line l;
        l.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(l.w.get()));
        TScanWindow* s = l.OpenScan();
        QVERIFY(s);
        s->seLastId->setValue(10);
        s->cbVersions->setCurrentIndex(1);
        s->cbModes->setCurrentIndex(1);
        s->bSearch->click();
        QTRY_VERIFY_WITH_TIMEOUT(!s->Searching(), 20000);
        QCOMPARE(s->tResults->rowCount(), 2);
        // The first goes into the window's own tab (it has no device ID yet), the next into
        // a tab of its own; the search window stays for more.
        s->tResults->setCurrentCell(1, 0);
        QTest::mouseClick(s->bAdd, Qt::LeftButton);
        QCOMPARE(l.w->Devices().Count(), 1);
        QCOMPARE(l.w->Dev().Id, 9);
        s->tResults->setCurrentCell(0, 0);
        QTest::mouseClick(s->bAdd, Qt::LeftButton);
        QCOMPARE(s->lState->text(),
                 QStringLiteral("Добавлено на линию: БУК-2 (контроллер котельной) · ID 7"));
        QCOMPARE(l.w->Devices().Count(), 2);
        QCOMPARE(l.w->Devices().Caption(0),
                 QStringLiteral("ЧП-7 (частотный преобразователь) · ID 9"));
        QCOMPARE(l.w->Devices().Caption(1),
                 QStringLiteral("БУК-2 (контроллер котельной) · ID 7"));
        // Twice is refused, and said where the eye is.
        QTest::mouseClick(s->bAdd, Qt::LeftButton);
        QVERIFY(
            s->lState->text().startsWith(QStringLiteral("Устройство с ID 7 уже есть на линии")));
        QCOMPARE(l.w->Devices().Count(), 2);
        QTest::keyClick(s, Qt::Key_Escape);
        QTRY_VERIFY(!l.w->Scan().ScanWindow());
        // Both answer on the line, each on its own tab.
        l.w->Dev().PollOnConnect = false;
        l.w->bOpen->click();
        QVERIFY(l.w->PortOpen());
        for (int tab : {0, 1}) {
            l.w->Devices().Select(tab);
            l.w->bReadAll->click();
        }
        const auto shown = [&](int tab, uint16_t addr) {
            const TRegisterModel* m = l.w->Devices().View(tab)->Model();
            for (int r = 0; r < m->rowCount(); ++r)
                if (m->Reg(r)->Addr == addr && m->Reg(r)->RegType != rtHeader)
                    return m->index(r, 3).data().toString();
            return QString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(shown(0, 0x302), QStringLiteral("50.00"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(shown(1, 0x10), QStringLiteral("72.5"), 10000);
    }
};

int RunScanTests(int argc, char** argv) {
    ScanTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_scan.moc"
