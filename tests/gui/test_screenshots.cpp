// Pictures of the program for the documentation. Runs only when TUNAVOX_SCREENSHOTS
// names a folder: scripts/screenshots sets it.
#include <QDir>
#include <QTest>

#include "gui_support.h"
#include "link/open_port.h"
#include "sim/simulator.h"

using namespace tunavox;
using namespace tunavox::test;

class ScreenshotTest : public QObject {
    Q_OBJECT
private slots:
    void pictures() {
        const QString out = qEnvironmentVariable("TUNAVOX_SCREENSHOTS");
        if (out.isEmpty()) QSKIP("TUNAVOX_SCREENSHOTS is not set");
        QDir().mkpath(out);
        TempDir dir;
        CopySamples(dir, {QStringLiteral("NastrBUK2.xml"), QStringLiteral("fon_buk.bmp")});
        TRegList simRegs;
        TNameValueList errors;
        TDescription desc;
        QCOMPARE(
            LoadDescription(dir.File("NastrBUK2.xml"), simRegs, errors, desc, dir.Path() + "/"),
            std::string());
        TSimOptions o;
        o.Faults.ErrorCodes[0x14] = 4; // one register the device refuses to read
        TDeviceSimulator sim(simRegs, o);
        std::string error;
        const QString port = QString::fromStdString(sim.StartPty("", error));
        TMainOptions mo;
        mo.DescriptionsDir = QString::fromStdString(dir.Path());
        mo.Ports = QStringList{QStringLiteral("ttyS0"), QStringLiteral("ttyUSB0")};
        mo.ExtraPort = port;
        TfMain w(mo);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::qWait(200);
        QVERIFY(w.grab().save(out + QStringLiteral("/main-window.png")));

        // Open, poll the ticked rows plus the refused one, and read the rest once.
        w.vstList->Model()->SetCheckState(w.vstList->Model()->rowCount() - 1, Qt::Unchecked, false);
        for (int r = 0; r < w.Regs().Count(); ++r)
            if (w.Regs().Items(r)->Addr == 0x14)
                w.vstList->Model()->SetCheckState(r, Qt::Checked, true);
        w.bOpen->click();
        w.bReadAllClick();
        QTest::qWait(1500);
        w.vstList->setCurrentIndex(w.vstList->Model()->index(12, 1));
        QTest::qWait(300);
        QVERIFY(w.grab().save(out + QStringLiteral("/polling.png")));
        w.bOpen->click();
    }
};

int RunScreenshotTests(int argc, char** argv) {
    ScreenshotTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_screenshots.moc"
