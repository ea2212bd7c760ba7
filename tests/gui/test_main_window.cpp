// Start-up, settings, device choice and shutdown of the main window.
#include <QListWidget>
#include <QSettings>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

#include "app/device_dialog.h"
#include "device/catalogue.h"
#include "gui_support.h"
#include "ui/message_box.h"

using namespace tunavox;
using namespace tunavox::test;

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearSettings(); }

    void designValues() {
        TempDir dir;
        TMainOptions o = OptionsFor(dir);
        TfMain w(o);
        QCOMPARE(w.windowTitle(), QStringLiteral("Тунавокс"));
        QCOMPARE(w.minimumSize(), QSize(640, 300));
        QCOMPARE(w.size(), QSize(774, 475));
        QVERIFY(w.miVer2->isChecked());
        QVERIFY(!w.miVer1->isChecked());
        QVERIFY(!w.chPoll->isChecked());
        QVERIFY(!w.chUseLogs->isChecked());
        QVERIFY(!w.chOver41G->isChecked());
        QVERIFY(w.bWriteAll->isHidden());
        QCOMPARE(w.bOpen->text(), QStringLiteral("Открыть"));
        QCOMPARE(w.bReadAll->text(), QStringLiteral("Считать все"));
        QCOMPARE(w.StatusTimer->interval(), 4000);
        QCOMPARE(w.PingTimer->interval(), 3000);
        QVERIFY(!w.StatusTimer->isActive());
        // No description: no menu, no dialog, an empty table, the window still works.
        QVERIFY(!w.miDevList->menuAction()->isVisible());
        QCOMPARE(w.vstList->model()->rowCount(), 0);
        QVERIFY(!w.PingTimer->isActive());
        QVERIFY(!w.TerminateRequested());
        QCOMPARE(w.findChild<QComboBox*>(QStringLiteral("cbPort"))->count(), 0);
    }

    void oneDescriptionLoadsWithoutAsking() {
        TempDir dir;
        CopySamples(dir, {QStringLiteral("NastrBUK2.xml")});
        TMainOptions o = OptionsFor(dir);
        TfMain w(o);
        QVERIFY(!w.miDevList->menuAction()->isVisible());
        QCOMPARE(w.windowTitle(), QStringLiteral("Настройка БУК-2 (контроллер котельной)"));
        QCOMPARE(w.vstList->model()->rowCount(), w.Regs().Count());
        QVERIFY(w.Regs().Count() > 10);
        QCOMPARE(w.Dev().PingNode, w.vstList->Model()->rowCount() - 1); // the 0xFFFD row
        QVERIFY(w.PingTimer->isActive());
        QVERIFY(w.Dev().PollOnConnect);
        QVERIFY(w.chOver41G->isVisibleTo(&w));
        QCOMPARE(w.vstList->HintTime(), 4000);
        QVERIFY(w.vstList->HasBackground());
        QVERIFY(w.vstList->BackgroundFixed());
        QCOMPARE(w.vstList->SelectedTextColor(), QColor(0xFF, 0xFF, 0xFF));
        QCOMPARE(w.vstList->SelectionColor(), QColor(0x3C, 0x64, 0xB4));
        QCOMPARE(w.vstList->GridColor(), QColor(0xB4, 0xB4, 0xC8));
        QCOMPARE(w.vstList->Model()->TextColor(), QColor(0x20, 0x20, 0x20));
    }

    void twoDescriptionsAskAndTheFirstIsTakenOnClose() {
        TempDir dir;
        CopySamples(dir, {QStringLiteral("NastrBUK2.xml"), QStringLiteral("NastrChP7.xml")});
        const auto order = ScanCatalogue(dir.Path() + "/");
        QCOMPARE(order.size(), size_t{2});
        QStringList listed;
        int focused = -1;
        bool okEnabled = false;
        QString caption;
        OnNextModal([&](QWidget* modal) {
            auto* dlg = qobject_cast<TfSelDevDlg*>(modal);
            if (!dlg) return;
            caption = dlg->windowTitle();
            for (int i = 0; i < dlg->List()->count(); ++i)
                listed << dlg->List()->item(i)->text();
            focused = dlg->List()->currentRow();
            okEnabled = dlg->OkButton()->isEnabled();
            dlg->reject(); // closed without a choice
        });
        TMainOptions o = OptionsFor(dir);
        TfMain w(o);
        QCOMPARE(caption, QStringLiteral("Выбор устройства"));
        QCOMPARE(listed, (QStringList{QString::fromStdString(order[0].Caption),
                                      QString::fromStdString(order[1].Caption)}));
        QCOMPARE(focused, 0);
        QVERIFY(okEnabled);
        QCOMPARE(w.Dev().Entry, 0);
        QCOMPARE(w.windowTitle(),
                 QStringLiteral("Настройка ") + QString::fromStdString(order[0].Caption));
        QVERIFY(w.miDevList->menuAction()->isVisible());
        QCOMPARE(w.miDevList->actions().size(), 2);

        // Switching to the other device resets the view and recounts the check boxes.
        const int firstCheckable = w.vstList->Model()->CheckableCount();
        w.ToggleServiceMode(); // service mode on
        w.Dev().LastChangedRow = 3;
        w.miDevList->actions()[1]->trigger();
        QCOMPARE(w.Dev().Entry, 1);
        QVERIFY(w.miDevList->actions()[1]->isChecked());
        QVERIFY(!w.miDevList->actions()[0]->isChecked());
        QVERIFY(!w.ServiceMode);
        QCOMPARE(w.Dev().LastChangedRow, -1);
        QCOMPARE(w.Dev().PollNode, -1);
        int expected = 0;
        for (int r = 0; r < w.Regs().Count(); ++r)
            expected += w.Regs().Items(r)->RegType != rtHeader && w.Regs().Items(r)->Io != ioW;
        QCOMPARE(w.vstList->Model()->CheckableCount(), expected);
        QVERIFY(expected != firstCheckable);
        // Checking every row of the new table makes the header box checked.
        for (int r = 0; r < w.Regs().Count(); ++r)
            if (w.vstList->Model()->HasCheckBox(r))
                w.vstList->Model()->SetCheckState(r, Qt::Checked, true);
        QCOMPARE(w.vstList->Model()->HeaderState(), Qt::Checked);
        // Choosing the checked entry again does nothing.
        w.vstList->Model()->SetCheckState(w.Dev().PingNode, Qt::Unchecked, false);
        w.miDevList->actions()[1]->trigger();
        QCOMPARE(w.vstList->Model()->CheckState(w.Dev().PingNode), Qt::Unchecked);
    }

    void nameless() {
        TempDir dir;
        WriteSignedDescription(dir, "Nastr_BU.xml",
                               "<?xml version=\"1.0\" encoding=\"windows-1251\"?><D "
                               "serial=\"9600-8-N-1\"><REGISTERS/></D>");
        auto entries = ScanCatalogue(dir.Path() + "/");
        QCOMPARE(entries.size(), size_t{1});
        QCOMPARE(entries[0].Caption, std::string("Nastr_BU"));
        // A FIFO and a link to an endless device are listed by name, never waited on or read.
        QCOMPARE(::mkfifo(dir.File("NastrFifo.xml").c_str(), 0600), 0);
        QCOMPARE(::symlink("/dev/zero", dir.File("NastrZero.xml").c_str()), 0);
        entries = ScanCatalogue(dir.Path() + "/");
        QStringList captions;
        for (const TCatalogueEntry& e : entries)
            captions << QString::fromStdString(e.Caption);
        captions.sort();
        QCOMPARE(captions, QStringList({"NastrFifo", "NastrZero", "Nastr_BU"}));
        ::unlink(dir.File("NastrFifo.xml").c_str());
        ::unlink(dir.File("NastrZero.xml").c_str());
        TMainOptions o = OptionsFor(dir);
        TfMain w(o);
        QCOMPARE(w.windowTitle(), QStringLiteral("Неизвестное устройство"));
        QVERIFY(!w.PingTimer->isActive()); // no rows, no keep-alive
    }

    void corruptDescriptionEndsTheProgram() {
        TempDir dir;
        CopySamples(dir, {QStringLiteral("NastrChP7.xml")});
        const std::string path = dir.File("NastrChP7.xml");
        std::string bytes = ReadBytes(path);
        bytes.replace(bytes.find("timeout=\"500\""), 13, "timeout=\"900\"");
        WriteBytes(path, bytes);
        QString text, caption;
        CaptureMessageBox(&text, &caption);
        TMainOptions o = OptionsFor(dir);
        TfMain w(o);
        QCOMPARE(text, QStringLiteral("Файл данных поврежден"));
        QCOMPARE(caption, DialogCaption());
        QVERIFY(w.TerminateRequested());
        // The queued request to leave the loop ends it with a failure status.
        QCOMPARE(QApplication::exec(), 1);
    }

    void storedPortRules() {
        TempDir dir;
        TMainOptions o;
        o.DescriptionsDir = QString::fromStdString(dir.Path());
        o.Ports =
            QStringList{QStringLiteral("ttyS0"), QStringLiteral("COM1"), QStringLiteral("ttyUSB0")};
        {
            TfMain w(o); // nothing stored: COM1
            QCOMPARE(w.cbPort->currentText(), QStringLiteral("COM1"));
        }
        QSettings(QStringLiteral("Mirel"), QStringLiteral("Tunavox"))
            .setValue(QStringLiteral("Port"), QStringLiteral("TTYUSB0"));
        {
            TfMain w(o); // other letter case
            QCOMPARE(w.cbPort->currentText(), QStringLiteral("ttyUSB0"));
            w.cbPort->setCurrentIndex(0);
            w.close(); // stores the selection
        }
        QCOMPARE(QSettings(QStringLiteral("Mirel"), QStringLiteral("Tunavox"))
                     .value(QStringLiteral("Port"))
                     .toString(),
                 QStringLiteral("ttyS0"));
        QSettings(QStringLiteral("Mirel"), QStringLiteral("Tunavox"))
            .setValue(QStringLiteral("Port"), QStringLiteral("ttyACM7"));
        {
            TfMain w(o); // no longer listed: the first one
            QCOMPARE(w.cbPort->currentIndex(), 0);
        }
        o.Ports = QStringList{};
        {
            TfMain w(o); // no ports at all: nothing selected, an empty value stored
            QCOMPARE(w.cbPort->currentIndex(), -1);
            w.close();
        }
        QCOMPARE(QSettings(QStringLiteral("Mirel"), QStringLiteral("Tunavox"))
                     .value(QStringLiteral("Port"))
                     .toString(),
                 QString());
        // --port adds a name that is not listed, and takes precedence.
        o.Ports = QStringList{QStringLiteral("COM1")};
        o.ExtraPort = QStringLiteral("/tmp/dev1");
        TfMain w(o);
        QCOMPARE(w.cbPort->currentText(), QStringLiteral("/tmp/dev1"));
        QCOMPARE(w.cbPort->count(), 2);
    }

    void messageBoxCaptionAndButton() {
        QString caption, text;
        QStringList buttons;
        OnNextModal([&](QWidget* wgt) {
            auto* box = qobject_cast<QMessageBox*>(wgt);
            caption = box->windowTitle();
            text = box->text();
            for (QAbstractButton* b : box->buttons())
                buttons << b->text();
            box->accept();
        });
        ShowWarning(nullptr, QStringLiteral("Очень длинный текст"));
        QCOMPARE(caption, DialogCaption());
        QVERIFY(!caption.isEmpty());
        QCOMPARE(text, QStringLiteral("Очень длинный текст"));
        QCOMPARE(buttons, QStringList{QStringLiteral("OK")});
        // A shorter caption list leaves the other buttons as they are.
        buttons.clear();
        OnNextModal([&](QWidget* wgt) {
            auto* box = qobject_cast<QMessageBox*>(wgt);
            buttons << box->button(QMessageBox::Yes)->text()
                    << box->button(QMessageBox::No)->text();
            box->accept();
        });
        MessageBoxWithCaptions(nullptr, QStringLiteral("?"), QMessageBox::Question,
                               QMessageBox::Yes | QMessageBox::No, {QStringLiteral("Да")});
        QCOMPARE(buttons.at(0), QStringLiteral("Да"));
        QVERIFY(buttons.at(1) != QStringLiteral("Да"));
    }
};

int RunMainWindowTests(int argc, char** argv) {
    MainWindowTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_main_window.moc"
