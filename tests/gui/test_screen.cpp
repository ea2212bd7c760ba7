// Windows inside the screen and readable at their smallest.
#include <QGuiApplication>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>

#include "gui_support.h"
#include "paramset/set_compare.h"
#include "ui/chart_window.h"
#include "ui/file_dialogs.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

// The visible child widgets of strip overlap nowhere and stay inside it.
bool NothingOverlaps(const QWidget* strip, QString& why) {
    QList<const QWidget*> shown;
    for (const QObject* o : strip->children())
        if (auto* w = qobject_cast<const QWidget*>(o); w && w->isVisible()) shown << w;
    for (int i = 0; i < shown.size(); ++i) {
        if (!strip->rect().contains(shown[i]->geometry())) {
            why = shown[i]->objectName() + QStringLiteral(" leaves its strip");
            return false;
        }
        for (int j = i + 1; j < shown.size(); ++j)
            if (shown[i]->geometry().intersects(shown[j]->geometry())) {
                why =
                    shown[i]->objectName() + QStringLiteral(" overlaps ") + shown[j]->objectName();
                return false;
            }
    }
    return true;
}

} // namespace

class ScreenTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearSettings(); }

    void windowsOpenInsideTheScreenAndKeepTheirMinimum() {
        Bench b;
        QVERIFY(b.ShowAndOpen());
        const QRect area = b.w->screen()->availableGeometry();
        // The offscreen screen (800 × 600) is smaller than the chart's and the
        // journal's designed sizes, as a scaled laptop screen is.
        b.w->Trend().miChart->trigger();
        QVERIFY(b.w->Trend().Chart());
        QVERIFY(QTest::qWaitForWindowExposed(b.w->Trend().Chart()));
        QVERIFY2(area.contains(b.w->Trend().Chart()->frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3×%4")
                                .arg(b.w->Trend().Chart()->x())
                                .arg(b.w->Trend().Chart()->y())
                                .arg(b.w->Trend().Chart()->width())
                                .arg(b.w->Trend().Chart()->height())));
        b.w->LinkFace().ShowJournal();
        QVERIFY(b.w->LinkFace().JournalWindow());
        QVERIFY(QTest::qWaitForWindowExposed(b.w->LinkFace().JournalWindow()));
        QVERIFY(area.contains(b.w->LinkFace().JournalWindow()->frameGeometry()));
        // A window moved off the screen comes back when shown again.
        b.w->Trend().Chart()->hide();
        b.w->Trend().Chart()->move(area.right() - 50, area.bottom() - 50);
        b.w->Trend().ShowChart();
        QVERIFY(area.contains(b.w->Trend().Chart()->frameGeometry()));

        // The main window keeps the size at which its controls stay readable, and the
        // strips above and below the table keep their controls apart, service mode too.
        b.w->ToggleServiceMode();
        b.w->resize(300, 200);
        QTest::qWait(50);
        QVERIFY(b.w->width() >= 640 && b.w->height() >= 300);
        for (const QWidget* strip : {b.w->cbPort->parentWidget(), b.w->chPoll->parentWidget()}) {
            QString why;
            QVERIFY2(NothingOverlaps(strip, why), qPrintable(why));
        }
    }

    void everyWindowFitsTheScreen() {
        // Run once more on a 1280 × 720 screen at display scale 2 (ctest gui_scale2): 640 ×
        // 360 of room for the dialogs, the chart and the key list; what cannot shrink that
        // far scrolls.
        Bench b;
        QVERIFY(b.ShowAndOpen());
        const QRect area = b.w->screen()->availableGeometry();
        // The main window at its least width: its strips keep every caption whole, the poll
        // period taking a line of its own when there is no room beside the poll box.
        b.w->resize(640, 360);
        QTest::qWait(50);
        for (const QWidget* strip : {b.w->cbPort->parentWidget(), b.w->chPoll->parentWidget()}) {
            QString why;
            QVERIFY2(NothingOverlaps(strip, why), qPrintable(why));
            for (const QObject* o : strip->children())
                if (auto* w = qobject_cast<const QWidget*>(o); w && w->isVisible())
                    QVERIFY2(w->width() >= w->minimumSizeHint().width(),
                             qPrintable(w->objectName()));
        }
        QVERIFY(b.w->Trend().sePollPeriod->isVisible());
        b.w->resize(1000, 500);
        QTest::qWait(50);
        QCOMPARE(b.w->Trend().sePollPeriod->parentWidget()->parentWidget(),
                 b.w->chPoll->parentWidget());
        qInfo("available area %d×%d at scale %.1f", area.width(), area.height(),
              b.w->devicePixelRatioF());
        const auto fits = [&](QWidget* w) {
            const QRect f = w->frameGeometry();
            if (area.contains(f)) return true;
            qWarning("%s: %d,%d %d×%d", qPrintable(w->objectName()), f.x(), f.y(), f.width(),
                     f.height());
            return false;
        };
        b.w->hide();
        b.w->show(); // fitted to the screen as it is shown
        QVERIFY(QTest::qWaitForWindowExposed(b.w.get()));
        // The main window keeps its designed 640 × 300 minimum: its client area fits a
        // 640-wide screen, the window system's frame aside.
        QVERIFY2(area.contains(b.w->geometry()) || area.width() < 640 + 8,
                 qPrintable(QStringLiteral("%1×%2").arg(b.w->width()).arg(b.w->height())));
        QVERIFY(b.w->width() <= std::max(area.width(), 640));
        // A file dialog.
        bool dialogFits = false;
        OnNextModal(
            [&](QWidget* dialog) {
                QTest::qWait(50);
                dialogFits = fits(dialog);
                static_cast<QDialog*>(dialog)->reject();
            },
            5000, "QFileDialog");
        ChooseParamSetFile(b.w.get(), QStringLiteral("Открыть набор параметров"), "OpenSetDialog",
                           false);
        QVERIFY(dialogFits);
        // Two sets side by side.
        TParamSet a = FactorySet(b.w->Regs(), "БУК-2 (контроллер котельной)", "NastrBUK2.xml", "");
        a.Factory = false;
        std::string error;
        const std::string pa = b.dir.File("a.params");
        QVERIFY(WriteParamSetFile(pa, a, error));
        b.w->Sets().CompareTwoSets(QString::fromStdString(pa), QString::fromStdString(pa));
        QVERIFY(b.w->Sets().CompareDialog());
        QVERIFY(QTest::qWaitForWindowExposed(b.w->Sets().CompareDialog()));
        QVERIFY(fits(b.w->Sets().CompareDialog()));
        b.w->Sets().CompareDialog()->close();
        b.w->Trend().ShowChart();
        QVERIFY(QTest::qWaitForWindowExposed(b.w->Trend().Chart()));
        QVERIFY(fits(b.w->Trend().Chart()));
        // The chart's own file dialogs.
        for (QPushButton* button : {b.w->Trend().Chart()->bSaveImage, b.w->Trend().Chart()->bExport}) {
            bool chartDialogFits = false;
            OnNextModal(
                [&](QWidget* dialog) {
                    QTest::qWait(50);
                    chartDialogFits = fits(dialog);
                    static_cast<QDialog*>(dialog)->reject();
                },
                5000, "QFileDialog");
            button->click();
            QVERIFY2(chartDialogFits, qPrintable(button->text()));
        }
        b.w->Keys().ShowKeys();
        QVERIFY(QTest::qWaitForWindowExposed(b.w->Keys().KeysWindow()));
        QVERIFY(fits(b.w->Keys().KeysWindow()));
    }
};

int RunScreenTests(int argc, char** argv) {
    ScreenTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_screen.moc"
