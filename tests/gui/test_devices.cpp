// The window with the devices of a line: a tab each, one poll over all of them with every
// value on its own device's row, chart line and recording field; a set saved for another
// device goes into this one only when the engineer confirms it knowingly.
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "gui_support.h"
#include "paramset/param_set.h"
#include "util/cp1251.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

// Three devices of two types on one simulated line: a boiler controller at ID 3 and two
// frequency converters at IDs 17 and 200, each with a set frequency of its own.
struct LineBench {
    TempDir dir;
    TRegList buk, chp17, chp200;
    std::unique_ptr<TDeviceSimulator> sim;
    std::unique_ptr<TfMain> w;
    std::string link;

    LineBench() {
        CopySamples(dir, {QStringLiteral("NastrBUK2.xml"), QStringLiteral("NastrChP7.xml")});
        for (auto [regs, file] : {std::pair{&buk, "NastrBUK2.xml"},
                                  {&chp17, "NastrChP7.xml"},
                                  {&chp200, "NastrChP7.xml"}}) {
            TNameValueList errors;
            TDescription desc;
            LoadDescription(dir.File(file), *regs, errors, desc, dir.Path() + "/");
        }
        SetDefault(chp17, "45.5");
        SetDefault(chp200, "12.34");
        link = dir.File("line");
        Plug();
        TMainOptions mo;
        mo.DescriptionsDir = QString::fromStdString(dir.Path());
        mo.Ports = QStringList{QStringLiteral("ttyS0")};
        mo.ExtraPort = QString::fromStdString(link);
        mo.JournalDir = QString::fromStdString(dir.File("Journal"));
        mo.Device = QStringLiteral("NastrBUK2.xml");
        w = std::make_unique<TfMain>(mo);
    }
    ~LineBench() {
        w.reset();
        sim.reset();
    }
    static void SetDefault(TRegList& regs, const char* text) {
        for (int r = 0; r < regs.Count(); ++r)
            if (regs.Items(r)->Addr == 0x302 && regs.Items(r)->RegType != rtHeader) {
                QVERIFY(regs.Items(r)->SetValueFromText(text, false));
                regs.Items(r)->DefValue = regs.Items(r)->GetValue();
            }
    }
    void Plug() {
        TSimOptions o;
        o.Version = 1;
        o.DeviceId = 3;
        sim = std::make_unique<TDeviceSimulator>(buk, o);
        sim->AddDevice(chp17, 17);
        sim->AddDevice(chp200, 200);
        std::string error;
        QVERIFY2(!sim->StartPty(link, error).empty(), error.c_str());
    }
    static int Row(const TDevice& dev, uint16_t addr) {
        for (int r = 0; r < dev.Regs->Count(); ++r)
            if (dev.Regs->Items(r)->Addr == addr && dev.Regs->Items(r)->RegType != rtHeader)
                return r;
        return -1;
    }
    // Unticks every row of the tab and ticks the one at addr.
    void PollOnly(int tab, uint16_t addr) {
        TRegisterModel* m = w->Devices().View(tab)->Model();
        for (int r = 0; r < m->rowCount(); ++r)
            if (m->HasCheckBox(r)) m->SetCheckState(r, Qt::Unchecked, false);
        m->SetCheckState(Row(w->Devices().Device(tab), addr), Qt::Checked, false);
    }
    QString Shown(int tab, uint16_t addr) {
        return w->Devices()
            .View(tab)
            ->Model()
            ->index(Row(w->Devices().Device(tab), addr), 3)
            .data()
            .toString();
    }
};

// The recording's lines by device ID: the values recorded for it.
std::map<std::string, std::vector<std::string>> RecordedByDevice(const std::string& path,
                                                                 std::string* header) {
    std::map<std::string, std::vector<std::string>> out;
    const QStringList lines = QString::fromStdString(Cp1251ToUtf8(ReadBytes(path)))
                                  .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (int i = 0; i < lines.size(); ++i) {
        const QStringList f = lines[i].split(QLatin1Char(';'));
        if (i == 0) {
            *header = lines[i].toStdString();
            continue;
        }
        if (f.size() >= 5) out[f[1].toStdString()].push_back(f[4].toStdString());
    }
    return out;
}

