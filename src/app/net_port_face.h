#pragma once
#include <QAction>
#include <QMenu>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

namespace tunavox {

class TfMain;

// A line behind a serial-to-Ethernet converter: "Сервис" → "Сетевой порт…" asks for an
// address (offering the last ten used, kept with the port setting), which then stands in
// the port box beside the system's ports; connecting runs off the window's thread, so the
// window stays live up to the connect time-out.
class TNetPortFace : public QObject {
public:
    explicit TNetPortFace(TfMain& window);
    void Build(QMenu* service);

    QAction* miNetPort; // "Сетевой порт…", while the port is closed

    static constexpr int kHistory = 10;
    // The addresses used, newest first, as stored.
    QStringList History() const;
    // The port box's entries: the system's ports, then the addresses used.
    QStringList Entries(const QStringList& system) const;
    // Puts the port box's entries in place, keeping the selected port while it is listed.
    void Fill(const QStringList& system);
    // Asks for an address (offering the history); the chosen one joins the history and
    // is selected in the port box. False when the user cancelled.
    bool AskAddress();
    // Runs open on a thread of its own, the window live (and its controls held) until it
    // is done; with say, the status line says what is connected to.
    bool OpenLive(const QString& address, const std::function<bool()>& open, bool say = true);
    bool Connecting() const { return connecting_; }
    // While connecting: gives up (Escape, or the open button pressed again).
    void CancelConnecting() {
        if (cancelConnect_) cancelConnect_();
    }
    // The status line's word on a port just opened (what raw TCP cannot set), and the
    // statistics' word on the round trip.
    void SayOpened();
    QString RoundTripText() const;

private:
    void Remember(const QString& address);

    TfMain& w_;
    bool connecting_ = false;
    std::function<void()> cancelConnect_;
};

} // namespace tunavox
