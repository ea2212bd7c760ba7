#pragma once
#include <functional>
#include <memory>

#include "engine/hand_over.h"
#include "engine/reconnect.h"
#include "engine/worker.h"
#include "link/canal.h"
#include "paramset/param_runner.h"
#include "trend/exchange_stats.h"
#include "trend/poll_pace.h"
#include "trend/poll_recorder.h"
#include "trend/sample_store.h"

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
    // The polled values of all the line's devices (each device's rows by its keys) and
    // their recording: one file, with the device in a field when there are several.
    TSampleStore Samples;
    TPollRecorder Recorder;
    std::string RecordPath;               // the recording's file
    std::string RecordStopped;            // why the recording stopped, until the user acts
    std::unique_ptr<TWideRecording> Wide; // the wide recording's pass in progress
    bool RecordDevices = false;           // the recording names each value's device
    std::unique_ptr<TTh> Worker;
};

struct TDevice;
// What a runner (a set, a site's check) needs to work on one device of the line.
TRunnerContext RunnerContext(TLine& line, TDevice& device);

} // namespace tunavox
