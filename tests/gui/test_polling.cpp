// Polling at the engineer's pace, and the recording a spreadsheet reads.
#include <QElapsedTimer>
#include <QSpinBox>
#include <QTest>

#include "gui_support.h"
#include "util/cp1251.h"

using namespace tunavox;
using namespace tunavox::test;

class PollingTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearSettings(); }

    void aPeriodPacesThePassesAndAWideRecordingHasAColumnPerRow() {
        Bench b;
        QVERIFY(b.ShowAndOpen());
        b.UntickAll();
        QCOMPARE(b.w->Line().Pace.Period(), 0); // as fast as the line allows, as before
        QCOMPARE(b.w->Trend().sePollPeriod->text(), QStringLiteral("как можно чаще"));

        // A wide recording needs its columns: ticked rows.
        b.w->Trend().chWideRecord->setChecked(true);
        const QString path = QString::fromStdString(b.dir.File("wide.csv"));
        QString why;
        QVERIFY(!b.w->Trend().StartRecording(path, &why));
        QCOMPARE(why, QStringLiteral("Не удалось начать запись опроса в файл %1: отметьте "
                                     "параметры — по столбцу на каждый")
                          .arg(path));

        // Too short a period is the shortest one.
        b.w->Trend().sePollPeriod->setValue(40);
        QCOMPARE(b.w->Line().Pace.Period(), 100);
        QCOMPARE(b.w->Trend().sePollPeriod->value(), 100);
        b.w->Trend().sePollPeriod->setValue(400);
        QCOMPARE(b.w->StatusText->text(), QStringLiteral(" Период опроса: 400 мс"));

        TRegisterModel* m = b.w->vstList->Model();
        const auto before = b.w->Line().Stats.Take().Done;
        QElapsedTimer clock;
        clock.start();
        m->SetCheckState(b.Row(0x10), Qt::Checked, true); // polling starts
        m->SetCheckState(b.Row(0x21), Qt::Checked, true);
        QVERIFY(b.w->Trend().StartRecording(path));
        QTest::qWait(1500);
        b.w->Trend().StopRecording();
        b.w->chPoll->setChecked(false);
        // A pass of two reads at most every 400 ms (as fast as the line allows, some
        // hundred reads would have gone by).
        const auto reads = b.w->Line().Stats.Take().Done - before;
        const auto passes = clock.elapsed() / 400 + 1;
        QVERIFY2(reads <= static_cast<unsigned long long>(2 * passes + 2),
                 qPrintable(QStringLiteral("%1 reads in %2 ms").arg(reads).arg(clock.elapsed())));
        QVERIFY(reads >= 2);

        const std::string text = Cp1251ToUtf8(ReadBytes(path.toStdString()));
        const std::string header =
            "Время;0x10 Температура подачи [°C];0x21 Уставка температуры подачи [°C]\r\n";
        QVERIFY2(text.rfind(header, 0) == 0, text.c_str());
        const std::string passesText = text.substr(header.size());
        QVERIFY2(passesText.find(";72.5;75\r\n") != std::string::npos, text.c_str());
        QCOMPARE(std::count(passesText.begin(), passesText.end(), ';'),
                 2 * std::count(passesText.begin(), passesText.end(), '\n'));
    }
};

int RunPollingTests(int argc, char** argv) {
    PollingTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_polling.moc"
