// The window as the site's part sees it: its line and devices, reached through the
// window's public face only.
#include <QPalette>

#include "app/main_window.h"
#include "app/site_face.h"

namespace tunavox {
namespace {

class TWindowSiteHost : public ISiteHost {
public:
    explicit TWindowSiteHost(TfMain& w) : w_(w) {}

    QWidget* Widget() override { return &w_; }
    TLine& SiteLine() override { return w_.Line(); }
    int DeviceCount() override { return w_.Devices().Count(); }
    TDevice& DeviceAt(int index) override { return w_.Devices().Device(index); }
    int CurrentDevice() override { return w_.Devices().Current(); }

    std::vector<uint16_t> TickedAddresses(int index) override {
        std::vector<uint16_t> out;
        TRegisterModel* m = w_.Devices().View(index)->Model();
        const TRegList& regs = *DeviceAt(index).Regs;
        for (int r = 0; r < regs.Count(); ++r)
            if (m->HasCheckBox(r) && m->CheckState(r) == Qt::Checked)
                out.push_back(regs.Items(r)->Addr);
        return out;
    }

    void SetTicked(int index, const std::vector<uint16_t>& addresses) override {
        TRegisterModel* m = w_.Devices().View(index)->Model();
        const TRegList& regs = *DeviceAt(index).Regs;
        for (int r = 0; r < regs.Count(); ++r) {
            if (!m->HasCheckBox(r)) continue;
            const bool on = std::find(addresses.begin(), addresses.end(), regs.Items(r)->Addr) !=
                            addresses.end();
            m->SetCheckState(r, on ? Qt::Checked : Qt::Unchecked, false);
        }
        const int checked = m->CheckedCount();
        m->SetHeaderState(checked == 0                     ? Qt::Unchecked
                          : checked == m->CheckableCount() ? Qt::Checked
                                                           : Qt::PartiallyChecked);
    }

    void RefreshRow(const TDevice& dev, int row) override {
        const int index = w_.Devices().TabOf(&dev);
        if (index >= 0) w_.Devices().View(index)->Model()->RefreshRow(row);
    }

    void DevicesChanged() override {
        w_.Devices().UpdateBar();
        w_.LinkFace().ShowLinkState();
        w_.Site().UpdateActions();
    }
    void ListAlways(bool always) override { w_.Devices().SetListAlways(always); }
    void ShowLines(const QStringList& lines, int current,
                   std::function<void(int)> chosen) override {
        w_.Devices().SetLines(lines, current);
        w_.Devices().OnLineChosen = std::move(chosen);
    }
    bool PortIsOpen() override { return w_.PortOpen(); }
    QString PortName() override { return w_.cbPort->currentText(); }
    uint8_t Version() override { return w_.miVer1->isChecked() ? 0 : 1; }
    bool Gateway() override { return w_.chOver41G->isChecked(); }

    QString LoadLine(const TSiteLine& line) override {
        // Every description first: nothing changes in the window for a site it cannot load.
        std::vector<int> entries;
        for (const TSiteDevice& d : line.Devices) {
            int entry = -1;
            const auto& catalogue = w_.Catalogue();
            for (size_t i = 0; i < catalogue.size() && entry < 0; ++i) {
                const std::string& path = catalogue[i].Path;
                const size_t slash = path.find_last_of("/\\");
                if (path.substr(slash == std::string::npos ? 0 : slash + 1) == d.Description)
                    entry = static_cast<int>(i);
            }
            if (entry < 0)
                return QStringLiteral("Описание %1 устройства ID %2 не найдено рядом с программой")
                    .arg(QString::fromStdString(d.Description))
                    .arg(d.Id);
            entries.push_back(entry);
        }
        if (w_.PortOpen() || w_.Line().Reconnect.Active()) w_.bOpenClick();
        if (w_.PortOpen()) return QStringLiteral("Порт не закрывается: объект не открыт");
        TDevicesFace& devices = w_.Devices();
        devices.Select(0);
        while (devices.Count() > 1) devices.Close(devices.Count() - 1);
        if (devices.Count() > 1) return QStringLiteral("Дождитесь окончания работы с параметрами");
        w_.DeviceChosen(entries[0]);
        w_.eID->setText(QString::number(line.Devices[0].Id));
        w_.eIDChange();
        for (size_t i = 1; i < line.Devices.size(); ++i)
            if (const QString why = devices.Add(entries[i], line.Devices[i].Id); !why.isEmpty())
                return why;
        devices.Select(0);
        const QString port = QString::fromStdString(line.Port);
        if (w_.cbPort->findText(port) < 0) w_.cbPort->addItem(port);
        w_.cbPort->setCurrentIndex(w_.cbPort->findText(port));
        (line.Version == 0 ? w_.miVer1 : w_.miVer2)->setChecked(true);
        w_.chOver41G->setChecked(line.Gateway);
        w_.Trend().sePollPeriod->setValue(line.PollPeriodMs);
        return {};
    }
    int PollPeriod() override { return w_.Line().Pace.Period(); }

    void OpenLinePort() override {
        if (!w_.PortOpen()) w_.bOpenClick();
    }
    void CompareWithFile(const QString& path, bool restore) override {
        w_.Sets().CompareWithFile(path, restore);
    }
    void Journal(const TDevice& dev, uint16_t addr, const std::string& before,
                 const std::string& after, const std::string& outcome) override {
        for (int r = 0; r < dev.Regs->Count(); ++r)
            if (dev.Regs->Items(r)->Addr == addr && dev.Regs->Items(r)->RegType != rtHeader)
                return w_.LinkFace().JournalWrite(*dev.Regs->Items(r), before, after, outcome);
    }
    void Say(const QString& text, bool error) override {
        if (error)
            w_.ShowError(text);
        else
            w_.ShowStatus(text, true, w_.palette().color(QPalette::Button));
    }

    std::string JournalFolder() override { return w_.LinkFace().Journal().Folder(); }

private:
    TfMain& w_;
};

} // namespace

std::unique_ptr<ISiteHost> MakeSiteHost(TfMain& window) {
    return std::make_unique<TWindowSiteHost>(window);
}

} // namespace tunavox
