#include "ui/journal_window.h"

#include "ui/file_dialogs.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

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

constexpr int kColumnCount = static_cast<int>(std::size(kColumns));

} // namespace

int TJournalModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int TJournalModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant TJournalModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() ||
        (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::AccessibleTextRole))
        return {};
    const TJournalEntry& e = Shown(index.row());
    const std::string* fields[] = {&e.Time,   &e.Device,   &e.Code,     &e.Name,
                                   &e.Before, &e.Written,  &e.Outcome,  &e.Port,
                                   &e.DescFile, &e.DeviceId, &e.Version};
    return Q(*fields[index.column()]);
}

QVariant TJournalModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount ||
        (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return {};
    return QString::fromUtf8(kColumns[section]);
}

void TJournalModel::SetEntries(std::vector<TJournalEntry> all) {
    beginResetModel();
    all_ = std::move(all);
    shown_.clear();
    endResetModel();
}

void TJournalModel::Filter(const std::string& since, const std::string& until,
                           const std::string& device) {
    beginResetModel();
    shown_.clear();
    // Newest first.
    for (size_t i = all_.size(); i-- > 0;) {
        const TJournalEntry& e = all_[i];
        const std::string day = e.Time.substr(0, 10);
        if (day < since || day > until || (!device.empty() && e.Device != device)) continue;
        shown_.push_back(i);
    }
    endResetModel();
}

TJournalWindow::TJournalWindow(const QString& folder, QWidget* parent)
    : QDialog(parent), folder_(folder) {
    setObjectName(QStringLiteral("JournalWindow"));
    setWindowTitle(QStringLiteral("Журнал записей"));
    resize(980, 420);
    KeepOnScreen(this);
    auto* filters = new QHBoxLayout;
    auto* deviceLabel = new QLabel(QStringLiteral("&Устройство:"), this);
    cbDevice = new QComboBox(this);
    cbDevice->setObjectName(QStringLiteral("cbDevice"));
    deviceLabel->setBuddy(cbDevice);
    auto* sinceLabel = new QLabel(QStringLiteral("&С:"), this);
    eSince = new QDateEdit(this);
    eSince->setObjectName(QStringLiteral("eSince"));
    auto* untilLabel = new QLabel(QStringLiteral("&По:"), this);
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
    bExport = new QPushButton(QStringLiteral("&Экспорт в HTML…"), this);
    bExport->setObjectName(QStringLiteral("bExport"));
    auto* bClose = new QPushButton(QStringLiteral("&Закрыть"), this);
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
    Table = new QTableView(this);
    Table->setObjectName(QStringLiteral("JournalTable"));
    model_ = new TJournalModel(this);
    Table->setModel(model_);
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

TJournalWindow::~TJournalWindow() {
    StopReading();
}

void TJournalWindow::StopReading() {
    if (stop_) stop_->store(true);
    if (reader_.joinable()) reader_.join();
    reading_ = false;
}

void TJournalWindow::Reload() {
    // A newer read replaces one still running.
    StopReading();
    stop_ = std::make_shared<std::atomic<bool>>(false);
    reading_ = true;
    const int generation = ++generation_;
    lCount->setText(QStringLiteral("Чтение журнала… Папка журнала: %1").arg(folder_));
    const std::string folder = folder_.toStdString();
    reader_ = std::thread([this, folder, generation, stop = stop_] {
        std::vector<TJournalEntry> entries;
        std::string error;
        if (PathKind(folder) != TPathKind::Missing &&
            !ReadJournal(folder, {}, entries, error, stop.get()) && error.empty())
            return; // stopped: a newer read or the window's end takes over
        // Handed to the window's thread; the window joins this thread before it goes.
        QMetaObject::invokeMethod(
            this,
            [this, generation, entries = std::move(entries), error]() mutable {
                // A read that finished just as a newer one began is not shown.
                if (generation == generation_) Loaded(std::move(entries), error);
            },
            Qt::QueuedConnection);
    });
}

void TJournalWindow::Loaded(std::vector<TJournalEntry> entries, const std::string& error) {
    if (reader_.joinable()) reader_.join();
    reading_ = false;
    readError_ = error;
    model_->SetEntries(std::move(entries));
    // The device list: every device the journal names, the chosen one kept.
    const QString chosen = cbDevice->currentIndex() > 0 ? cbDevice->currentText() : QString();
    QStringList devices;
    std::set<std::string> seen;
    for (const TJournalEntry& e : model_->All())
        if (seen.insert(e.Device).second) devices << Q(e.Device);
    devices.sort();
    {
        const QSignalBlocker quiet(cbDevice);
        cbDevice->clear();
        cbDevice->addItem(QStringLiteral("Все устройства"));
        cbDevice->addItems(devices);
        cbDevice->setCurrentIndex(std::max(0, cbDevice->findText(chosen)));
    }
    // A new entry of today stays in view.
    if (eUntil->date() < QDate::currentDate()) {
        const QSignalBlocker quiet(eUntil);
        eUntil->setDate(QDate::currentDate());
    }
    Fill();
}

void TJournalWindow::Fill() {
    if (reading_) return; // the read in progress fills the table when done
    const std::string since = eSince->date().toString(Qt::ISODate).toStdString();
    const std::string until = eUntil->date().toString(Qt::ISODate).toStdString();
    const std::string device =
        cbDevice->currentIndex() > 0 ? cbDevice->currentText().toStdString() : std::string();
    model_->Filter(since, until, device);
    // Columns sized by their caption and the first rows: measuring every row of a large
    // journal would take seconds.
    const QFontMetrics metrics(Table->font());
    for (int c = 0; c < kColumnCount; ++c) {
        int width = metrics.horizontalAdvance(QString::fromUtf8(kColumns[c])) + 24;
        for (int r = 0; r < std::min(model_->rowCount(), 200); ++r)
            width = std::max(width, metrics.horizontalAdvance(
                                        model_->index(r, c).data().toString()) + 12);
        Table->setColumnWidth(c, std::min(width, 420));
    }
    lCount->setText(readError_.empty()
                        ? QStringLiteral("Записей: %1 из %2. Папка журнала: %3")
                              .arg(model_->rowCount())
                              .arg(model_->All().size())
                              .arg(folder_)
                        : QStringLiteral("Не удалось прочитать журнал: ") + Q(readError_));
    bExport->setEnabled(model_->rowCount() > 0);
}

std::vector<TJournalEntry> TJournalWindow::Shown() const {
    std::vector<TJournalEntry> out;
    out.reserve(static_cast<size_t>(model_->rowCount()));
    for (int r = 0; r < model_->rowCount(); ++r)
        out.push_back(model_->Shown(r));
    return out;
}

bool TJournalWindow::ExportHtml(const QString& path, QString& error) const {
    const std::string title = "Журнал записей в устройства, " +
                              eSince->date().toString(QStringLiteral("dd.MM.yyyy")).toStdString() +
                              " — " +
                              eUntil->date().toString(QStringLiteral("dd.MM.yyyy")).toStdString();
    std::string why;
    if (WriteFileBytes(path.toStdString(), JournalHtml(Shown(), title), why)) return true;
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
