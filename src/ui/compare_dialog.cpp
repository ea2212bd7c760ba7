#include "ui/compare_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "device/value_codec.h"

namespace tunavox {
namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

TCompareDialog::TCompareDialog(TParamRunner& runner, const TParamSet& set,
                               const QStringList& warnings, QWidget* parent)
    : QDialog(parent), runner_(runner) {
    setObjectName(QStringLiteral("CompareDialog"));
    setWindowTitle(QStringLiteral("Сравнение с файлом параметров"));
    resize(900, 520);
    auto* layout = new QVBoxLayout(this);

    QString header = QStringLiteral("Устройство: %1\nОписание: %2\nID: %3, протокол %4\n"
                                    "Сохранено: %5, программа %6")
                         .arg(Q(set.Device), Q(set.DescriptionFile))
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

    Table = new QTableWidget(0, 6, this);
    Table->setObjectName(QStringLiteral("CompareTable"));
    Table->setHorizontalHeaderLabels({QString(), QStringLiteral("Код"), QStringLiteral("Параметр"),
                                      QStringLiteral("В файле"), QStringLiteral("В устройстве"),
                                      QStringLiteral("Состояние")});
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
    layout->addWidget(Table, 1);
    connect(Table, &QTableWidget::itemChanged, this, [this] { TakeSelection(); });

    Progress = new QProgressBar(this);
    Progress->setObjectName(QStringLiteral("Progress"));
    Progress->hide();
    layout->addWidget(Progress);

    auto* buttons = new QHBoxLayout;
    chOnlyDiffs = new QCheckBox(QStringLiteral("Только различия"), this);
    chOnlyDiffs->setObjectName(QStringLiteral("chOnlyDiffs"));
    chOnlyDiffs->setChecked(true);
    connect(chOnlyDiffs, &QCheckBox::toggled, this, [this] { ApplyFilter(); });
    buttons->addWidget(chOnlyDiffs);
    buttons->addStretch();
    bWrite = new QPushButton(QStringLiteral("Записать выбранные"), this);
    bWrite->setObjectName(QStringLiteral("bWrite"));
    bCancel = new QPushButton(QStringLiteral("Отмена"), this);
    bCancel->setObjectName(QStringLiteral("bCancel"));
    bCancel->hide();
    bClose = new QPushButton(QStringLiteral("Закрыть"), this);
    bClose->setObjectName(QStringLiteral("bClose"));
    buttons->addWidget(bWrite);
    buttons->addWidget(bCancel);
    buttons->addWidget(bClose);
    layout->addLayout(buttons);
    connect(bWrite, &QPushButton::clicked, this, [this] { emit RestoreRequested(); });
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
        // Only a restorable row carries a box; its text says what the box means.
        if (row.Restorable) {
            check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            check->setCheckState(row.Selected ? Qt::Checked : Qt::Unchecked);
        } else {
            check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        }
        Table->setItem(r, 0, check);
        const QString texts[] = {Q(DeviceErrorKey(row.File.Addr)), Q(row.Name), Q(row.File.Shown),
                                 Q(row.DeviceText), Q(CompareStateText(row))};
        for (int c = 0; c < 5; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            if (c != 1)
                item->setTextAlignment(c == 0 ? Qt::AlignCenter : Qt::AlignVCenter | Qt::AlignLeft);
            Table->setItem(r, c + 1, item);
        }
        if (row.State != TCompareState::Same)
            Table->item(r, 5)->setForeground(row.State == TCompareState::Differs
                                                 ? QColor(0x10, 0x30, 0xC0)
                                                 : QColor(0xC0, 0, 0));
    }
    ApplyFilter();
}

void TCompareDialog::ApplyFilter() {
    for (int r = 0; r < Table->rowCount(); ++r)
        Table->setRowHidden(r,
                            chOnlyDiffs->isChecked() &&
                                runner_.Rows[static_cast<size_t>(r)].State == TCompareState::Same);
}

void TCompareDialog::TakeSelection() {
    for (int r = 0; r < Table->rowCount(); ++r) {
        TCompareRow& row = runner_.Rows[static_cast<size_t>(r)];
        if (row.Restorable) row.Selected = Table->item(r, 0)->checkState() == Qt::Checked;
    }
}

void TCompareDialog::SetBusy(bool busy) {
    bWrite->setEnabled(!busy);
    bClose->setEnabled(!busy);
    Table->setEnabled(!busy);
    bCancel->setVisible(busy);
    Progress->setVisible(busy);
}

void TCompareDialog::SetProgress(int done, int total) {
    Progress->setMaximum(std::max(total, 1));
    Progress->setValue(done);
}

} // namespace tunavox
