// The chart of the polled rows: samples and gaps in order, rows joining and
// leaving, hiding, the second axis, following, the crosshair, image and data.
#include <QAccessible>
#include <QLineEdit>
#include <QTest>
#include <qcustomplot.h>

#include "device/value_codec.h"
#include "gui_support.h"
#include "util/cp1251.h"

using namespace tunavox;
using namespace tunavox::test;

class ChartTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearSettings(); }

    void pollReadsReachTheChart() {
        TSimFaults f;
        f.ErrorCodes[0x11] = 4; // every read of 0x11 refused
        Bench b(f);
        QVERIFY(b.ShowAndOpen());
        QCOMPARE(b.w->Trend().miChart->iconText(),
                 QStringLiteral("График опрашиваемых параметров"));
        b.UntickAll();
        b.w->Trend().miChart->trigger();
        TChartWindow* chart = b.w->Trend().Chart();
        QVERIFY(chart && chart->isVisible());
        QCOMPARE(chart->windowTitle(), QStringLiteral("График"));
        QVERIFY(chart->chFollow->isChecked());
        TRegisterModel* m = b.w->vstList->Model();
        const int r10 = b.Row(0x10), r11 = b.Row(0x11), r03 = b.Row(0x03);
        m->SetCheckState(r10, Qt::Checked, true); // polling starts
        m->SetCheckState(r11, Qt::Checked, true);
        m->SetCheckState(r03, Qt::Checked, true); // a Str row: polled, not plotted
        QTRY_VERIFY_WITH_TIMEOUT(b.w->Line().Samples.Series(r11).size() >= 3, 10000);
        chart->Redraw();
        QCOMPARE(chart->lSeries->count(), 2);
        QCOMPARE(chart->lSeries->item(0)->text(), QStringLiteral("0x10 Температура подачи [°C]"));
        // Samples in time order; a refused read is a gap marked as a device error.
        const auto& s10 = b.w->Line().Samples.Series(r10);
        QVERIFY(std::is_sorted(s10.begin(), s10.end(),
                               [](const auto& a, const auto& c) { return a.TimeMs < c.TimeMs; }));
        QCOMPARE(s10.back().What, TSampleStore::Value);
        QCOMPARE(s10.back().Y, 72.5);
        QCOMPARE(b.w->Line().Samples.Series(r11).back().What, TSampleStore::DeviceError);
        QVERIFY(b.w->Line().Samples.Series(r03).empty());
        // The line of 0x10 holds values, that of 0x11 none but its error marks.
        QCPGraph* g10 = chart->Plot->graph(0);
        QCPGraph* g11 = chart->Plot->graph(2);
        QVERIFY(g10->data()->size() > 0);
        bool allGaps = true;
        for (auto it = g11->data()->constBegin(); it != g11->data()->constEnd(); ++it)
            allGaps = allGaps && std::isnan(it->value);
        QVERIFY(allGaps);
        QVERIFY(chart->Plot->graph(3)->data()->size() > 0);
        const auto [t0, t1] = chart->TimeRange();
        QVERIFY(s10.back().TimeMs <= t1 && s10.back().TimeMs >= t0); // following the newest
        QVERIFY(chart->CrosshairText(s10.back().TimeMs)
                    .contains(QStringLiteral("0x10 Температура подачи [°C]: 72.5")));
        QVERIFY(chart->CrosshairText(s10.back().TimeMs)
                    .contains(QStringLiteral("0x11 Температура обратки [°C]: ") +
                              QString::fromStdString(DeviceErrorText(4))));

        // The crosshair's values stand beside the names, the legend beside the plot.
        const QPointF centre(
            chart->Plot->xAxis->coordToPixel(
                static_cast<double>(b.w->Line().Samples.Series(r11).back().TimeMs) / 1000),
            chart->Plot->axisRect()->rect().center().y());
        QMouseEvent move(QEvent::MouseMove, centre, chart->Plot->mapToGlobal(centre), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(chart->Plot, &move);
        QVERIFY(chart->lSeries->item(0)->text().startsWith(
            QStringLiteral("0x10 Температура подачи [°C]: 72.5")));
        QVERIFY(chart->lSeries->item(1)->text().endsWith(
            QStringLiteral(": ") + QString::fromStdString(DeviceErrorText(4))));
        // The list is the legend on the screen: none under the plot, nothing cut short.
        QVERIFY(!chart->Plot->legend->visible());
        QCOMPARE(chart->lSeries->item(0)->toolTip(),
                 QStringLiteral("0x10 Температура подачи [°C]"));
        // Colours belong to rows: a row ticked before them changes none.
        const QColor c11 = chart->Plot->graph(2)->pen().color();
        m->SetCheckState(b.Row(0x02), Qt::Checked, false);
        m->SetCheckState(b.Row(0x24), Qt::Checked, false); // WOR: its poll writes, no line
        chart->Redraw();
        QCOMPARE(chart->lSeries->count(), 3);
        QCOMPARE(chart->Plot->graph(4)->pen().color(), c11);
        m->SetCheckState(b.Row(0x02), Qt::Unchecked, false);
        m->SetCheckState(b.Row(0x24), Qt::Unchecked, false);
        chart->Redraw();
        // A large counter beside temperatures goes to the right-hand axis by itself.
        m->SetCheckState(b.Row(0x14), Qt::Checked, false);
        QTRY_VERIFY_WITH_TIMEOUT(!b.w->Line().Samples.Series(b.Row(0x14)).empty(), 10000);
        chart->Redraw();
        // (a counter starts hidden, listed unticked, until the engineer shows it)
        QVERIFY(!chart->IsVisible(b.Row(0x14)));
        QCOMPARE(chart->lSeries->item(2)->checkState(), Qt::Unchecked);
        chart->lSeries->item(2)->setCheckState(Qt::Checked);
        QVERIFY(chart->IsVisible(b.Row(0x14)));
        QCOMPARE(chart->Plot->graph(4)->valueAxis(), chart->Plot->yAxis2);
        QCOMPARE(chart->Plot->graph(0)->valueAxis(), chart->Plot->yAxis);
        m->SetCheckState(b.Row(0x14), Qt::Unchecked, false);
        chart->Redraw();
        // The data export writes what the recording writes: the value as the table shows
        // it (prec, words), a refusal in words in both columns.
        const QString first = QString::fromStdString(b.dir.File("first.csv"));
        QString why;
        QVERIFY2(chart->ExportData(first, why), qPrintable(why));
        const std::string exported = Cp1251ToUtf8(ReadBytes(first.toStdString()));
        QVERIFY(exported.find(";0x10;Температура подачи [°C];" + b.Value(0x10).toStdString() +
                              ";\r\n") != std::string::npos);
        QVERIFY(exported.find(";0x11;Температура обратки [°C];" + DeviceErrorText(4) + ";" +
                              DeviceErrorText(4) + "\r\n") != std::string::npos);

        // Hidden, moved to the right axis; unticking removes the line at once. A screen
        // reader's Toggle on the list item does what the click does.
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(chart->lSeries);
        QVERIFY(list && list->childCount() == chart->lSeries->count());
        QAccessibleInterface* item = list->child(0);
        QVERIFY(item->state().checkable && item->state().checked);
        item->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(chart->lSeries->item(0)->checkState(), Qt::Unchecked);
        QVERIFY(!chart->IsVisible(r10));
        // The current item is focused only while the list has the keyboard.
        chart->activateWindow();
        chart->lSeries->setFocus();
        chart->lSeries->setCurrentRow(0);
        QTRY_VERIFY(item->state().focused);
        chart->chFollow->setFocus();
        QTRY_VERIFY(!chart->lSeries->hasFocus());
        QVERIFY(!item->state().focused);
        QVERIFY(!chart->Plot->graph(0)->visible());
        chart->SetVisible(r10, true);
        chart->SetRightAxis(r10, true);
        QCOMPARE(chart->Plot->graph(0)->valueAxis(), chart->Plot->yAxis2);
        QVERIFY(chart->Plot->yAxis2->visible());
        m->setData(m->index(r11, 0), Qt::Unchecked, Qt::CheckStateRole);
        chart->Redraw();
        QCOMPARE(chart->lSeries->count(), 1);

        // Enter on a line in the list moves it to the other axis, as a double click.
        chart->lSeries->setCurrentRow(0);
        QTest::keyClick(chart->lSeries, Qt::Key_Return);
        QCOMPARE(chart->Plot->graph(0)->valueAxis(), chart->Plot->yAxis);

        // Dragging pans and the wheel zooms the time axis; either stops following.
        const auto before = chart->TimeRange();
        const QPoint mid = chart->Plot->axisRect()->rect().center();
        QTest::mousePress(chart->Plot, Qt::LeftButton, {}, mid);
        QTest::mouseMove(chart->Plot, mid + QPoint(100, 0));
        QTest::mouseRelease(chart->Plot, Qt::LeftButton, {}, mid + QPoint(100, 0));
        QVERIFY(chart->TimeRange().first < before.first);
        QVERIFY(!chart->chFollow->isChecked());
        const auto panned = chart->TimeRange();
        QWheelEvent wheel(QPointF(mid), QPointF(chart->Plot->mapToGlobal(mid)), QPoint(),
                          QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(chart->Plot, &wheel);
        QVERIFY(chart->TimeRange().second - chart->TimeRange().first <
                panned.second - panned.first);
        chart->chFollow->setChecked(true);
        const QString png = QString::fromStdString(b.dir.File("chart.png"));
        QVERIFY(chart->SaveImage(png));
        QVERIFY(QImage(png).width() > 100);
        const QString csv = QString::fromStdString(b.dir.File("chart.csv"));
        QString error;
        QVERIFY2(chart->ExportData(csv, error), qPrintable(error));
        const std::string text = Cp1251ToUtf8(ReadBytes(csv.toStdString()));
        QVERIFY(text.rfind("Время;Код;Параметр;Значение;Ошибка\r\n", 0) == 0);
        QVERIFY(text.find(";0x10;Температура подачи [°C];72.5;\r\n") != std::string::npos);
        QVERIFY(text.find(";0x11;") == std::string::npos); // no longer on the chart
        b.w->chPoll->setChecked(false);
        const QString out = qEnvironmentVariable("TUNAVOX_SCREENSHOTS");
        if (!out.isEmpty()) {
            // A few drifting values for the picture.
            b.sim->SetAnimate(true);
            chart->SetRightAxis(r10, false);
            m->SetCheckState(b.Row(0x12), Qt::Checked, false);
            m->SetCheckState(b.Row(0x13), Qt::Checked, false);
            b.w->chPoll->setChecked(true);
            QTest::qWait(8000);
            b.w->chPoll->setChecked(false);
            // A chart opened afresh follows the newest samples over its own span.
            chart->close();
            QTRY_VERIFY(b.w->Trend().Chart() == nullptr);
            b.w->Trend().ShowChart();
            chart = b.w->Trend().Chart();
            chart->Redraw();
            QTest::qWait(300);
            QVERIFY(chart->grab().save(out + QStringLiteral("/trend.png")));
        }
    }

    void readsAsTheTableAndSavesAPictureForAReport() {
        Bench b;
        QVERIFY(b.ShowAndOpen());
        b.UntickAll();
        // Opened before polling: it says what to do.
        b.w->Trend().miChart->trigger();
        TChartWindow* chart = b.w->Trend().Chart();
        QVERIFY(chart);
        chart->Redraw();
        QCOMPARE(chart->lNote->text(), QStringLiteral("Отметьте параметры и включите опрос"));
        TRegisterModel* m = b.w->vstList->Model();
        for (uint16_t addr : {0x10, 0x20, 0x22})
            m->SetCheckState(b.Row(addr), Qt::Checked, true);
        QTRY_VERIFY_WITH_TIMEOUT(b.w->Line().Samples.Series(b.Row(0x22)).size() >= 2, 10000);
        chart->Redraw();
        QCOMPARE(chart->lNote->text(), QString());
        // Under the crosshair values read as in the table: decimals, states in words.
        const int64_t t = b.w->Line().Samples.Series(b.Row(0x22)).back().TimeMs;
        const QString text = chart->CrosshairText(t);
        QVERIFY2(text.contains(QStringLiteral("0x22 Гистерезис [°C]: ") + b.Value(0x22)),
                 qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("0x20 Режим работы: ") + b.Value(0x20)),
                 qPrintable(text));
        QCOMPARE(b.Value(0x22), QStringLiteral("0.50"));
        QVERIFY(!b.Value(0x20).front().isDigit());
        // The axis says its units.
        QCOMPARE(chart->Plot->yAxis->label(), QStringLiteral("°C"));

        // Each line in its own range: all of them within 0..100 %.
        chart->chNormalise->setChecked(true);
        QCOMPARE(chart->Plot->yAxis->range().lower, -5.0);
        QCOMPARE(chart->Plot->yAxis->range().upper, 105.0);
        for (int g = 0; g < chart->Plot->graphCount(); ++g)
            for (auto it = chart->Plot->graph(g)->data()->constBegin();
                 it != chart->Plot->graph(g)->data()->constEnd(); ++it)
                QVERIFY(std::isnan(it->value) || (it->value >= 0 && it->value <= 100));
        chart->chNormalise->setChecked(false);

        // The picture: a title over the plot, the crosshair left out; the note names the file.
        b.w->chPoll->setChecked(false);
        const QString png = QString::fromStdString(b.dir.File("report.png"));
        OnNextModal(
            [png](QWidget* dialog) {
                auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                if (!name) {
                    static_cast<QDialog*>(dialog)->reject(); // never left open: the test goes on
                    QFAIL("no file name box");
                }
                name->setText(png);
                static_cast<QDialog*>(dialog)->accept();
            },
            5000, "QFileDialog");
        chart->bSaveImage->click();
        QCOMPARE(chart->lNote->text(), QStringLiteral("Изображение сохранено: ") + png);
        const QImage picture(png);
        QVERIFY(!picture.isNull());
        // Laid out for its own size, whatever the window's: every legend entry whole,
        // units included.
        QVERIFY(picture.width() >= 1200 && picture.height() >= 800);
        QStringList names;
        for (int g = 0; g < chart->Plot->graphCount(); ++g)
            if (chart->Plot->graph(g)->visible() && chart->Plot->graph(g)->name().startsWith("0x"))
                names << chart->Plot->graph(g)->name();
        QVERIFY(!names.isEmpty());
        QCOMPARE(chart->ImageLegend(), names);
        QVERIFY2(chart->ImageLegend().join(QLatin1Char(' ')).contains(QStringLiteral("[°C]")),
                 qPrintable(chart->ImageLegend().join(QLatin1Char(' '))));
        const QImage screen = chart->Plot->toPixmap().toImage();
        // Same width, and the title and legend rows make the plot itself shorter: the
        // picture's first rows hold the title's dark text where the screen has none.
        const auto darkIn = [](const QImage& image, int rows) {
            int dark = 0;
            for (int y = 0; y < rows; ++y)
                for (int x = image.width() / 3; x < image.width() * 2 / 3; ++x)
                    dark += qGray(image.pixel(x, y)) < 128;
            return dark;
        };
        QVERIFY(darkIn(picture, 18) > 20);
        QCOMPARE(darkIn(screen, 18), 0);
        QVERIFY(!chart->Plot->legend->visible()); // the screen as it was
    }
};

int RunChartTests(int argc, char** argv) {
    ChartTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_chart.moc"
