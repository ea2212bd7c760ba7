// "Сетевой порт…": an address chosen, checked and kept with the last ten, the line opened
// through the simulator's TCP side; an address that never answers leaves the window live.
#include <QComboBox>
#include <QLabel>
#include <QSettings>
#include <QElapsedTimer>
#include <QTest>

#include "gui_support.h"
#include "loopback.h"
#include "sim_process.h"

using namespace tunavox;
using namespace tunavox::test;

class NetworkPortTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearSettings(); }

    void anAddressIsCheckedKeptWithTheLastTenAndOpened() {
        TempDir dir;
        CopySamples(dir, {QStringLiteral("NastrChP7.xml")});
        SimProcess sim({"--link", dir.File("line"), "--desc", kBin + "/NastrChP7.xml", "--tcp",
                        "127.0.0.1:0"});
        const QString address = QString::fromStdString(sim.SecondLine());
        QVERIFY(address.startsWith(QStringLiteral("tcp://127.0.0.1:")));
        QStringList older;
        for (int i = 1; i <= 10; ++i)
            older << QStringLiteral("rfc2217://127.0.0.1:%1").arg(7000 + i);
        QSettings(QStringLiteral("Mirel"), QStringLiteral("Tunavox"))
            .setValue(QStringLiteral("NetworkPorts"), older);
        TMainOptions o = OptionsFor(dir);
        o.Ports = QStringList{QStringLiteral("ttyS0")};
        TfMain w(o);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // The addresses used stand in the port box after the system's ports.
        QCOMPARE(w.cbPort->count(), 11);
        QCOMPARE(w.cbPort->currentText(), QStringLiteral("ttyS0"));
        // Typed as a user would: a malformed address is refused in the dialog, with why.
        QString refused, tooLong;
        OnNextModal(
            [&](QWidget* dialog) {
                auto* edit = dialog->findChild<QComboBox*>(QStringLiteral("cbNetAddress"));
                auto* why = dialog->findChild<QLabel*>(QStringLiteral("lNetWhy"));
                if (!edit || !why) return static_cast<QDialog*>(dialog)->reject();
                QCOMPARE(edit->count(), 10); // the history offered
                edit->setCurrentText(QStringLiteral("tcp://127.0.0.1"));
                QTest::keyClick(edit, Qt::Key_Return);
                refused = why->text();
                edit->setCurrentText(QStringLiteral("tcp://%1:4001").arg(QString(254, QLatin1Char('a'))));
                QTest::keyClick(edit, Qt::Key_Return);
                tooLong = why->text();
                edit->setCurrentText(address);
                // The documentation's picture, when scripts/screenshots asks for it.
                if (const QString out = qEnvironmentVariable("TUNAVOX_SCREENSHOTS"); !out.isEmpty())
                    dialog->grab().save(out + QStringLiteral("/network-port.png"));
                QTest::keyClick(edit, Qt::Key_Return);
            },
            5000, "QDialog");
        w.NetPort().miNetPort->trigger();
        QCOMPARE(refused, QStringLiteral("не указан порт: УЗЕЛ:ПОРТ"));
        QCOMPARE(tooLong, QStringLiteral("имя узла длиннее 253 символов"));
        QCOMPARE(w.cbPort->currentText(), address);
        // Chosen, not yet connected: the history is as it was.
        QCOMPARE(w.NetPort().History(), older);

        w.Dev().PollOnConnect = false;
        w.bOpen->click();
        QVERIFY(w.PortOpen());
        // Connected once: first among the last used, the oldest gone.
        const QStringList kept = w.NetPort().History();
        QCOMPARE(kept.size(), 10);
        QCOMPARE(kept.first(), address);
        QVERIFY(!kept.contains(QStringLiteral("rfc2217://127.0.0.1:7010")));
        QVERIFY(!w.NetPort().miNetPort->isEnabled());
        // Raw TCP: what the program cannot set is said once, not as an error.
        QVERIFY2(
            w.StatusText->text().contains(QStringLiteral("настройки линии задаёт преобразователь")),
            qPrintable(w.StatusText->text()));
        w.bReadAll->click();
        int row = -1;
        for (int r = 0; r < w.Regs().Count(); ++r)
            if (w.Regs().Items(r)->Addr == 0x302 && w.Regs().Items(r)->RegType != rtHeader) row = r;
        QTRY_COMPARE_WITH_TIMEOUT(w.vstList->Model()->index(row, 3).data().toString(),
                                  QStringLiteral("50.00"), 10000);
        w.Trend().ShowStats();
        QVERIFY(w.Trend().lStats->toolTip().contains(
            QStringLiteral("Сетевой порт: время отклика при подключении")));
        w.close();
        QCOMPARE(QSettings(QStringLiteral("Mirel"), QStringLiteral("Tunavox"))
                     .value(QStringLiteral("Port"))
                     .toString(),
                 address);
    }

    void aDroppedConnectionIsReopenedAndPollingGoesOn() {
        TempDir dir;
        CopySamples(dir, {QStringLiteral("NastrChP7.xml")});
        const std::vector<std::string> args{"--link", dir.File("line"), "--desc",
                                            kBin + "/NastrChP7.xml", "--tcp"};
        auto sim = std::make_unique<SimProcess>([&] {
            auto a = args;
            a.push_back("127.0.0.1:0");
            return a;
        }());
        const std::string address = sim->SecondLine();
        TMainOptions o = OptionsFor(dir);
        o.ExtraPort = QString::fromStdString(address);
        TfMain w(o);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.Dev().PollOnConnect = false;
        w.bOpen->click();
        QVERIFY(w.PortOpen());
        w.chPoll->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(w.Line().Stats.Take().Done > 5, 10000);
        // The converter goes (its server ends): a lost port, reopened once it is back.
        sim.reset();
        QTRY_VERIFY_WITH_TIMEOUT(w.Line().Reconnect.Active(), 10000);
        auto again = args;
        again.push_back(address.substr(std::string("tcp://").size()));
        sim = std::make_unique<SimProcess>(again);
        QCOMPARE(sim->SecondLine(), address);
        QTRY_VERIFY_WITH_TIMEOUT(!w.Line().Reconnect.Active() && w.PortOpen(), 10000);
        const uint64_t before = w.Line().Stats.Take().Done;
        QTRY_VERIFY_WITH_TIMEOUT(w.Line().Stats.Take().Done > before + 5, 10000);
        QVERIFY(w.chPoll->isChecked());
        QVERIFY(w.centralWidget()->isEnabled());
    }

    void anAddressThatNeverAnswersLeavesTheWindowLive() {
        const SilentAddress silent;
        const QString address = QString::fromStdString(silent.Address());
        Bench b;
        b.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(b.w.get()));
        b.w->cbPort->addItem(address);
        b.w->cbPort->setCurrentIndex(b.w->cbPort->count() - 1);
        // The window's loop goes on while the connection is tried: its timers fire.
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&] { ++ticks; });
        tick.start(50);
        QString text;
        CaptureMessageBox(&text);
        b.w->bOpen->click();
        QCOMPARE(
            text,
            QStringLiteral("Не удалось открыть COM-порт %1: узел не ответил за 3 с").arg(address));
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
        QVERIFY(!b.w->PortOpen());
        QVERIFY(b.w->bOpen->isEnabled());

        // Given up before the time-out: by Escape, and by the same button pressed again
        // (it says "Отменить" meanwhile; the other controls are held).
        for (const bool byKey : {false, true}) {
            QElapsedTimer took;
            bool held = false;
            QTimer::singleShot(300, [&] {
                held = !b.w->cbPort->isEnabled() && b.w->bOpen->isEnabled() &&
                       b.w->bOpen->text() == QStringLiteral("Отменить");
                if (byKey)
                    QTest::keyClick(b.w.get(), Qt::Key_Escape);
                else
                    QTest::mouseClick(b.w->bOpen, Qt::LeftButton);
            });
            CaptureMessageBox(&text);
            took.start();
            b.w->bOpen->click();
            QVERIFY(held);
            QVERIFY2(took.elapsed() < 2000, qPrintable(QString::number(took.elapsed())));
            QCOMPARE(text,
                     QStringLiteral("Не удалось открыть COM-порт %1: подключение отменено").arg(address));
            QVERIFY(!b.w->PortOpen());
            QCOMPARE(b.w->bOpen->text(), QStringLiteral("Открыть"));
            QVERIFY(b.w->cbPort->isEnabled());
        }
    }
};

int RunNetworkPortTests(int argc, char** argv) {
    NetworkPortTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_network_port.moc"
