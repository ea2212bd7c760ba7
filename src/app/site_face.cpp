// The site in the window: made from the devices open now, opened as a check of every
// device, kept; the current device accepted, its reference made, compared and restored.
#include "app/site_face.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QSettings>
#include <algorithm>
#include <chrono>

#include "line/device.h"
#include "line/line.h"
#include "ui/file_dialogs.h"
#include "ui/message_box.h"
#include "util/program_folder.h"
#include "util/time_text.h"

namespace tunavox {
namespace {

constexpr int kRecentSites = 5;
constexpr int kPortWaitMs = 20000;

QSettings Store() { return QSettings(QStringLiteral("Mirel"), QStringLiteral("Tunavox")); }

} // namespace

TSiteFace::TSiteFace(ISiteHost& host, QObject* parent)
    : QObject(parent), host_(host), waitPort_(new QTimer(this)) {
    // A network port opens on a thread of its own: the checks begin once it is open.
    waitPort_->setInterval(200);
    connect(waitPort_, &QTimer::timeout, this, [this] {
        if (!open_) return waitPort_->stop();
        if (host_.PortIsOpen()) return PortOpened();
        if ((waited_ += waitPort_->interval()) < kPortWaitMs) return;
        waitPort_->stop();
        host_.Say(QStringLiteral("Порт %1 не открыт: устройства объекта не проверены")
                      .arg(host_.PortName()),
                  true);
    });
}

TSiteFace::~TSiteFace() = default;

void TSiteFace::AddMenuItems(QMenu* file) {
    QAction* first = file->actions().isEmpty() ? nullptr : file->actions().first();
    const auto add = [&](const QString& text, const char* name) {
        auto* a = new QAction(text, file);
        a->setObjectName(QLatin1String(name));
        file->insertAction(first, a);
        return a;
    };
    miNewSite = add(QStringLiteral("Новый объект…"), "miNewSite");
    miOpenSite = add(QStringLiteral("Открыть объект…"), "miOpenSite");
    miRecentSites = new QMenu(QStringLiteral("Последние объекты"), file);
    miRecentSites->setObjectName(QStringLiteral("miRecentSites"));
    file->insertMenu(first, miRecentSites);
    miSaveSite = add(QStringLiteral("Сохранить объект"), "miSaveSite");
    miReport = add(QStringLiteral("Отчёт о наладке…"), "miReport");
    // What acts on the open site and its current device, shown while a site is open.
    miSiteMenu = new QMenu(QStringLiteral("Объект"), file);
    miSiteMenu->setObjectName(QStringLiteral("miSiteMenu"));
    file->insertMenu(first, miSiteMenu);
    const auto item = [&](const QString& text, const char* name) {
        QAction* a = miSiteMenu->addAction(text);
        a->setObjectName(QLatin1String(name));
        return a;
    };
    miAccept = item(QStringLiteral("Принять как устройство объекта"), "miAccept");
    miMakeReference = item(QStringLiteral("Сделать эталоном"), "miMakeReference");
    miCompareReference = item(QStringLiteral("Сравнить с эталоном"), "miCompareReference");
    miRestoreReference = item(QStringLiteral("Восстановить эталон"), "miRestoreReference");
    miSiteMenu->addSeparator();
    miCloseSite = item(QStringLiteral("Закрыть объект"), "miCloseSite");
    file->insertSeparator(first);
    connect(miNewSite, &QAction::triggered, this, [this] { AskNew(); });
    connect(miOpenSite, &QAction::triggered, this, [this] { AskOpen(); });
    connect(miSaveSite, &QAction::triggered, this, [this] { SaveSite(); });
    connect(miReport, &QAction::triggered, this, [this] { AskReport(); });
    connect(miCloseSite, &QAction::triggered, this, [this] { CloseSite(); });
    connect(miAccept, &QAction::triggered, this, [this] { AcceptCurrent(); });
    connect(miMakeReference, &QAction::triggered, this, [this] { MakeReference(); });
    connect(miCompareReference, &QAction::triggered, this,
            [this] { CompareWithReference(false); });
    connect(miRestoreReference, &QAction::triggered, this, [this] { CompareWithReference(true); });
    FillRecent();
    UpdateActions();
}

QStringList TSiteFace::Recent() const {
    QStringList out;
    for (const QString& f : Store().value(QStringLiteral("Sites")).toStringList())
        if (!f.isEmpty() && !out.contains(f) && out.size() < kRecentSites) out << f;
    return out;
}

QString TSiteFace::Engineer() const {
    return Store().value(QStringLiteral("Engineer")).toString();
}

void TSiteFace::SetEngineer(const QString& name) {
    Store().setValue(QStringLiteral("Engineer"), name);
}

void TSiteFace::Remember(const QString& folder) {
    QStringList list = Recent();
    list.removeAll(folder);
    list.prepend(folder);
    while (list.size() > kRecentSites) list.removeLast();
    Store().setValue(QStringLiteral("Sites"), list);
    FillRecent();
}

void TSiteFace::FillRecent() {
    miRecentSites->clear();
    const QStringList list = Recent();
    for (int i = 0; i < list.size(); ++i) {
        QAction* a = miRecentSites->addAction(
            QStringLiteral("&%1 %2").arg(i + 1).arg(NativeName(list[i])));
        connect(a, &QAction::triggered, this, [this, f = list[i]] { OpenSite(f); });
    }
    miRecentSites->setEnabled(!list.isEmpty());
}

TDevice* TSiteFace::Current() {
    const int c = host_.CurrentDevice();
    return c >= 0 && c < host_.DeviceCount() ? &host_.DeviceAt(c) : nullptr;
}

TSiteDevice* TSiteFace::EntryOf(const TDevice& dev) {
    if (!open_ || line_ >= static_cast<int>(site_.Lines.size())) return nullptr;
    for (TSiteDevice& d : site_.Lines[static_cast<size_t>(line_)].Devices)
        if (d.Id == static_cast<uint32_t>(dev.Id) && d.Description == dev.Desc.FileName) return &d;
    return nullptr;
}

QString TSiteFace::ReferencePath(const TSiteDevice& entry) const {
    return QDir(folder_).filePath(QString::fromStdString(entry.Reference));
}

void TSiteFace::UpdateActions() {
    TDevice* dev = Current();
    const TSiteDevice* entry = dev ? EntryOf(*dev) : nullptr;
    const bool idle = !Busy();
    miNewSite->setEnabled(idle);
    miOpenSite->setEnabled(idle);
    miSaveSite->setEnabled(open_ && idle);
    miReport->setEnabled(open_ && idle && visiting_);
    miCloseSite->setEnabled(open_);
    miSiteMenu->menuAction()->setVisible(open_);
    const bool checked = dev && dev->SiteCheck.State != TSiteState::NotChecked;
    miAccept->setEnabled(idle && entry && checked && !SiteDeviceTrusted(dev->SiteCheck) &&
                         dev->SiteCheck.State != TSiteState::Silent &&
                         dev->SiteCheck.State != TSiteState::OtherDevice);
    miMakeReference->setEnabled(idle && entry && dev && SiteDeviceTrusted(dev->SiteCheck));
    const bool reference = entry && !entry->Reference.empty();
    miCompareReference->setEnabled(idle && reference && checked);
    miRestoreReference->setEnabled(idle && reference && dev && SiteDeviceTrusted(dev->SiteCheck));
}

void TSiteFace::AskNew() {
    if (!host_.PortIsOpen()) {
        host_.Say(QStringLiteral("Откройте порт: объект составляется из устройств на линии"),
                  true);
        return;
    }
    QFileDialog dialog(host_.Widget(), QStringLiteral("Папка нового объекта"));
    dialog.setObjectName(QStringLiteral("NewSiteDialog"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    PrepareFileDialog(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString folder = dialog.selectedFiles().first();
    bool ok = false;
    const QString name = QInputDialog::getText(
        host_.Widget(), QStringLiteral("Новый объект"), QStringLiteral("Название объекта:"),
        QLineEdit::Normal, QFileInfo(folder).fileName(), &ok);
    if (ok) NewSite(folder, name);
}

bool TSiteFace::NewSite(const QString& folder, const QString& name) {
    if (Busy()) return false;
    if (!host_.PortIsOpen()) {
        host_.Say(QStringLiteral("Откройте порт: объект составляется из устройств на линии"),
                  true);
        return false;
    }
    if (QFileInfo::exists(QDir(folder).filePath(QString::fromLatin1(kSiteFileName)))) {
        ShowWarning(host_.Widget(), QStringLiteral("В папке %1 уже есть объект: откройте его")
                                        .arg(NativeName(folder)));
        return false;
    }
    making_ = {};
    making_.Name = name.toStdString();
    making_.Lines.push_back({host_.PortName().toStdString(), host_.Version(), host_.Gateway(),
                             host_.PollPeriod(), {}});
    makingFolder_ = folder;
    references_.clear();
    referenceOnly_ = false;
    toBackup_.clear();
    for (int i = 0; i < host_.DeviceCount(); ++i)
        toBackup_.push_back(i);
    BackupNext();
    return true;
}

void TSiteFace::MakeReference() {
    TDevice* dev = Current();
    if (!dev || Busy() || !EntryOf(*dev)) return;
    referenceOnly_ = true;
    references_.clear();
    toBackup_ = {host_.CurrentDevice()};
    BackupNext();
}

void TSiteFace::BackupNext() {
    UpdateActions();
    if (toBackup_.empty()) return;
    const int index = toBackup_.front();
    TDevice& dev = host_.DeviceAt(index);
    backup_ = std::make_unique<TParamRunner>(RunnerContext(host_.SiteLine(), dev));
    backup_->OnRow = [this, &dev](int row) { host_.RefreshRow(dev, row); };
    host_.Say(QStringLiteral("Чтение настроек устройства ID %1…").arg(static_cast<uint32_t>(dev.Id)),
              false);
    std::weak_ptr<char> alive = alive_;
    backup_->OnFinished = [this, alive, index] {
        if (alive.expired()) return;
        TDevice& d = host_.DeviceAt(index);
        TParamSet set = backup_->Set;
        // Freed once this completion has returned.
        QTimer::singleShot(0, this, [gone = std::shared_ptr<TParamRunner>(backup_.release())] {});
        const bool answered = std::any_of(set.Entries.begin(), set.Entries.end(),
                                          [](const TParamEntry& e) { return !e.Failed; });
        if (!answered) {
            toBackup_.clear();
            UpdateActions();
            host_.Say(QStringLiteral("Устройство ID %1 не отвечает: %2")
                          .arg(static_cast<uint32_t>(d.Id))
                          .arg(referenceOnly_ ? QStringLiteral("эталон не записан")
                                              : QStringLiteral("объект не записан")),
                      true);
            return;
        }
        set.Device = d.Desc.Name;
        set.DescriptionFile = d.Desc.FileName;
        set.Sign = d.Desc.Sign;
        set.DeviceId = static_cast<uint32_t>(d.Id);
        set.Protocol = host_.Version();
        set.Saved = LocalTimeText(std::chrono::system_clock::now(), false);
        set.Program = ProgramVersion();
        toBackup_.erase(toBackup_.begin());
        if (referenceOnly_) {
            TSiteDevice* entry = EntryOf(d);
            if (!entry) return UpdateActions();
            entry->Reference = ReferenceName(*entry);
            std::string error;
            if (!WriteParamSetFile(ReferencePath(*entry).toStdString(), set, error) ||
                !WriteSite(folder_.toStdString(), site_, error)) {
                ShowWarning(host_.Widget(), QString::fromStdString(error));
                return UpdateActions();
            }
            if (d.SiteCheck.State == TSiteState::Differs) d.SiteCheck.State = TSiteState::InPlace;
            d.SiteCheck.Differences = 0;
            host_.DevicesChanged();
            UpdateActions();
            host_.Say(QStringLiteral("Эталон устройства ID %1 записан: %2")
                          .arg(static_cast<uint32_t>(d.Id))
                          .arg(QString::fromStdString(entry->Reference)),
                      false);
            return;
        }
        making_.Lines[0].Devices.push_back(SiteDeviceOf(d.Desc, *d.Regs, d.ErrorTexts.get(),
                                                        static_cast<uint32_t>(d.Id),
                                                        host_.TickedAddresses(index)));
        references_.push_back(std::move(set));
        if (!toBackup_.empty()) return BackupNext();
        std::string error;
        if (!CreateSite(makingFolder_.toStdString(), making_, references_, error)) {
            ShowWarning(host_.Widget(), QString::fromStdString(error));
            return UpdateActions();
        }
        // The site is open now, every device just read: in place, equal to its reference.
        CloseSite();
        site_ = making_;
        folder_ = makingFolder_;
        open_ = true;
        line_ = 0;
        for (int i = 0; i < host_.DeviceCount(); ++i) {
            TDevice& one = host_.DeviceAt(i);
            one.OnSite = true;
            one.SiteCheck = {};
            one.SiteCheck.State = TSiteState::InPlace;
            one.SiteCheck.Differences = 0;
        }
        Remember(folder_);
        host_.ListAlways(true);
        host_.DevicesChanged();
        UpdateActions();
        host_.Say(QStringLiteral("Объект «%1» записан: %2")
                      .arg(QString::fromStdString(site_.Name),
                           NativeName(QString::fromStdString(SiteFilePath(folder_.toStdString())))),
                  false);
    };
    backup_->StartBackup();
}

} // namespace tunavox
