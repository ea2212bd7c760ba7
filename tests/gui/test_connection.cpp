// Connection control against the simulated device: opening, reading, writing,
// polling, the keep-alive, the status line and shutdown during an exchange.
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <termios.h>

#include "gui_support.h"
#include "link/frame.h"
#include "link/open_port.h"
#include "pty_peer.h"
#include "sim/simulator.h"
#include "util/hex_text.h"

using namespace tunavox;
using namespace tunavox::test;

class ConnectionTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearSettings(); }

    void openAndClose() {
        Bench b;
        b.Open();
        QVERIFY(b.w->PortOpen());
        QCOMPARE(b.w->bOpen->text(), QStringLiteral("Закрыть"));
        QVERIFY(!b.w->cbPort->isEnabled());
        QVERIFY(!b.w->chOver41G->isEnabled());
        QVERIFY(!b.w->miDevList->isEnabled());
        QVERIFY(!b.w->miVers->isEnabled());
        QVERIFY(!b.w->chPoll->isChecked());
        b.w->bOpen->click();
        QVERIFY(!b.w->PortOpen());
        QCOMPARE(b.w->bOpen->text(), QStringLiteral("Открыть"));
        QVERIFY(b.w->cbPort->isEnabled());
        QVERIFY(b.w->miVers->isEnabled());
    }

    void openingAMissingPortWarns() {
        Bench b;
        b.w->cbPort->setCurrentIndex(b.w->cbPort->findText(QStringLiteral("ttyS0")));
        b.w->cbPort->addItem(QStringLiteral("/tmp/tunavox-no-such-port"));
        b.w->cbPort->setCurrentIndex(b.w->cbPort->count() - 1);
        QString text;
        CaptureMessageBox(&text);
        b.w->bOpen->click();
        // The port is named, with the system's reason.
        QCOMPARE(text, QStringLiteral("Не удалось открыть COM-порт /tmp/tunavox-no-such-port: "
                                      "нет такого файла или папки"));
        QVERIFY(!b.w->PortOpen());
        QCOMPARE(b.w->bOpen->text(), QStringLiteral("Открыть"));
        QVERIFY(b.w->cbPort->isEnabled());
    }

    void readAllFillsReadableRows() {
        Bench b;
        b.Open();
        b.w->bReadAllClick();
        QTRY_COMPARE_WITH_TIMEOUT(b.Value(0xFFFD), QStringLiteral("0"), 10000);
        QCOMPARE(b.Value(0x10), QStringLiteral("72.5"));
        QCOMPARE(b.Value(0x20), QStringLiteral("выкл"));
        QCOMPARE(b.Value(0x03), QStringLiteral("Котельная №1"));
        QCOMPARE(b.Value(0x23), QString());                 // write only: left alone
        QVERIFY(b.w->Regs().Items(0)->GetValue().IsNull()); // heading
        QCOMPARE(b.w->StatusText->text(), QString());
    }

    void doubleClickReadsOneRow() {
        Bench b;
        b.Open();
        const int row = b.Row(0x21);
        b.w->vstList->setCurrentIndex(b.w->vstList->Model()->index(row, 1));
        b.w->vstListDblClick();
        QTRY_COMPARE_WITH_TIMEOUT(b.Value(0x21), QStringLiteral("75"), 5000);
        QCOMPARE(b.Value(0x22), QString());
    }

    void editAndEnterWrites() {
        Bench b;
        b.Open();
        b.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(b.w.get()));
        const int row = b.Row(0x21);
        b.w->vstList->setCurrentIndex(b.w->vstList->Model()->index(row, 1));
        QTRY_VERIFY(b.w->vstList->OpenEditor() != nullptr);
        auto* edit = qobject_cast<QLineEdit*>(b.w->vstList->OpenEditor());
        QVERIFY(edit);
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("80"));
        QTest::keyClick(edit, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(b.w->StatusText->text(), QStringLiteral(" Параметр записан"),
                                  5000);
        QCOMPARE(b.sim->Value(0x21), TValue(int16_t{80}));
        QVERIFY(!b.w->Regs().Items(row)->IsModified());
        QVERIFY(!b.w->Regs().Items(row)->GetBusy());
        QVERIFY(b.w->StatusTimer->isActive());
        // Enter on a row that was not changed writes nothing (no keep-alive meanwhile).
        b.w->PingTimer->stop();
        const size_t before = b.sim->RequestCount();
        QVERIFY(b.w->vstListKeyEnter());
        QTest::qWait(300);
        QCOMPARE(b.sim->RequestCount(), before);
    }

    void deviceErrorFourIsRedInTheCell() {
        TSimFaults f;
        f.ErrorCodes[0x21] = 4;
        Bench b(f);
        b.Open();
        const int row = b.Row(0x21);
        b.w->ReadNode(row, [&](TAction* a) {
            b.w->vstList->Model()->RefreshRow(a->Node);
            b.w->ShowError(QString::fromStdString(a->Error()));
        });
        QTRY_COMPARE_WITH_TIMEOUT(b.Value(0x21), QStringLiteral("отказано в чтении"), 5000);
        QCOMPARE(b.w->vstList->Model()->index(row, 3).data(Qt::ForegroundRole).value<QColor>(),
                 QColor(255, 0, 0));
        QCOMPARE(b.w->StatusText->text(), QStringLiteral(" отказано в чтении"));
        QCOMPARE(b.w->StatusText->palette().color(QPalette::Window), QColor(255, 0, 0));
        QCOMPARE(b.w->StatusText->palette().color(QPalette::WindowText), QColor(Qt::white));
    }

    void failedReadShowsRedStatusThatClears() {
        TSimFaults f;
        f.Silent = true;
        Bench b(f);
        b.Open();
        b.w->Canal().SetTimeout(200);
        b.w->vstList->setCurrentIndex(b.w->vstList->Model()->index(b.Row(0x21), 1));
        b.w->vstListDblClick();
        QTRY_COMPARE_WITH_TIMEOUT(b.w->StatusText->text(),
                                  QStringLiteral(" Устройство не отвечает"), 5000);
        QCOMPARE(b.w->StatusText->palette().color(QPalette::Window), QColor(255, 0, 0));
        QCOMPARE(b.Value(0x21), QString()); // never read: stays empty
        QTRY_COMPARE_WITH_TIMEOUT(b.w->StatusText->text(), QString(), 5500);
    }

    void pollingVisitsTickedRowsInOrder() {
        Bench b;
        TRegisterModel* m = b.w->vstList->Model();
        // Tick exactly three rows: one of them WOR.
        for (int r = 0; r < m->rowCount(); ++r)
            m->SetCheckState(r, Qt::Unchecked, false);
        const int a = b.Row(0x02), c = b.Row(0x24), d = b.Row(0x32);
        for (int r : {a, c, d})
            m->SetCheckState(r, Qt::Checked, false);
        b.sim->SetVersion(1);
        b.Open();
        std::vector<int> visited;
        size_t maxQueued = 0;
        QObject::connect(m, &QAbstractItemModel::dataChanged, [&](const QModelIndex& tl) {
            visited.push_back(tl.row());
            maxQueued = std::max(maxQueued, b.w->Line().Queued());
        });
        b.w->chPoll->click();
        QVERIFY(b.w->chPoll->isChecked());
        QVERIFY(b.w->vstList->DarkTicks());
        QTRY_VERIFY_WITH_TIMEOUT(visited.size() >= 9, 10000);
        b.w->chPoll->click(); // off: polling stops
        QVERIFY(!b.w->chPoll->isChecked());
        QCOMPARE(b.w->Dev().PollNode, -1);
        QCOMPARE(b.w->lProgress->text(), QString());
        QVERIFY(!b.w->vstList->DarkTicks());
        // Rows in table order, round and round (a WOR write repaints its row twice).
        std::vector<int> order;
        for (int r : visited)
            if (order.empty() || order.back() != r) order.push_back(r);
        for (size_t i = 0; i + 1 < order.size(); ++i) {
            const int next = order[i] == a ? c : order[i] == c ? d : a;
            QCOMPARE(order[i + 1], next);
        }
        QCOMPARE(maxQueued, size_t{0}); // one action outstanding at a time, none waiting
        const size_t requests = b.sim->RequestCount();
        QTest::qWait(400);
        QVERIFY(b.sim->RequestCount() <= requests + 1); // at most the outstanding one
        // The WOR row was written, forced, with its current value.
        QCOMPARE(b.sim->Value(0x24), TValue(uint16_t{1}));
        QVERIFY(!b.w->Regs().Items(c)->GetBusy());
    }

    void pollingWithoutTickedRowsStopsAtOnce() {
        Bench b;
        TRegisterModel* m = b.w->vstList->Model();
        for (int r = 0; r < m->rowCount(); ++r)
            m->SetCheckState(r, Qt::Unchecked, false);
        b.Open();
        b.w->chPoll->click();
        QVERIFY(!b.w->chPoll->isChecked());
    }

    void pollOnConnectStartsPolling() {
        Bench b;
        b.w->Dev().PollOnConnect = true;
        b.w->bOpen->click();
        QVERIFY(b.w->chPoll->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(b.Value(0x10), QStringLiteral("72.5"), 5000);
        QVERIFY(!b.w->lProgress->text().isEmpty());
        b.w->bOpen->click();
        QVERIFY(!b.w->chPoll->isChecked());
    }

    void keepAliveReadsOnlyWhileNotPolling() {
        Bench b;
        b.Open();
        TReg* ping = b.w->Regs().Items(b.w->Dev().PingNode);
        QCOMPARE(ping->Addr, uint16_t{0xFFFD});
        b.w->PingTimerTimer();
        QTRY_VERIFY_WITH_TIMEOUT(!ping->GetValue().IsNull(), 5000);
        QCOMPARE(b.w->StatusText->text(), QString()); // silent
        ping->SetValue(TValue::MakeNull(), true, "");
        // Polling another row: the keep-alive stays away from the line.
        b.UntickAll();
        TRegisterModel* m = b.w->vstList->Model();
        m->SetCheckState(b.Row(0x21), Qt::Checked, false);
        b.w->chPoll->setChecked(true);
        QVERIFY(b.w->chPoll->isChecked());
        b.w->PingTimerTimer();
        QTest::qWait(300);
        QVERIFY(ping->GetValue().IsNull());
        QCOMPARE(b.w->Dev().PollNode, b.Row(0x21));
    }

    void deviceIdText() {
        Bench b;
        struct Case {
            const char* text;
            int32_t id;
        } cases[] = {{"", 0},      {"12", 12}, {"12a", 0}, {"$1F", 31}, {"x1F", 31},
                     {"0x1F", 31}, {"  7", 7}, {"7 ", 0},  {"-1", -1},  {"4294967297", 1}};
        for (const Case& c : cases) {
            b.w->eID->setText(QString::fromLatin1(c.text));
            QCOMPARE(b.w->Dev().Id, c.id);
        }
    }

    void preamblesAsTheDeviceSeesThem() {
        for (bool gateway : {false, true}) {
            PtyPair pty;
            TCanal canal;
            canal.ComPort->SetLine(9600, 8, parNone, sbOne, false);
            std::string seen;
            std::vector<speed_t> speeds;
            std::vector<tcflag_t> flags;
            std::thread device([&] {
                // Each byte, with the line settings in force when it arrived.
                const size_t expected = gateway ? 15 : 3;
                while (seen.size() < expected) {
                    const std::string b = pty.ReadExactly(1, 3000);
                    if (b.empty()) break;
                    struct termios t {};
                    tcgetattr(pty.Master(), &t);
                    seen += b;
                    speeds.push_back(cfgetospeed(&t));
                    flags.push_back(t.c_cflag);
                }
            });
            QVERIFY(OpenPort(canal, pty.SlavePath(), 1, gateway));
            device.join();
            if (gateway) {
                QCOMPARE(HexBytes(seen),
                         std::string("7F 02 57 28 3F 40 3F 40 3F 40 3A 45 03 03 51"));
                QCOMPARE(speeds.front(), speed_t{B4800});
                QVERIFY(flags.front() & CSTOPB);
            } else {
                QCOMPARE(HexBytes(seen), std::string("18 A0 5A"));
                QCOMPARE(speeds.front(), speed_t{B115200});
                QVERIFY(flags.front() & CMSPAR);
                QVERIFY(flags.front() & CSTOPB);
            }
            // Afterwards the description's settings are in force again.
            QCOMPARE(canal.ComPort->Settings().Line(), (TLineSettings{9600, 8, parNone, sbOne}));
            struct termios t {};
            tcgetattr(canal.ComPort->Handle(), &t);
            QCOMPARE(cfgetospeed(&t), speed_t{B9600});
            QVERIFY(!(t.c_cflag & CMSPAR));
            QVERIFY(!(t.c_cflag & CSTOPB));
        }
        // A failed opening restores them all the same.
        TCanal canal;
        canal.ComPort->SetLine(19200, 7, parEven, sbTwo, false);
        QVERIFY(!OpenPort(canal, "/tmp/tunavox-no-such-port", 1, false));
        QCOMPARE(canal.ComPort->Settings().Line(), (TLineSettings{19200, 7, parEven, sbTwo}));
        QVERIFY(canal.ComPort->ErrorCode() != 0);
    }

    void closingTheWindowWaitsForTheRunningExchange() {
        TSimFaults f;
        f.DelayMs = 400;
        Bench b(f);
        b.Open();
        bool handled = false;
        const int row = b.Row(0x21);
        b.w->ReadNode(row, [&](TAction*) { handled = true; });
        b.w->ReadNode(b.Row(0x22), [&](TAction*) { QFAIL("a queued action must not run"); });
        QTRY_VERIFY_WITH_TIMEOUT(b.sim->RequestCount() >= 1, 5000);
        b.w->close();
        b.w.reset(); // stops the worker, serving its hand-over
        QVERIFY(handled);
    }

    void closingTheWindowEndsABlockedExchange() {
        // A silent device and the longest time-out: closing must not wait it out.
        TSimFaults f;
        f.Silent = true;
        Bench b(f);
        b.w->Canal().SetTimeout(TCanal::kMaxTimeout);
        b.Open();
        QString error;
        b.w->ReadNode(b.Row(0x21), [&](TAction* a) { error = QString::fromStdString(a->Error()); });
        QTRY_VERIFY_WITH_TIMEOUT(b.sim->RequestCount() >= 1, 5000);
        QElapsedTimer t;
        t.start();
        b.w->close();
        b.w.reset();
        QCOMPARE(error, QStringLiteral("COM-порт закрыт")); // its handler still ran
        QVERIFY2(t.elapsed() < 20000, "shutdown waited for the time-out");
    }
};

int RunConnectionTests(int argc, char** argv) {
    ConnectionTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_connection.moc"
