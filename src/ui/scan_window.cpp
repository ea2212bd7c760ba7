#include "ui/scan_window.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>
#include <climits>

#include "ui/screen_fit.h"

namespace tunavox {
namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

TScanWindow::TScanWindow(QWidget* parent, const QStringList& ports, const QString& current,
                         std::vector<TScanType> types, const std::vector<std::string>& problems,
                         TScanRunner::Queue queue, bool logging)
    : QDialog(parent), types_(std::move(types)), queue_(std::move(queue)), logging_(logging) {
    setObjectName(QStringLiteral("ScanWindow"));
    setWindowTitle(QStringLiteral("Поиск устройств"));
    auto* layout = new QVBoxLayout(this);
    auto* choices = new QHBoxLayout;
    lPorts = new QListWidget(this);
    lPorts->setObjectName(QStringLiteral("lPorts"));
    lPorts->setAccessibleName(QStringLiteral("COM-порты"));
    for (const QString& port : ports) {
        auto* item = new QListWidgetItem(port, lPorts);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(port == current ? Qt::Checked : Qt::Unchecked);
    }
    lPorts->setMaximumHeight(120);
    auto* portBox = new QVBoxLayout;
    portBox->addWidget(new QLabel(QStringLiteral("COM-порты"), this));
    portBox->addWidget(lPorts);
    choices->addLayout(portBox, 1);

    auto* form = new QFormLayout;
    auto* range = new QHBoxLayout;
    seFirstId = new QSpinBox(this);
    seLastId = new QSpinBox(this);
    seFirstId->setObjectName(QStringLiteral("seFirstId"));
    seLastId->setObjectName(QStringLiteral("seLastId"));
    seFirstId->setAccessibleName(QStringLiteral("ID с"));
    seLastId->setAccessibleName(QStringLiteral("ID по"));
    for (QSpinBox* box : {seFirstId, seLastId})
        box->setRange(1, INT_MAX);
    seFirstId->setValue(1);
    seLastId->setValue(255);
    range->addWidget(seFirstId);
    range->addWidget(new QLabel(QStringLiteral("—"), this));
    range->addWidget(seLastId);
    form->addRow(QStringLiteral("ID устройств"), range);
    cbVersions = new QComboBox(this);
    cbVersions->setObjectName(QStringLiteral("cbVersions"));
    cbVersions->addItems(
        {QStringLiteral("2.0, затем 1.0"), QStringLiteral("2.0"), QStringLiteral("1.0")});
    form->addRow(QStringLiteral("Версия протокола"), cbVersions);
    cbModes = new QComboBox(this);
    cbModes->setObjectName(QStringLiteral("cbModes"));
    cbModes->addItems({QStringLiteral("напрямую, затем через шлюз"), QStringLiteral("напрямую"),
                       QStringLiteral("через шлюз")});
    form->addRow(QStringLiteral("Подключение"), cbModes);
    seProbeTimeout = new QSpinBox(this);
    seProbeTimeout->setObjectName(QStringLiteral("seProbeTimeout"));
    seProbeTimeout->setRange(0, 60000);
    seProbeTimeout->setSuffix(QStringLiteral(" мс"));
    seProbeTimeout->setSpecialValueText(QStringLiteral("по скорости линии"));
    form->addRow(QStringLiteral("Ожидание ответа"), seProbeTimeout);
    choices->addLayout(form, 1);
    layout->addLayout(choices);

    auto* buttons = new QHBoxLayout;
    bSearch = new QPushButton(QStringLiteral("Искать"), this);
    bStop = new QPushButton(QStringLiteral("Остановить"), this);
    bClose = new QPushButton(QStringLiteral("Закрыть"), this);
    bSearch->setObjectName(QStringLiteral("bSearch"));
    bStop->setObjectName(QStringLiteral("bStop"));
    bClose->setObjectName(QStringLiteral("bClose"));
    // Enter belongs to the results table: no button takes it.
    for (QPushButton* b : {bSearch, bStop, bClose})
        b->setAutoDefault(false);
    bStop->setEnabled(false);
    pbProgress = new QProgressBar(this);
    pbProgress->setObjectName(QStringLiteral("pbProgress"));
    pbProgress->setRange(0, 1000);
    pbProgress->setValue(0);
    pbProgress->setFormat(QStringLiteral("%p%"));
    buttons->addWidget(bSearch);
    buttons->addWidget(bStop);
    buttons->addWidget(pbProgress, 1);
    layout->addLayout(buttons);
    lState = new QLabel(this);
    lState->setObjectName(QStringLiteral("lState"));
    lState->setWordWrap(true);
    layout->addWidget(lState);

    tResults = new QTableWidget(0, 6, this);
    tResults->setObjectName(QStringLiteral("tResults"));
    tResults->setAccessibleName(QStringLiteral("Найденные устройства"));
    tResults->setHorizontalHeaderLabels(
        {QStringLiteral("COM-порт"), QStringLiteral("Подключение"), QStringLiteral("Протокол"),
         QStringLiteral("ID"), QStringLiteral("Устройство"), QStringLiteral("Ответ, мс")});
    tResults->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab and Shift+Tab leave the table for the buttons and the range, as in the main
    // window; the arrows move between the found devices.
    tResults->setTabKeyNavigation(false);
    tResults->setSelectionBehavior(QAbstractItemView::SelectRows);
    tResults->setSelectionMode(QAbstractItemView::SingleSelection);
    tResults->verticalHeader()->hide();
    tResults->setWordWrap(false);
    tResults->horizontalHeader()->setStretchLastSection(false);
    tResults->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tResults->horizontalHeader()->setSectionResizeMode(4, QHeaderView::Stretch);
    tResults->setToolTip(QStringLiteral("Enter или двойной щелчок: открыть устройство"));
    layout->addWidget(tResults, 1);
    auto* bottom = new QHBoxLayout;
    // "Добавить": the selected device joins the line in a tab of its own; the search
    // window stays, for the next one.
    bAdd = new QPushButton(QStringLiteral("Добавить"), this);
    bAdd->setObjectName(QStringLiteral("bAdd"));
    bAdd->setAutoDefault(false);
    bAdd->setToolTip(QStringLiteral("Добавить выбранное устройство на линию отдельной вкладкой"));
    bottom->addWidget(bAdd);
    bottom->addStretch();
    bottom->addWidget(bClose);
    layout->addLayout(bottom);

    ticker_ = new QTimer(this);
    ticker_->setInterval(250);
    connect(ticker_, &QTimer::timeout, this, [this] { ShowProgress(); });
    connect(bSearch, &QPushButton::clicked, this, [this] { Search(); });
    connect(bStop, &QPushButton::clicked, this, [this] { Stop(); });
    connect(bClose, &QPushButton::clicked, this, [this] { reject(); });
    connect(bAdd, &QPushButton::clicked, this, [this] { Add(tResults->currentRow()); });
    connect(seFirstId, &QSpinBox::valueChanged, this, [this](int v) { seLastId->setMinimum(v); });
    connect(tResults, &QTableWidget::activated, this,
            [this](const QModelIndex& index) { Choose(index.row()); });

    QString intro = types_.empty() ? QStringLiteral("Нет описаний устройств: искать нечего")
                                   : QStringLiteral("Отметьте порты и нажмите \"Искать\"");
    for (const std::string& p : problems)
        intro += QStringLiteral("\n") + Q(p);
    lState->setText(intro);
    bSearch->setEnabled(!types_.empty());
    resize(720, 520);
    KeepOnScreen(this);
}

TScanWindow::~TScanWindow() {
    // The runner closes its port; a step still on the worker finds it gone.
    runner_.reset();
}

void TScanWindow::Search() {
    if (Searching()) return;
    TScanOptions o;
    for (int i = 0; i < lPorts->count(); ++i)
        if (lPorts->item(i)->checkState() == Qt::Checked)
            o.Ports.push_back(lPorts->item(i)->text().toStdString());
    if (o.Ports.empty()) {
        lState->setText(QStringLiteral("Не отмечен ни один COM-порт"));
        return;
    }
    o.FirstId = static_cast<uint32_t>(seFirstId->value());
    o.LastId = static_cast<uint32_t>(std::max(seFirstId->value(), seLastId->value()));
    std::string error;
    if (!ParseIdRange(std::to_string(o.FirstId) + "-" + std::to_string(o.LastId), o.FirstId,
                      o.LastId, error)) {
        lState->setText(Q(error));
        return;
    }
    const int v = cbVersions->currentIndex();
    o.Versions = v == 1   ? std::vector<uint8_t>{1}
                 : v == 2 ? std::vector<uint8_t>{0}
                          : std::vector<uint8_t>{1, 0};
    const int m = cbModes->currentIndex();
    o.Gateway = m == 1   ? std::vector<bool>{false}
                : m == 2 ? std::vector<bool>{true}
                         : std::vector<bool>{false, true};
    o.ProbeTimeoutMs = seProbeTimeout->value();
    tResults->setRowCount(0);
    shown_.clear();
    chosen_.reset();
    runner_ = std::make_unique<TScanRunner>(types_, o, queue_);
    runner_->SetLogging(logging_);
    runner_->OnResult = [this](const TScanResult& r) { AddResult(r); };
    runner_->OnProgress = [this] {
        pbProgress->setValue(static_cast<int>(runner_->Fraction() * 1000));
    };
    runner_->OnFinished = [this] {
        QMetaObject::invokeMethod(
            this, [this] { Finished(); }, Qt::QueuedConnection);
    };
    bSearch->setEnabled(false);
    bStop->setEnabled(true);
    EnableChoices(false);
    pbProgress->setValue(0);
    ticker_->start();
    runner_->Start();
    ShowProgress();
}

void TScanWindow::EnableChoices(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{lPorts, seFirstId, seLastId, cbVersions,
                                                      cbModes, seProbeTimeout})
        w->setEnabled(on);
}

