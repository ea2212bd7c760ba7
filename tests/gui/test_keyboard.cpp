// The main window with the keyboard alone: every key goes to the focused control, as
// the system delivers it.
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QStyle>
#include <QTest>
#include <set>

#include "gui_support.h"
#include "util/cp1251.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

// A key as the user presses it: to whatever has the focus.
void Press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    if (!target) target = QApplication::activeWindow();
    QTest::keyClick(target, static_cast<Qt::Key>(key), mods);
}

// Types into whatever has the focus.
void Type(const QString& text) {
    QTest::keyClicks(QApplication::focusWidget(), text);
}

// Moves the table's current row with Up and Down until it is row.
bool GoToRow(Bench& b, int row) {
    for (int i = 0; i < 200 && b.w->vstList->currentIndex().row() != row; ++i) {
        Press(b.w->vstList->currentIndex().row() < row ? Qt::Key_Down : Qt::Key_Up);
        QApplication::processEvents();
    }
    return b.w->vstList->currentIndex().row() == row;
}

bool InTable(const Bench& b) {
    QWidget* f = QApplication::focusWidget();
    return f == b.w->vstList || b.w->vstList->isAncestorOf(f);
}

// Answers the next file dialog by typing the path and pressing Enter.
void TypeIntoNextFileDialog(const QString& path) {
    OnNextModal(
        [path](QWidget* w) {
            // The file name box has the focus when the dialog opens (a slow machine may
            // take a moment to give it). The dialog is never left open on a failure.
            const bool focused = QTest::qWaitFor(
                [w] {
                    return QApplication::focusWidget() &&
                           w->isAncestorOf(QApplication::focusWidget());
                },
                5000);
            auto* name = qobject_cast<QLineEdit*>(QApplication::focusWidget());
            if (!focused || !name || !w->isAncestorOf(name)) {
                static_cast<QDialog*>(w)->reject();
                QFAIL("the file name box has no focus");
            }
            name->selectAll();
            Type(path);
            // The completer's list may have opened over the box: Escape closes it first.
            if (QWidget* popup = QApplication::activePopupWidget())
                QTest::keyClick(popup, Qt::Key_Escape);
            Press(Qt::Key_Return);
        },
        5000, "QFileDialog");
}

} // namespace

class KeyboardTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearSettings(); }

    void menusHaveLettersAndKeysAreListed() {
        Bench b;
        b.w->show();
        QVERIFY(QTest::qWaitForWindowActive(b.w.get()));
        // Every menu and item has a letter of its own within its menu.
        std::function<void(const QList<QAction*>&)> check = [&](const QList<QAction*>& list) {
            std::set<QString> letters;
            for (const QAction* a : list) {
                if (a->isSeparator()) continue;
                const QString letter = QKeySequence::mnemonic(a->text()).toString();
                QVERIFY2(!letter.isEmpty(), qPrintable(a->text()));
                QVERIFY2(letters.insert(letter.toLower()).second, qPrintable(a->text()));
                if (a->menu()) check(a->menu()->actions());
            }
        };
        check(b.w->menuBar()->actions());
        QCOMPARE(b.w->Sets().miSaveParams->iconText(), QStringLiteral("Сохранить параметры…"));

        // F10, and Alt alone where the style leaves it to us, open the menu bar.
        b.w->vstList->setFocus();
        Press(Qt::Key_F10);
        QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
        QCOMPARE(b.w->menuBar()->activeAction(), b.w->menuBar()->actions().first());
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
        QTest::keyClick(QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                          : b.w->menuBar(),
                        Qt::Key_Escape);
        QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
        if (!b.w->style()->styleHint(QStyle::SH_MenuBar_AltKeyNavigation)) {
            b.w->vstList->setFocus();
            QTest::keyPress(b.w->vstList, Qt::Key_Alt, Qt::AltModifier);
            QTest::keyRelease(b.w->vstList, Qt::Key_Alt, Qt::AltModifier);
            QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
            QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
        }
        QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
        // F10, one Escape: the menu bar is left, and the next Alt or F10 opens it again.
        b.w->vstList->setFocus();
        Press(Qt::Key_F10);
        QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
        QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
        QTRY_VERIFY(b.w->menuBar()->activeAction() == nullptr);
        if (!b.w->style()->styleHint(QStyle::SH_MenuBar_AltKeyNavigation)) {
            QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : b.w.get();
            QTest::keyPress(focus, Qt::Key_Alt, Qt::AltModifier);
            QTest::keyRelease(focus, Qt::Key_Alt, Qt::AltModifier);
            QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
            QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
            QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
        }

        // F1 lists the keys in a window of their own, each command by its shortcut.
        // (The offscreen platform leaves a closed menu the active window; a desktop gives
        // the activation back to the window.)
        QApplication::setActiveWindow(b.w.get());
        b.w->vstList->setFocus();
        Press(Qt::Key_F1);
        QTRY_VERIFY(b.w->Keys().KeysWindow() && b.w->Keys().KeysWindow()->isVisible());
        QCOMPARE(b.w->Keys().KeysWindow()->windowTitle(), QStringLiteral("Сочетания клавиш"));
        const QString text = b.w->Keys()
                                 .KeysWindow()
                                 ->findChild<QPlainTextEdit*>(QStringLiteral("KeysText"))
                                 ->toPlainText();
        for (const char* line :
             {"F5 — Считать все", "F6 — Непрерывный опрос выбранных параметров",
              "F9 — Открыть или закрыть COM-порт", "Ctrl+S — Сохранить параметры…",
              "Ctrl+O — Открыть набор параметров…", "Ctrl+G — График опрашиваемых параметров",
              "F1 — Сочетания клавиш", "F10, Alt — меню"})
            QVERIFY2(text.contains(QString::fromUtf8(line)), qPrintable(text));
        b.w->Keys().KeysWindow()->close();

        // A period past the limit is answered with the limit, not cut to six digits.
        b.w->Trend().sePollPeriod->setFocus();
        b.w->Trend().sePollPeriod->selectAll();
        QTest::qWait(20);
        Type(QStringLiteral("3600001"));
        Press(Qt::Key_Return);
        QCOMPARE(b.w->Trend().sePollPeriod->value(), 3600000);
        QCOMPARE(b.w->StatusText->text(),
                 QStringLiteral(" Период опроса не больше 3600000 мс (1 ч): установлен 1 ч"));

        // The journal window's controls have their letters too.
        b.w->LinkFace().ShowJournal();
        QTRY_VERIFY(b.w->LinkFace().JournalWindow() &&
                    b.w->LinkFace().JournalWindow()->isVisible());
        for (QAbstractButton* button :
             b.w->LinkFace().JournalWindow()->findChildren<QAbstractButton*>())
            if (!button->text().isEmpty())
                QVERIFY2(!QKeySequence::mnemonic(button->text()).isEmpty(),
                         qPrintable(button->text()));
        b.w->LinkFace().JournalWindow()->close();
    }

    void tabLeavesTheTableAndTheLoopNeedsNoMouse() {
        Bench b;
        b.w->Dev().PollOnConnect = false;
        b.w->show();
        QVERIFY(QTest::qWaitForWindowActive(b.w.get()));
        b.UntickAll();

        // F9 opens the port, F5 reads every register, wherever the focus is.
        b.w->vstList->setFocus();
        Press(Qt::Key_F9);
        QVERIFY(b.w->PortOpen());
        Press(Qt::Key_F5);
        QTRY_COMPARE_WITH_TIMEOUT(b.Value(0x10), QStringLiteral("72.5"), 10000);

        // Tab and Shift+Tab leave the table, its editor open or not.
        QVERIFY(GoToRow(b, b.Row(0x21))); // a setting: its editor opens
        QTRY_VERIFY(b.w->vstList->OpenEditor() != nullptr);
        QVERIFY(InTable(b));
        Press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), b.w->chPoll);
        Press(Qt::Key_Backtab);
        QVERIFY(InTable(b));
        Press(Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), b.w->eID);
        Press(Qt::Key_Tab);
        QVERIFY(InTable(b));

        // Space ticks the current row; F6 polls the ticked ones and stops again.
        QVERIFY(GoToRow(b, b.Row(0x10)));
        Press(Qt::Key_Space);
        QCOMPARE(b.w->vstList->Model()->CheckState(b.Row(0x10)), Qt::Checked);
        QVERIFY(b.w->chPoll->isChecked()); // ticking a row starts polling
        Press(Qt::Key_F6);
        QVERIFY(!b.w->chPoll->isChecked());
        Press(Qt::Key_F6);
        QVERIFY(b.w->chPoll->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(b.w->Line().Samples.Series(b.Row(0x10)).size() >= 2, 10000);
        Press(Qt::Key_F6);
        QVERIFY(!b.w->chPoll->isChecked());

        // A value typed into the row's editor and Enter write it.
        QVERIFY(GoToRow(b, b.Row(0x21)));
        QTRY_VERIFY(b.w->vstList->OpenEditor() != nullptr);
        Press(Qt::Key_A, Qt::ControlModifier);
        Type(QStringLiteral("70"));
        Press(Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(b.w->StatusText->text(), QStringLiteral(" Параметр записан"),
                                  10000);
        QCOMPARE(b.sim->Value(0x21), TValue(int16_t{70}));

        // The edit box opens with its text selected: what is typed replaces the value.
        QVERIFY(GoToRow(b, b.Row(0x22))); // a real: "0.50"
        QTRY_VERIFY(b.w->vstList->OpenEditor() != nullptr);
        Type(QStringLiteral("1,5"));
        QCOMPARE(qobject_cast<QLineEdit*>(QApplication::focusWidget())->text(),
                 QStringLiteral("1,5"));
        Press(Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(b.sim->Value(0x22), TValue(1.5), 10000);
        // A text the register cannot take keeps the editor open and says why beside it.
        QVERIFY(GoToRow(b, b.Row(0x21)));
        QTRY_VERIFY(b.w->vstList->OpenEditor() != nullptr);
        Type(QStringLiteral("99999"));
        Press(Qt::Key_Return);
        QTest::qWait(100);
        QWidget* editor = b.w->vstList->OpenEditor();
        QVERIFY(editor && editor->isVisible());
        QCOMPARE(editor->toolTip(),
                 QStringLiteral("Значение не принято: допустимо от -32768 до 32767"));
        Press(Qt::Key_End);
        Press(Qt::Key_Backspace);
        Press(Qt::Key_Home);
        Press(Qt::Key_Delete); // the arrows and keys edit within the text: "999"
        QCOMPARE(qobject_cast<QLineEdit*>(QApplication::focusWidget())->text(),
                 QStringLiteral("999"));
        Press(Qt::Key_Escape);
        QTRY_VERIFY(b.w->vstList->OpenEditor() == nullptr);
        QCOMPARE(b.sim->Value(0x21), TValue(int16_t{70}));

        // Ctrl+S saves the set, Ctrl+D compares with it, Ctrl+G shows the chart.
        const QString set = QString::fromStdString(b.dir.File("keys.params"));
        TypeIntoNextFileDialog(set);
        Press(Qt::Key_S, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(set), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(
            b.w->Dev().ParamRunner == nullptr || !b.w->Dev().ParamRunner->Running(), 10000);
        QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
        // The window system gives the window back its activation after a dialog.
        b.w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(b.w.get()));
        TypeIntoNextFileDialog(set);
        Press(Qt::Key_D, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(
            b.w->Sets().CompareDialog() && b.w->Sets().CompareDialog()->isVisible(), 10000);
        QCOMPARE(b.w->Sets().CompareDialog()->Summary->text(),
                 QStringLiteral("Различий в настройках нет"));
        QTRY_VERIFY(QApplication::activeWindow() == b.w->Sets().CompareDialog());
        Press(Qt::Key_Escape);
        QTRY_VERIFY(!b.w->Sets().CompareDialog() || !b.w->Sets().CompareDialog()->isVisible());
        b.w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(b.w.get()));
        Press(Qt::Key_G, Qt::ControlModifier);
        QTRY_VERIFY(b.w->Trend().Chart() && b.w->Trend().Chart()->isVisible());
        // Escape closes the chart, as it closes the dialogs.
        QTest::keyClick(b.w->Trend().Chart(), Qt::Key_Escape);
        QTRY_VERIFY(!b.w->Trend().Chart() || !b.w->Trend().Chart()->isVisible());
    }
};

int RunKeyboardTests(int argc, char** argv) {
    KeyboardTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_keyboard.moc"
