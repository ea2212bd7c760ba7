#pragma once
// The larger sample device served by the in-process simulator over a pseudo-terminal,
// the channel opened on it and a worker served by a plain loop.
#include <memory>
#include <string>

#include "device/description.h"
#include "engine/worker.h"
#include "link/canal.h"
#include "link/open_port.h"
#include "sim/simulator.h"
#include "util/program_folder.h"

namespace tunavox::bench {

struct Rig {
    tunavox::TRegList regs;
    tunavox::TNameValueList errors;
    tunavox::TDescription desc;
    tunavox::TCanal canal;
    tunavox::THandOverQueue handOver;
    std::unique_ptr<tunavox::TDeviceSimulator> sim;
    std::unique_ptr<tunavox::TTh> worker;
    std::string error;

    explicit Rig(uint8_t version) {
        const std::string folder = tunavox::ProgramFolder();
        error =
            tunavox::LoadDescription(folder + "NastrChP7.xml", regs, errors, desc, folder, &canal);
        if (!error.empty()) return;
        tunavox::TSimOptions o;
        o.Version = version;
        sim = std::make_unique<tunavox::TDeviceSimulator>(regs, o);
        const std::string path = sim->StartPty("", error);
        if (path.empty()) return;
        if (!tunavox::OpenPort(canal, path, version, false)) error = canal.ComPort->ErrorText();
        worker = std::make_unique<tunavox::TTh>(handOver);
    }
    ~Rig() {
        if (worker) worker->Stop([this](int ms) { handOver.Serve(ms); });
        canal.ComPort->Close();
    }
};

} // namespace tunavox::bench
