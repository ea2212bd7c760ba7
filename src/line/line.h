#pragma once
#include <functional>
#include <memory>

#include "engine/hand_over.h"
#include "engine/reconnect.h"
#include "engine/worker.h"
#include "link/canal.h"
#include "trend/exchange_stats.h"
#include "trend/poll_pace.h"

namespace tunavox {

// One line: the port and its channel, the worker with its queue and the hand-over of
// finished actions to the main thread, the exchange statistics, the pace of polling and
// the reopening of a lost port. Its devices' requests all go through it.
class TLine {
public:
    TLine();
    // Closes the port and stops the worker (see Shutdown).
    ~TLine();
    TLine(const TLine&) = delete;
    TLine& operator=(const TLine&) = delete;

    // Starts the worker. onPosted is called on the worker when a finished action waits
    // for the main thread (an event loop schedules ServePending); observer sees every
    // action on the worker right after it ran.
    void Start(std::function<void()> onPosted, TTh::Observer observer);
    // Main thread: closes the port, so an exchange waiting on a silent line ends at once,
    // and stops the worker while serving its hand-overs; queued actions are freed unrun.
    void Shutdown();
    void ServePending() { HandOver.ServePending(); }
    void Queue(std::unique_ptr<TAction> action) { Worker->AddAction(std::move(action)); }
    size_t Queued() const { return Worker ? Worker->Queue.Count() : 0; }
    bool PortOpen() const { return Canal->ComPort->IsOpen(); }

    std::unique_ptr<TCanal> Canal;
    THandOverQueue HandOver;
    // Before the worker, which reports to it, and after it at shutdown.
    TExchangeStats Stats;
    TPollPace Pace;
    TReconnect Reconnect;
    std::unique_ptr<TTh> Worker;
};

} // namespace tunavox
