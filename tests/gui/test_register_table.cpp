// The register table: cell texts, colours and styles, heading rows, check boxes,
// the header box and service mode.
#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QTest>

#include "gui_support.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

// Three checkable rows (one ticked), a heading, a write-only row and a service row.
std::string TableDescription() {
    return Description(
        "    <REG header=\"Группа\" font=\"#00FF00\" bg=\"#FF0000\"/>\r\n"
        "    <REG addr=\"0\" type=\"UWord\" io=\"R\" "
        "poll=\"1\"><name>Скорость</name><units>бод</units>"
        "<desc>Скорость обмена</desc></REG>\r\n"
        "    <REG addr=\"0x1F4\" type=\"Byte\" io=\"RW\" font=\"#0000FF\" bg=\"#FFFFE0\">"
        "<units>мм</units><values><item value=\"0\" text=\"выкл\"/><item value=\"1\" "
        "text=\"вкл\"/></values></REG>\r\n"
        "    <REG addr=\"4096\" type=\"Float\" io=\"WOR\" prec=\"2\" "
        "defValue=\"1.5\"><name>Уставка</name></REG>\r\n"
        "    <REG addr=\"0xAB\" type=\"Word\" io=\"W\"><name>Команда</name></REG>\r\n"
        "    <REG addr=\"5\" type=\"Str\" io=\"RW\" admin=\"1\"><name>Сервис</name></REG>\r\n",
        "", "  <INTERFACE font=\"#101010\" selFont=\"#FFFF00\"/>\r\n");
}

struct Window {
    TempDir dir;
    std::unique_ptr<TfMain> w;
    Window() {
        WriteSignedDescription(dir, "NastrT.xml", TableDescription());
        TMainOptions o = OptionsFor(dir);
        w = std::make_unique<TfMain>(o);
    }
    TRegisterModel* M() const { return w->vstList->Model(); }
    QString Text(int row, int col) const { return M()->index(row, col).data().toString(); }
};

} // namespace

class RegisterTableTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearSettings(); }

    void modelPassesTheTester() {
        Window t;
        QAbstractItemModelTester tester(t.M(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        t.M()->SetSource(&t.w->Regs(), t.w->Dev().ErrorTexts.get());
        t.M()->RefreshRow(1);
        t.M()->SetCheckState(1, Qt::Unchecked, true);
        t.M()->SetSource(nullptr, nullptr);
    }

    void cellTexts() {
        Window t;
        QCOMPARE(t.M()->columnCount(), 4);
        QCOMPARE(t.M()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("Код"));
        QCOMPARE(t.M()->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("Параметр"));
        QCOMPARE(t.M()->headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("Значение"));
        QCOMPARE(t.Text(1, 1), QStringLiteral("0x00"));
        QCOMPARE(t.Text(2, 1), QStringLiteral("0x1F4"));
        QCOMPARE(t.Text(3, 1), QStringLiteral("0x1000"));
        QCOMPARE(t.Text(4, 1), QStringLiteral("0xAB"));
        QCOMPARE(t.Text(5, 1), QStringLiteral("0x05"));
        QCOMPARE(t.Text(1, 2), QStringLiteral("Скорость [бод]"));
        QCOMPARE(t.Text(2, 2), QStringLiteral(" [мм]"));
        QCOMPARE(t.Text(3, 2), QStringLiteral("Уставка"));
        QCOMPARE(t.Text(1, 0), QString());
        // A WOR register shows its default at once.
        QCOMPARE(t.Text(3, 3), QStringLiteral("1.50"));
        QCOMPARE(t.Text(1, 3), QString());
        QCOMPARE(t.M()->index(1, 2).data(Qt::ToolTipRole).toString(),
                 QStringLiteral("Скорость обмена"));
        QCOMPARE(t.w->vstList->horizontalHeader()->sectionSize(0), 30);
        QCOMPARE(t.w->vstList->horizontalHeader()->sectionSize(1), 70);
        QCOMPARE(t.w->vstList->horizontalHeader()->sectionSize(3), 200);
        QCOMPARE(t.w->vstList->verticalHeader()->defaultSectionSize(), 21);
    }

    void coloursAndStyles() {
        Window t;
        auto fg = [&](int r, int c) {
            return t.M()->index(r, c).data(Qt::ForegroundRole).value<QColor>();
        };
        auto font = [&](int r, int c) {
            return t.M()->index(r, c).data(Qt::FontRole).value<QFont>();
        };
        QCOMPARE(fg(1, 2), QColor(0x10, 0x10, 0x10)); // the table's text colour
        QCOMPARE(fg(2, 2), QColor(0, 0, 0xFF));       // its own colour
        QCOMPARE(t.M()->index(2, 1).data(Qt::BackgroundRole).value<QColor>(),
                 QColor(0xFF, 0xFF, 0xE0));
        QVERIFY(font(1, 2).italic()); // read only
        QVERIFY(!font(2, 2).italic());
        QVERIFY(!t.M()->index(2, 3).data(Qt::FontRole).isValid());
        TReg* reg = t.w->Regs().Items(2);
        reg->SetValue(TValue(int8_t{0}), true, "");
        reg->SetValue(TValue(int8_t{1}), false, "");
        QVERIFY(font(2, 3).bold()); // modified
        QCOMPARE(t.Text(2, 3), QStringLiteral("вкл"));
        // Device error 4 is shown in words, in red, even on a selected row.
        reg->SetValue(TValue::MakeNull(), true, std::string(1, '\x04'));
        QCOMPARE(t.Text(2, 3), QStringLiteral("отказано в чтении"));
        QCOMPARE(fg(2, 3), QColor(255, 0, 0));
        QVERIFY(t.M()->index(2, 3).data(TRegisterModel::DeviceErrorRole).toBool());
        reg->SetValue(TValue::MakeNull(), true, std::string(1, '\x03'));
        QCOMPARE(t.Text(2, 3), QString());
        QVERIFY(!t.M()->index(2, 3).data(TRegisterModel::DeviceErrorRole).toBool());
        QCOMPARE(t.w->vstList->SelectedTextColor(), QColor(0xFF, 0xFF, 0)); // #FFFF00
    }

    void headingRows() {
        Window t;
        const QModelIndex h = t.M()->index(0, 2);
        QVERIFY(h.data(TRegisterModel::HeadingRole).toBool());
        QCOMPARE(h.data().toString(), QStringLiteral("Группа"));
        QCOMPARE(t.M()->index(0, 0).data(TRegisterModel::HeadingTextRole).toString(),
                 QStringLiteral("Группа"));
        QVERIFY(!t.M()->index(0, 0).data(Qt::CheckStateRole).isValid());
        QVERIFY(!(t.M()->flags(t.M()->index(0, 3)) & Qt::ItemIsEditable));
        QVERIFY(!t.M()->index(0, 2).data(Qt::BackgroundRole).isValid()); // its own bg is ignored
        // Painted: the band is the grid-line colour across the row.
        t.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(t.w.get()));
        const QImage image = t.w->vstList->viewport()->grab().toImage();
        const int y = t.w->vstList->rowViewportPosition(0) + 3;
        QCOMPARE(QColor(image.pixel(5, y)), t.w->vstList->GridColor());
        QCOMPARE(QColor(image.pixel(t.w->vstList->viewport()->width() - 25, y)),
                 t.w->vstList->GridColor());
        // Reading it is never asked for: double click on a heading does nothing.
        t.w->vstList->setCurrentIndex(t.M()->index(0, 1));
        t.w->vstListDblClick();
        QCOMPARE(t.w->Regs().Items(0)->GetBusy(), false);
    }

    void checkBoxesAndHeaderBox() {
        Window t;
        TRegisterModel* m = t.M();
        QVERIFY(!m->HasCheckBox(0)); // heading
        QVERIFY(m->HasCheckBox(1));
        QVERIFY(!m->HasCheckBox(4));             // write only
        QCOMPARE(m->CheckableCount(), 4);        // rows 1, 2, 3 and the service row 5
        QCOMPARE(m->CheckState(1), Qt::Checked); // poll="1"
        QCOMPARE(m->HeaderState(), Qt::PartiallyChecked);
        // Three rows checked out of four: mixed; all four: checked.
        QVERIFY(!t.w->chPoll->isChecked());
        m->setData(m->index(2, 0), Qt::Checked, Qt::CheckStateRole);
        QVERIFY(t.w->chPoll->isChecked()); // ticking a row switches polling on
        QCOMPARE(m->HeaderState(), Qt::PartiallyChecked);
        m->setData(m->index(3, 0), Qt::Checked, Qt::CheckStateRole);
        QCOMPARE(m->HeaderState(), Qt::PartiallyChecked);
        m->setData(m->index(5, 0), Qt::Checked, Qt::CheckStateRole);
        QCOMPARE(m->HeaderState(), Qt::Checked);
        // The header box unchecks every row and leaves polling alone.
        t.w->vstListHeaderClick();
        QCOMPARE(m->HeaderState(), Qt::Unchecked);
        for (int r : {1, 2, 3, 5})
            QCOMPARE(m->CheckState(r), Qt::Unchecked);
        QVERIFY(t.w->chPoll->isChecked());
        t.w->vstListHeaderClick();
        for (int r : {1, 2, 3, 5})
            QCOMPARE(m->CheckState(r), Qt::Checked);
        // Unchecking every row leaves polling on and the header unchecked.
        for (int r : {1, 2, 3, 5})
            m->setData(m->index(r, 0), Qt::Unchecked, Qt::CheckStateRole);
        QCOMPARE(m->HeaderState(), Qt::Unchecked);
        QVERIFY(t.w->chPoll->isChecked());
        // Screen readers learn the header box's state from the model.
        QVERIFY(m->headerData(0, Qt::Horizontal, Qt::AccessibleTextRole)
                    .toString()
                    .contains(QStringLiteral("Опрос")));
    }

    void serviceModeWithF7() {
        Window t;
        t.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(t.w.get()));
        QVERIFY(t.w->vstList->isRowHidden(5));
        QVERIFY(!t.w->ServiceMode);
        t.w->eID->setFocus();
        QTest::keyClick(t.w->eID, Qt::Key_F7);
        QVERIFY(t.w->ServiceMode);
        QVERIFY(!t.w->vstList->isRowHidden(5));
        QTest::keyClick(t.w->vstList, Qt::Key_F7, Qt::ShiftModifier);
        QVERIFY(!t.w->ServiceMode);
        QVERIFY(t.w->vstList->isRowHidden(5));
        QVERIFY(!t.w->vstList->isRowHidden(1));
    }

    void hints() {
        Window t;
        QCOMPARE(t.w->vstList->HintTime(), 2500); // this description sets none
    }

    void accessibleCells() {
        Window t;
        t.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(t.w.get()));
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(t.w->vstList);
        QVERIFY(table);
        QAccessibleTableInterface* grid = table->tableInterface();
        QVERIFY(grid);
        QAccessibleInterface* cell = grid->cellAt(1, 2);
        QVERIFY(cell);
        QCOMPARE(cell->text(QAccessible::Name), QStringLiteral("Скорость [бод]"));
        QCOMPARE(grid->cellAt(0, 2)->text(QAccessible::Name), QStringLiteral("Группа"));
    }
};

int RunRegisterTableTests(int argc, char** argv) {
    RegisterTableTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_register_table.moc"
