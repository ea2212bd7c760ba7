// The in-place value editor.
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include "gui_support.h"
#include "ui/value_editor.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

std::string EditorDescription() {
    return Description(
        "    <REG addr=\"1\" type=\"Byte\" io=\"RW\" defValue=\"1\"><name>Режим</name>"
        "<values><item value=\"0\" text=\"выкл\"/><item value=\"1\" "
        "text=\"вкл\"/></values></REG>\r\n"
        "    <REG addr=\"2\" type=\"Word\" io=\"RW\"><name>Уставка</name></REG>\r\n"
        "    <REG addr=\"3\" type=\"Str\" io=\"RW\"><name>Объект</name></REG>\r\n"
        "    <REG addr=\"4\" type=\"Str\" io=\"RW\" pass=\"1\"><name>Пароль</name></REG>\r\n"
        "    <REG addr=\"5\" type=\"Word\" io=\"R\"><name>Только чтение</name></REG>\r\n"
        "    <REG addr=\"6\" type=\"UWord\" io=\"RW\" pass=\"1\"><name>Код</name></REG>\r\n");
}

struct Editing {
    TempDir dir;
    std::unique_ptr<TfMain> w;
    Editing() {
        WriteSignedDescription(dir, "NastrE.xml", EditorDescription());
        TMainOptions o = OptionsFor(dir);
        w = std::make_unique<TfMain>(o);
        w->show();
        if (!QTest::qWaitForWindowExposed(w.get())) qWarning("window not exposed");
        // Values as if read from the device.
        Reg(0)->SetValue(TValue(int8_t{1}), true, "");
        Reg(1)->SetValue(TValue(int16_t{10}), true, "");
        Reg(2)->SetValue(TValue(std::string("Котельная")), true, "");
        Reg(3)->SetValue(TValue(std::string("abc")), true, "");
        Reg(5)->SetValue(TValue(uint16_t{12345}), true, "");
    }
    TReg* Reg(int row) const { return w->Regs().Items(row); }
    QWidget* Select(int row) {
        const bool same = w->vstList->currentIndex().row() == row;
        w->vstList->setCurrentIndex(w->vstList->Model()->index(row, 1));
        if (same) w->vstListChange(row); // as a click on the selected row's value
        QTest::qWait(50);
        return w->vstList->OpenEditor();
    }
};

} // namespace

class EditorTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearSettings(); }

    void comboBoxWithNamedValues() {
        Editing e;
        auto* combo = qobject_cast<QComboBox*>(e.Select(0));
        QVERIFY(combo);
        QVERIFY(combo->isEditable());
        QCOMPARE(combo->currentText(), QStringLiteral("вкл"));
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(0), QStringLiteral("выкл"));
        combo->setCurrentIndex(0);
        QTest::keyClick(combo, Qt::Key_Return);
        QTRY_VERIFY(e.w->vstList->OpenEditor() == nullptr);
        QCOMPARE(e.Reg(0)->GetValue(), TValue(int8_t{0}));
        QVERIFY(e.Reg(0)->IsModified());
        QVERIFY(e.w->vstList->Model()->index(0, 3).data(Qt::FontRole).value<QFont>().bold());
        // Enter went on to the table, which queued the write (the port is closed, so it fails).
        QTRY_VERIFY(!e.w->StatusText->text().isEmpty());
        QCOMPARE(e.w->StatusText->text(), QStringLiteral(" COM-порт закрыт"));
        QTRY_VERIFY(!e.Reg(0)->GetBusy());

        // A typed number that names no value converts as it stands.
        combo = qobject_cast<QComboBox*>(e.Select(0));
        QVERIFY(combo);
        combo->setEditText(QStringLiteral("1"));
        QVERIFY(e.w->vstList->AcceptEditing());
        QCOMPARE(e.Reg(0)->GetValue(), TValue(int8_t{1}));
    }

    void theListOpensAtTheValueAndOneEnterTakesAnItem() {
        Editing e;
        auto* combo = qobject_cast<QComboBox*>(e.Select(0));
        QVERIFY(combo);
        QCOMPARE(combo->currentIndex(), 1); // "вкл", the current value
        combo->showPopup();
        QTRY_VERIFY(combo->view()->isVisible());
        QCOMPARE(combo->view()->currentIndex().row(), 1);
        QTest::keyClick(combo->view(), Qt::Key_Up);
        QTest::keyClick(combo->view(), Qt::Key_Return); // one Enter: taken and written
        QTRY_VERIFY(e.w->vstList->OpenEditor() == nullptr);
        QCOMPARE(e.Reg(0)->GetValue(), TValue(int8_t{0}));
        QTRY_COMPARE(e.w->StatusText->text(), QStringLiteral(" COM-порт закрыт"));
        QTRY_VERIFY(!e.Reg(0)->GetBusy());
    }

    void aLetterKeepsTheEditorOpen() {
        Editing e;
        auto* edit = qobject_cast<QLineEdit*>(e.Select(1));
        QVERIFY(edit);
        QCOMPARE(edit->text(), QStringLiteral("10"));
        edit->setText(QStringLiteral("1x"));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(e.w->vstList->OpenEditor(), edit); // still open
        QCOMPARE(e.Reg(1)->GetValue(), TValue(int16_t{10}));
        // Moving to another row is refused while the text is not taken.
        QTest::keyClick(edit, Qt::Key_Down);
        QTest::qWait(50);
        QCOMPARE(e.w->vstList->currentIndex().row(), 1);
        QTest::keyClick(edit, Qt::Key_Escape);
        QVERIFY(e.w->vstList->OpenEditor() == nullptr);
        QCOMPARE(e.w->vstList->Model()->index(1, 3).data().toString(), QStringLiteral("10"));
    }

    void emptyTexts() {
        Editing e;
        auto* edit = qobject_cast<QLineEdit*>(e.Select(1));
        edit->clear();
        QVERIFY(e.w->vstList->AcceptEditing());
        QCOMPARE(e.Reg(1)->GetValue(), TValue(int16_t{10})); // unchanged, nothing to write
        QVERIFY(!e.Reg(1)->IsModified());
        edit = qobject_cast<QLineEdit*>(e.Select(2));
        QCOMPARE(edit->text(), QStringLiteral("Котельная"));
        edit->clear();
        QVERIFY(e.w->vstList->AcceptEditing());
        QCOMPARE(e.Reg(2)->GetValue(), TValue(std::string()));
        QVERIFY(e.Reg(2)->IsModified());
    }

    void passwords() {
        Editing e;
        auto* edit = qobject_cast<QLineEdit*>(e.Select(3));
        QVERIFY(edit);
        QCOMPARE(edit->echoMode(), QLineEdit::Password);
        QCOMPARE(edit->text(), QStringLiteral("***"));
        QCOMPARE(edit->displayText(), QStringLiteral("***")); // asterisks, not bullets
        edit->setText(QStringLiteral("секрет"));
        QCOMPARE(edit->displayText(), QStringLiteral("******"));
        QTest::keyClick(edit, Qt::Key_Escape);
        // Another type with Pass: a plain edit box holding asterisks, which do not convert.
        edit = qobject_cast<QLineEdit*>(e.Select(5));
        QVERIFY(edit);
        QCOMPARE(edit->echoMode(), QLineEdit::Normal);
        QCOMPARE(edit->text(), QStringLiteral("*****"));
        QVERIFY(!e.w->vstList->AcceptEditing());
        QTest::keyClick(edit, Qt::Key_Escape);
    }

    void readOnlyRowsOpenNothing() {
        Editing e;
        QVERIFY(e.Select(4) == nullptr);
    }

    void upDownFollowAndDroppedListKeepsThem() {
        Editing e;
        QPointer<QComboBox> combo = qobject_cast<QComboBox*>(e.Select(0));
        QVERIFY(combo);
        // Shift+Down stays in the editor.
        QTest::keyClick(combo, Qt::Key_Down, Qt::ShiftModifier);
        QTest::qWait(50);
        QCOMPARE(e.w->vstList->currentIndex().row(), 0);
        QVERIFY(combo);
        QCOMPARE(e.w->vstList->OpenEditor(), combo.data());
        // With the list dropped down, Down moves within the list.
        combo->showPopup();
        QVERIFY(combo);
        QTRY_VERIFY(combo && combo->view()->isVisible());
        QTest::keyClick(combo->view(), Qt::Key_Down);
        QTest::qWait(50);
        QCOMPARE(e.w->vstList->currentIndex().row(), 0);
        combo->hidePopup();
        QTRY_VERIFY(!combo->view()->isVisible());
        // Closed: Down goes to the next row and the editor follows.
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down);
        QTRY_COMPARE(e.w->vstList->currentIndex().row(), 1);
        QTRY_VERIFY(qobject_cast<QLineEdit*>(e.w->vstList->OpenEditor()) != nullptr);
        QTest::keyClick(e.w->vstList->OpenEditor(), Qt::Key_Up);
        QTRY_COMPARE(e.w->vstList->currentIndex().row(), 0);
    }

    void clickingTheValueReopensTheEditor() {
        Editing e;
        QVERIFY(e.Select(1));
        QTest::keyClick(e.w->vstList->OpenEditor(), Qt::Key_Escape);
        QVERIFY(!e.w->vstList->OpenEditor());
        const QRect cell = e.w->vstList->visualRect(e.w->vstList->Model()->index(1, 3));
        QTest::mouseClick(e.w->vstList->viewport(), Qt::LeftButton, {}, cell.center());
        QTRY_VERIFY(e.w->vstList->OpenEditor() != nullptr);
        // The control reaches the right border of the value column.
        QCOMPARE(e.w->vstList->OpenEditor()->geometry().right(),
                 e.w->vstList->columnViewportPosition(3) + e.w->vstList->columnWidth(3) - 1);
        QVERIFY(cell.right() <= e.w->vstList->OpenEditor()->geometry().right());
    }
};

int RunEditorTests(int argc, char** argv) {
    EditorTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_editor.moc"
