// What a new user meets first: the window's size at start, the poll box whoever
// toggles it, ticks, Space on a row, Qt's own texts in Russian, a failed start-up,
// the port list, finding and copying rows.
#include <QAccessible>
#include <QClipboard>
#include <QFile>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QTest>

#include "gui_support.h"
#include "ui/translation.h"
#include "util/cp1251.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

// Sixteen rows in two groups, one of them a service row.
std::string SixteenRows() {
    std::string regs = "    <REG header=\"Первая группа\"/>\r\n";
    for (int i = 1; i <= 14; ++i) {
        if (i == 8) regs += "    <REG header=\"Вторая группа\"/>\r\n";
        regs += "    <REG addr=\"" + std::to_string(i) + "\" type=\"UWord\" io=\"" +
                (i % 2 ? "R" : "RW") + "\"" + (i == 14 ? " admin=\"1\"" : "") + "><name>" +
                (i < 8 ? "Скорость " : "Давление ") + std::to_string(i) +
                "</name><units>ед.</units></REG>\r\n";
    }
    return Description(regs);
}

int EntryOf(const TfMain& w, const std::string& file) {
    for (size_t i = 0; i < w.Catalogue().size(); ++i)
        if (w.Catalogue()[i].Path.size() >= file.size() &&
            w.Catalogue()[i].Path.compare(w.Catalogue()[i].Path.size() - file.size(), file.size(),
                                          file) == 0)
            return static_cast<int>(i);
    return -1;
}

// Pixels of a grabbed cell by brightness.
struct Tones {
    int light = 0, dark = 0;
};
Tones CountTones(const QImage& image) {
    Tones t;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int v = qGray(image.pixel(x, y));
            t.light += v > 200;
            t.dark += v < 90;
        }
    return t;
}

} // namespace

class FirstUseTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearSettings(); }

    void heightAtStartIsTheHeightOfALaterLoad() {
        TempDir dir;
        WriteSignedDescription(dir, "NastrA.xml", SixteenRows());
        CopySamples(dir, {QStringLiteral("NastrBUK2.xml")});
        TMainOptions o = OptionsFor(dir);
        o.Device = QStringLiteral("NastrA.xml");
        TfMain w(o);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const int atStart = w.height();
        // Every row fits, with no blank band below them.
        const int rows = 16; // the hidden service row is counted too
        QVERIFY2(w.vstList->viewport()->height() >= rows * 21 - 21 &&
                     w.vstList->viewport()->height() < rows * 21 + 21,
                 qPrintable(QString::number(w.vstList->viewport()->height())));
        w.DeviceChosen(EntryOf(w, "NastrBUK2.xml"));
        w.DeviceChosen(EntryOf(w, "NastrA.xml"));
        QCOMPARE(w.height(), atStart);
    }

    void theDemoDeviceMeasurementsMove() {
        TempDir dir;
        CopySamples(dir, {QStringLiteral("NastrChP7.xml")});
        TMainOptions o = OptionsFor(dir);
        o.Demo = true;
        TfMain w(o);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.Dev().PollOnConnect = false;
        w.bOpen->click();
        QVERIFY(w.PortOpen());
        int row = -1;
        for (int r = 0; r < w.Regs().Count(); ++r)
            if (w.Regs().Items(r)->Addr == 0x200) row = r; // the output frequency, read-only
        QVERIFY(row >= 0);
        const auto read = [&]() -> QString {
            w.Regs().Items(row)->SetValue(TValue::MakeNull(), true, {});
            w.ReadNode(row, [](TAction*) {});
            if (!QTest::qWaitFor([&] { return !w.Regs().Items(row)->GetValue().IsNull(); }, 5000))
                return QStringLiteral("не считано");
            return QString::fromStdString(w.Regs().Items(row)->DisplayText());
        };
        QSet<QString> seen;
        for (int i = 0; i < 4; ++i) {
            seen << read();
            QTest::qWait(400);
        }
        QVERIFY(!seen.contains(QStringLiteral("не считано")));
        QVERIFY2(seen.size() > 1, qPrintable(QStringList(seen.values()).join(QLatin1Char(' '))));
    }

    void pollingFollowsTheBoxWhoeverTogglesIt() {
        Bench b;
        QVERIFY(b.ShowAndOpen());
        b.UntickAll();
        TRegisterModel* m = b.w->vstList->Model();
        const int row = b.Row(0x21);
        m->SetCheckState(row, Qt::Checked, false);
        QAccessibleInterface* box = QAccessible::queryAccessibleInterface(b.w->chPoll);
        QVERIFY(box && box->actionInterface());
        const auto toggle = [&] {
            box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        };
        // The same three ways on and off: accessibility, keyboard, mouse.
        const std::function<void()> ways[] = {
            toggle, [&] { QTest::keyClick(b.w->chPoll, Qt::Key_Space); },
            [&] { QTest::mouseClick(b.w->chPoll, Qt::LeftButton); }};
        for (const auto& way : ways) {
            const size_t before = b.sim->RequestCount();
            way();
            QVERIFY(b.w->chPoll->isChecked());
            QCOMPARE(b.w->Dev().PollNode, row);
            QVERIFY(b.w->vstList->DarkTicks());
            QTRY_VERIFY_WITH_TIMEOUT(b.sim->RequestCount() > before + 2, 5000); // it goes on
            way();
            QVERIFY(!b.w->chPoll->isChecked());
            QCOMPARE(b.w->Dev().PollNode, -1);
            QVERIFY(!b.w->vstList->DarkTicks());
            QTRY_COMPARE_WITH_TIMEOUT(b.w->Line().Queued(), size_t{0}, 5000);
        }
        // The keep-alive goes on again once polling is off.
        b.w->Regs().Items(b.w->Dev().PingNode)->SetValue(TValue::MakeNull(), true, "");
        b.w->PingTimerTimer();
        QTRY_VERIFY_WITH_TIMEOUT(!b.w->Regs().Items(b.w->Dev().PingNode)->GetValue().IsNull(),
                                 5000);
    }

    void ticksStandOutInBothStyles() {
        Bench b;
        b.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(b.w.get()));
        TRegisterModel* m = b.w->vstList->Model();
        int on = -1, off = -1;
        for (int r = 0; r < m->rowCount(); ++r)
            if (m->HasCheckBox(r) && !b.w->vstList->isRowHidden(r)) {
                if (on < 0)
                    on = r;
                else if (off < 0)
                    off = r;
            }
        QVERIFY(on >= 0 && off >= 0);
        m->SetCheckState(on, Qt::Checked, false);
        m->SetCheckState(off, Qt::Unchecked, false);
        const auto cell = [&](int row) {
            const QRect r = b.w->vstList->visualRect(m->index(row, 0));
            return b.w->vstList->viewport()->grab(r).toImage();
        };
        for (const bool dark : {false, true}) {
            b.w->vstList->SetDarkTicks(dark);
            const Tones ticked = CountTones(cell(on)), empty = CountTones(cell(off));
            // Dark: a white tick on a dark fill; an empty box has no dark fill.
            // Light: a black tick in a white box.
            QVERIFY2(ticked.dark > empty.dark + 20, dark ? "dark" : "light");
            if (dark) {
                QVERIFY(ticked.light > 3);
                const QImage img = cell(on);
                const QPoint c = img.rect().center();
                int whiteNearCentre = 0;
                for (int y = c.y() - 5; y <= c.y() + 5; ++y)
                    for (int x = c.x() - 5; x <= c.x() + 5; ++x)
                        whiteNearCentre += qGray(img.pixel(x, y)) > 200;
                QVERIFY(whiteNearCentre > 3); // the tick itself is light
            }
        }
    }

    void spaceOnARowTicksItAsAClick() {
        Bench b;
        QVERIFY(b.ShowAndOpen());
        b.UntickAll();
        TRegisterModel* m = b.w->vstList->Model();
        m->SetHeaderState(Qt::Unchecked);
        int row = -1; // a read-only row: no editor takes the focus
        for (int r = 0; r < m->rowCount() && row < 0; ++r)
            if (m->HasCheckBox(r) && m->Reg(r)->Io == ioR && !b.w->vstList->isRowHidden(r)) row = r;
        QVERIFY(row >= 0);
        b.w->vstList->setCurrentIndex(m->index(row, 1));
        b.w->vstList->setFocus();
        QTest::qWait(50);
        QTest::keyClick(b.w->vstList, Qt::Key_Space);
        QCOMPARE(m->CheckState(row), Qt::Checked);
        QVERIFY(b.w->chPoll->isChecked()); // polling started
        QCOMPARE(b.w->Dev().PollNode, row);
        QCOMPARE(m->HeaderState(), Qt::PartiallyChecked);
        QTest::keyClick(b.w->vstList, Qt::Key_Space);
        QCOMPARE(m->CheckState(row), Qt::Unchecked);
        QCOMPARE(m->HeaderState(), Qt::Unchecked);
    }

    void screenReadersTickEditAndFollowTheFocus() {
        Bench b;
        QVERIFY(b.ShowAndOpen());
        b.UntickAll();
        TRegisterModel* m = b.w->vstList->Model();
        m->SetHeaderState(Qt::Unchecked);
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(b.w->vstList);
        QVERIFY(table && table->tableInterface());
        // The tick's "Toggle" does what a click does: ticked, and polling on.
        const int polled = b.Row(0x10);
        QAccessibleInterface* tick = table->tableInterface()->cellAt(polled, 0);
        QVERIFY(tick && tick->actionInterface());
        QVERIFY(tick->state().checkable && !tick->state().checked);
        QCOMPARE(tick->actionInterface()->actionNames(),
                 QStringList{QAccessibleActionInterface::toggleAction()});
        tick->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(m->CheckState(polled), Qt::Checked);
        QVERIFY(tick->state().checked);
        QVERIFY(b.w->chPoll->isChecked());
        b.w->chPoll->setChecked(false);
        // The value editor is in the tree while it is open: the child of its cell, and
        // where the focus is.
        const int setting = b.Row(0x21);
        b.w->vstList->setFocus();
        b.w->vstList->setCurrentIndex(m->index(setting, 1));
        QTRY_VERIFY(b.w->vstList->OpenEditor() != nullptr);
        QAccessibleInterface* value = table->tableInterface()->cellAt(setting, 3);
        QCOMPARE(value->childCount(), 1);
        QCOMPARE(value->child(0)->object(), b.w->vstList->OpenEditor());
        QCOMPARE(value->child(0)->parent() != nullptr, true);
        QTRY_VERIFY(table->focusChild() &&
                    table->focusChild()->object() == b.w->vstList->OpenEditor());
        // A cell that lost the focus no longer says it has it.
        b.w->vstList->CancelEditing();
        b.w->vstList->setFocus();
        b.w->vstList->setCurrentIndex(m->index(polled, 2));
        QAccessibleInterface* name = table->tableInterface()->cellAt(polled, 2);
        QTRY_VERIFY(name->state().focused);
        b.w->eID->setFocus();
        QTRY_VERIFY(!b.w->vstList->hasFocus());
        QVERIFY(!name->state().focused);
        QCOMPARE(table->tableInterface()->cellAt(setting, 3)->childCount(), 0);
        // The cells still read as the table shows them.
        QCOMPARE(name->text(QAccessible::Name), m->index(polled, 2).data().toString());
    }

    void aFailedStartUpLoadIsCentredOnTheScreen() {
        TempDir dir;
        WriteBytes(dir.File("NastrBad.xml"), "<D/>");
        QRect box;
        OnNextModal(
            [&box](QWidget* w) {
                box = w->frameGeometry();
                static_cast<QDialog*>(w)->accept();
            },
            5000, "QMessageBox");
        TMainOptions o = OptionsFor(dir);
        TfMain w(o);
        QVERIFY(w.TerminateRequested());
        QVERIFY(box.isValid());
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2((box.center() - screen.center()).manhattanLength() < 80,
                 qPrintable(QStringLiteral("%1,%2").arg(box.center().x()).arg(box.center().y())));
    }

    void thePortListIsReadWhenItOpens() {
        TempDir dir;
        TMainOptions o = OptionsFor(dir);
        o.Ports = QStringList{QStringLiteral("ttyS0"), QStringLiteral("ttyUSB0")};
        TfMain w(o);
        QStringList system = {QStringLiteral("ttyS0"), QStringLiteral("ttyUSB0")};
        w.PortLister = [&system](QStringList& out) {
            out = system;
            return true;
        };
        w.cbPort->setCurrentIndex(1);
        w.show();
        system << QStringLiteral("ttyUSB1"); // plugged in after start
        w.cbPort->showPopup();
        w.cbPort->hidePopup();
        QCOMPARE(w.cbPort->count(), 3);
        QCOMPARE(w.cbPort->currentText(), QStringLiteral("ttyUSB0"));
        system = {QStringLiteral("ttyS0"), QStringLiteral("ttyUSB1")}; // unplugged
        w.cbPort->showPopup();
        w.cbPort->hidePopup();
        QCOMPARE(w.cbPort->count(), 2);
        QCOMPARE(w.cbPort->currentText(), QStringLiteral("ttyS0"));
    }

    void findingAndCopyingRows() {
        TempDir dir;
        WriteSignedDescription(dir, "NastrA.xml", SixteenRows());
        TfMain w(OptionsFor(dir));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const auto shown = [&w] {
            QStringList codes;
            for (int r = 0; r < w.vstList->Model()->rowCount(); ++r)
                if (!w.vstList->isRowHidden(r))
                    codes
                        << w.vstList->Model()->index(r, r == 0 || r == 8 ? 2 : 1).data().toString();
            return codes.join(QLatin1Char(' '));
        };
        const QString all = shown();
        QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(w.Find().eFind->isVisible());
        QCOMPARE(QApplication::focusWidget(), w.Find().eFind);
        QTest::keyClicks(w.Find().eFind, QStringLiteral("0X03"));
        QCOMPARE(shown(), QStringLiteral("Первая группа 0x03"));
        w.Find().eFind->setText(QStringLiteral("ДАВЛ"));
        QCOMPARE(shown(), QStringLiteral("Вторая группа 0x08 0x09 0x0A 0x0B 0x0C 0x0D"));
        w.Find().eFind->setText(QStringLiteral("нет такого"));
        QCOMPARE(shown(), QString());
        w.ToggleServiceMode(); // service rows join the search
        w.Find().eFind->setText(QStringLiteral("14"));
        QCOMPARE(shown(), QStringLiteral("Вторая группа 0x0E"));
        w.ToggleServiceMode();
        QCOMPARE(shown(), QString());
        QTest::keyClick(w.Find().eFind, Qt::Key_Escape);
        QVERIFY(!w.Find().eFind->isVisible());
        QCOMPARE(shown(), all);

        // Ctrl+C: the selected rows as the table shows them.
        w.vstList->Model()->SetCheckState(1, Qt::Checked, false);
        w.vstList->selectionModel()->select(w.vstList->Model()->index(0, 0),
                                            QItemSelectionModel::ClearAndSelect |
                                                QItemSelectionModel::Rows);
        w.vstList->selectionModel()->select(w.vstList->Model()->index(1, 0),
                                            QItemSelectionModel::Select |
                                                QItemSelectionModel::Rows);
        w.vstList->setFocus();
        QTest::keyClick(w.vstList, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(),
                 QStringLiteral("\t\tПервая группа\t\n✓\t0x01\tСкорость 1 [ед.]\t\n"));
    }

    void pollRecordingAndExchangeStatistics() {
        Bench b;
        QVERIFY(b.ShowAndOpen());
        QVERIFY(b.w->Trend().lStats->text().startsWith(QStringLiteral("Обмен: ")));
        QCOMPARE(b.w->Trend().chRecordPoll->iconText(), QStringLiteral("Записывать опрос в файл…"));
        // A file that cannot be written: said in red, the item stays unticked.
        QVERIFY(!b.w->Trend().StartRecording(QString::fromStdString(b.dir.Path())));
        QVERIFY(!b.w->Trend().chRecordPoll->isChecked());
        QCOMPARE(b.w->StatusText->text(),
                 QStringLiteral(" Не удалось начать запись опроса в файл %1: это папка")
                     .arg(QString::fromStdString(b.dir.Path())));
        // Nor is anything but a recording appended to: the description stays as it was.
        const std::string desc = b.dir.File("NastrBUK2.xml");
        const std::string before = ReadBytes(desc);
        QString why;
        QVERIFY(!b.w->Trend().StartRecording(QString::fromStdString(desc), &why));
        QVERIFY2(why.contains(QStringLiteral("файл не является записью опроса")), qPrintable(why));
        QCOMPARE(ReadBytes(desc), before);

        const QString path = QString::fromStdString(b.dir.File("poll.csv"));
        QVERIFY(b.w->Trend().StartRecording(path));
        QVERIFY(b.w->Trend().chRecordPoll->isChecked());
        b.UntickAll();
        b.w->vstList->Model()->SetCheckState(b.Row(0x21), Qt::Checked, true); // polling starts
        const auto lines = [&path] {
            const std::string bytes = ReadBytes(path.toStdString());
            return std::count(bytes.begin(), bytes.end(), '\n');
        };
        QTRY_VERIFY_WITH_TIMEOUT(lines() >= 6, 10000);
        // The status bar says that it records, and how much.
        QTRY_VERIFY_WITH_TIMEOUT(
            b.w->Trend().lRecord->text().startsWith(QStringLiteral("Запись: poll.csv, строк: ")),
            2000);
        b.w->Trend().chRecordPoll->setChecked(false); // stops the recording
        QCOMPARE(b.w->Trend().lRecord->text(), QString());
        QVERIFY(!b.w->Line().Recorder.Recording());
        // A recording whose file is removed stops and says so in red; polling goes on.
        const QString doomed = QString::fromStdString(b.dir.File("doomed.csv"));
        QVERIFY(b.w->Trend().StartRecording(doomed));
        QTRY_VERIFY_WITH_TIMEOUT(QFile(doomed).size() > 40, 10000);
        QVERIFY(QFile::remove(doomed));
        QTRY_VERIFY_WITH_TIMEOUT(!b.w->Trend().chRecordPoll->isChecked(), 10000);
        QCOMPARE(b.w->StatusText->text(),
                 QStringLiteral(" Запись опроса остановлена: файл записи удалён"));
        // The reason stays in sight after the status line has moved on.
        b.w->ShowStatus(QStringLiteral("другое"), true, Qt::white);
        b.w->Trend().ShowRecording();
        QCOMPARE(b.w->Trend().lRecord->text(),
                 QStringLiteral("Запись опроса остановлена: файл записи удалён"));
        QVERIFY(b.w->chPoll->isChecked());
        const std::string text = Cp1251ToUtf8(ReadBytes(path.toStdString()));
        QVERIFY(text.rfind("Время;Код;Параметр;Значение;Ошибка\r\n", 0) == 0);
        QVERIFY(text.find(";0x21;Уставка температуры подачи [°C];75;\r\n") != std::string::npos);
        QCOMPARE(text.substr(text.size() - 2), std::string("\r\n"));

        // The statistics count what the worker did and start again with the next opening.
        // Polling goes on meanwhile: the label is one snapshot, a later one counts no less.
        b.w->Trend().ShowStats();
        const QRegularExpression counts(QStringLiteral("^Обмен: (\\d+), ошибок: 0, "));
        const QRegularExpressionMatch shown = counts.match(b.w->Trend().lStats->text());
        QVERIFY2(shown.hasMatch(), qPrintable(b.w->Trend().lStats->text()));
        const auto done = b.w->Line().Stats.Take().Done;
        QVERIFY(shown.captured(1).toULongLong() >= 5);
        QVERIFY(done >= shown.captured(1).toULongLong());
        // The tooltip tells the errors, then how soon answers begin after their requests.
        const QString tip = b.w->Trend().lStats->toolTip();
        QVERIFY2(tip.startsWith(QStringLiteral("Ошибок обмена нет\nОтвет начинается через ")),
                 qPrintable(tip));
        b.w->chPoll->setChecked(false);
        b.w->bOpen->click();
        b.w->bOpen->click();
        QVERIFY(b.w->Line().Stats.Take().Done < done);
    }

    // Last: the translation stays installed for the rest of the run.
    void qtTextsAreRussian() {
        QVERIFY(InstallQtRussian(*qApp));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
        QCOMPARE(QCoreApplication::translate("QFileDialog", "File &name:"),
                 QStringLiteral("&Имя файла:"));
    }
};

int RunFirstUseTests(int argc, char** argv) {
    FirstUseTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_first_use.moc"
