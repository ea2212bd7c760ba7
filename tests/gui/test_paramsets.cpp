// Parameter sets in the window: save, the comparison dialog, restore, and the
// File menu items that need an open port.
#include <QDir>
#include <QTest>

#include "device/value_codec.h"
#include "gui_support.h"
#include "protocol/register_protocol.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

bool RunnerDone(const TfMain& w) {
    return w.ParamRunner() && !w.ParamRunner()->Running();
}

// Writes a value straight into the simulated device, as if set on its panel.
void DeviceSets(TDeviceSimulator& sim, uint16_t addr, uint8_t type, const TValue& v) {
    std::string bytes;
    ValueToBytes(v, type, bytes);
    sim.Handle(BuildRequest(0, kCmdWrite, addr, bytes), false);
}

} // namespace

class ParamSetsTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearSettings(); }

    void needTheOpenPort() {
        Bench b;
        QCOMPARE(b.w->miSaveParams->text(), QStringLiteral("Сохранить параметры…"));
        QCOMPARE(b.w->miCompareParams->text(), QStringLiteral("Сравнить с файлом параметров…"));
        b.w->miSaveParams->trigger();
        QCOMPARE(b.w->StatusText->text(),
                 QStringLiteral(" Для работы с параметрами откройте COM-порт"));
        QVERIFY(!b.w->ParamRunner());
    }

    void saveCompareAndRestore() {
        Bench b;
        QVERIFY(b.ShowAndOpen());
        const QString path = QString::fromStdString(b.dir.File("buk.params"));
        b.w->SaveParameters(path);
        QTRY_VERIFY_WITH_TIMEOUT(RunnerDone(*b.w), 20000);
        QVERIFY2(b.w->StatusText->text().startsWith(QStringLiteral(" Параметры сохранены: ")),
                 qPrintable(b.w->StatusText->text() + QString::number(b.w->ParamRunner()->Done()) +
                            "/" + QString::number(b.w->ParamRunner()->Total())));
        TParamSet set;
        std::string error;
        QVERIFY2(ReadParamSetFile(path.toStdString(), set, error), error.c_str());
        QCOMPARE(set.DescriptionFile, std::string("NastrBUK2.xml"));
        QVERIFY(!set.Entries.empty());

        // The device's set-point changes; the comparison shows that row only.
        DeviceSets(*b.sim, 0x21, rtWord, TValue(int16_t{61}));
        b.w->CompareWithFile(path);
        QTRY_VERIFY_WITH_TIMEOUT(b.w->CompareDialog() != nullptr, 20000);
        TCompareDialog* d = b.w->CompareDialog();
        QCOMPARE(d->windowTitle(), QStringLiteral("Сравнение с файлом параметров"));
        QStringList headers;
        for (int c = 0; c < d->Table->columnCount(); ++c)
            headers << d->Table->horizontalHeaderItem(c)->text();
        QCOMPARE(headers,
                 QStringList({"", "Код", "Параметр", "В файле", "В устройстве", "Состояние"}));
        QVERIFY(d->chOnlyDiffs->isChecked());
        QStringList shown;
        for (int r = 0; r < d->Table->rowCount(); ++r)
            if (!d->Table->isRowHidden(r)) shown << d->Table->item(r, 1)->text();
        QCOMPARE(shown, QStringList({"0x21"}));
        const int row = [&] {
            for (int r = 0; r < d->Table->rowCount(); ++r)
                if (d->Table->item(r, 1)->text() == QStringLiteral("0x21")) return r;
            return -1;
        }();
        QCOMPARE(d->Table->item(row, 5)->text(), QStringLiteral("различается"));
        QCOMPARE(d->Table->item(row, 0)->checkState(), Qt::Checked);
        d->chOnlyDiffs->setChecked(false);
        QVERIFY(!d->Table->isRowHidden(0));
        const QString out = qEnvironmentVariable("TUNAVOX_SCREENSHOTS");
        if (!out.isEmpty()) {
            d->chOnlyDiffs->setChecked(true);
            QTest::qWait(200);
            QVERIFY(d->grab().save(out + QStringLiteral("/parameter-sets.png")));
        }

        QTest::mouseClick(d->bWrite, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(RunnerDone(*b.w), 20000);
        QCOMPARE(b.w->StatusText->text(), QStringLiteral(" Записано и подтверждено: 1 из 1"));
        QCOMPARE(d->Table->item(row, 5)->text(), QStringLiteral("совпадает"));
        QCOMPARE(b.sim->Value(0x21), TValue(int16_t{75}));
        d->close();
    }

    void aFailedRestoreIsListed() {
        Bench b;
        QVERIFY(b.ShowAndOpen());
        const QString path = QString::fromStdString(b.dir.File("buk.params"));
        b.w->SaveParameters(path);
        QTRY_VERIFY_WITH_TIMEOUT(RunnerDone(*b.w), 20000);
        DeviceSets(*b.sim, 0x21, rtWord, TValue(int16_t{61}));
        b.w->CompareWithFile(path);
        QTRY_VERIFY_WITH_TIMEOUT(b.w->CompareDialog() != nullptr, 20000);
        TSimFaults f;
        f.KeepValue.insert(0x21);
        b.sim->SetFaults(f);
        QString text;
        CaptureMessageBox(&text);
        QTest::mouseClick(b.w->CompareDialog()->bWrite, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!text.isEmpty(), 20000);
        QVERIFY2(text.startsWith(QStringLiteral("Записано и подтверждено: 0 из 1")),
                 qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("0x21 ")) &&
                     text.contains(QStringLiteral("значение не подтверждено")),
                 qPrintable(text));
        QCOMPARE(b.w->StatusText->text(), QStringLiteral(" Записано и подтверждено: 0 из 1"));
        // A new save while the dialog is open closes it (it belongs to the old runner).
        QPointer<TCompareDialog> dialog = b.w->CompareDialog();
        b.w->SaveParameters(QString::fromStdString(b.dir.File("again.params")));
        QVERIFY(dialog.isNull());
        QTRY_VERIFY_WITH_TIMEOUT(RunnerDone(*b.w), 20000);
    }
};

int RunParamSetsTests(int argc, char** argv) {
    ParamSetsTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_paramsets.moc"
