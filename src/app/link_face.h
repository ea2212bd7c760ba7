#pragma once
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <string>

#include "device/value.h"
#include "engine/link_state.h"
#include "journal/journal.h"
#include "ui/journal_window.h"

namespace tunavox {

class TAction;
class TReg;
struct TDevice;
class TRegisterView;
class TfMain;

// The window's link: its state at a glance, stale values read again when the device
// answers, a lost port reopened by itself; writes read back and the journal of writes.
class TLinkFace : public QObject {
public:
    explicit TLinkFace(TfMain& window);
    // "Проверять запись чтением" and "Журнал записей…" in "Сервис", the link's state in
    // the status bar.
    void Build(QMenu* service);

    QAction* chVerifyWrites; // "Проверять запись чтением"
    QAction* miJournal;      // "Журнал записей…"
    QLabel* lLink;           // the link's state, at the left of the status bar's right end
    QTimer* ReconnectTimer;  // the next attempt to reopen a lost port

    void ShowLinkState();
    // Every finished exchange, told by the worker after it ran.
    void OnExchangeSeen(int row, const TReg* reg, TLinkKind kind, const std::string& error);
    void PortLost(const std::string& why);
    void ReconnectTimerTimer();
    // Ends the wait for a lost port (the user closed it).
    void StopReconnecting();
    // Writes an edited row (Enter, write-all): journalled, and read back when asked.
    void WriteEdited(int row);
    // Puts the row's factory value back through the guarded write with its read-back.
    void RestoreFactoryValue(int row);
    void JournalWrite(const TReg& reg, const std::string& before, const std::string& written,
                      const std::string& outcome, TJournalLine kind = TJournalLine::Whole);
    TJournal& Journal() { return journal_; }
    // Opens (or raises) the journal of writes.
    void ShowJournal();
    TJournalWindow* JournalWindow() const { return journalWindow_; }

private:
    struct TWriteNote {
        const TReg* Reg;
        std::string Before;
        std::string Written;
        TValue Value;
    };
    void OnEditedWriteDone(TAction* action, const TWriteNote& note);
    void OnVerifyDone(TAction* action, const TWriteNote& note);
    // Reads once every row whose value is stale from an outage, the rows on screen first.
    void ReadStaleRows(TDevice& dev, TRegisterView& view);
    void SayJournalProblem(const std::string& error);

    TfMain& w_;
    TJournal journal_;
    bool journalFailed_ = false; // said once
    // Why an acknowledged write's line was not kept: said with its read-back's outcome, so
    // that the status line's "Параметр записан" does not hide it.
    std::string journalUnsaid_;
    QPointer<TJournalWindow> journalWindow_;
};

} // namespace tunavox
