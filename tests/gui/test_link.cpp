// The window tells the truth about the link: its state at a glance, stale values,
// failed rows, a lost port reopened by itself, writes read back and journalled.
#include <QAccessible>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>

#include "gui_support.h"
#include "journal/journal.h"
#include "util/cp1251.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

QVariant Cell(const Bench& b, uint16_t addr, int role) {
    return b.w->vstList->Model()->index(b.Row(addr), 3).data(role);
}

// Edits the row's value in place and presses Enter, as the engineer does.
void TypeAndEnter(Bench& b, uint16_t addr, const QString& text) {
    // Selecting the row opens its editor; on the row selected already, a click on its
    // value does.
    if (b.w->vstList->currentIndex().row() == b.Row(addr))
        b.w->vstListChange(b.Row(addr));
    else
        b.w->vstList->setCurrentIndex(b.w->vstList->Model()->index(b.Row(addr), 1));
    QTRY_VERIFY(b.w->vstList->OpenEditor() != nullptr);
    auto* edit = qobject_cast<QLineEdit*>(b.w->vstList->OpenEditor());
    QVERIFY(edit);
    edit->selectAll();
    edit->insert(text); // as typed, Cyrillic included
    QTest::keyClick(edit, Qt::Key_Return);
}

std::string JournalText(const Bench& b) {
    std::vector<TJournalEntry> entries;
    std::string error;
    if (!ReadJournal(b.dir.File("Journal"), {}, entries, error)) return error;
    std::string all;
    for (const TJournalEntry& e : entries)
        all += e.Code + ";" + e.Before + ";" + e.Written + ";" + e.Outcome + "\n";
    return all;
}

const QString kLost = QStringLiteral("Адаптер отключён — ожидание подключения…");
const QString kAnswering = QStringLiteral("Связь с устройством есть");

} // namespace

class LinkTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearSettings(); }

    void aLostAdapterIsReopenedAndPollingGoesOn() {
        Bench b({}, 1, true);
        QVERIFY(b.ShowAndOpen());
        b.w->bReadAll->click();
        QTRY_COMPARE_WITH_TIMEOUT(b.Value(0x21), QStringLiteral("75"), 10000);
        b.UntickAll();
        b.w->vstList->Model()->SetCheckState(b.Row(0x10), Qt::Checked, true);
        QVERIFY(b.w->chPoll->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(b.w->LinkFace().lLink->text(), kAnswering, 5000);

        b.Unplug();
        QTRY_COMPARE_WITH_TIMEOUT(b.w->LinkFace().lLink->text(), kLost, 5000);
        // Said where it stays, and to screen readers.
        QCOMPARE(b.w->LinkFace().lLink->accessibleDescription(), kLost);
        QCOMPARE(b.w->LinkFace().lLink->accessibleName(), QStringLiteral("Состояние связи"));
        QVERIFY(!b.w->PortOpen()); // the handle is let go
        QVERIFY(b.w->Line().Reconnect.Active());
        QVERIFY(b.w->chPoll->isChecked()); // ticks and polling kept
        QCOMPARE(b.w->bOpen->text(), QStringLiteral("Закрыть"));
        QVERIFY(!b.w->cbPort->isEnabled());
        // Values read before are stale: grey, and the hint tells when they were read.
        QVERIFY(Cell(b, 0x21, TRegisterModel::StaleRole).toBool());
        QCOMPARE(Cell(b, 0x21, Qt::ForegroundRole).value<QColor>(), QColor(0x90, 0x90, 0x90));
        QVERIFY(Cell(b, 0x21, Qt::ToolTipRole).toString().contains("Последнее успешное чтение: "));
        QVERIFY(Cell(b, 0x21, Qt::AccessibleDescriptionRole)
                    .toString()
                    .startsWith(QStringLiteral("Значение устарело. Последнее успешное чтение: ")));
        // The description's hint stays first.
        QVERIFY(Cell(b, 0x10, Qt::ToolTipRole)
                    .toString()
                    .startsWith(QStringLiteral("Температура теплоносителя на выходе котла\n")));
        QCOMPARE(b.Value(0x21), QStringLiteral("75")); // the text as it was

        // Away for a while: no attempt more often than once a second, nothing else.
        QTest::qWait(1500);
        QVERIFY(b.w->Line().Reconnect.Active());
        // Meanwhile the setting was changed on the device's panel (or it is another one).
        b.simRegs.Items(b.Row(0x21))->DefValue = TValue(int16_t{80});
        QElapsedTimer back;
        b.Plug();
        back.start();
        QTRY_COMPARE_WITH_TIMEOUT(b.w->LinkFace().lLink->text(), kAnswering, 5000);
        qInfo("first good read %lld ms after the device returned", back.elapsed());
        QVERIFY(b.w->PortOpen());
        QVERIFY(!b.w->Line().Reconnect.Active());
        // Polling went on by itself; the statistics count the outage.
        const size_t seen = b.sim->RequestCount();
        QTRY_VERIFY_WITH_TIMEOUT(b.sim->RequestCount() > seen + 5, 5000);
        // An unpolled row is read again by itself; until then it is not shown as live.
        QTRY_COMPARE_WITH_TIMEOUT(b.Value(0x21), QStringLiteral("80"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!Cell(b, 0x21, TRegisterModel::StaleRole).toBool(), 5000);
        b.w->Trend().ShowStats();
        QVERIFY2(b.w->Trend().lStats->text().contains(QStringLiteral("обрывов связи: 1")),
                 qPrintable(b.w->Trend().lStats->text()));
    }

    void closingDuringTheWaitEndsIt() {
        Bench b({}, 1, true);
        QVERIFY(b.ShowAndOpen());
        b.w->bReadAll->click();
        QTRY_COMPARE_WITH_TIMEOUT(b.Value(0x21), QStringLiteral("75"), 10000);
        b.Unplug();
        b.w->bReadAll->click();
        QTRY_COMPARE_WITH_TIMEOUT(b.w->LinkFace().lLink->text(), kLost, 5000);
        b.w->bOpen->click(); // "Закрыть"
        QVERIFY(!b.w->Line().Reconnect.Active());
        QCOMPARE(b.w->bOpen->text(), QStringLiteral("Открыть"));
        QCOMPARE(b.w->LinkFace().lLink->text(), QStringLiteral("Порт закрыт"));
        QVERIFY(b.w->cbPort->isEnabled());
        // Not confirmed since the adapter went: still stale with the port closed.
        QVERIFY(Cell(b, 0x21, TRegisterModel::StaleRole).toBool());
        // A port the user closed is never reopened.
        b.Plug();
        QTest::qWait(2500);
        QVERIFY(!b.w->PortOpen());
        // Lost again, then the window is closed during the wait: it ends at once.
        b.w->bOpen->click();
        QVERIFY(b.w->PortOpen());
        b.Unplug();
        b.w->bReadAll->click();
        QTRY_COMPARE_WITH_TIMEOUT(b.w->LinkFace().lLink->text(), kLost, 5000);
        QElapsedTimer closing;
        closing.start();
        b.w->close();
        b.w.reset();
        QVERIFY2(closing.elapsed() < 3000, qPrintable(QString::number(closing.elapsed())));
    }

    void silenceGreysValuesAndFailedRowsKeepTheirMark() {
        TSimFaults f;
        f.ErrorCodes[0x32] = 0x20;
        Bench b(f);
        QVERIFY(b.ShowAndOpen());
        b.w->Canal().SetTimeout(200);
        b.w->bReadAll->click();
        QTRY_COMPARE_WITH_TIMEOUT(b.Value(0x21), QStringLiteral("75"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(b.w->LinkFace().lLink->text(), kAnswering, 5000);
        // A refusal says the device is there; the row carries it until it succeeds.
        QTRY_COMPARE_WITH_TIMEOUT(Cell(b, 0x32, TRegisterModel::RowErrorRole).toString(),
                                  QStringLiteral("параметр заблокирован ключом"), 5000);
        QVERIFY(Cell(b, 0x32, Qt::ToolTipRole)
                    .toString()
                    .contains(QStringLiteral("Ошибка: параметр заблокирован ключом")));
        QCOMPARE(Cell(b, 0x32, Qt::DisplayRole).toString(), QString()); // the text as designed
        QVERIFY(Cell(b, 0x21, TRegisterModel::RowErrorRole).toString().isEmpty());

        TSimFaults silent = f;
        silent.Silent = true;
        b.sim->SetFaults(silent);
        b.w->ReadNode(b.Row(0x22), nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(b.w->LinkFace().lLink->text(),
                                  QStringLiteral("Нет связи с устройством"), 5000);
        QVERIFY(b.w->PortOpen()); // silence is not a lost port
        QVERIFY(!b.w->Line().Reconnect.Active());
        QVERIFY(Cell(b, 0x21, TRegisterModel::StaleRole).toBool());
        // The keep-alive may have found the silence first: the row's own read follows.
        QTRY_COMPARE_WITH_TIMEOUT(Cell(b, 0x22, TRegisterModel::RowErrorRole).toString(),
                                  QStringLiteral("Устройство не отвечает"), 5000);
        QVERIFY(Cell(b, 0x22, Qt::AccessibleDescriptionRole)
                    .toString()
                    .endsWith(QStringLiteral("Ошибка: Устройство не отвечает")));
        // The status line clears; the state stays until it changes.
        QTRY_COMPARE_WITH_TIMEOUT(b.w->StatusText->text(), QString(), 6000);
        QCOMPARE(b.w->LinkFace().lLink->text(), QStringLiteral("Нет связи с устройством"));

        b.sim->SetFaults(f);
        b.w->ReadNode(b.Row(0x10), nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(b.w->LinkFace().lLink->text(), kAnswering, 5000);
        QVERIFY(!Cell(b, 0x10, TRegisterModel::StaleRole).toBool());
        // The device answers again: every stale row is read once by itself, and each
        // stays stale (and keeps its mark) until its own read succeeds.
        QTRY_VERIFY_WITH_TIMEOUT(!Cell(b, 0x21, TRegisterModel::StaleRole).toBool(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!Cell(b, 0x22, TRegisterModel::StaleRole).toBool(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(Cell(b, 0x22, TRegisterModel::RowErrorRole).toString().isEmpty(),
                                 5000);
    }

    void writesAreReadBackAndJournalled() {
        TSimFaults f;
        f.KeepValue.insert(0x21); // the device clamps what it is given
        f.ErrorCodes[0x22] = 3;
        Bench b(f);
        QVERIFY(b.ShowAndOpen());
        QVERIFY(b.w->LinkFace().chVerifyWrites->isChecked());
        b.w->ReadNode(b.Row(0x21), nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(b.Value(0x21), QStringLiteral("75"), 5000);

        TypeAndEnter(b, 0x21, QStringLiteral("90"));
        QTRY_COMPARE_WITH_TIMEOUT(b.w->StatusText->text(),
                                  QStringLiteral(" Устройство сохранило другое значение: 75"),
                                  5000);
        QCOMPARE(b.Value(0x21), QStringLiteral("75")); // what the device holds
        QCOMPARE(Cell(b, 0x21, TRegisterModel::RowErrorRole).toString(),
                 QStringLiteral("Устройство сохранило другое значение: 75"));
        QTRY_VERIFY(!b.w->Regs().Items(b.Row(0x21))->GetBusy());

        // Kept: the status says so after the read-back.
        TypeAndEnter(b, 0x03, QStringLiteral("Котельная №7"));
        QTRY_COMPARE_WITH_TIMEOUT(b.w->StatusText->text(), QStringLiteral(" Параметр записан"),
                                  5000);
        QCOMPARE(b.Value(0x03), QStringLiteral("Котельная №7"));

        // Refused: the row keeps its mark and the device's words.
        TypeAndEnter(b, 0x22, QStringLiteral("0.75"));
        QTRY_COMPARE_WITH_TIMEOUT(Cell(b, 0x22, TRegisterModel::RowErrorRole).toString(),
                                  QStringLiteral("отказано в записи"), 5000);
        QTest::qWait(300);
        QCOMPARE(Cell(b, 0x22, TRegisterModel::RowErrorRole).toString(),
                 QStringLiteral("отказано в записи"));

        // A command (W) is not read back, and the journal says it cannot be checked.
        const size_t commandAt = b.sim->RequestCount();
        TypeAndEnter(b, 0x23, QStringLiteral("1"));
        QTRY_COMPARE_WITH_TIMEOUT(b.w->StatusText->text(), QStringLiteral(" Параметр записан"),
                                  5000);
        QTest::qWait(200);
        QCOMPARE(b.sim->RequestCount(), commandAt + 1);

        // Without the check: exactly the designed behaviour.
        b.w->LinkFace().chVerifyWrites->trigger();
        QVERIFY(!b.w->LinkFace().chVerifyWrites->isChecked());
        const size_t before = b.sim->RequestCount();
        TypeAndEnter(b, 0x21, QStringLiteral("91"));
        QTRY_COMPARE_WITH_TIMEOUT(b.w->StatusText->text(), QStringLiteral(" Параметр записан"),
                                  5000);
        QTest::qWait(200);
        QCOMPARE(b.sim->RequestCount(), before + 1); // no read-back
        QCOMPARE(b.Value(0x21), QStringLiteral("91"));

        QCOMPARE(JournalText(b),
                 std::string("0x21;75;90;устройство сохранило 75\n"
                             "0x03;не считано;Котельная №7;записано и подтверждено\n"
                             "0x22;не считано;0.75;отказано в записи\n"
                             "0x23;не считано;1;записано, проверка невозможна: параметр не "
                             "считывается\n"
                             "0x21;75;91;записано\n"));

        // The journal window: newest first, a filter by device, an HTML report.
        b.w->LinkFace().ShowJournal();
        TJournalWindow* jw = b.w->LinkFace().JournalWindow();
        QVERIFY(jw && jw->isVisible());
        QTRY_VERIFY(!jw->Reading());
        QAbstractItemModel* m = jw->Table->model();
        const auto text = [m](int r, int c) { return m->index(r, c).data().toString(); };
        QCOMPARE(m->rowCount(), 5);
        QCOMPARE(m->headerData(6, Qt::Horizontal).toString(), QStringLiteral("Результат"));
        QCOMPARE(text(0, 6), QStringLiteral("записано"));
        QCOMPARE(text(4, 6), QStringLiteral("устройство сохранило 75"));
        QCOMPARE(text(0, 1), QStringLiteral("БУК-2 (контроллер котельной)"));
        QCOMPARE(jw->cbDevice->count(), 2);
        jw->eSince->setDate(QDate::currentDate().addDays(1));
        QCOMPARE(m->rowCount(), 0);
        QVERIFY(!jw->bExport->isEnabled());
        jw->eSince->setDate(QDate::currentDate());
        QCOMPARE(m->rowCount(), 5);
        // Screen readers read each cell's text.
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(jw->Table);
        QVERIFY(table && table->tableInterface());
        QAccessibleInterface* cell = table->tableInterface()->cellAt(0, 6);
        QVERIFY(cell);
        QCOMPARE(cell->text(QAccessible::Name), QStringLiteral("записано"));
        QString error;
        const QString report = QString::fromStdString(b.dir.File("report.html"));
        QVERIFY(jw->ExportHtml(report, error));
        const std::string html = ReadBytes(report.toStdString());
        QVERIFY(html.find("<td>устройство сохранило 75</td>") != std::string::npos);
        QVERIFY(html.find("Журнал записей в устройства") != std::string::npos);
        // A write after the window opened shows there at once.
        b.w->LinkFace().chVerifyWrites->trigger();
        TypeAndEnter(b, 0x21, QStringLiteral("92"));
        QTRY_COMPARE_WITH_TIMEOUT(m->rowCount(), 6, 5000);
    }

    void aLargeJournalOpensAtOnce() {
        // 200,000 writes over two days: the window is there at once, the table follows.
        TempDir dir;
        const std::string folder = dir.File("Journal");
        QDir().mkpath(QString::fromStdString(folder));
        for (const char* day : {"2026-12-08", "2026-12-09"}) {
            std::string bytes = JournalHeader();
            for (int i = 0; i < 100000; ++i) {
                TJournalEntry e{std::string(day) + " 10:00:00.000 +03:00",
                                "/dev/ttyUSB0",
                                i % 2 ? "ЧП-7" : "БУК-2",
                                "NastrX.xml",
                                "0",
                                "2.0",
                                "0x" + std::to_string(i % 500),
                                "Уставка [°C]",
                                "1",
                                "2",
                                kConfirmed};
                bytes += JournalLine(e);
            }
            WriteBytes(folder + "/" + day + ".csv", bytes);
        }
        QElapsedTimer opening;
        opening.start();
        TJournalWindow w(QString::fromStdString(folder));
        w.eSince->setDate(QDate(2026, 12, 1));
        w.Reload();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        qInfo("the window was shown %lld ms after it was asked for", opening.elapsed());
        QTRY_VERIFY_WITH_TIMEOUT(!w.Reading(), 60000);
        qInfo("200,000 entries read and shown after %lld ms", opening.elapsed());
        QCOMPARE(w.Table->model()->rowCount(), 200000);
        QCOMPARE(w.cbDevice->count(), 3);
        w.cbDevice->setCurrentIndex(w.cbDevice->findText(QStringLiteral("ЧП-7")));
        QCOMPARE(w.Table->model()->rowCount(), 100000);
        // Closed while a read runs: it stops, and nothing comes back to a window gone.
        auto later = std::make_unique<TJournalWindow>(QString::fromStdString(folder));
        later->Reload();
        QVERIFY(later->Reading());
        later.reset();
        QTest::qWait(50);
    }

    // Pictures for the documentation, when TUNAVOX_SCREENSHOTS names a folder.
    void pictures() {
        const QString out = qEnvironmentVariable("TUNAVOX_SCREENSHOTS");
        if (out.isEmpty()) QSKIP("TUNAVOX_SCREENSHOTS is not set");
        TSimFaults f;
        f.ErrorCodes[0x14] = 0x20; // a register the device refuses: its row is marked
        f.KeepValue.insert(0x22);  // a write the device keeps otherwise
        Bench b(f, 1, true);
        b.w->resize(820, 520);
        QVERIFY(b.ShowAndOpen());
        b.w->bReadAll->click();
        QTRY_COMPARE_WITH_TIMEOUT(b.Value(0x21), QStringLiteral("75"), 10000);
        TypeAndEnter(b, 0x21, QStringLiteral("80"));
        QTRY_COMPARE_WITH_TIMEOUT(b.w->StatusText->text(), QStringLiteral(" Параметр записан"),
                                  5000);
        TypeAndEnter(b, 0x22, QStringLiteral("0.75"));
        QTRY_VERIFY_WITH_TIMEOUT(!Cell(b, 0x22, TRegisterModel::RowErrorRole).toString().isEmpty(),
                                 5000);
        TypeAndEnter(b, 0x03, QStringLiteral("Котельная №2"));
        QTRY_COMPARE_WITH_TIMEOUT(b.w->StatusText->text(), QStringLiteral(" Параметр записан"),
                                  5000);
        b.w->chPoll->setChecked(true);
        QTest::qWait(1000);
        b.Unplug();
        QTRY_COMPARE_WITH_TIMEOUT(b.w->LinkFace().lLink->text(), kLost, 5000);
        b.w->vstList->setCurrentIndex(b.w->vstList->Model()->index(b.Row(0x12), 1));
        QTest::qWait(300);
        QVERIFY(b.w->grab().save(out + QStringLiteral("/link-lost.png")));
        b.Plug();
        QTRY_COMPARE_WITH_TIMEOUT(b.w->LinkFace().lLink->text(), kAnswering, 5000);
        b.w->LinkFace().ShowJournal();
        b.w->LinkFace().JournalWindow()->resize(1100, 260);
        QTest::qWait(300);
        QVERIFY(b.w->LinkFace().JournalWindow()->grab().save(out + QStringLiteral("/journal.png")));
    }

    void aJournalThatCannotBeKeptIsSaidOnce() {
        Bench b;
        WriteBytes(b.dir.File("Journal"), "a file where the folder should be");
        QVERIFY(b.ShowAndOpen());
        TypeAndEnter(b, 0x21, QStringLiteral("80"));
        QTRY_VERIFY_WITH_TIMEOUT(
            b.w->StatusText->text().startsWith(QStringLiteral(" Журнал записей не ведётся (")),
            5000);
        QCOMPARE(b.sim->Value(0x21), TValue(int16_t{80})); // the write stands
        QTRY_COMPARE_WITH_TIMEOUT(b.w->StatusText->text(), QString(), 6000);
        TypeAndEnter(b, 0x21, QStringLiteral("81"));
        QTRY_COMPARE_WITH_TIMEOUT(b.w->StatusText->text(), QStringLiteral(" Параметр записан"),
                                  5000);
        QCOMPARE(b.sim->Value(0x21), TValue(int16_t{81}));
    }
};

int RunLinkTests(int argc, char** argv) {
    LinkTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_link.moc"
