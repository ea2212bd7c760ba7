// The devices of the window's line: a tab each, one poll over them all, the link of
// each, and a set of parameters saved for every one of them.
#include "app/devices_face.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "app/main_window.h"
#include "link/canal.h"
#include "engine/link_state.h"
#include "link/line_settings.h"
#include "paramset/param_set.h"
#include "ui/file_dialogs.h"
#include "ui/message_box.h"
#include "util/integer_text.h"
#include "util/program_folder.h"
#include "util/time_text.h"

namespace tunavox {
namespace {

// Goes through the queue behind every request queued before it and touches nothing: its
// completion says they are all done.
class TActionMark : public TAction {
public:
    explicit TActionMark(Handler onDone) : TAction(nullptr, 0, nullptr, -1, std::move(onDone)) {}
    bool CountsForLink() const override { return false; }

protected:
    void Execute() override {}
};

} // namespace

TDevicesFace::TDevicesFace(TfMain& window) : QObject(&window), w_(window) {
    tabs_.push_back({std::make_unique<TDevice>(), nullptr});
}

TDevicesFace::~TDevicesFace() = default;

QWidget* TDevicesFace::Build(QWidget* central, TRegisterView* first) {
    auto* box = new QWidget(central);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    // The site's lines above the list, when it has several: one is worked with at a time.
    auto* column = new QVBoxLayout;
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    cbLines = Named(new QComboBox(box), "cbLines");
    cbLines->setAccessibleName(QStringLiteral("Линия объекта"));
    cbLines->hide();
    connect(cbLines, &QComboBox::activated, this, [this](int line) {
        if (OnLineChosen) OnLineChosen(line);
    });
    lvDevices = Named(new TDeviceListView(box), "lvDevices");
    lvDevices->setAccessibleName(QStringLiteral("Устройства на линии"));
    lvDevices->hide();
    column->addWidget(cbLines);
    column->addWidget(lvDevices, 1);
    Pages = Named(new QStackedWidget(box), "Pages");
    first->setParent(Pages);
    Pages->addWidget(first);
    tabs_[0].View = first;
    layout->addLayout(column);
    layout->addWidget(Pages, 1);
    // The keyboard and the mouse move the current item; accessibility selects one.
    connect(lvDevices->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& at) {
                if (at.isValid()) Select(at.row());
            });
    connect(lvDevices->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected) {
                if (!selected.indexes().isEmpty()) Select(selected.indexes().first().row());
            });
    return box;
}

void TDevicesFace::SetLines(const QStringList& lines, int current) {
    const QSignalBlocker quiet(cbLines);
    cbLines->clear();
    cbLines->addItems(lines);
    cbLines->setCurrentIndex(current);
    cbLines->setVisible(lines.size() > 1);
}

void TDevicesFace::AddMenuItems(QMenu* file, QMenu* service) {
    miAddDevice =
        Named(service->addAction(QStringLiteral("Добавить устройство на линии…")), "miAddDevice");
    miCloseTab =
        Named(service->addAction(QStringLiteral("Убрать устройство с линии")), "miCloseTab");
    miCloseTab->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    miCloseTab->setShortcutContext(Qt::WindowShortcut);
    miCloseTab->setEnabled(false);
    w_.addAction(miCloseTab);
    // From device to device with the keyboard alone, from the table too.
    for (const auto& [key, step] : {std::pair{Qt::Key_PageDown, 1}, {Qt::Key_PageUp, -1}}) {
        auto* go = new QAction(&w_);
        go->setShortcut(QKeySequence(Qt::CTRL | key));
        go->setShortcutContext(Qt::WindowShortcut);
        w_.addAction(go);
        connect(go, &QAction::triggered, this, [this, step = step] {
            if (Several()) Select((current_ + step + Count()) % Count());
        });
    }
    connect(miAddDevice, &QAction::triggered, this, [this] { AskAndAdd(); });
    connect(miCloseTab, &QAction::triggered, this, [this] { Close(current_); });
    miSaveAllSets = new QAction(QStringLiteral("Сохранить параметры всех устройств…"), file);
    miSaveAllSets->setObjectName(QStringLiteral("miSaveAllSets"));
    miSaveAllSets->setVisible(false);
    // After the sets' own items, before the export.
    QAction* before = nullptr;
    for (QAction* a : file->actions())
        if (a->menu() && !before) before = a;
    file->insertAction(before, miSaveAllSets);
    connect(miSaveAllSets, &QAction::triggered, this, [this] { SaveAllSets(); });
}

