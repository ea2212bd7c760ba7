#pragma once
#include <QAction>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "site/report.h"
#include "site/site_check.h"
#include "site/visit.h"

namespace tunavox {

struct TDevice;
class TLine;
class TfMain;

// What the site's part of the window needs from it: the line and its devices, the sets'
// comparison and restore, the journal and the status line.
class ISiteHost {
public:
    virtual ~ISiteHost() = default;
    virtual QWidget* Widget() = 0;
    virtual TLine& SiteLine() = 0;
    virtual int DeviceCount() = 0;
    virtual TDevice& DeviceAt(int index) = 0;
    virtual int CurrentDevice() = 0;
    virtual std::vector<uint16_t> TickedAddresses(int index) = 0;
    virtual void SetTicked(int index, const std::vector<uint16_t>& addresses) = 0;
    virtual void RefreshRow(const TDevice& dev, int row) = 0;
    virtual void DevicesChanged() = 0; // the list shows every device's state anew
    virtual void ListAlways(bool always) = 0;
    // The site's lines offered beside the list (none for one); choosing one calls chosen.
    virtual void ShowLines(const QStringList& lines, int current,
                           std::function<void(int)> chosen) = 0;
    virtual bool PortIsOpen() = 0;
    virtual QString PortName() = 0;
    virtual uint8_t Version() = 0;
    virtual bool Gateway() = 0;
    virtual int PollPeriod() = 0; // ms between poll passes; 0: as fast as the line goes
    // Makes the window's line the site's: its port, version, mode, poll period and devices
    // (the port closed); the message of what failed, else empty.
    virtual QString LoadLine(const TSiteLine& line) = 0;
    virtual void OpenLinePort() = 0;
    virtual void CompareWithFile(const QString& path, bool restore) = 0;
    virtual void Journal(const TDevice& dev, uint16_t addr, const std::string& before,
                         const std::string& after, const std::string& outcome) = 0;
    virtual void Say(const QString& text, bool error) = 0;
    // Where the journal of writes is kept.
    virtual std::string JournalFolder() = 0;
};

// The window as the site's part sees it.
std::unique_ptr<ISiteHost> MakeSiteHost(TfMain& window);

// The site: a folder with the line's devices and each one's reference set. "Новый
// объект…" makes one from the devices open now, "Открыть объект…" loads its line and
// checks every device before anything is polled or written, "Сохранить объект" keeps the
// line as it stands. The current device's items: accept a replaced unit, make its settings
// the reference, compare with the reference, restore it.
class TSiteFace : public QObject {
public:
    explicit TSiteFace(ISiteHost& host, QObject* parent);
    ~TSiteFace() override;
    // Its items at the top of "Файл".
    void AddMenuItems(QMenu* file);

    QAction* miNewSite;          // "Новый объект…"
    QAction* miOpenSite;         // "Открыть объект…"
    QMenu* miRecentSites;        // "Последние объекты": the last five
    QAction* miSaveSite;         // "Сохранить объект"
    QAction* miReport;           // "Отчёт о наладке…"
    QMenu* miSiteMenu;           // "Объект": the items below, while a site is open
    QAction* miCloseSite;        // "Закрыть объект"
    QAction* miAccept;           // "Принять как устройство объекта"
    QAction* miMakeReference;    // "Сделать эталоном"
    QAction* miCompareReference; // "Сравнить с эталоном"
    QAction* miRestoreReference; // "Восстановить эталон"

    bool IsOpen() const { return open_; }
    const TSite& Site() const { return site_; }
    QString Folder() const { return folder_; }
    bool Busy() const { return check_ || backup_ || reporting_; }

    // Asks for the folder and the name, then NewSite.
    void AskNew();
    // Reads every device's settings (its reference) and identity, then writes the site;
    // the outcome goes to the status line. False when it cannot begin (said why).
    bool NewSite(const QString& folder, const QString& name);
    void AskOpen();
    // Loads the site's line (the first, or the one given) and checks every device.
    bool OpenSite(const QString& folder, int line = 0);
    bool SaveSite();
    void CloseSite();
    void AcceptCurrent();
    void MakeReference();
    void CompareWithReference(bool restore);
    // The last five sites opened or made, newest first.
    QStringList Recent() const;
    // The line of the site the window works with; another is chosen above the list.
    int LineIndex() const { return line_; }
    // The port is open: the checks begin (also when it opened later, or again).
    void PortOpened();
    // The current device changed: its items follow it.
    void UpdateActions();

    std::function<void()> OnChecked; // every device checked (tests, the report)

    // The visit began when the site was opened (a line chosen of the same site goes on with
    // it) and ends when it is closed; what each device answered to its check is kept.
    const TVisit& Visit() const { return visit_; }
    bool Visiting() const { return visiting_; }
    // The engineer named in reports, asked once and kept in the settings.
    QString Engineer() const;
    void SetEngineer(const QString& name);
    // Asks the engineer's name (the first time) and the file, then MakeReport.
    void AskReport();
    // Reads every device of the line once more, then writes the report to path (.html,
    // .csv or .pdf); OnReported tells whether it was written. False when it cannot begin.
    bool MakeReport(const QString& path, const QString& engineer);
    std::function<void(bool written)> OnReported;

private:
    void Remember(const QString& folder);
    void FillRecent();
    void CheckNext();
    void BackupNext();
    TSiteDevice* EntryOf(const TDevice& dev);
    TDevice* Current();
    QString ReferencePath(const TSiteDevice& entry) const;
    void Summarise();
    void OfferLines();
    void ChooseLine(int chosen);
    void ReadLeftNext();
    // Keeps what the device answered to its check as the visit's "as found".
    void KeepFound(const TDevice& dev);
    void WriteReport();

    ISiteHost& host_;
    bool open_ = false;
    TSite site_;
    QString folder_;
    int line_ = 0;
    std::vector<TScanType> types_;
    std::vector<int> toCheck_;
    std::unique_ptr<TSiteCheckRunner> check_;
    TDevice* checking_ = nullptr;
    // Making a site (or a reference): the devices to go and what they gave.
    std::unique_ptr<TParamRunner> backup_;
    std::vector<int> toBackup_;
    TSite making_;
    QString makingFolder_;
    std::vector<TParamSet> references_;
    bool referenceOnly_ = false;
    // The visit, and a report being made: the devices still to read and what they gave.
    TVisit visit_;
    bool visiting_ = false;
    bool reporting_ = false;
    std::unique_ptr<TLeftReader> left_;
    std::vector<int> toRead_;
    std::map<int, TParamSet> lefts_;
    QString reportPath_, reportEngineer_;
    QTimer* waitPort_;
    int waited_ = 0;
    std::shared_ptr<char> alive_ = std::make_shared<char>(0);
};

} // namespace tunavox
