#pragma once
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "app/devices_face.h"
#include "app/find_face.h"
#include "app/keys_face.h"
#include "app/link_face.h"
#include "app/main_options.h"
#include "app/net_port_face.h"
#include "app/scan_face.h"
#include "app/sets_face.h"
#include "app/site_face.h"
#include "app/trend_face.h"
#include "device/catalogue.h"
#include "line/device.h"
#include "line/line.h"
#include "widgets/port_box.h"
#include "widgets/register_view.h"

namespace tunavox {

class TDeviceSimulator;

// The main window: port controls, the register table, polling, status line.
class TfMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfMain(const TMainOptions& options = {}, QWidget* parent = nullptr);
    ~TfMain() override;

    // A description failed to load at start: the program is to end (exit status 1).
    bool TerminateRequested() const { return terminateRequested_; }

    // Controls (also reachable by objectName).
    TPortBox* cbPort;
    QPushButton* bOpen;
    QCheckBox* chOver41G;
    QLineEdit* eID;
    TRegisterView* vstList;
    QCheckBox* chPoll;
    QLabel* lProgress;
    QPushButton* bWriteAll;
    QPushButton* bReadAll;
    QStatusBar* StatusBar1;
    QLabel* StatusText;
    QTimer *StatusTimer, *PingTimer;
    QMenu* miDevList;
    QMenu* miVers;
    QAction *miVer1, *miVer2;
    QAction* chUseLogs;
    QTimer* PollDelay; // the pause before the next poll read while reads keep failing
    QAction *miExportHtml, *miExportRtf, *miExportCsv;
    QAction* N2; // "Выход"
    QAction* N4; // "О программе"

    // State of the view; the device's own (ID, poll and keep-alive rows...) is Dev()'s.
    uint8_t SpinIndex = 0;
    bool ServiceMode = false;

    // The line (port, channel, worker) and the device of the current tab.
    TLine& Line() { return *line_; }
    TDevice& Dev() { return *dev_; }
    const TDevice& Dev() const { return *dev_; }
    TCanal& Canal() { return *line_->Canal; }
    TRegList& Regs() { return *dev_->Regs; }
    const std::vector<TCatalogueEntry>& Catalogue() const { return catalogue_; }
    TDeviceSimulator* DemoDevice() const { return demo_.get(); }

    void LoadSettings(); // the settings store
    void SaveSettings();
    void ChooseAtStart(); // the device's description
    void DeviceChosen(int entry);
    // Connection control.
    void bOpenClick();
    bool OpenPort(const QString& name);
    void bReadAllClick();
    void bWriteAllClick();
    void chPollClick();
    void eIDChange();
    // A row of the current tab's device, or of dev; windowMs: a quick probe's (TAction).
    void ReadNode(int row, const TAction::Handler& done, TDevice* dev = {}, uint32_t windowMs = 0);
    void WriteNode(int row, bool force, const TAction::Handler& done, TDevice* dev = {},
                   uint32_t windowMs = 0);
    void PingTimerTimer();
    void ShowStatus(const QString& text, bool autoClear, const QColor& color);
    void ShowError(const QString& text);
    bool PortOpen() const;

    // Table callbacks.
    void vstListChecked(int row, Qt::CheckState state);
    void vstListHeaderClick();
    void vstListChange(int row);
    void vstListDblClick();
    bool vstListKeyEnter();
    void ToggleServiceMode();
    void EditValue(int row);
    // Space on the table: ticks or unticks the current row's box, as a click does.
    void ToggleCurrentCheck();

    // Finding and copying rows (Ctrl+F, Ctrl+C).
    TFindFace& Find() { return *find_; }

    void RefreshPorts(); // the port list read again, the selected port kept while listed
    // The system's port list (replaced in tests); false when it cannot be read.
    std::function<bool(QStringList&)> PortLister;

    QAction* chOnlyFactoryDiffs; // "Только отличающиеся от заводских"
    // Parameter sets: "Сохранить параметры…", "Сравнить с файлом параметров…"...
    TSetsFace& Sets() { return *sets_; }
    // Recording, chart, poll period and statistics.
    TTrendFace& Trend() { return *trend_; }
    // The keyboard alone: shortcuts, menu letters, the list of keys (F1).
    TKeysFace& Keys() { return *keys_; }
    // The link: its state, a lost port reopened, writes read back and journalled.
    TLinkFace& LinkFace() { return *link_; }
    // "Поиск устройств…" (F8), while the port is closed; a found device opened.
    TScanFace& Scan() { return *scan_; }
    // The line's devices, a tab each; one poll over them all.
    TDevicesFace& Devices() { return *devices_; }
    TNetPortFace& NetPort() { return *net_; } // "Сетевой порт…": a line over the network
    TSiteFace& Site() { return *site_; }      // "Новый объект…", "Открыть объект…"...

    void miExportClick(int tag); // export and About
    // Writes the export of the menu item with that tag to path; failures go to the message box.
    void ExportTo(int tag, const QString& path);
    void N4Click();
    // The exchange log on or off; says once when it goes to the user's folder because
    // the program's cannot be written.
    void UseLogs(bool on);

    // For the window's parts (its faces).
    QColor NormalStatusColor() const { return normalStatusColor_; }
    // The device (and its table) the window's controls act on.
    void SetCurrent(TDevice& dev, TRegisterView* view);
    const TMainOptions& Options() const { return options_; }
    // A finished exchange shown on its own device's table; an error said.
    void OnReadDone(TAction* action);
    void OnWriteDone(TAction* action);
    // A table made for another device: its signals and its description's look.
    void WireView(TRegisterView* view);
    void StyleView(TRegisterView* view, const TDescription& desc);
    void PostPollNext(int delayMs = 0); // the poll's next step, after a pause
    // The "Устройство" menu shows the description of entry as the current one.
    void MarkCatalogueEntry(int entry);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildForm();
    void BuildCatalogue();
    void ApplyDescription(const TDescription& desc);
    void LayOutForDescription();
    void ResetConnectionState();
    void UpdateOpenState();
    void StartDemo();
    void OnPollReadDone(TAction* action);
    void OnPollWriteDone(TAction* action);
    void ServeHandOver();

    TFindFace* find_;
    TDevicesFace* devices_;
    TNetPortFace* net_;
    TSetsFace* sets_;
    TScanFace* scan_;
    TLinkFace* link_;
    TKeysFace* keys_;
    TTrendFace* trend_;
    std::unique_ptr<ISiteHost> siteHost_;
    TSiteFace* site_;
    TMainOptions options_;
    std::unique_ptr<TLine> line_;
    TDevice* dev_ = nullptr; // the current tab's; the devices face owns them
    bool logsPlaceSaid_ = false;
    std::unique_ptr<TDeviceSimulator> demo_;
    QString demoPort_;
    std::vector<TCatalogueEntry> catalogue_;
    std::vector<QAction*> catalogueActions_;
    bool terminateRequested_ = false;
    bool layoutPending_ = false;
    QColor normalStatusColor_;
};

} // namespace tunavox