int TDevicesFace::TabOf(const TReg* reg) const {
    if (!reg) return -1;
    for (size_t t = 0; t < tabs_.size(); ++t) {
        const TRegList& regs = *tabs_[t].Dev->Regs;
        for (int r = 0; r < regs.Count(); ++r)
            if (regs.Items(r) == reg) return static_cast<int>(t);
    }
    return -1;
}

int TDevicesFace::TabOf(const TDevice* dev) const {
    for (size_t t = 0; t < tabs_.size(); ++t)
        if (tabs_[t].Dev.get() == dev) return static_cast<int>(t);
    return -1;
}

TDevice* TDevicesFace::DeviceOf(const TReg* reg) {
    // With one device every register is its own (the keep-alive's included).
    if (!Several()) return tabs_[0].Dev.get();
    const int tab = TabOf(reg);
    return tab < 0 ? nullptr : tabs_[static_cast<size_t>(tab)].Dev.get();
}

TRegisterView* TDevicesFace::ViewOf(const TReg* reg) {
    if (!Several()) return tabs_[0].View;
    const int tab = TabOf(reg);
    return tab < 0 ? nullptr : tabs_[static_cast<size_t>(tab)].View;
}

QString TDevicesFace::Caption(int tab) const {
    const TDevice& d = *tabs_[static_cast<size_t>(tab)].Dev;
    return QString::fromStdString(d.Desc.Name) + QStringLiteral(" · ID ") +
           QString::number(static_cast<uint32_t>(d.Id));
}

QString TDevicesFace::SeriesPrefix(const TDevice& dev) const {
    return Several() ? QStringLiteral("ID %1 · ").arg(static_cast<uint32_t>(dev.Id)) : QString();
}

void TDevicesFace::Select(int tab) {
    if (tab < 0 || tab >= Count() || tab == current_) return;
    // A set being read or written belongs to its tab's device: the tab stays until it is done.
    if (w_.Dev().ParamRunner && w_.Dev().ParamRunner->Running()) {
        const QSignalBlocker quiet(lvDevices->selectionModel());
        lvDevices->setCurrentIndex(lvDevices->Model()->index(current_));
        w_.ShowStatus(QStringLiteral("Дождитесь окончания работы с параметрами"), true,
                      w_.NormalStatusColor());
        return;
    }
    current_ = tab;
    {
        const QSignalBlocker quiet(lvDevices->selectionModel());
        lvDevices->setCurrentIndex(lvDevices->Model()->index(tab));
    }
    w_.SetCurrent(*tabs_[static_cast<size_t>(tab)].Dev, tabs_[static_cast<size_t>(tab)].View);
    Pages->setCurrentWidget(w_.vstList);
    {
        // The ID box shows the tab's device; typing there changes it.
        const QSignalBlocker quiet(w_.eID);
        w_.eID->setText(w_.Dev().Id ? QString::number(static_cast<uint32_t>(w_.Dev().Id))
                                    : QString());
    }
    w_.MarkCatalogueEntry(w_.Dev().Entry);
    w_.Find().ApplyRowVisibility();
    w_.LinkFace().ShowLinkState();
    w_.vstList->SetDarkTicks(w_.chPoll->isChecked());
    // Arrowing through the list keeps the focus there; otherwise the table takes it.
    if (w_.isActiveWindow() && !lvDevices->hasFocus()) w_.vstList->setFocus();
    if (OnCurrentChanged) OnCurrentChanged();
}

