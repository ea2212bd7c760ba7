#pragma once
// The whole stack in one process: a description, the simulated device on a
// pseudo-terminal, the channel opened on it, and a worker served by a plain loop.
#include <functional>
#include <memory>
#include <string>

#include "device/description.h"
#include "engine/worker.h"
#include "link/canal.h"
#include "sim/simulator.h"

namespace tunavox::test {

class SimRig {
public:
    // Loads the description for the program; the device uses simDescPath when given
    // (a device that knows other registers), else the same file.
    SimRig(const std::string& descPath, uint8_t version, TSimOptions options = {},
           const std::string& simDescPath = {});
    ~SimRig();

    // Index of the first register row with that address; fails the test when absent.
    int Row(uint16_t address) const;
    TReg* Reg(uint16_t address) const { return Regs.Items(Row(address)); }

    // Queues an action and serves hand-overs until its handler ran (or the time ran
    // out); returns its error text.
    std::string Read(uint16_t address, int32_t deviceId = 0);
    std::string Write(uint16_t address, const std::string& text, int32_t deviceId = 0);
    // Serves hand-overs until done() or ms passed.
    bool ServeUntil(const std::function<bool()>& done, int ms = 5000);

    TRegList Regs;
    TNameValueList ErrorTexts;
    TDescription Desc;
    TCanal Canal;
    THandOverQueue HandOver;
    std::unique_ptr<TDeviceSimulator> Sim;
    std::unique_ptr<TTh> Worker;
    std::string DevicePath;

    // Queues a read or a write of the register's current value and waits for it.
    std::string Run(bool write, uint16_t address, int32_t deviceId);
};

} // namespace tunavox::test
