#pragma once
// What the exchange commands of tunavox-cli share: their options, and a session of a
// loaded description, an open port and a running worker served by a plain loop.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/description.h"
#include "engine/reconnect.h"
#include "engine/worker.h"
#include "journal/journal.h"
#include "link/canal.h"

namespace tunavox::cli {

struct Options {
    std::string Desc;
    std::string Port;
    uint8_t Version = 1; // 2.0, as the program starts
    uint32_t DeviceId = 0;
    bool Gateway = false;
    bool Log = false;
    std::string Format; // csv, html or rtf: export the table after reading
    std::string Output;
    bool All = false;         // restore: every RW row of the file
    bool OtherDevice = false; // restore: a set saved for another device type or ID too
    double Seconds = -1;      // poll: how long, when given
    long long Count = -1;     // poll: how many passes, when given
    int Period = 0;           // poll: ms between the starts of passes (0: as fast as it goes)
    bool Wide = false;        // poll: a line per pass with a column per register
    std::string Journal;      // --journal: the journal's folder instead of the default
    bool Verify = true;       // write: read each written register back (--no-verify: not)
    bool Defaults = false;    // compare, diff: against the description's factory values
    // --device FILE[:ID], repeatable: several devices on the line (read, poll). One is
    // the same as --desc FILE --id ID.
    std::vector<std::pair<std::string, uint32_t>> Devices;
    std::vector<std::string> Rest;
};

constexpr int kUsageError = 2;

// Prints "tunavox-cli: message" on standard error; returns kUsageError.
int Fail(const std::string& message);

// Reads the common options; ADDR and other plain words go to Rest. With
// paired output, --format and --output must come together (read's export).
bool ParseOptions(const std::vector<std::string>& args, Options& o, std::string& error,
                  bool pairedOutput = true, bool needPort = true);

// Adds "FILE[:ID]" of --device to devices; false with the message for a bad one.
bool AddDevice(const std::string& text, std::vector<std::pair<std::string, uint32_t>>& devices,
               std::string& error);

bool ParseAddress(const std::string& text, uint16_t& address);
// The addresses among words from index first on; false with a message for a bad one.
bool ParseAddresses(const std::vector<std::string>& words, size_t first, std::vector<uint16_t>& out,
                    std::string& error);
// The first register row with that address, or -1.
int FindRow(const TRegList& regs, uint16_t address);

// True once SIGINT or SIGTERM came (caught from Session::Start or WatchStopSignals on).
bool StopRequested();
void WatchStopSignals();

// A loaded description with an open port and a running worker.
class Session {
public:
    // Loads the description and opens the port; 0, or kUsageError with the message
    // printed.
    int Start(const Options& o);
    ~Session();

    int32_t DeviceId() const { return deviceId_; }
    void AddAction(std::unique_ptr<TAction> action) { worker_->AddAction(std::move(action)); }
    // Serves hand-overs until done() holds. A stop signal closes the port, so what
    // is running and queued fails at once and done() comes soon. dueInMs, when given,
    // says how soon done() wants to look again.
    void ServeUntil(const std::function<bool()>& done,
                    const std::function<int()>& dueInMs = nullptr);

    // Queues a read (a write for "WOR") or a write of row and remembers its outcome.
    void Queue(int row, bool write);
    // Serves hand-overs until every queued action has completed.
    void Wait();
    // Wait, then one line per row in table order. Returns 1 when any exchange failed.
    int Finish();
    // The outcome of the row's last queued action (its error text, empty for success).
    std::string& Result(int row) { return results_[row]; }

    // Appends a write to the journal; when it cannot be kept, says so once on stderr.
    void Journal(const TReg& reg, const std::string& before, const std::string& written,
                 const std::string& outcome, TJournalLine kind = TJournalLine::Whole);

    // The adapter is gone: releases the port and says so on stderr.
    void LinkLost(const std::string& why);
    bool Reconnecting() const { return reconnect_.Active(); }
    // While the port is away, one attempt to reopen it when due; true once it is back
    // (said on stderr).
    bool TryReconnect();
    // Writes the table as the window would export it. False (and a message on
    // standard error) when the file cannot be written.
    bool Export(const Options& o) const;

    TCanal Canal;
    TRegList Regs;
    TNameValueList ErrorTexts;
    TDescription Desc;

private:
    THandOverQueue handOver_;
    std::unique_ptr<TTh> worker_;
    Options options_;
    TReconnect reconnect_;
    TJournal journal_;
    bool journalFailed_ = false;
    int32_t deviceId_ = 0;
    int outstanding_ = 0;
    std::map<int, std::string> results_;
};

} // namespace tunavox::cli