// Accessible objects at or below root that are tabs and say they have the focus.
int FocusedTabs(QAccessibleInterface* root, int depth = 0) {
    if (!root || depth > 40) return 0;
    int n = root->role() == QAccessible::PageTab && root->state().focused ? 1 : 0;
    for (int i = 0; i < root->childCount(); ++i)
        n += FocusedTabs(root->child(i), depth + 1);
    return n;
}

// The first line of the device's item in the list: its ID and name.
QString ItemLine(TDevicesFace& d, int row) {
    return d.lvDevices->model()->index(row, 0).data().toString().section(QLatin1Char('\n'), 0, 0);
}

} // namespace

class DevicesTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearSettings(); }

    void threeTabsPollEachValueOnItsOwnDevice() {
        LineBench b;
        b.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(b.w.get()));
        TDevicesFace& d = b.w->Devices();
        QVERIFY(!d.lvDevices->isVisible()); // one device: the window as it always was
        // Nor does a hidden tab tell a screen reader it has the focus.
        QCOMPARE(FocusedTabs(QAccessible::queryAccessibleInterface(b.w.get())), 0);
        QVERIFY(!d.miCloseTab->isEnabled());
        b.w->eID->setText(QStringLiteral("3"));
        b.w->Dev().PollOnConnect = false;
        b.w->bOpen->click();
        QVERIFY(b.w->PortOpen());
        const int chp = b.w->Catalogue()[0].Path.find("ChP7") != std::string::npos ? 0 : 1;
        QCOMPARE(d.Add(chp, 17), QString());
        QCOMPARE(d.Add(chp, 200), QString());
        // The same ID twice is refused, naming the tab that has it.
        QCOMPARE(d.Add(chp, 17),
                 QStringLiteral("Устройство с ID 17 уже есть на линии: ЧП-7 (частотный "
                                "преобразователь) · ID 17"));
        QCOMPARE(d.Count(), 3);
        QVERIFY(d.lvDevices->isVisible());
        QCOMPARE(ItemLine(d, 0), QStringLiteral("ID 3 · БУК-2 (контроллер котельной)"));
        QCOMPARE(ItemLine(d, 2), QStringLiteral("ID 200 · ЧП-7 (частотный преобразователь)"));
        QCOMPARE(b.w->eID->text(), QStringLiteral("200")); // the current tab's ID
        // From tab to tab by the keyboard, the mouse and the accessibility interface alike.
        b.w->vstList->setFocus();
        QTest::keyClick(b.w->vstList, Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(d.Current(), 0);
        QCOMPARE(b.w->eID->text(), QStringLiteral("3"));
        QCOMPARE(b.w->vstList, d.View(0));
        QTest::mouseClick(d.lvDevices->viewport(), Qt::LeftButton, {},
                          d.lvDevices->visualRect(d.lvDevices->model()->index(1, 0)).center());
        QCOMPARE(d.Current(), 1);
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(d.lvDevices);
        QVERIFY(list && list->childCount() >= 3);
        QAccessibleInterface* third = list->child(2);
        QVERIFY(third->text(QAccessible::Name)
                    .startsWith(QStringLiteral("ЧП-7 (частотный преобразователь) · ID 200: ")));
        QVERIFY(third->actionInterface());
        third->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(d.Current(), 2);
        QVERIFY(b.w->Keys().KeysText().contains(
            QStringLiteral("Ctrl+W — Убрать устройство с линии")));

        b.PollOnly(0, 0x10);
        b.PollOnly(1, 0x302);
        b.PollOnly(2, 0x302);
        const std::string path = b.dir.File("poll.csv");
        QVERIFY(b.w->Trend().StartRecording(QString::fromStdString(path)));
        b.w->chPoll->setChecked(true);
        // Each value on its own device's row, whichever tab is shown.
        QTRY_COMPARE_WITH_TIMEOUT(b.Shown(0, 0x10), QStringLiteral("72.5"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(b.Shown(1, 0x302), QStringLiteral("45.50"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(b.Shown(2, 0x302), QStringLiteral("12.34"), 10000);
        std::string header;
        QTRY_VERIFY_WITH_TIMEOUT(RecordedByDevice(path, &header)["200"].size() >= 3, 10000);
        // The documentation's picture, when scripts/screenshots asks for it.
        if (const QString out = qEnvironmentVariable("TUNAVOX_SCREENSHOTS"); !out.isEmpty())
            QVERIFY(b.w->grab().save(out + QStringLiteral("/devices.png")));

        // The chart: a line per device and row, named by its device, holding its values.
        const auto series = b.w->Trend().ChartSeries();
        QCOMPARE(series.size(), size_t{3});
        QCOMPARE(series[1].Label, QStringLiteral("ID 17 · 0x302 Заданная частота [Гц]"));
        const std::vector<double> expected{72.5, 45.5, 12.34};
        for (size_t i = 0; i < series.size(); ++i) {
            const auto& samples = b.w->Line().Samples.Series(series[i].Row);
            QVERIFY(!samples.empty());
            for (const TSampleStore::Sample& s : samples)
                QVERIFY2(std::abs(s.Y - expected[i]) < 0.001, qPrintable(series[i].Label));
        }

        // Ctrl+W closes the current tab (ID 200): it is polled and recorded no more.
        QTest::keyClick(b.w.get(), Qt::Key_W, Qt::ControlModifier);
        QCOMPARE(d.Count(), 2);
        QCOMPARE(b.w->eID->text(), QStringLiteral("17"));
        QTest::qWait(300); // what was queued before the close ends
        const size_t closed = RecordedByDevice(path, &header)["200"].size();
        const size_t live = RecordedByDevice(path, &header)["17"].size();
        QTRY_VERIFY_WITH_TIMEOUT(RecordedByDevice(path, &header)["17"].size() >= live + 5, 10000);
        QCOMPARE(RecordedByDevice(path, &header)["200"].size(), closed);

        // The line drops and comes back: every device is polled again by itself.
        b.sim.reset();
        QTRY_VERIFY_WITH_TIMEOUT(b.w->Line().Reconnect.Active(), 10000);
        b.Plug();
        QTRY_VERIFY_WITH_TIMEOUT(!b.w->Line().Reconnect.Active(), 10000);
        const auto before = RecordedByDevice(path, &header);
        QTRY_VERIFY_WITH_TIMEOUT(
            RecordedByDevice(path, &header)["3"].size() >= before.at("3").size() + 3 &&
                RecordedByDevice(path, &header)["17"].size() >= before.at("17").size() + 3,
            10000);
        b.w->Trend().StopRecording();

        // Every recorded value is its own device's (or empty for a read lost in the drop).
        const auto recorded = RecordedByDevice(path, &header);
        QCOMPARE(header, std::string("Время;ID;Код;Параметр;Значение;Ошибка"));
        QCOMPARE(recorded.size(), size_t{3});
        const std::map<std::string, std::string> own{
            {"3", "72.5"}, {"17", "45.50"}, {"200", "12.34"}};
        for (const auto& [id, values] : recorded)
            for (const std::string& v : values)
                QVERIFY2(v.empty() || v == own.at(id), (id + ": " + v).c_str());
    }

    void addedFromTheMenuAndEverySetSavedIntoOneFolder() {
        LineBench b;
        b.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(b.w.get()));
        b.w->eID->setText(QStringLiteral("3"));
        b.w->Dev().PollOnConnect = false;
        b.w->bOpen->click();
        QVERIFY(b.w->PortOpen());
        const int chp = b.w->Catalogue()[0].Path.find("ChP7") != std::string::npos ? 0 : 1;
        // Typed as a user would: an ID the line has is refused in the dialog, which stays
        // with what was typed; another is taken.
        QString refused;
        OnNextModal(
            [&](QWidget* dialog) {
                auto* device = dialog->findChild<QComboBox*>(QStringLiteral("cbAddDevice"));
                auto* id = dialog->findChild<QLineEdit*>(QStringLiteral("eAddID"));
                auto* why = dialog->findChild<QLabel*>(QStringLiteral("lAddWhy"));
                if (!device || !id || !why) return static_cast<QDialog*>(dialog)->reject();
                device->setCurrentIndex(chp);
                QTest::keyClicks(id, QStringLiteral("3"));
                QTest::keyClick(id, Qt::Key_Return);
                refused = why->text();
                id->clear();
                QTest::keyClicks(id, QStringLiteral("17"));
                QTest::keyClick(id, Qt::Key_Return);
            },
            5000, "QDialog");
        b.w->Devices().miAddDevice->trigger();
        QCOMPARE(refused, QStringLiteral("Устройство с ID 3 уже есть на линии: БУК-2 (контроллер "
                                         "котельной) · ID 3"));
        QCOMPARE(b.w->Devices().Count(), 2);
        QCOMPARE(b.w->Dev().Id, 17);
        QVERIFY(b.w->Devices().miSaveAllSets->isVisible());

        // One set per device, named by device and ID, each of its own device.
        const QString folder = QString::fromStdString(b.dir.File("sets"));
        QVERIFY(QDir().mkpath(folder));
        OnNextModal(
            [folder](QWidget* dialog) {
                auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                if (!name) return static_cast<QDialog*>(dialog)->reject();
                static_cast<QFileDialog*>(dialog)->setDirectory(folder);
                name->setText(folder);
                static_cast<QDialog*>(dialog)->accept();
            },
            5000, "QFileDialog");
        b.w->Devices().miSaveAllSets->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(
            b.w->StatusText->text().contains(
                QStringLiteral("Параметры сохранены: БУК-2_(контроллер_котельной)_ID3.params, "
                               "ЧП-7_(частотный_преобразователь)_ID17.params")),
            20000);
        for (const auto& [file, id, name] : {std::tuple{"БУК-2_(контроллер_котельной)_ID3.params",
                                                        3u, "БУК-2 (контроллер котельной)"},
                                             {"ЧП-7_(частотный_преобразователь)_ID17.params", 17u,
                                              "ЧП-7 (частотный преобразователь)"}}) {
            TParamSet set;
            std::string error;
            QVERIFY2(ReadParamSetFile(folder.toStdString() + "/" + file, set, error),
                     error.c_str());
            QCOMPARE(set.DeviceId, id);
            QCOMPARE(set.Device, std::string(name));
            QVERIFY(set.FailedCount() == 0);
        }
    }

    void anotherDeviceAtAnIdIsSaidAndItsDescriptionLoaded() {
        // The converter at ID 17 is swapped for a controller while the line is polled: its
        // tab turns red and says so, nothing more is polled or written there, the user
        // loads the controller's description in its place; the device at 3 goes on.
        LineBench b;
        b.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(b.w.get()));
        TDevicesFace& d = b.w->Devices();
        b.w->eID->setText(QStringLiteral("3"));
        b.w->Dev().PollOnConnect = false;
        b.w->bOpen->click();
        QVERIFY(b.w->PortOpen());
        const int chp = b.w->Catalogue()[0].Path.find("ChP7") != std::string::npos ? 0 : 1;
        QCOMPARE(d.Add(chp, 17), QString());
        b.PollOnly(0, 0xFFFD);
        b.PollOnly(1, 0x302);
        b.w->chPoll->setChecked(true);
        QTRY_COMPARE_WITH_TIMEOUT(b.Shown(1, 0x302), QStringLiteral("45.50"), 5000);
        QString said, tabTip;
        OnNextModal(
            [&](QWidget* box) {
                said = static_cast<QMessageBox*>(box)->text();
                tabTip = d.lvDevices->model()->index(1, 0).data(Qt::ToolTipRole).toString();
                // The documentation's picture, when scripts/screenshots asks for it.
                if (const QString out = qEnvironmentVariable("TUNAVOX_SCREENSHOTS"); !out.isEmpty())
                    b.w->grab().save(out + QStringLiteral("/other-device.png"));
                for (QAbstractButton* button : box->findChildren<QAbstractButton*>())
                    if (button->text() == QStringLiteral("Загрузить описание")) button->click();
            },
            10000, "QMessageBox");
        b.sim->ReplaceDevice(17, b.buk);
        const QString other =
            QStringLiteral("На месте ID 17 другое устройство: БУК-2 (контроллер котельной)");
        QTRY_VERIFY_WITH_TIMEOUT(said.startsWith(other), 5000);
        QVERIFY(tabTip.contains(other)); // the list said it too, red, while the user was asked
        QTRY_COMPARE(d.Count(), 2);
        QCOMPARE(ItemLine(d, 1), QStringLiteral("ID 17 · БУК-2 (контроллер котельной)"));
        // The controller is polled at 17 now; 3 never stopped.
        const uint64_t before = b.w->Line().Stats.Take().Done;
        QTRY_VERIFY_WITH_TIMEOUT(b.w->Line().Stats.Take().Done > before + 10, 5000);
        b.w->chPoll->setChecked(false);
    }

    void closingTheWindowDuringASetAsksNothing() {
        // The port closes under the set being read: its reads fail, and no message box may
        // come up while the window goes (nobody would answer it; the program would hang).
        // One register, its read waiting on a device gone silent: the close fails it, and
        // with it the whole set.
        Bench b;
        QVERIFY(b.ShowAndOpen());
        TSimFaults silent;
        silent.Silent = true;
        b.sim->SetFaults(silent);
        b.w->Sets().SaveParameters(QString::fromStdString(b.dir.File("left.params")), {0x21});
        QVERIFY(b.w->Dev().ParamRunner && b.w->Dev().ParamRunner->Running());
        QTest::qWait(100); // the read is on the line
        // Any box that comes up is noted and answered, so that the test itself goes on.
        QString said;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&said] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                said = box->text();
                box->accept();
            }
        });
        watch.start(20);
        b.w.reset();
        QCOMPARE(said, QString());
        QVERIFY(!QFileInfo::exists(QString::fromStdString(b.dir.File("left.params"))));
    }

    void aSetOfAnotherIdAsksForThisDeviceByName() {
        Bench b;
        QVERIFY(b.ShowAndOpen());
        const QString path = QString::fromStdString(b.dir.File("id0.params"));
        b.w->Sets().SaveParameters(path);
        QTRY_VERIFY_WITH_TIMEOUT(b.w->Dev().ParamRunner && !b.w->Dev().ParamRunner->Running(),
                                 20000);
        // The same device type at another ID: the simulated device answers any ID.
        b.w->bOpen->click();
        b.w->eID->setText(QStringLiteral("5"));
        b.Open();
        QVERIFY(b.w->PortOpen());
        QVERIFY(b.w->Regs().Items(b.Row(0x21))->SetValueFromText("61", false));
        b.w->WriteNode(b.Row(0x21), true, nullptr); // the device now differs from the set
        QTRY_COMPARE_WITH_TIMEOUT(b.sim->Value(0x21), TValue(int16_t{61}), 5000);
        b.w->Sets().CompareWithFile(path);
        QTRY_VERIFY_WITH_TIMEOUT(b.w->Sets().CompareDialog() != nullptr, 20000);
        TCompareDialog* d = b.w->Sets().CompareDialog();
        QTRY_VERIFY(d->bWrite->isEnabled());
        QString question;
        CaptureMessageBox(&question, nullptr, QMessageBox::No);
        QTest::mouseClick(d->bWrite, Qt::LeftButton);
        QVERIFY2(question.startsWith(QStringLiteral(
                     "Набор сохранён для другого устройства: БУК-2 (контроллер котельной), ID 0; "
                     "сейчас БУК-2 (контроллер котельной), ID 5\n\nЗаписать 1 параметр в "
                     "устройство?")),
                 qPrintable(question));
        QTest::qWait(200);
        QCOMPARE(b.sim->Value(0x21), TValue(int16_t{61})); // refused: nothing written
        CaptureMessageBox(&question, nullptr, QMessageBox::Yes);
        QTest::mouseClick(d->bWrite, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(b.sim->Value(0x21), TValue(int16_t{75}), 20000);
    }
};

int RunDevicesTests(int argc, char** argv) {
    DevicesTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_devices.moc"
