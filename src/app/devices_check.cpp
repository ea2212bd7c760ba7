// The devices of a line told again (are they still their descriptions' types?): after an
// outage of the line, when one answers after silence, when a row it read refuses. Only
// with several devices: a window with one device works and sends as it always did.
#include <QMessageBox>
#include <QTimer>

#include "app/devices_face.h"
#include "app/main_window.h"
#include "link/canal.h"
#include "ui/message_box.h"
#include "util/program_folder.h"

namespace tunavox {

bool TDevicesFace::Held(const TDevice& dev) const {
    const int tab = TabOf(&dev);
    return !dev.Other.empty() || (dev.OnSite && !SiteDeviceTrusted(dev.SiteCheck)) ||
           (tab >= 0 && round_.Held(static_cast<size_t>(tab)));
}

void TDevicesFace::LineBack() {
    if (!Several()) return;
    for (int t = 0; t < Count(); ++t)
        if (Device(t).Other.empty()) CheckDevice(t);
}

void TDevicesFace::CheckDevice(int tab) {
    if (!Several() || tab < 0 || tab >= Count()) return;
    TDevice* dev = &Device(tab);
    if (checks_.count(dev) || !dev->Other.empty()) return;
    // A device with a set at work keeps its line to itself until it is done.
    if (dev->ParamRunner && dev->ParamRunner->Running()) return;
    if (checkTypes_.empty()) {
        std::vector<std::string> problems;
        checkTypes_ = LoadScanTypes(w_.Catalogue(), ProgramFolder(), problems);
    }
    size_t expected = SIZE_MAX;
    const std::string path = dev->Entry >= 0 && dev->Entry < static_cast<int>(w_.Catalogue().size())
                                 ? w_.Catalogue()[static_cast<size_t>(dev->Entry)].Path
                                 : std::string();
    for (size_t t = 0; t < checkTypes_.size(); ++t)
        if (checkTypes_[t].Path == path) expected = t;
    if (expected == SIZE_MAX) return;
    // Nothing is polled (or written) on it until it has answered as itself.
    round_.Hold(static_cast<size_t>(tab), true);
    auto runner = std::make_unique<TIdentifyRunner>(
        w_.Line().Canal.get(), static_cast<uint32_t>(dev->Id), checkTypes_, expected,
        [this](std::unique_ptr<TAction> a) { w_.Line().Queue(std::move(a)); });
    TIdentifyRunner* r = runner.get();
    checks_[dev] = std::move(runner);
    r->OnFinished = [this, dev] { CheckDone(dev); };
    r->Start();
}

void TDevicesFace::CheckDone(TDevice* dev) {
    const auto it = checks_.find(dev);
    if (it == checks_.end()) return;
    const TIdentity result = it->second->Result();
    const std::string what = it->second->WhatText();
    // Freed once this completion has returned: the runner is still on the stack.
    std::shared_ptr<TIdentifyRunner> finished(it->second.release());
    checks_.erase(it);
    QTimer::singleShot(0, this, [finished] {});
    const int tab = TabOf(dev);
    if (tab < 0) return; // its tab was closed meanwhile
    switch (result) {
    case TIdentity::Same:
        round_.Hold(static_cast<size_t>(tab), false);
        round_.Wake(static_cast<size_t>(tab));
        break;
    case TIdentity::Silent:
        // Held until it answers as itself, asked again a second later.
        QTimer::singleShot(1000, this, [this, dev] { CheckDevice(TabOf(dev)); });
        break;
    case TIdentity::Other:
    case TIdentity::Unknown: {
        dev->Other = OtherDeviceText(static_cast<uint32_t>(dev->Id), what);
        ShowTab(tab);
        w_.LinkFace().ShowLinkState();
        w_.ShowStatus(QString::fromStdString(dev->Other), true, QColor(0xC0, 0x10, 0x10));
        // Asked once the completion has returned.
        QTimer::singleShot(0, this, [this, dev] { AskAboutOther(dev); });
        break;
    }
    }
    if (w_.chPoll->isChecked()) w_.PostPollNext(0);
}

void TDevicesFace::AskAboutOther(TDevice* dev) {
    int tab = TabOf(dev);
    if (tab < 0 || dev->Other.empty()) return;
    // The description of what answers there, when the catalogue has one type that fits.
    int entry = -1;
    const std::string prefix = OtherDeviceText(static_cast<uint32_t>(dev->Id), "");
    const std::string what = dev->Other.substr(prefix.size());
    for (size_t e = 0; e < checkTypes_.size(); ++e)
        if (checkTypes_[e].Name == what)
            for (size_t c = 0; c < w_.Catalogue().size(); ++c)
                if (w_.Catalogue()[c].Path == checkTypes_[e].Path) entry = static_cast<int>(c);
    const uint32_t id = static_cast<uint32_t>(dev->Id);
    const QString text = QString::fromStdString(dev->Other) +
                         QStringLiteral(".\nОпрос и запись этого устройства остановлены.");
    const int answer =
        entry >= 0 ? MessageBoxWithCaptions(&w_, text, QMessageBox::Warning,
                                            QMessageBox::Yes | QMessageBox::No,
                                            {QStringLiteral("Загрузить описание"),
                                             QStringLiteral("Закрыть вкладку")})
                   : MessageBoxWithCaptions(&w_, text, QMessageBox::Warning, QMessageBox::No,
                                            {QStringLiteral("Закрыть вкладку")});
    tab = TabOf(dev);
    if (tab < 0) return;
    Close(tab);
    if (answer == QMessageBox::Yes && entry >= 0) {
        const QString refused = Add(entry, id);
        if (!refused.isEmpty()) w_.ShowError(refused);
    }
}

} // namespace tunavox
