#include "ui/journal_window.h"

#include "ui/file_dialogs.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/message_box.h"
#include "ui/screen_fit.h"
#include "util/file_io.h"

namespace tunavox {
namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// What was written first; where and through what after it.
const char* const kColumns[] = {"Время",         "Устройство", "Код",       "Параметр",
                                "Было",          "Записано",   "Результат", "Порт",
                                "Файл описания", "ID",         "Протокол"};

} // namespace

TJournalWindow::TJournalWindow(const QString& folder, QWidget* parent)
    : QDialog(parent), folder_(folder) {
    setObjectName(QStringLiteral("JournalWindow"));
    setWindowTitle(QStringLiteral("Журнал записей"));
    resize(980, 420);
    KeepOnScreen(this);
    auto* filters = new QHBoxLayout;
    auto* deviceLabel = new QLabel(QStringLiteral("Устройство:"), this);
    cbDevice = new QComboBox(this);
    cbDevice->setObjectName(QStringLiteral("cbDevice"));
    deviceLabel->setBuddy(cbDevice);
    auto* sinceLabel = new QLabel(QStringLiteral("С:"), this);
    eSince = new QDateEdit(this);
    eSince->setObjectName(QStringLiteral("eSince"));
    auto* untilLabel = new QLabel(QStringLiteral("По:"), this);
    eUntil = new QDateEdit(this);
    eUntil->setObjectName(QStringLiteral("eUntil"));
    sinceLabel->setBuddy(eSince);
    untilLabel->setBuddy(eUntil);
    for (QDateEdit* e : {eSince, eUntil}) {
        e->setCalendarPopup(true);
        e->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    }
    eSince->setDate(QDate::currentDate().addMonths(-1));
    eUntil->setDate(QDate::currentDate());
    bExport = new QPushButton(QStringLiteral("Экспорт в HTML…"), this);
    bExport->setObjectName(QStringLiteral("bExport"));
    auto* bClose = new QPushButton(QStringLiteral("Закрыть"), this);
    // Enter in the filters neither exports nor closes.
    bExport->setAutoDefault(false);
    bClose->setAutoDefault(false);
    for (QWidget* w : {static_cast<QWidget*>(deviceLabel), static_cast<QWidget*>(cbDevice),
                       static_cast<QWidget*>(sinceLabel), static_cast<QWidget*>(eSince),
                       static_cast<QWidget*>(untilLabel), static_cast<QWidget*>(eUntil)})
        filters->addWidget(w);
    filters->addStretch();
    filters->addWidget(bExport);
    filters->addWidget(bClose);
    Table = new QTableWidget(0, static_cast<int>(std::size(kColumns)), this);
    Table->setObjectName(QStringLiteral("JournalTable"));
    QStringList captions;
    for (const char* c : kColumns)
        captions << QString::fromUtf8(c);
    Table->setHorizontalHeaderLabels(captions);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->verticalHeader()->hide();
    Table->horizontalHeader()->setStretchLastSection(true);
    // Tab leaves the table for the next control.
    Table->setTabKeyNavigation(false);
    lCount = new QLabel(this);
    lCount->setObjectName(QStringLiteral("lCount"));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(Table, 1);
    layout->addWidget(lCount);
    connect(cbDevice, &QComboBox::currentIndexChanged, this, [this] { Fill(); });
    connect(eSince, &QDateEdit::dateChanged, this, [this] { Fill(); });
    connect(eUntil, &QDateEdit::dateChanged, this, [this] { Fill(); });
    connect(bExport, &QPushButton::clicked, this, [this] { ExportClick(); });
    connect(bClose, &QPushButton::clicked, this, &QDialog::close);
}

void TJournalWindow::Reload() {
    std::string error;
    all_.clear();
    if (PathKind(folder_.toStdString()) != TPathKind::Missing &&
        !ReadJournal(folder_.toStdString(), {}, all_, error))
        lCount->setText(QStringLiteral("Не удалось прочитать журнал: ") + Q(error));
    // The device list: every device the journal names, the chosen one kept.
    const QString chosen = cbDevice->currentIndex() > 0 ? cbDevice->currentText() : QString();
    QStringList devices;
    for (const TJournalEntry& e : all_)
        if (!devices.contains(Q(e.Device))) devices << Q(e.Device);
    devices.sort();
    {
        const QSignalBlocker quiet(cbDevice);
        cbDevice->clear();
        cbDevice->addItem(QStringLiteral("Все устройства"));
        cbDevice->addItems(devices);
        cbDevice->setCurrentIndex(std::max(0, cbDevice->findText(chosen)));
    }
    // A new entry of today stays in view.
    if (eUntil->date() < QDate::currentDate()) eUntil->setDate(QDate::currentDate());
    Fill();
    if (!error.empty()) lCount->setText(QStringLiteral("Не удалось прочитать журнал: ") + Q(error));
}

void TJournalWindow::Fill() {
    const std::string since = eSince->date().toString(Qt::ISODate).toStdString();
    const std::string until = eUntil->date().toString(Qt::ISODate).toStdString();
    const std::string device =
        cbDevice->currentIndex() > 0 ? cbDevice->currentText().toStdString() : std::string();
    shown_.clear();
    // Newest first.
    for (auto it = all_.rbegin(); it != all_.rend(); ++it) {
        const std::string day = it->Time.substr(0, 10);
        if (day < since || day > until || (!device.empty() && it->Device != device)) continue;
        shown_.push_back(*it);
    }
    Table->setRowCount(static_cast<int>(shown_.size()));
    for (int r = 0; r < static_cast<int>(shown_.size()); ++r) {
        const TJournalEntry& e = shown_[static_cast<size_t>(r)];
        const std::string fields[] = {e.Time,     e.Device,   e.Code,    e.Name,
                                      e.Before,   e.Written,  e.Outcome, e.Port,
                                      e.DescFile, e.DeviceId, e.Version};
        for (int c = 0; c < Table->columnCount(); ++c) {
            auto* item = new QTableWidgetItem(Q(fields[c]));
            item->setToolTip(item->text());
            Table->setItem(r, c, item);
        }
    }
    Table->resizeColumnsToContents();
    lCount->setText(QStringLiteral("Записей: %1 из %2. Папка журнала: %3")
                        .arg(shown_.size())
                        .arg(all_.size())
                        .arg(folder_));
    bExport->setEnabled(!shown_.empty());
}

bool TJournalWindow::ExportHtml(const QString& path, QString& error) const {
    const std::string title = "Журнал записей в устройства, " +
                              eSince->date().toString(QStringLiteral("dd.MM.yyyy")).toStdString() +
                              " — " +
                              eUntil->date().toString(QStringLiteral("dd.MM.yyyy")).toStdString();
    std::string why;
    if (WriteFileBytes(path.toStdString(), JournalHtml(shown_, title), why)) return true;
    error = Q(why);
    return false;
}

void TJournalWindow::ExportClick() {
    QFileDialog dialog(this, QStringLiteral("Экспорт журнала записей"));
    dialog.setObjectName(QStringLiteral("JournalExportDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    PrepareFileDialog(dialog);
    dialog.setNameFilters({QStringLiteral("Страница HTML (*.html)")});
    dialog.setDefaultSuffix(QStringLiteral("html"));
    dialog.selectFile(QStringLiteral("Журнал_записей.html"));
    if (dialog.exec() != QDialog::Accepted || ChosenFile(dialog).isEmpty()) return;
    QString error;
    const QString path = ChosenFile(dialog);
    if (!ExportHtml(path, error))
        ShowWarning(this, QStringLiteral("Не удалось записать файл %1: %2").arg(path, error));
}

} // namespace tunavox