QString TDevicesFace::Add(int entry, uint32_t id) {
    const auto& catalogue = w_.Catalogue();
    if (entry < 0 || entry >= static_cast<int>(catalogue.size()))
        return QStringLiteral("Выберите устройство");
    if (id == 0)
        return QStringLiteral("Укажите ID устройства: на линии с несколькими устройствами у "
                              "каждого свой ID");
    for (int t = 0; t < Count(); ++t) {
        const TDevice& d = Device(t);
        if (static_cast<uint32_t>(d.Id) == id)
            return QStringLiteral("Устройство с ID %1 уже есть на линии: %2")
                .arg(id)
                .arg(Caption(t));
        if (d.Id == 0)
            return QStringLiteral("Сначала укажите ID устройства «%1»: на линии с несколькими "
                                  "устройствами у каждого свой ID")
                .arg(QString::fromStdString(d.Desc.Name));
    }
    auto dev = std::make_unique<TDevice>();
    // The line keeps its settings (those of the first device's description).
    const std::string error =
        dev->Load(catalogue[static_cast<size_t>(entry)].Path, entry, ProgramFolder(), nullptr);
    if (!error.empty()) return QString::fromStdString(error);
    dev->Id = static_cast<int32_t>(id);
    dev->Serial = nextSerial_++;
    dev->ResetConnection();
    if (w_.PortOpen() || w_.Line().Reconnect.Active()) dev->Link.Opened();
    auto* view = new TRegisterView(Pages);
    w_.WireView(view);
    w_.StyleView(view, dev->Desc);
    view->Model()->SetSource(dev->Regs.get(), dev->ErrorTexts.get());
    const int checked = view->Model()->CheckedCount();
    view->Model()->SetHeaderState(checked == 0 ? Qt::Unchecked
                                  : checked == view->Model()->CheckableCount()
                                      ? Qt::Checked
                                      : Qt::PartiallyChecked);
    view->Model()->SetLink(&dev->Link);
    Pages->addWidget(view);
    // A one-device recording cannot take another device's values: it stops, and says so.
    if (!Several() && w_.Line().Recorder.Recording())
        w_.Trend().StopRecording(QStringLiteral("Запись опроса остановлена: на линии теперь "
                                                "несколько устройств, начните запись снова"));
    tabs_.push_back({std::move(dev), view});
    const int tab = Count() - 1;
    UpdateBar();
    Select(tab);
    const TDescription& line = Device(0).Desc;
    const TDescription& mine = Device(tab).Desc;
    if (mine.Serial != line.Serial)
        w_.ShowStatus(QStringLiteral("Линия работает с настройками первого устройства (%1)")
                          .arg(QString::fromStdString(
                              SettingsText(w_.Line().Canal->ComPort->Settings().Line()))),
                      true, w_.NormalStatusColor());
    w_.Trend().Changed();
    return {};
}

void TDevicesFace::AskAndAdd(int entry, uint32_t id) {
    QDialog dialog(&w_);
    dialog.setObjectName(QStringLiteral("AddDeviceDialog"));
    dialog.setWindowTitle(QStringLiteral("Добавить устройство на линии"));
    auto* form = new QFormLayout(&dialog);
    auto* device = Named(new QComboBox(&dialog), "cbAddDevice");
    for (const TCatalogueEntry& e : w_.Catalogue())
        device->addItem(QString::fromStdString(e.Caption));
    device->setCurrentIndex(entry >= 0 ? entry : std::max(w_.Dev().Entry, 0));
    form->addRow(QStringLiteral("&Устройство:"), device);
    auto* idEdit = Named(new QLineEdit(&dialog), "eAddID");
    if (id) idEdit->setText(QString::number(id));
    idEdit->setAccessibleName(QStringLiteral("ID"));
    form->addRow(QStringLiteral("&ID:"), idEdit);
    auto* why = Named(new QLabel(&dialog), "lAddWhy");
    why->setWordWrap(true);
    why->setStyleSheet(QStringLiteral("color: #C00000"));
    form->addRow(why);
    auto* buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(QStringLiteral("Добавить"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        int64_t value = 0;
        const bool number = ParseIntegerText(idEdit->text().trimmed().toStdString(), value) &&
                            value > 0 && value <= 0xFFFFFFFFLL;
        const QString reason = number ? Add(device->currentIndex(), static_cast<uint32_t>(value))
                                      : QStringLiteral("ID — число от 1 до 4294967295");
        if (reason.isEmpty()) {
            dialog.accept();
            return;
        }
        // Said where the eye is, the dialog stays with what was typed.
        why->setText(reason);
        why->setAccessibleDescription(reason);
        idEdit->setFocus();
        idEdit->selectAll();
    });
    idEdit->setFocus();
    dialog.exec();
}

