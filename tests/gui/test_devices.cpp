// The window with the devices of a line: a set saved for another device goes into this
// one only when the engineer confirms it knowingly.
#include <QTest>

#include "gui_support.h"
#include "paramset/param_set.h"

using namespace tunavox;
using namespace tunavox::test;

class DevicesTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearSettings(); }

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
