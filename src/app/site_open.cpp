// A site opened: its line loaded, every device checked before anything is polled or
// written, a replaced unit accepted, the line kept as it stands.
#include <QDir>
#include <QFileDialog>
#include <QTimer>
#include <algorithm>
#include <map>

#include "app/site_face.h"
#include "line/device.h"
#include "line/line.h"
#include "ui/file_dialogs.h"
#include "ui/message_box.h"
#include "util/program_folder.h"

namespace tunavox {

void TSiteFace::AskOpen() {
    QFileDialog dialog(host_.Widget(), QStringLiteral("Открыть объект"));
    dialog.setObjectName(QStringLiteral("OpenSiteDialog"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    PrepareFileDialog(dialog);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        OpenSite(dialog.selectedFiles().first());
}

bool TSiteFace::OpenSite(const QString& folder, int line) {
    if (Busy()) return false;
    TSite site;
    std::string error;
    if (!ReadSite(folder.toStdString(), site, error)) {
        ShowWarning(host_.Widget(), QString::fromStdString(error));
        return false;
    }
    if (line < 0 || line >= static_cast<int>(site.Lines.size()) ||
        site.Lines[static_cast<size_t>(line)].Devices.empty()) {
        ShowWarning(host_.Widget(), QStringLiteral("В объекте %1 нет устройств на линии")
                                        .arg(NativeName(folder)));
        return false;
    }
    // Another line of the same site goes on with its visit.
    const bool sameVisit = open_ && visiting_ && folder == folder_;
    const TVisit visit = visit_;
    CloseSite();
    const QString why = host_.LoadLine(site.Lines[static_cast<size_t>(line)]);
    if (!why.isEmpty()) {
        ShowWarning(host_.Widget(), why);
        return false;
    }
    if (sameVisit) {
        visit_ = visit;
        visiting_ = true;
    } else {
        std::string error;
        visiting_ = StartVisit(folder.toStdString(), std::chrono::system_clock::now(), visit_, error);
        if (!visiting_)
            ShowWarning(host_.Widget(), QStringLiteral("Посещение не записано: %1")
                                            .arg(QString::fromStdString(error)));
    }
    site_ = std::move(site);
    folder_ = folder;
    line_ = line;
    open_ = true;
    if (types_.empty()) types_ = SiteTypes(ProgramFolder());
    for (int i = 0; i < host_.DeviceCount(); ++i) {
        TDevice& dev = host_.DeviceAt(i);
        dev.OnSite = true;
        dev.SiteCheck = {};
        if (const TSiteDevice* entry = EntryOf(dev)) host_.SetTicked(i, entry->Polled);
    }
    Remember(folder_);
    OfferLines();
    host_.ListAlways(true);
    host_.DevicesChanged();
    UpdateActions();
    host_.Say(QStringLiteral("Объект «%1»: открывается порт %2…")
                  .arg(QString::fromStdString(site_.Name), host_.PortName()),
              false);
    host_.OpenLinePort();
    if (host_.PortIsOpen()) {
        PortOpened();
    } else {
        waited_ = 0;
        waitPort_->start();
    }
    return true;
}

void TSiteFace::OfferLines() {
    QStringList lines;
    for (const TSiteLine& l : site_.Lines)
        lines << QStringLiteral("%1 · устройств: %2")
                     .arg(QString::fromStdString(l.Port))
                     .arg(l.Devices.size());
    host_.ShowLines(lines, line_, [this](int chosen) { ChooseLine(chosen); });
}

void TSiteFace::ChooseLine(int chosen) {
    if (!open_ || chosen == line_) return;
    if (Busy()) {
        OfferLines(); // the list keeps showing the line at work
        host_.Say(QStringLiteral("Дождитесь окончания проверки устройств"), true);
        return;
    }
    // Another line of the same site, opened (and checked) in place of this one once the
    // list's signal has returned.
    QTimer::singleShot(0, this, [this, chosen, folder = folder_] {
        if (!OpenSite(folder, chosen) && open_) OfferLines();
    });
}

void TSiteFace::PortOpened() {
    if (!open_ || check_) return;
    waitPort_->stop();
    toCheck_.clear();
    for (int i = 0; i < host_.DeviceCount(); ++i)
        if (host_.DeviceAt(i).OnSite && host_.DeviceAt(i).SiteCheck.State == TSiteState::NotChecked)
            toCheck_.push_back(i);
    CheckNext();
}

void TSiteFace::CheckNext() {
    UpdateActions();
    if (toCheck_.empty()) return Summarise();
    const int index = toCheck_.front();
    toCheck_.erase(toCheck_.begin());
    TDevice& dev = host_.DeviceAt(index);
    const TSiteDevice* entry = EntryOf(dev);
    if (!entry) return CheckNext();
    std::string problem;
    std::optional<TParamSet> reference = LoadReference(folder_.toStdString(), *entry, problem);
    check_ = std::make_unique<TSiteCheckRunner>(RunnerContext(host_.SiteLine(), dev), *entry,
                                                std::move(reference), problem, types_,
                                                TypeIndex(types_, entry->Description));
    checking_ = &dev;
    check_->OnRow = [this, &dev](int row) { host_.RefreshRow(dev, row); };
    std::weak_ptr<char> alive = alive_;
    check_->OnFinished = [this, alive] {
        if (alive.expired()) return;
        if (checking_) {
            checking_->SiteCheck = check_->Result();
            KeepFound(*checking_);
        }
        checking_ = nullptr;
        // Freed once this completion has returned.
        QTimer::singleShot(0, this, [gone = std::shared_ptr<TSiteCheckRunner>(check_.release())] {});
        host_.DevicesChanged();
        CheckNext();
    };
    host_.DevicesChanged();
    check_->Start();
}

void TSiteFace::KeepFound(const TDevice& dev) {
    const TSiteDevice* entry = EntryOf(dev);
    std::string error;
    if (visiting_ && entry && !dev.SiteCheck.Found.empty() &&
        !SaveFound(visit_, *entry, site_.Lines[static_cast<size_t>(line_)].Version,
                   dev.SiteCheck.Found, error))
        host_.Say(QStringLiteral("Найденные значения ID %1 не сохранены: %2")
                      .arg(entry->Id)
                      .arg(QString::fromStdString(error)),
                  true);
}

void TSiteFace::Summarise() {
    std::map<TSiteState, int> counts;
    int total = 0;
    for (int i = 0; i < host_.DeviceCount(); ++i)
        if (host_.DeviceAt(i).OnSite) {
            ++counts[host_.DeviceAt(i).SiteCheck.State];
            ++total;
        }
    const bool all = counts[TSiteState::InPlace] == total;
    QString text = QStringLiteral("Объект «%1» проверен: на месте %2 из %3")
                       .arg(QString::fromStdString(site_.Name))
                       .arg(counts[TSiteState::InPlace])
                       .arg(total);
    host_.Say(all ? text : text + QStringLiteral("; устройства с отличиями — в списке слева"),
              !all);
    if (OnChecked) OnChecked();
}

bool TSiteFace::SaveSite() {
    if (!open_ || Busy()) return false;
    TSiteLine& line = site_.Lines[static_cast<size_t>(line_)];
    std::vector<TSiteDevice> devices;
    for (int i = 0; i < host_.DeviceCount(); ++i) {
        TDevice& dev = host_.DeviceAt(i);
        // A device of the site keeps what was accepted; one added since joins as it is now.
        TSiteDevice entry = EntryOf(dev)
                                ? *EntryOf(dev)
                                : SiteDeviceOf(dev.Desc, *dev.Regs, dev.ErrorTexts.get(),
                                               static_cast<uint32_t>(dev.Id), {});
        if (!EntryOf(dev)) entry.Reference.clear();
        entry.Polled = host_.TickedAddresses(i);
        devices.push_back(std::move(entry));
    }
    TSite saved = site_;
    TSiteLine& kept = saved.Lines[static_cast<size_t>(line_)];
    kept.Devices = std::move(devices);
    kept.Port = host_.PortName().toStdString();
    kept.Version = host_.Version();
    kept.Gateway = host_.Gateway();
    kept.PollPeriodMs = host_.PollPeriod();
    std::string error;
    bool changed = false;
    if (!WriteSite(folder_.toStdString(), saved, error, &changed)) {
        ShowWarning(host_.Widget(),
                    changed ? QStringLiteral("Файл объекта изменён другой программой после "
                                             "открытия; объект не сохранён, чтобы не потерять "
                                             "эти изменения. Откройте объект заново.")
                            : QString::fromStdString(error));
        return false;
    }
    line = kept;
    site_.Stamp = saved.Stamp;
    for (int i = 0; i < host_.DeviceCount(); ++i)
        host_.DeviceAt(i).OnSite = true;
    host_.DevicesChanged();
    host_.Say(QStringLiteral("Объект сохранён: %1")
                  .arg(NativeName(QString::fromStdString(SiteFilePath(folder_.toStdString())))),
              false);
    return true;
}

void TSiteFace::CloseSite() {
    if (!open_) return;
    check_.reset();
    checking_ = nullptr;
    toCheck_.clear();
    left_.reset();
    toRead_.clear();
    lefts_.clear();
    reporting_ = false;
    visiting_ = false;
    visit_ = {};
    waitPort_->stop();
    open_ = false;
    site_ = {};
    folder_.clear();
    for (int i = 0; i < host_.DeviceCount(); ++i) {
        host_.DeviceAt(i).OnSite = false;
        host_.DeviceAt(i).SiteCheck = {};
    }
    host_.ShowLines({}, 0, nullptr);
    host_.ListAlways(false);
    host_.DevicesChanged();
    UpdateActions();
}

void TSiteFace::AcceptCurrent() {
    TDevice* dev = Current();
    TSiteDevice* entry = dev ? EntryOf(*dev) : nullptr;
    if (!entry || Busy() || dev->SiteCheck.State != TSiteState::Replaced) return;
    const std::vector<TIdentityValue> before = entry->Identity;
    entry->Identity = dev->SiteCheck.Identity;
    std::string error;
    if (!WriteSite(folder_.toStdString(), site_, error)) {
        entry->Identity = before;
        ShowWarning(host_.Widget(), QString::fromStdString(error));
        return;
    }
    for (const TIdentityChange& c : dev->SiteCheck.Changes)
        host_.Journal(*dev, c.Addr, c.Old, c.New, "принято как устройство объекта");
    const int differences = dev->SiteCheck.Differences;
    dev->SiteCheck.Changes.clear();
    dev->SiteCheck.State = differences > 0 ? TSiteState::Differs : TSiteState::InPlace;
    host_.DevicesChanged();
    UpdateActions();
    host_.Say(QStringLiteral("Устройство ID %1 принято как устройство объекта")
                  .arg(static_cast<uint32_t>(dev->Id)),
              false);
}

void TSiteFace::CompareWithReference(bool restore) {
    TDevice* dev = Current();
    const TSiteDevice* entry = dev ? EntryOf(*dev) : nullptr;
    if (!entry || entry->Reference.empty() || Busy()) return;
    host_.CompareWithFile(ReferencePath(*entry), restore);
}

} // namespace tunavox
