// Parameter sets in the window: save, the comparison dialog, restore, and the
// File menu items that need an open port.
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QProgressDialog>
#include <QTest>
#include <functional>

#include "device/value_codec.h"
#include "gui_support.h"
#include "paramset/set_compare.h"
#include "protocol/register_protocol.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

bool RunnerDone(const TfMain& w) {
    return w.Dev().ParamRunner && !w.Dev().ParamRunner->Running();
}

// Writes a value straight into the simulated device, as if set on its panel.
void DeviceSets(TDeviceSimulator& sim, uint16_t addr, uint8_t type, const TValue& v) {
    std::string bytes;
    ValueToBytes(v, type, bytes);
    sim.Handle(BuildRequest(0, kCmdWrite, addr, bytes), false);
}

// Runs a check at the moment the progress window of a set's reads is hidden.
class ProgressHidden : public QObject {
public:
    explicit ProgressHidden(std::function<void()> check) : check_(std::move(check)) {
        qApp->installEventFilter(this);
    }
    ~ProgressHidden() override { qApp->removeEventFilter(this); }
    int Seen = 0;

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Hide && o->objectName() == QLatin1String("ParamProgress")) {
            ++Seen;
            check_();
        }
        return false;
    }

private:
    std::function<void()> check_;
};

// Runs trigger, which should open a row's menu: its first item's text (with
// " (недоступно)" when disabled) comes back, and the item is chosen or the menu closed.
QString RowMenu(const std::function<void()>& trigger, bool choose) {
    QString seen;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        poll.stop();
        QAction* item = menu->actions().value(0);
        seen = !item ? QStringLiteral("?")
                     : item->text() +
                           (item->isEnabled() ? QString() : QStringLiteral(" (недоступно)"));
        if (choose && item && item->isEnabled()) {
            menu->setActiveAction(item);
            QTest::keyClick(menu, Qt::Key_Return);
        } else {
            QTest::keyClick(menu, Qt::Key_Escape);
        }
    });
    poll.start();
    trigger();
    if (!QTest::qWaitFor([&] { return !seen.isEmpty(); }, 3000)) seen = QStringLiteral("нет меню");
    poll.stop();
    return seen;
}

} // namespace

class ParamSetsTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearSettings(); }

    void needTheOpenPort() {
        Bench b;
        QCOMPARE(b.w->Sets().miSaveParams->iconText(), QStringLiteral("Сохранить параметры…"));
        QCOMPARE(b.w->Sets().miCompareParams->iconText(),
                 QStringLiteral("Сравнить с файлом параметров…"));
        b.w->Sets().miSaveParams->trigger();
        QCOMPARE(b.w->StatusText->text(),
                 QStringLiteral(" Для работы с параметрами откройте COM-порт"));
        QVERIFY(!b.w->Dev().ParamRunner);
    }

    void saveCompareAndRestore() {
        Bench b;
        QVERIFY(b.ShowAndOpen());
        const QString path = QString::fromStdString(b.dir.File("buk.params"));
        b.w->Sets().SaveParameters(path);
        QTRY_VERIFY_WITH_TIMEOUT(RunnerDone(*b.w), 20000);
        QVERIFY2(b.w->StatusText->text().startsWith(QStringLiteral(" Параметры сохранены: ")),
                 qPrintable(b.w->StatusText->text()));
        TParamSet set;
        std::string error;
        QVERIFY2(ReadParamSetFile(path.toStdString(), set, error), error.c_str());
        QCOMPARE(set.DescriptionFile, std::string("NastrBUK2.xml"));
        QCOMPARE(QFile(path).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
                 QFileDevice::Permissions());

        // The device's set-point and a service row change; the comparison shows the
        // set-point, the service row only in service mode and never ticked.
        DeviceSets(*b.sim, 0x21, rtWord, TValue(int16_t{61}));
        DeviceSets(*b.sim, 0x32, rtUWord, TValue(uint16_t{600}));
        b.w->Sets().CompareWithFile(path);
        QTRY_VERIFY_WITH_TIMEOUT(b.w->Sets().CompareDialog() != nullptr, 20000);
        TCompareDialog* d = b.w->Sets().CompareDialog();
        QCOMPARE(d->windowTitle(), QStringLiteral("Сравнение с файлом параметров"));
        QVERIFY(d->Header->text().startsWith(QStringLiteral("Файл: ") + path + "\n"));
        QStringList headers;
        for (int c = 0; c < d->Table->columnCount(); ++c)
            headers << d->Table->horizontalHeaderItem(c)->text();
        QCOMPARE(headers,
                 QStringList({"", "Код", "Параметр", "В файле", "В устройстве", "Состояние"}));
        const auto shownCodes = [d] {
            QStringList shown;
            for (int r = 0; r < d->Table->rowCount(); ++r)
                if (!d->Table->isRowHidden(r)) shown << d->Table->item(r, 1)->text();
            return shown;
        };
        const auto rowOf = [d](const QString& code) {
            for (int r = 0; r < d->Table->rowCount(); ++r)
                if (d->Table->item(r, 1)->text() == code) return r;
            return -1;
        };
        QVERIFY(d->chOnlyDiffs->isChecked());
        QCOMPARE(shownCodes(), QStringList({"0x21"}));
        // Settings only: the read-only rows (measurements, identity) are apart. The counts
        // are the comparison's, as tunavox-cli gives them: the hidden service rows too.
        QCOMPARE(d->Summary->text(),
                 QStringLiteral("Различий в настройках: 2 из 6 (служебных: 1, показать — F7)"));
        QVERIFY(d->chReadOnly->isVisible() && !d->chReadOnly->isChecked());
        QCOMPARE(d->chReadOnly->text(),
                 QStringLiteral("Параметры только для чтения (8, различаются: 0)"));
        const int row = rowOf(QStringLiteral("0x21")), service = rowOf(QStringLiteral("0x32"));
        QCOMPARE(d->Table->item(row, 5)->text(), QStringLiteral("различается"));
        QCOMPARE(d->Table->item(row, 3)->text(), QStringLiteral("75"));
        QCOMPARE(d->Table->item(row, 4)->text(), QStringLiteral("61"));
        QCOMPARE(d->Table->item(row, 4)->toolTip(), QStringLiteral("61"));
        QVERIFY(d->Table->item(row, 3)->background() != d->Table->item(row, 2)->background());
        QCOMPARE(d->Table->item(row, 0)->checkState(), Qt::Checked);
        b.w->ToggleServiceMode(); // F7
        QCOMPARE(shownCodes(), QStringList({"0x21", "0x32"}));
        QCOMPARE(d->Table->item(service, 0)->checkState(), Qt::Unchecked);
        QCOMPARE(d->Summary->text(), QStringLiteral("Различий в настройках: 2 из 6"));
        // Space ticks the focused row from any of its cells; ticked, it is written only
        // while it can be seen.
        d->Table->setCurrentCell(service, 4);
        QTest::keyClick(d->Table, Qt::Key_Space);
        QCOMPARE(d->Table->item(service, 0)->checkState(), Qt::Checked);
        QCOMPARE(d->TickedCount(), 2);
        b.w->ToggleServiceMode();
        QCOMPARE(d->TickedCount(), 1);
        d->chOnlyDiffs->setChecked(false);
        QVERIFY(!d->Table->isRowHidden(0));
        // The read-only rows come last, shown on request.
        const int last = d->Table->rowCount() - 1;
        QCOMPARE(d->Table->item(last, 1)->text(), QStringLiteral("0xFFFD"));
        QVERIFY(d->Table->isRowHidden(last));
        d->chReadOnly->setChecked(true);
        QVERIFY(!d->Table->isRowHidden(last));
        d->chReadOnly->setChecked(false);
        d->chOnlyDiffs->setChecked(true);
        const QString out = qEnvironmentVariable("TUNAVOX_SCREENSHOTS");
        if (!out.isEmpty()) {
            QTest::qWait(200);
            QVERIFY(d->grab().save(out + QStringLiteral("/parameter-sets.png")));
        }

        // Enter writes nothing; the write asks first, naming the rows, and "Отмена" of
        // that question writes nothing either.
        QTest::keyClick(d->Table, Qt::Key_Return);
        QTest::keyClick(d, Qt::Key_Return);
        QTest::qWait(200);
        QVERIFY(!b.w->Dev().ParamRunner->Running());
        QCOMPARE(b.sim->Value(0x21), TValue(int16_t{61}));
        QString question;
        CaptureMessageBox(&question, nullptr, QMessageBox::No);
        QTest::mouseClick(d->bWrite, Qt::LeftButton);
        QCOMPARE(question, QStringLiteral("Записать 1 параметр в устройство?\n\n0x21 Уставка "
                                          "температуры подачи [°C]: 75"));
        QTest::qWait(200);
        QCOMPARE(b.sim->Value(0x21), TValue(int16_t{61}));
        CaptureMessageBox(&question, nullptr, QMessageBox::Yes);
        QTest::mouseClick(d->bWrite, Qt::LeftButton);
        QVERIFY(!d->bWrite->isEnabled() || !b.w->Dev().ParamRunner->Running());
        QTRY_VERIFY_WITH_TIMEOUT(RunnerDone(*b.w), 20000);
        QCOMPARE(b.w->StatusText->text(), QStringLiteral(" Записано и подтверждено: 1 из 1"));
        QCOMPARE(d->Table->item(row, 5)->text(), QStringLiteral("совпадает"));
        QCOMPARE(b.sim->Value(0x21), TValue(int16_t{75}));
        QCOMPARE(b.sim->Value(0x32), TValue(uint16_t{600})); // ticked but out of sight
        // Nothing left to write: the button rests, the table gives way to "Различий нет".
        QVERIFY(!d->bWrite->isEnabled());
        QVERIFY(d->NoDifference->isVisible() && !d->Table->isVisible());
        d->close();
    }

    // Hiding a window can keep the window thread waiting on the window system: the
    // set is on disk, and the comparison on the screen, before the progress goes.
    void theResultComesBeforeTheProgressCloses() {
        Bench b;
        QVERIFY(b.ShowAndOpen());
        const QString path = QString::fromStdString(b.dir.File("first.params"));
        bool saved = false, shown = false;
        {
            ProgressHidden probe([&] {
                TParamSet set;
                std::string error;
                saved = ReadParamSetFile(path.toStdString(), set, error) && !set.Entries.empty() &&
                        b.w->StatusText->text().startsWith(QStringLiteral(" Параметры сохранены"));
            });
            b.w->Sets().SaveParameters(path);
            QTRY_VERIFY_WITH_TIMEOUT(RunnerDone(*b.w) && probe.Seen > 0, 20000);
            QVERIFY(saved);
        }
        {
            ProgressHidden probe([&] {
                shown = b.w->Sets().CompareDialog() && b.w->Sets().CompareDialog()->isVisible();
            });
            b.w->Sets().CompareWithFile(path);
            QTRY_VERIFY_WITH_TIMEOUT(RunnerDone(*b.w) && probe.Seen > 0, 20000);
            QVERIFY(shown);
        }
        QTRY_VERIFY(b.w->Sets().CompareDialog()->isActiveWindow());
        QVERIFY(!b.w->findChild<QProgressDialog*>(QStringLiteral("ParamProgress")));
        b.w->Sets().CompareDialog()->close();
    }

    void backupsThatFailDoNotReplaceAGoodSet() {
        Bench b;
        QVERIFY(b.ShowAndOpen());
        const QString path = QString::fromStdString(b.dir.File("good.params"));
        WriteBytes(path.toStdString(), "good");
        QString text;
        // Not into the description, nor into a folder: refused before any exchange.
        const size_t before = b.sim->RequestCount();
        for (const QString& bad : {QString::fromStdString(b.dir.File("NastrBUK2.xml")),
                                   QString::fromStdString(b.dir.File(""))}) {
            CaptureMessageBox(&text);
            b.w->Sets().SaveParameters(bad);
            QTRY_VERIFY_WITH_TIMEOUT(!text.isEmpty(), 5000);
            QVERIFY2(text.contains(QStringLiteral("описания")) ||
                         text.endsWith(QStringLiteral(": это папка")),
                     qPrintable(text));
            text.clear();
        }
        QCOMPARE(b.sim->RequestCount(), before);
        // One register refused: asked before replacing, "Не заменять" keeps the file.
        TSimFaults f;
        f.ErrorCodes[0x21] = 2;
        b.sim->SetFaults(f);
        CaptureMessageBox(&text, nullptr, QMessageBox::No);
        b.w->Sets().SaveParameters(path);
        QTRY_VERIFY_WITH_TIMEOUT(!text.isEmpty(), 20000);
        QVERIFY2(text.startsWith(QStringLiteral("Не считано параметров: 1 из ")), qPrintable(text));
        QCOMPARE(ReadBytes(path.toStdString()), std::string("good"));
        QCOMPARE(b.w->StatusText->text(), QStringLiteral(" Файл параметров не заменён"));
        // A silent device: nothing is written, and the window says so.
        f.Silent = true;
        b.sim->SetFaults(f);
        b.w->Canal().SetTimeout(30);
        text.clear();
        CaptureMessageBox(&text);
        b.w->Sets().SaveParameters(path);
        QTRY_VERIFY_WITH_TIMEOUT(!text.isEmpty(), 60000);
        QCOMPARE(text, QStringLiteral("Ни один параметр не считан, файл %1 не записан").arg(path));
        QCOMPARE(ReadBytes(path.toStdString()), std::string("good"));
    }

    void aFailedRestoreIsListed() {
        Bench b;
        QVERIFY(b.ShowAndOpen());
        const QString path = QString::fromStdString(b.dir.File("buk.params"));
        b.w->Sets().SaveParameters(path);
        QTRY_VERIFY_WITH_TIMEOUT(RunnerDone(*b.w), 20000);
        DeviceSets(*b.sim, 0x21, rtWord, TValue(int16_t{61}));
        b.w->Sets().CompareWithFile(path);
        QTRY_VERIFY_WITH_TIMEOUT(b.w->Sets().CompareDialog() != nullptr, 20000);
        TSimFaults f;
        f.KeepValue.insert(0x21);
        b.sim->SetFaults(f);
        CaptureMessageBox(nullptr, nullptr, QMessageBox::Yes);
        QString text;
        QTimer::singleShot(500, [&text] { CaptureMessageBox(&text); });
        QTest::mouseClick(b.w->Sets().CompareDialog()->bWrite, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!text.isEmpty(), 20000);
        QVERIFY2(text.startsWith(QStringLiteral("Записано и подтверждено: 0 из 1")),
                 qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("0x21 ")) &&
                     text.contains(QStringLiteral("значение не подтверждено")),
                 qPrintable(text));
        QCOMPARE(b.w->StatusText->text(), QStringLiteral(" Записано и подтверждено: 0 из 1"));
        // A new save while the dialog is open closes it (it belongs to the old runner).
        QPointer<TCompareDialog> dialog = b.w->Sets().CompareDialog();
        b.w->Sets().SaveParameters(QString::fromStdString(b.dir.File("again.params")));
        QVERIFY(dialog.isNull());
        QTRY_VERIFY_WITH_TIMEOUT(RunnerDone(*b.w), 20000);
    }

    void aSetWithoutTheDevice() {
        Bench b; // the port stays closed
        TParamSet set = FactorySet(b.w->Regs(), "Другой котёл", "NastrOld.xml", "00");
        set.Factory = false;
        set.Saved = "2026-12-01 10:00:00";
        // One register this description lacks, one it knows with another type.
        set.Entries.push_back({0x7777, rtUWord, false, TValue(uint16_t{5}), "5", "Чужой [ед.]"});
        for (TParamEntry& e : set.Entries)
            if (e.Addr == 0x22) e = {0x22, rtUWord, false, TValue(uint16_t{3}), "3", "Гистерезис"};
        const QString path = QString::fromStdString(b.dir.File("offline.params"));
        std::string error;
        QVERIFY2(WriteParamSetFile(path.toStdString(), set, error), error.c_str());
        const std::string foreignLine = "0x7777\tUWord\t5\t";

        b.w->Sets().OpenSetFile(path);
        TSetWindow* s = b.w->Sets().SetWindow();
        QVERIFY(s && s->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(s));
        QVERIFY(s->Notice->text().contains(QStringLiteral("Файл сохранён для другого устройства: "
                                                          "Другой котёл")));
        QVERIFY(s->Notice->text().contains(
            QStringLiteral("Строк, которых нет в описании NastrBUK2.xml: 2")));
        // Another device's set: its description and sign are named too.
        QVERIFY2(s->Notice->text().contains(
                     QStringLiteral("Файл сохранён с другим описанием: NastrOld.xml, подпись 00")),
                 qPrintable(s->Notice->text()));
        // No polling away from the device: no "Опрос" column, not even for screen readers.
        QCOMPARE(
            s->Table->model()->headerData(0, Qt::Horizontal, Qt::AccessibleTextRole).toString(),
            QString());
        QVERIFY(!s->Table->model()->index(0, 0).data(Qt::CheckStateRole).isValid());
        TRegisterModel* m = s->Table->Model();
        QCOMPARE(m->rowCount(), static_cast<int>(set.Entries.size()));
        const auto rowOf = [m](uint16_t addr) {
            for (int r = 0; r < m->rowCount(); ++r)
                if (m->Reg(r)->Addr == addr) return r;
            return -1;
        };
        const int foreign = rowOf(0x7777), edited = rowOf(0x21);
        QVERIFY(s->Foreign(foreign) && s->Foreign(rowOf(0x22)) && !s->Foreign(edited));
        QVERIFY(!(m->flags(m->index(foreign, 3)) & Qt::ItemIsEditable));
        QCOMPARE(m->index(foreign, 3).data().toString(), QStringLiteral("5"));
        QCOMPARE(m->index(edited, 3).data().toString(), QStringLiteral("75"));
        QVERIFY(!s->bSave->isEnabled());

        // The main table's editor and checks: out of range is not taken.
        s->Table->setCurrentIndex(m->index(edited, 1));
        QTRY_VERIFY(s->Table->OpenEditor() != nullptr);
        auto* edit = qobject_cast<QLineEdit*>(s->Table->OpenEditor());
        QVERIFY(edit);
        edit->selectAll();
        edit->insert(QStringLiteral("99999"));
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(!s->Modified());
        edit->selectAll();
        edit->insert(QStringLiteral("80"));
        QTest::keyClick(edit, Qt::Key_Return);
        QTRY_VERIFY(s->Modified());
        QVERIFY(s->windowTitle().endsWith(QStringLiteral("(изменён)")));
        if (const QString out = qEnvironmentVariable("TUNAVOX_SCREENSHOTS"); !out.isEmpty()) {
            s->Table->setCurrentIndex(m->index(foreign, 1));
            QTest::qWait(200);
            QVERIFY(s->grab().save(out + QStringLiteral("/set-window.png")));
        }
        QVERIFY(s->bSave->isEnabled());
        QTest::mouseClick(s->bSave, Qt::LeftButton);
        QVERIFY(!s->Modified());
        TParamSet back;
        QVERIFY2(ReadParamSetFile(path.toStdString(), back, error), error.c_str());
        QVERIFY(!back.Edited.empty());
        for (const TParamEntry& e : back.Entries)
            if (e.Addr == 0x21) QCOMPARE(e.Value, TValue(int16_t{80}));
        QVERIFY(ReadBytes(path.toStdString()).find(foreignLine) != std::string::npos);
        // The saved set against the factory values: 0x21 now differs, and the two rows
        // the description does not know count as settings that differ.
        QVERIFY(s->bFactory->isEnabled());
        QTest::mouseClick(s->bFactory, Qt::LeftButton);
        TCompareDialog* f = b.w->Sets().CompareDialog();
        QVERIFY(f && f->isVisible());
        QCOMPARE(f->windowTitle(), QStringLiteral("Сравнение с заводскими значениями"));
        QCOMPARE(f->Table->horizontalHeaderItem(4)->text(), QStringLiteral("Заводское значение"));
        // Rows of another description are listed, but are no settings of this device; the
        // one saved with another type than this description's cannot be compared, and
        // that is said.
        QCOMPARE(f->Summary->text(),
                 QStringLiteral("Различий в настройках: 1 из 5. Не сравнимо: 1 (тип не совпадает)"));
        f->close();

        // Closing with changes asks: "Отмена" keeps the window, "Не сохранять" leaves the
        // file as it was.
        const std::string saved = ReadBytes(path.toStdString());
        s->Table->setCurrentIndex(m->index(rowOf(0x03), 1));
        QTRY_VERIFY(s->Table->OpenEditor() != nullptr);
        edit = qobject_cast<QLineEdit*>(s->Table->OpenEditor());
        edit->selectAll();
        edit->insert(QStringLiteral("Котельная №9"));
        QTest::keyClick(edit, Qt::Key_Return);
        QTRY_VERIFY(s->Modified());
        QString question;
        QTest::qWait(100); // Enter has reached the table
        CaptureMessageBox(&question, nullptr, QMessageBox::Cancel);
        s->close();
        QCOMPARE(question, QStringLiteral("Сохранить изменения в наборе параметров %1?").arg(path));
        QVERIFY(s->isVisible());
        // Escape is one more way of closing: the same question, the same answer.
        question.clear();
        CaptureMessageBox(&question, nullptr, QMessageBox::Cancel);
        QTest::keyClick(s, Qt::Key_Escape);
        QCOMPARE(question, QStringLiteral("Сохранить изменения в наборе параметров %1?").arg(path));
        QVERIFY(s->isVisible());
        QVERIFY(s->Modified());
        QPointer<TSetWindow> guard = s;
        CaptureMessageBox(&question, nullptr, QMessageBox::No);
        s->close();
        QTRY_VERIFY(guard.isNull());
        QCOMPARE(ReadBytes(path.toStdString()), saved);
    }

    void twoSetsSideBySide() {
        Bench b; // no port: sets only
        TParamSet a = FactorySet(b.w->Regs(), "БУК-2 (контроллер котельной)", "NastrBUK2.xml", "");
        a.Factory = false;
        TParamSet second = a;
        for (TParamEntry& e : second.Entries) {
            if (e.Addr == 0x21) e.Value = TValue(int16_t{60});
            if (e.Addr == 0x22) e.Value = TValue(0.25);
            if (e.Addr == 0x10) e.Value = TValue(60.0); // a measurement: apart
        }
        const std::string pa = b.dir.File("a.params"), pb = b.dir.File("b.params");
        std::string error;
        QVERIFY(WriteParamSetFile(pa, a, error));
        QVERIFY(WriteParamSetFile(pb, second, error));
        b.w->Sets().CompareTwoSets(QString::fromStdString(pa), QString::fromStdString(pb));
        TCompareDialog* d = b.w->Sets().CompareDialog();
        QVERIFY(d && d->isVisible());
        QCOMPARE(d->windowTitle(), QStringLiteral("Сравнение двух наборов параметров"));
        QCOMPARE(d->Table->horizontalHeaderItem(3)->text(), QStringLiteral("a.params"));
        QCOMPARE(d->Table->horizontalHeaderItem(4)->text(), QStringLiteral("b.params"));
        // As "tunavox-cli diff" counts the same pair: service rows equal in both too.
        QCOMPARE(d->Summary->text(), QStringLiteral("Различий в настройках: 2 из 6"));
        QCOMPARE(d->bWrite->text(), QStringLiteral("Записать в файл"));
        QCOMPARE(d->TickedCount(), 2);
        QString question;
        CaptureMessageBox(&question, nullptr, QMessageBox::Yes);
        QTest::mouseClick(d->bWrite, Qt::LeftButton);
        QVERIFY(question.startsWith(QStringLiteral("Записать 2 параметра в файл a.params?")));
        // The values that will be written: the second set's, not the ones they replace.
        QVERIFY2(question.contains(QStringLiteral(": 60\n")) ||
                     question.endsWith(QStringLiteral(": 60")),
                 qPrintable(question));
        QVERIFY2(!question.contains(QStringLiteral(": 75")), qPrintable(question));
        QCOMPARE(b.w->StatusText->text(), QStringLiteral(" Записано в файл a.params: 2 параметра"));
        TParamSet back;
        QVERIFY2(ReadParamSetFile(pa, back, error), error.c_str());
        QVERIFY(!back.Edited.empty());
        for (const TParamEntry& e : back.Entries) {
            if (e.Addr == 0x21) QCOMPARE(e.Value, TValue(int16_t{60}));
            if (e.Addr == 0x10) QCOMPARE(e.Value, TValue(72.5)); // never copied
        }
        QCOMPARE(d->Summary->text(), QStringLiteral("Различий в настройках нет"));
    }

    void factoryValuesAndChosenRows() {
        Bench b;
        QVERIFY(b.ShowAndOpen());
        DeviceSets(*b.sim, 0x21, rtWord, TValue(int16_t{61}));
        b.w->bReadAll->click();
        QTRY_COMPARE_WITH_TIMEOUT(b.Value(0x21), QStringLiteral("61"), 10000);
        // A setting away from its factory value: a cue, the value in the hint, a filter.
        const QModelIndex cell = b.w->vstList->Model()->index(b.Row(0x21), 3);
        QCOMPARE(cell.data(TRegisterModel::FactoryRole).toString(), QStringLiteral("75"));
        QVERIFY(cell.data(Qt::ToolTipRole)
                    .toString()
                    .endsWith(QStringLiteral("Заводское значение: 75")));
        QVERIFY(b.w->vstList->Model()
                    ->index(b.Row(0x22), 3)
                    .data(TRegisterModel::FactoryRole)
                    .toString()
                    .isEmpty());
        b.w->chOnlyFactoryDiffs->trigger();
        for (int r = 0; r < b.w->vstList->Model()->rowCount(); ++r) {
            const TReg* reg = b.w->Regs().Items(r);
            if (reg->RegType != rtHeader) QCOMPARE(b.w->vstList->isRowHidden(r), reg->Addr != 0x21);
        }
        b.w->chOnlyFactoryDiffs->trigger();
        QVERIFY(!b.w->vstList->isRowHidden(b.Row(0x22)));

        // The device against the factory values, in the comparison dialog.
        b.w->Sets().miCompareFactory->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(b.w->Sets().CompareDialog() != nullptr, 20000);
        TCompareDialog* d = b.w->Sets().CompareDialog();
        QCOMPARE(d->windowTitle(), QStringLiteral("Сравнение с заводскими значениями"));
        QVERIFY(d->Header->text().startsWith(QStringLiteral("Заводские значения описания "
                                                            "NastrBUK2.xml")));
        QCOMPARE(d->Table->horizontalHeaderItem(3)->text(), QStringLiteral("Заводское значение"));
        QCOMPARE(d->Summary->text(), QStringLiteral("Различий в настройках: 1 из 6"));
        QCOMPARE(d->TickedCount(), 1);
        if (const QString out = qEnvironmentVariable("TUNAVOX_SCREENSHOTS"); !out.isEmpty()) {
            d->chReadOnly->setChecked(true);
            QTest::qWait(200);
            QVERIFY(d->grab().save(out + QStringLiteral("/factory-compare.png")));
            d->chReadOnly->setChecked(false);
        }
        d->close();

        // The row's menu opens with a right click (on the row's open editor too), with the
        // Menu key and with Shift+F10; it offers the factory value only where it differs.
        b.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(b.w.get()));
        QWidget* viewport = b.w->vstList->viewport();
        const auto rightClick = [&](int row) {
            const QPoint at =
                b.w->vstList->visualRect(b.w->vstList->Model()->index(row, 3)).center();
            QTest::mouseClick(viewport, Qt::RightButton, {}, at);
            QTest::qWait(50); // the row's editor opens under the mouse
            QWidget* target = viewport->childAt(at) ? viewport->childAt(at) : viewport;
            QContextMenuEvent menu(QContextMenuEvent::Mouse, target->mapFrom(viewport, at),
                                   viewport->mapToGlobal(at));
            QApplication::sendEvent(target, &menu);
        };
        QCOMPARE(RowMenu([&] { rightClick(b.Row(0x22)); }, false),
                 QStringLiteral("Вернуть заводское значение (недоступно)"));
        QCOMPARE(RowMenu([&] { rightClick(b.Row(0x21)); }, false),
                 QStringLiteral("Вернуть заводское значение"));
        QTRY_VERIFY(b.w->vstList->OpenEditor() != nullptr);
        QCOMPARE(RowMenu(
                     [&] {
                         QTest::keyClick(b.w->vstList->OpenEditor(), Qt::Key_F10,
                                         Qt::ShiftModifier);
                     },
                     false),
                 QStringLiteral("Вернуть заводское значение"));
        // "Вернуть заводское значение": asked, written, read back and journalled.
        QString question;
        CaptureMessageBox(&question, nullptr, QMessageBox::Yes);
        QCOMPARE(RowMenu([&] { QTest::keyClick(b.w->vstList, Qt::Key_Menu); }, true),
                 QStringLiteral("Вернуть заводское значение"));
        QTRY_VERIFY(!question.isEmpty());
        QCOMPARE(question, QStringLiteral("Записать в устройство заводское значение 75 параметра "
                                          "«Уставка температуры подачи [°C]»?"));
        QTRY_COMPARE_WITH_TIMEOUT(b.w->StatusText->text(), QStringLiteral(" Параметр записан"),
                                  5000);
        QCOMPARE(b.sim->Value(0x21), TValue(int16_t{75}));
        QVERIFY(cell.data(TRegisterModel::FactoryRole).toString().isEmpty());

        // Only the chosen rows go to a set: the selected ones.
        b.w->vstList->selectionModel()->select(b.w->vstList->Model()->index(b.Row(0x21), 1),
                                               QItemSelectionModel::Select |
                                                   QItemSelectionModel::Rows);
        b.w->vstList->selectionModel()->select(b.w->vstList->Model()->index(b.Row(0x10), 1),
                                               QItemSelectionModel::Select |
                                                   QItemSelectionModel::Rows);
        const std::vector<uint16_t> chosen = b.w->Sets().ChosenAddresses();
        QCOMPARE(chosen.size(), size_t{2});
        const QString path = QString::fromStdString(b.dir.File("part.params"));
        b.w->Sets().SaveParameters(path, chosen);
        QTRY_VERIFY_WITH_TIMEOUT(RunnerDone(*b.w), 20000);
        TParamSet set;
        std::string error;
        QVERIFY2(ReadParamSetFile(path.toStdString(), set, error), error.c_str());
        QCOMPARE(set.Entries.size(), size_t{2});
    }
};

int RunParamSetsTests(int argc, char** argv) {
    ParamSetsTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_paramsets.moc"
