#pragma once
#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QObject>
#include <QStackedWidget>
#include <QString>
#include <QHBoxLayout>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "app/device_list.h"
#include "engine/action.h"
#include "line/device.h"
#include "line/poll_round.h"
#include "scan/identify_runner.h"

namespace tunavox {

class TfMain;
class TRegisterView;

// The devices of the window's line, each with its own table, listed beside it: with one
// device (and no site open) the window is as it always was (no list). "Считать все", writes, the editor, sets and
// the rest act on the current tab's device; the port, mode and version are the line's.
// With several devices one poll goes round the ticked rows of all of them, a silent one
// resting alone, and each finished exchange lands on its own device's row.
class TDevicesFace : public QObject {
public:
    explicit TDevicesFace(TfMain& window);
    ~TDevicesFace() override;
    // The list and the pages around the first device's table (the window's vstList).
    QWidget* Build(QWidget* central, TRegisterView* first);
    // "Добавить устройство на линии…" and "Убрать устройство с линии" in "Сервис"; "Сохранить
    // параметры всех устройств…" in "Файл", shown while there are several devices.
    void AddMenuItems(QMenu* file, QMenu* service);

    TDeviceListView* lvDevices = nullptr; // hidden while the line has one device, no site
    QComboBox* cbLines = nullptr; // the open site's lines, when it has several
    QStackedWidget* Pages;  // a table per device
    QAction* miAddDevice;   // "Добавить устройство на линии…"
    QAction* miCloseTab;    // "Убрать устройство с линии" (Ctrl+W)
    QAction* miSaveAllSets; // "Сохранить параметры всех устройств…"

    int Count() const { return static_cast<int>(tabs_.size()); }
    bool Several() const { return tabs_.size() > 1; }
    int Current() const { return current_; }
    TDevice& Device(int tab) { return *tabs_[static_cast<size_t>(tab)].Dev; }
    TRegisterView* View(int tab) { return tabs_[static_cast<size_t>(tab)].View; }
    // The tab whose device holds reg; -1 when that tab is closed.
    int TabOf(const TReg* reg) const;
    int TabOf(const TDevice* dev) const;
    TDevice* DeviceOf(const TReg* reg);
    TRegisterView* ViewOf(const TReg* reg);

    // Adds the catalogue entry's device with that ID in a tab of its own and shows it;
    // an empty text, or why it cannot be.
    QString Add(int entry, uint32_t id);
    // Asks for the description and the ID, offering entry and id.
    void AskAndAdd(int entry = -1, uint32_t id = 0);
    // Removes the tab: its device is polled no more, its rows leave the chart and the
    // recording; requests of it still queued finish unseen.
    void Close(int tab);
    void Select(int tab);
    // The device's item in the list: its name and ID, its state (the link's, or what the
    // site's check found) and its differences from the reference.
    void ShowTab(int tab);
    QString Caption(int tab) const; // "<device name> · ID N"
    // The list stays beside the table even with one device (a site is open).
    void SetListAlways(bool always);
    // Every device's item shown anew.
    void UpdateBar();
    // The device may not be written to now (being told, another device, not the site's
    // unit): says why and returns true.
    bool WriteRefused(const TDevice& dev);

    // One step of the poll over every device's ticked rows.
    void PollStep();
    void PollStopped();
    // The keep-alive of each device while nothing polls.
    void Ping();
    // The link of every device: the port was opened, closed or lost, or came back.
    void LinkOpened();
    void LinkClosed();
    void LinkLost(const std::string& why, int64_t now);
    // "Сохранить параметры всех устройств…": a set per device into a folder.
    void SaveAllSets();
    // With several devices: the line came back after an outage, each device is told
    // again before it is polled; Held while being told, or when another device answers
    // at its ID (TDevice::Other: nothing is polled or written there).
    void LineBack();
    bool Held(const TDevice& dev) const;
    // The site's lines to choose from (none shown for one), and the one chosen.
    void SetLines(const QStringList& lines, int current);
    std::function<void(int line)> OnLineChosen;
    // The current device changed (the window's other parts follow it).
    std::function<void()> OnCurrentChanged;
    // Samples and columns of the chart and the wide recording: the device's own rows.
    QString SeriesPrefix(const TDevice& dev) const;

private:
    struct TTab {
        std::unique_ptr<TDevice> Dev;
        TRegisterView* View = nullptr;
    };
    void OnPollDone(TAction* action, bool write);
    void CheckDevice(int tab);
    void CheckDone(TDevice* dev);
    void AskAboutOther(TDevice* dev);
    TDeviceListModel::TItem ItemOf(const TDevice& d) const;
    void SaveNextSet();

    TfMain& w_;
    std::vector<TTab> tabs_;
    bool listAlways_ = false;
    int current_ = 0;
    int nextSerial_ = 1;
    TPollRound round_;
    std::vector<TScanType> checkTypes_; // the catalogue as the search tells types
    std::map<const TDevice*, std::unique_ptr<TIdentifyRunner>> checks_;
    // Devices of closed tabs, kept until their requests queued before the close are done.
    std::vector<std::unique_ptr<TDevice>> retired_;
    // "Сохранить параметры всех устройств…" in progress: the folder and the tabs to go.
    QString setsFolder_;
    std::vector<int> setsToGo_;
    QStringList setsSaved_;
};

} // namespace tunavox