void TScanWindow::Stop() {
    if (!Searching()) return;
    lState->setText(QStringLiteral("Поиск останавливается…"));
    runner_->Cancel();
}

void TScanWindow::reject() {
    // Escape stops a search first; a second Escape closes the window.
    if (Searching()) {
        chosen_.reset();
        Stop();
        return;
    }
    QDialog::reject();
}

void TScanWindow::AddResult(const TScanResult& r) {
    const int row = tResults->rowCount();
    tResults->insertRow(row);
    const bool place = r.Kind != TScanKind::PortFailed;
    const QStringList cells{Q(r.Port),
                            place ? Q(ScanModeText(r.Gateway)) : QString(),
                            place ? Q(ScanVersionText(r.Version)) : QString(),
                            place ? Q(ScanIdText(r)) : QString(),
                            Q(ScanWhatText(r, types_)),
                            place ? QString::number(r.AnswerMs) : QString()};
    for (int c = 0; c < cells.size(); ++c)
        tResults->setItem(row, c, new QTableWidgetItem(cells[c]));
    shown_.push_back(r);
    if (row == 0) tResults->setCurrentCell(0, 0);
}

void TScanWindow::ShowProgress() {
    if (!runner_) return;
    pbProgress->setValue(static_cast<int>(runner_->Fraction() * 1000));
    if (!runner_->Running()) {
        pbProgress->setFormat(QStringLiteral("%p%"));
        return;
    }
    pbProgress->setFormat(QStringLiteral("%p% · осталось около ") +
                          Q(ScanTimeText(runner_->RemainingMs())));
    lState->setText(
        QStringLiteral("Найдено устройств: %1 · прошло %2 · осталось около %3")
            .arg(runner_->DevicesFound())
            .arg(Q(ScanTimeText(runner_->ElapsedMs())), Q(ScanTimeText(runner_->RemainingMs()))));
}