void TDevicesFace::Close(int tab) {
    if (!Several() || tab < 0 || tab >= Count()) return;
    TDevice& dev = Device(tab);
    if (dev.ParamRunner && dev.ParamRunner->Running()) {
        w_.ShowStatus(QStringLiteral("Дождитесь окончания работы с параметрами"), true,
                      w_.NormalStatusColor());
        return;
    }
    // The next tab (or the one before the last) becomes current first.
    if (tab == current_) {
        const int next = tab + 1 < Count() ? tab + 1 : tab - 1;
        Select(next);
    }
    round_.Remove(static_cast<size_t>(tab));
    checks_.erase(&dev);
    w_.Line().Samples.Clear(dev.Key(0), dev.Key(TDevice::kKeyStride));
    TTab gone = std::move(tabs_[static_cast<size_t>(tab)]);
    tabs_.erase(tabs_.begin() + tab);
    if (current_ > tab) --current_;
    gone.View->Model()->SetSource(nullptr, nullptr);
    Pages->removeWidget(gone.View);
    gone.View->deleteLater();
    // Its requests still queued hold its registers: it goes once they are done.
    TDevice* retired = gone.Dev.get();
    retired_.push_back(std::move(gone.Dev));
    w_.Line().Queue(std::make_unique<TActionMark>([this, retired](TAction*) {
        std::erase_if(retired_, [retired](const auto& d) { return d.get() == retired; });
    }));
    UpdateBar();
    w_.Trend().Changed();
}

void TDevicesFace::PollStep() {
    // Every device's ticked rows in tab order, as they are ticked now.
    std::vector<TPollRound::TItem> items;
    for (size_t t = 0; t < tabs_.size(); ++t) {
        // A site's device is polled once it has been checked and is the site's own.
        if (tabs_[t].Dev->OnSite && !SiteDeviceTrusted(tabs_[t].Dev->SiteCheck)) continue;
        const TRegisterModel* m = tabs_[t].View->Model();
        for (int r = m->NextCheckedRow(-1); r >= 0; r = m->NextCheckedRow(r)) {
            items.push_back({t, r});
            if (m->NextCheckedRow(r) <= r) break; // wrapped round to the first
        }
    }
    round_.Update(std::move(items), tabs_.size());
    if (round_.Empty()) {
        for (TTab& t : tabs_)
            t.Dev->PollNode = -1;
        w_.chPoll->setChecked(false); // runs the unchecked branch through its handler
        return;
    }
    const TPollRound::TNext n = round_.Next(SteadyMs());
    if (!n.Ready) {
        // Every device rests: nothing is sent until the first is due.
        w_.PollDelay->start(static_cast<int>(n.WaitMs));
        return;
    }
    if (n.PassBegins) {
        if (const int64_t wait = w_.Line().Pace.BeforePass(); wait > 0) {
            w_.Trend().SetWaitingForPass(true);
            w_.PollDelay->start(static_cast<int>(wait));
            return;
        }
    }
    w_.Trend().SetWaitingForPass(false);
    TTab& tab = tabs_[n.Item.Device];
    tab.Dev->PollNode = n.Item.Row;
    static const char kSpinner[] = "|/-\\";
    w_.lProgress->setText(QString(QLatin1Char(kSpinner[w_.SpinIndex % 4])));
    ++w_.SpinIndex;
    const TReg* reg = tab.Dev->Regs->Items(n.Item.Row);
    // Among several devices, one that went unanswered is probed quickly: its silence
    // costs the others a short window, not a whole time-out.
    const uint32_t window =
        tabs_.size() > 1 && tab.Dev->Rest.Quiet()
            ? static_cast<uint32_t>(ProbeWindowMs(w_.Line().Canal->ComPort->Settings().Line()))
            : 0;
    if (reg->Io == ioWOR)
        w_.WriteNode(
            n.Item.Row, true, [this](TAction* a) { OnPollDone(a, true); }, tab.Dev.get(), window);
    else
        w_.ReadNode(
            n.Item.Row, [this](TAction* a) { OnPollDone(a, false); }, tab.Dev.get(), window);
}

void TDevicesFace::OnPollDone(TAction* action, bool write) {
    const int64_t now = SteadyMs();
    if (!action) {
        // The row could not be read now (busy): the round goes on.
        round_.Done(0, now);
        w_.PostPollNext(0);
        return;
    }
    if (write) action->Reg->SetBusy(false);
    w_.OnReadDone(action);
    w_.Line().Pace.ExchangeBegan(action->StartedMs());
    const int tab = TabOf(action->Reg);
    int rest = 0;
    if (tab >= 0) {
        TDevice& dev = Device(tab);
        w_.Trend().PollRead(*action, WallClockMs(), dev);
        const TLinkKind kind = ClassifyExchange(action->Error(), action->PortError());
        // A lost port is the line's, not this device's silence.
        if (kind != TLinkKind::PortLost)
            rest = dev.Rest.After(IsLinkFailure(kind), w_.Line().Canal->Timeout());
        // Back after silence, or refusing a row it read: is it still the same device?
        if (kind != TLinkKind::PortLost && Several() &&
            dev.Recheck.Read(action->Node, !action->HasError(), IsLinkFailure(kind))) {
            round_.Done(rest, now);
            CheckDevice(tab);
            if (!w_.Line().Reconnect.Active()) w_.PostPollNext(0);
            return;
        }
    }
    round_.Done(rest, now);
    // A lost port waits for its return; the reconnect resumes the poll.
    if (!w_.Line().Reconnect.Active()) w_.PostPollNext(0);
}

