#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tunavox {

// What one finished exchange says about the link.
enum class TLinkKind {
    Ok,          // answered
    DeviceError, // answered with an error code: the device is there
    NoAnswer,    // time-out: the device is silent
    Garbled,     // something answered, but not a valid answer
    PortLost,    // the adapter is gone
    PortClosed,  // the port was closed (by the user, or before a reconnect)
    PortError,   // another failure of the port
};

// Tells an exchange's outcome by its error text and the port's error code (0 when the
// port did not fail).
TLinkKind ClassifyExchange(const std::string& error, int portError);
// Time-outs, garbled answers and port failures: the link, not the device, failed.
bool IsLinkFailure(TLinkKind kind);

enum class TLinkState {
    Closed,    // no port open
    Open,      // opened, nothing heard yet
    Answering, // the last exchange reached the device
    Silent,    // the device does not answer (or answers garbage)
    Lost,      // the adapter is gone; waiting for it to return
};

// The link as the screen shows it: its state and, per table row, when its value was
// last confirmed and why its last exchange failed. Fed with every finished exchange
// on one thread (the window's, or the command line's loop); not locked.
class TLinkMonitor {
public:
    // Forgets the rows and starts with rows of them, the link closed.
    void Reset(int rows);
    void Opened();
    void Closed();
    // The adapter went away with that error (in words).
    void Lost(const std::string& error, int64_t nowMs);
    // One finished exchange on a row (-1 for none) with its error in words. True when
    // the link's state changed.
    bool Record(int row, TLinkKind kind, const std::string& errorWords, int64_t nowMs);
    // A failure of the row's own (a write kept otherwise), shown until an exchange on
    // the row succeeds.
    void SetRowError(int row, const std::string& words);

    TLinkState State() const { return state_; }
    // "Нет связи с устройством", "Адаптер отключён — ожидание подключения…", ...; a line
    // lost names the network port's converter (see LineLostText).
    std::string StateText(const std::string& port = {}) const;
    // The last link failure in words.
    const std::string& Reason() const { return reason_; }
    // When the link went down (ms since the epoch), 0 while it is up.
    int64_t DownSince() const { return Down() ? downSince_ : 0; }
    bool Down() const { return state_ == TLinkState::Silent || state_ == TLinkState::Lost; }

    // The row's value was not confirmed since the link last went down: while it is down,
    // and after it is back until the row's own exchange succeeds (the device may hold
    // another value by then, or be another device on the same port name). A port the
    // user closed and opened again makes no value stale.
    bool IsStale(int row) const;
    // The rows stale now, in table order.
    std::vector<int> StaleRows() const;
    // The row's last exchange failed: why, in words; empty otherwise.
    std::string RowError(int row) const;
    // When the row was last read or written successfully (ms since the epoch), 0: never.
    int64_t LastGood(int row) const;
    // "Последнее успешное чтение: 2026-12-09 16:03:33" or "Успешных обменов не было".
    std::string LastGoodText(int row) const;

private:
    struct Row {
        int64_t LastGood = 0;
        std::string Error;
    };
    const Row* At(int row) const;

    std::vector<Row> rows_;
    TLinkState state_ = TLinkState::Closed;
    int64_t downSince_ = 0;
    int64_t lastOutage_ = 0; // when the link last went down; kept after it is back
    std::string reason_;
};

// The lost line in words: a USB adapter pulled ("Адаптер отключён — ожидание
// подключения…") or, for a network port, its converter unreachable, named by its address.
std::string LineLostText(const std::string& port);
// The same as a line of the command line's report, with why the line went.
std::string LineLostNote(const std::string& port, const std::string& why);

} // namespace tunavox
