// The line's devices as the list beside the table shows them: each one's state in words
// and colour, and why a write to a device is refused while it is held.
#include "app/devices_face.h"
#include "app/main_window.h"
#include "engine/link_state.h"

namespace tunavox {

TDeviceListModel::TItem TDevicesFace::ItemOf(const TDevice& d) const {
    using TMark = TDeviceListModel::TMark;
    TDeviceListModel::TItem item;
    item.Name = QString::fromStdString(d.Desc.Name);
    item.Id = static_cast<uint32_t>(d.Id);
    if (!d.Other.empty()) {
        // Another device at its ID: red, and said, until the user decides.
        item.State = QStringLiteral("другое устройство");
        item.Detail = QString::fromStdString(d.Other);
        item.Mark = TMark::Bad;
        return item;
    }
    const QString link =
        QString::fromStdString(d.Link.StateText(w_.Line().Reconnect.PortName()));
    const QString reason = d.Link.Down() ? QString::fromStdString(d.Link.Reason()) : QString();
    if (d.OnSite) {
        const TSiteCheck& c = d.SiteCheck;
        item.State = c.State == TSiteState::NotChecked && !w_.PortOpen()
                         ? QStringLiteral("не проверено")
                     : c.State == TSiteState::NotChecked ? QStringLiteral("проверяется…")
                                                         : QString::fromStdString(SiteStateText(c));
        item.Differences = c.Differences;
        item.Mark = c.State == TSiteState::InPlace    ? TMark::Good
                    : c.State == TSiteState::Differs  ? TMark::Warning
                    : c.State == TSiteState::NotChecked ? TMark::Unknown
                                                        : TMark::Bad;
        QStringList detail;
        if (c.State == TSiteState::Replaced)
            detail << QString::fromStdString(IdentityChangesText(c));
        if (c.State == TSiteState::OtherDevice) detail << QString::fromStdString(c.Other);
        if (!c.Problem.empty() && c.Differences < 0) detail << QString::fromStdString(c.Problem);
        // Checked, then silent: the link says so too.
        if (d.Link.Down() && c.State != TSiteState::Silent) {
            item.Mark = TMark::Bad;
            detail << link + (reason.isEmpty() ? QString() : QStringLiteral(" (") + reason + ')');
        }
        item.Detail = detail.join(QLatin1Char('\n'));
        return item;
    }
    item.State = link;
    item.Detail = reason;
    item.Mark = d.Link.Down() ? TMark::Bad
                : d.Link.State() == TLinkState::Answering ? TMark::Good
                                                          : TMark::Unknown;
    return item;
}

void TDevicesFace::ShowTab(int tab) {
    if (tab < 0 || tab >= Count()) return;
    UpdateBar();
}

void TDevicesFace::SetListAlways(bool always) {
    listAlways_ = always;
    UpdateBar();
}

void TDevicesFace::UpdateBar() {
    const bool shown = Several() || listAlways_;
    miCloseTab->setEnabled(Several());
    miSaveAllSets->setVisible(Several());
    std::vector<TDeviceListModel::TItem> items;
    for (int t = 0; t < Count(); ++t)
        items.push_back(ItemOf(Device(t)));
    lvDevices->Model()->SetItems(std::move(items));
    {
        const QSignalBlocker quiet(lvDevices->selectionModel());
        lvDevices->setCurrentIndex(lvDevices->Model()->index(current_));
    }
    lvDevices->setVisible(shown);
}

bool TDevicesFace::WriteRefused(const TDevice& dev) {
    if (!Held(dev)) return false;
    // Not before it has answered as itself, nor into another device or unit.
    const std::string why =
        !dev.Other.empty() ? dev.Other
        : dev.OnSite && !SiteDeviceTrusted(dev.SiteCheck)
            ? "Запись запрещена: устройство ID " + std::to_string(dev.Id) +
                  (dev.SiteCheck.State == TSiteState::NotChecked
                       ? " ещё не проверено"
                       : " не устройство объекта (" + SiteStateText(dev.SiteCheck) +
                             "); примите его как устройство объекта")
            : "Запись отложена: устройство ID " + std::to_string(dev.Id) +
                  " проверяется после перерыва связи";
    w_.ShowError(QString::fromStdString(why));
    return true;
}

} // namespace tunavox
