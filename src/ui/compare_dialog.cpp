#include "ui/compare_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QVBoxLayout>
#include <algorithm>

#include "device/value_codec.h"
#include "ui/message_box.h"
#include "ui/screen_fit.h"
#include "util/plural.h"

namespace tunavox {
namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The most rows a confirmation lists by name.
constexpr int kListedInConfirmation = 25;

QPushButton* Button(const QString& text, const char* name, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    // Enter in the dialog presses none of them.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

} // namespace

TCompareDialog::TCompareDialog(TParamRunner& runner, const TParamSet& set, const QString& path,
                               const QStringList& warnings, QWidget* parent)
    : QDialog(parent), runner_(runner) {
    setObjectName(QStringLiteral("CompareDialog"));
    setWindowTitle(set.Factory ? QStringLiteral("Сравнение с заводскими значениями")
                               : QStringLiteral("Сравнение с файлом параметров"));
    resize(900, 520);
    KeepOnScreen(this);
    auto* layout = new QVBoxLayout(this);

    QString header =
        set.Factory ? QStringLiteral("Заводские значения описания %1\nУстройство: %2")
                          .arg(Q(set.DescriptionFile), Q(set.Device))
                    : QStringLiteral("Файл: %1\nУстройство: %2\nОписание: %3\nID: %4, протокол %5\n"
                                     "Сохранено: %6, программа %7")
                          .arg(path, Q(set.Device), Q(set.DescriptionFile))
                          .arg(set.DeviceId)
                          .arg(set.Protocol == 0 ? QStringLiteral("1.0") : QStringLiteral("2.0"),
                               Q(set.Saved), Q(set.Program));
    Header = new QLabel(header, this);
    Header->setObjectName(QStringLiteral("Header"));
    Header->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(Header);
    if (!warnings.isEmpty()) {
        auto* warning = new QLabel(warnings.join(QLatin1Char('\n')), this);
        warning->setObjectName(QStringLiteral("Warning"));
        warning->setStyleSheet(QStringLiteral("color: #C00000; font-weight: bold"));
        layout->addWidget(warning);
    }
    Summary = new QLabel(this);
    Summary->setObjectName(QStringLiteral("Summary"));
    Summary->setStyleSheet(QStringLiteral("font-weight: bold"));
    layout->addWidget(Summary);

    Table = new QTableWidget(0, 6, this);
    Table->setObjectName(QStringLiteral("CompareTable"));
    Table->setHorizontalHeaderLabels(
        {QString(), QStringLiteral("Код"), QStringLiteral("Параметр"),
         set.Factory ? QStringLiteral("Заводское значение") : QStringLiteral("В файле"),
         QStringLiteral("В устройстве"), QStringLiteral("Состояние")});
    Table->verticalHeader()->hide();
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    Table->setColumnWidth(0, 30);
    Table->setColumnWidth(1, 70);
    Table->setColumnWidth(3, 140);
    Table->setColumnWidth(4, 140);
    Table->setColumnWidth(5, 160);
    Table->verticalHeader()->setDefaultSectionSize(21);
    Table->installEventFilter(this);
    layout->addWidget(Table, 1);
    NoDifference = new QLabel(QStringLiteral("Различий нет"), this);
    NoDifference->setObjectName(QStringLiteral("NoDifference"));
    NoDifference->setAlignment(Qt::AlignCenter);
    NoDifference->setStyleSheet(QStringLiteral("font-size: 14pt"));
    layout->addWidget(NoDifference, 1);
    connect(Table, &QTableWidget::itemChanged, this, [this] { TakeSelection(); });

    // Progress and its "Отмена" have a row of their own, away from "Записать выбранные".
    auto* busyRow = new QHBoxLayout;
    Progress = new QProgressBar(this);
    Progress->setObjectName(QStringLiteral("Progress"));
    Progress->hide();
    busyRow->addWidget(Progress, 1);
    bCancel = Button(QStringLiteral("Отмена"), "bCancel", this);
    bCancel->hide();
    busyRow->addWidget(bCancel);
    layout->addLayout(busyRow);

    auto* buttons = new QHBoxLayout;
    chOnlyDiffs = new QCheckBox(QStringLiteral("Только различия"), this);
    chOnlyDiffs->setObjectName(QStringLiteral("chOnlyDiffs"));
    chOnlyDiffs->setChecked(true);
    connect(chOnlyDiffs, &QCheckBox::toggled, this, [this] { ApplyFilter(); });
    buttons->addWidget(chOnlyDiffs);
    // Measurements and identity differ on every running device: apart, on request.
    chReadOnly = new QCheckBox(this);
    chReadOnly->setObjectName(QStringLiteral("chReadOnly"));
    connect(chReadOnly, &QCheckBox::toggled, this, [this] { ApplyFilter(); });
    buttons->addWidget(chReadOnly);
    buttons->addStretch();
    bWrite = Button(QStringLiteral("Записать выбранные"), "bWrite", this);
    bClose = Button(QStringLiteral("Закрыть"), "bClose", this);
    buttons->addWidget(bWrite);
    buttons->addWidget(bClose);
    layout->addLayout(buttons);
    connect(bWrite, &QPushButton::clicked, this, [this] {
        if (!busy_) emit RestoreRequested();
    });
    connect(bCancel, &QPushButton::clicked, this, [this] { emit CancelRequested(); });
    connect(bClose, &QPushButton::clicked, this, &QDialog::close);
    Refresh();
}

void TCompareDialog::Refresh() {
    const QSignalBlocker quiet(Table);
    const auto& rows = runner_.Rows;
    Table->setRowCount(static_cast<int>(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i) {
        const TCompareRow& row = rows[i];
        const int r = static_cast<int>(i);
        auto* check = new QTableWidgetItem;
        // Only a restorable row carries a box.
        if (row.Restorable) {
            check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            check->setCheckState(row.Selected ? Qt::Checked : Qt::Unchecked);
        } else {
            check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        }
        Table->setItem(r, 0, check);
        const QString texts[] = {Q(DeviceErrorKey(row.File.Addr)), Q(row.Name), Q(row.FileText),
                                 Q(row.DeviceText), Q(CompareStateText(row))};
        const bool differs = row.State == TCompareState::Differs;
        for (int c = 0; c < 5; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            item->setToolTip(texts[c]); // the whole text of an elided cell
            if (c != 1)
                item->setTextAlignment(c == 0 ? Qt::AlignCenter : Qt::AlignVCenter | Qt::AlignLeft);
            if (differs && (c == 2 || c == 3)) item->setBackground(QColor(0xFF, 0xE8, 0xA8));
            Table->setItem(r, c + 1, item);
        }
        if (row.State != TCompareState::Same)
            Table->item(r, 5)->setForeground(differs ? QColor(0x10, 0x30, 0xC0)
                                                     : QColor(0xC0, 0, 0));
    }
    ApplyFilter();
}

bool TCompareDialog::Visible(size_t row) const {
    const TCompareRow& r = runner_.Rows[row];
    if (r.Service && !serviceMode_) return false;
    if (!r.Setting && !chReadOnly->isChecked()) return false;
    // A row with nothing to compare with (no factory value) is no difference either.
    return !(chOnlyDiffs->isChecked() &&
             (r.State == TCompareState::Same || r.State == TCompareState::NoFactoryValue));
}

void TCompareDialog::ApplyFilter() {
    int shown = 0;
    for (int r = 0; r < Table->rowCount(); ++r) {
        const bool visible = Visible(static_cast<size_t>(r));
        Table->setRowHidden(r, !visible);
        shown += visible ? 1 : 0;
    }
    // The comparison's counts, as the command line gives them: not the view's.
    const TCompareCounts counts = CountComparison(runner_.Rows);
    const auto hiddenDifferences =
        std::count_if(runner_.Rows.begin(), runner_.Rows.end(), [this](const TCompareRow& r) {
            return r.Service && !serviceMode_ && CountsAsDifference(r);
        });
    Summary->setText(Q(SettingsDifferenceText(counts.Differing, counts.Settings, counts.Mismatched)) +
                     (hiddenDifferences > 0
                          ? QStringLiteral(" (служебных: %1, показать — F7)").arg(hiddenDifferences)
                          : QString()));
    chReadOnly->setText(QStringLiteral("Параметры только для чтения (%1, различаются: %2)")
                            .arg(counts.ReadOnly)
                            .arg(counts.ReadOnlyDiffering));
    chReadOnly->setVisible(counts.ReadOnly > 0);
    Table->setVisible(shown > 0);
    NoDifference->setVisible(shown == 0);
    UpdateButtons();
}

void TCompareDialog::SetServiceMode(bool on) {
    serviceMode_ = on;
    ApplyFilter();
}

void TCompareDialog::TakeSelection() {
    for (int r = 0; r < Table->rowCount(); ++r) {
        TCompareRow& row = runner_.Rows[static_cast<size_t>(r)];
        if (row.Restorable) row.Selected = Table->item(r, 0)->checkState() == Qt::Checked;
    }
    UpdateButtons();
}

int TCompareDialog::TickedCount() const {
    int n = 0;
    for (size_t i = 0; i < runner_.Rows.size(); ++i)
        n += runner_.Rows[i].Restorable && runner_.Rows[i].Selected && Visible(i) ? 1 : 0;
    return n;
}

void TCompareDialog::UpdateButtons() {
    bWrite->setEnabled(!busy_ && TickedCount() > 0);
}

bool TCompareDialog::ConfirmWrite() {
    QStringList names;
    int count = 0;
    for (size_t i = 0; i < runner_.Rows.size(); ++i) {
        TCompareRow& row = runner_.Rows[i];
        // A ticked row out of sight is not written.
        row.Selected = row.Restorable && row.Selected && Visible(i);
        if (!row.Selected) continue;
        // What goes where: into a device the file's value, into a file the other side's.
        if (++count <= kListedInConfirmation)
            names << QStringLiteral("%1 %2: %3")
                         .arg(Q(DeviceErrorKey(row.File.Addr)), Q(row.Name),
                              Q(fileTarget_ ? row.DeviceText : row.FileText));
    }
    if (count == 0) return false;
    if (count > kListedInConfirmation)
        names << QStringLiteral("… и ещё %1").arg(count - kListedInConfirmation);
    // Another device's set goes into this one only when the engineer says so knowingly.
    const QString other =
        otherDevice_.isEmpty()
            ? QString()
            : QStringLiteral("Набор сохранён для другого устройства: %1\n\n").arg(otherDevice_);
    return MessageBoxWithCaptions(
               this,
               other +
                   QStringLiteral("Записать %1 %2?\n\n").arg(Q(ParametersText(count)), target_) +
                   names.join(QLatin1Char('\n')),
               QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
               {other.isEmpty() ? QStringLiteral("Записать")
                                : QStringLiteral("Записать в это устройство"),
                QStringLiteral("Отмена")},
               QMessageBox::No) == QMessageBox::Yes;
}

void TCompareDialog::SetFileTarget(const QString& firstName, const QString& secondName,
                                   bool factory) {
    setWindowTitle(factory ? QStringLiteral("Сравнение с заводскими значениями")
                           : QStringLiteral("Сравнение двух наборов параметров"));
    fileTarget_ = true;
    Table->horizontalHeaderItem(3)->setText(firstName);
    Table->horizontalHeaderItem(4)->setText(secondName);
    bWrite->setText(QStringLiteral("Записать в файл"));
    target_ = QStringLiteral("в файл ") + firstName;
}

bool TCompareDialog::eventFilter(QObject* watched, QEvent* event) {
    // Space ticks the focused row whichever of its cells has the focus.
    if (watched == Table && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space &&
        static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
        const int r = Table->currentRow();
        QTableWidgetItem* check = r >= 0 ? Table->item(r, 0) : nullptr;
        if (check && (check->flags() & Qt::ItemIsUserCheckable) && !busy_)
            check->setCheckState(check->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TCompareDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F7) {
        emit ServiceModeRequested();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TCompareDialog::reject() {
    // Escape or the window's close button while writing: the write goes on.
    if (!busy_) QDialog::reject();
}

void TCompareDialog::SetBusy(bool busy) {
    busy_ = busy;
    bClose->setEnabled(!busy);
    Table->setEnabled(!busy);
    chOnlyDiffs->setEnabled(!busy);
    bCancel->setVisible(busy);
    Progress->setVisible(busy);
    UpdateButtons();
}

void TCompareDialog::SetProgress(int done, int total) {
    Progress->setMaximum(std::max(total, 1));
    Progress->setValue(done);
}

} // namespace tunavox