void TScanWindow::Finished() {
    if (!runner_ || runner_->Running()) return;
    ticker_->stop();
    ShowProgress();
    bSearch->setEnabled(true);
    bStop->setEnabled(false);
    EnableChoices(true);
    QString text = Q(ScanSummary(runner_->DevicesFound(), runner_->ElapsedMs()));
    if (runner_->Cancelled()) text += QStringLiteral(" (поиск остановлен)");
    if (runner_->DevicesFound() == 0 && !runner_->Cancelled())
        text += QStringLiteral(". Ни одно устройство не ответило: проверьте подключение к линии");
    const std::string unplaced = ScanUnplacedText(runner_->Unplaced());
    if (!unplaced.empty()) text += QStringLiteral("\n") + Q(unplaced);
    lState->setText(text);
    if (tResults->rowCount() > 0) tResults->setFocus();
    if (chosen_) {
        const TScanResult r = *chosen_;
        chosen_.reset();
        const TScanType* type = r.Types.empty() ? nullptr : &types_[r.Types.front()];
        accept();
        if (OnChosen) OnChosen(r, type);
    }
}

void TScanWindow::Add(int row) {
    if (row < 0 || row >= static_cast<int>(shown_.size())) {
        lState->setText(QStringLiteral("Выберите найденное устройство"));
        return;
    }
    const TScanResult& r = shown_[static_cast<size_t>(row)];
    const TScanType* type =
        r.Kind == TScanKind::Device && !r.Types.empty() ? &types_[r.Types.front()] : nullptr;
    if (!type || !r.WithId) {
        lState->setText(
            QStringLiteral("Здесь нечего добавить: %1")
                .arg(!type ? Q(ScanWhatText(r, types_)) : QStringLiteral("устройство без ID")));
        return;
    }
    const QString why = OnAdd ? OnAdd(r, type) : QString();
    lState->setText(why.isEmpty() ? QStringLiteral("Добавлено на линию: %1 · ID %2")
                                        .arg(Q(ScanWhatText(r, types_)))
                                        .arg(r.Id)
                                  : why);
}

void TScanWindow::Choose(int row) {
    if (row < 0 || row >= static_cast<int>(shown_.size())) return;
    const TScanResult& r = shown_[static_cast<size_t>(row)];
    if (r.Kind == TScanKind::PortFailed || r.Kind == TScanKind::Garbled) {
        lState->setText(QStringLiteral("Здесь нечего открыть: %1").arg(Q(ScanWhatText(r, types_))));
        return;
    }
    chosen_ = r;
    // The search ends (and closes its port) before the window opens the device.
    if (Searching())
        Stop();
    else
        Finished();
}

} // namespace tunavox