void TDevicesFace::PollStopped() {
    for (TTab& t : tabs_) {
        t.Dev->PollNode = -1;
        t.Dev->Backoff.Reset();
        t.Dev->Rest.Reset();
        t.View->SetDarkTicks(false);
    }
    round_.WakeAll();
}

void TDevicesFace::Ping() {
    for (TTab& t : tabs_) {
        TReg* reg = t.Dev->PingNode >= 0 && t.Dev->PingNode < t.Dev->Regs->Count()
                        ? t.Dev->Regs->Items(t.Dev->PingNode)
                        : nullptr;
        if (!reg || reg->GetBusy() || Held(*t.Dev)) continue;
        w_.Line().Queue(
            std::make_unique<TActionReadReg>(w_.Line().Canal.get(), t.Dev->Id, reg, -1, nullptr));
    }
}

void TDevicesFace::LinkOpened() {
    for (TTab& t : tabs_) {
        t.Dev->Link.Opened();
        t.Dev->Rest.Reset();
    }
    round_.WakeAll();
    UpdateBar();
}

void TDevicesFace::LinkClosed() {
    for (TTab& t : tabs_) {
        t.Dev->Link.Closed();
        t.View->Model()->RefreshAll();
    }
    UpdateBar();
}

void TDevicesFace::LinkLost(const std::string& why, int64_t now) {
    for (TTab& t : tabs_) {
        t.Dev->Link.Lost(why, now);
        t.Dev->Backoff.Reset();
        t.Dev->Rest.Reset();
    }
    round_.WakeAll();
    UpdateBar();
}

void TDevicesFace::SaveAllSets() {
    if (!w_.Sets().ParamSetAllowed()) return;
    QFileDialog dialog(&w_, QStringLiteral("Сохранить параметры всех устройств"));
    dialog.setObjectName(QStringLiteral("SaveAllSetsDialog"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    PrepareFileDialog(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    setsFolder_ = dialog.selectedFiles().first();
    setsToGo_.clear();
    setsSaved_.clear();
    for (int t = 0; t < Count(); ++t)
        setsToGo_.push_back(t);
    SaveNextSet();
}

void TDevicesFace::SaveNextSet() {
    if (setsToGo_.empty()) {
        if (!setsSaved_.isEmpty())
            w_.ShowStatus(QStringLiteral("Параметры сохранены: %1 в папке %2")
                              .arg(setsSaved_.join(QStringLiteral(", ")), NativeName(setsFolder_)),
                          true, w_.NormalStatusColor());
        return;
    }
    const int tab = setsToGo_.front();
    setsToGo_.erase(setsToGo_.begin());
    if (tab >= Count()) return;
    Select(tab);
    if (current_ != tab) return; // said why
    const TDevice& dev = Device(tab);
    const QString name =
        QString::fromStdString(DeviceSetName(dev.Desc.Name, static_cast<uint32_t>(dev.Id)));
    const TParamRunner* before = dev.ParamRunner.get();
    w_.Sets().SaveParameters(QDir(setsFolder_).filePath(name));
    const TParamRunner* runner = dev.ParamRunner.get();
    // Not begun (the file cannot go there): said, and the rest is left.
    if (!runner || runner == before || !runner->Running()) {
        setsToGo_.clear();
        return;
    }
    // On to the next device when this one's set is written (or refused, or cancelled).
    auto* wait = new QTimer(this);
    wait->setInterval(50);
    connect(wait, &QTimer::timeout, this, [this, wait, tab, runner, name] {
        if (tab < Count() && Device(tab).ParamRunner.get() == runner && runner->Running()) return;
        wait->deleteLater();
        const bool done = tab < Count() && Device(tab).ParamRunner.get() == runner &&
                          !runner->Cancelled() &&
                          runner->Set.FailedCount() < static_cast<int>(runner->Set.Entries.size());
        if (!done) {
            setsToGo_.clear();
            return;
        }
        setsSaved_ << name;
        SaveNextSet();
    });
    wait->start();
}

} // namespace tunavox
