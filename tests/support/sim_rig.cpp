#include "sim_rig.h"

#include <chrono>
#include <gtest/gtest.h>

#include "link/open_port.h"

namespace tunavox::test {

SimRig::SimRig(const std::string& descPath, uint8_t version, TSimOptions options,
               const std::string& simDescPath) {
    const std::string folder = std::string(TUNAVOX_BIN_DIR) + "/";
    const std::string error = LoadDescription(descPath, Regs, ErrorTexts, Desc, folder, &Canal);
    EXPECT_EQ(error, "") << descPath;
    options.Version = version;
    options.Line = Desc.Line.value_or(TLineSettings{});
    if (simDescPath.empty()) {
        Sim = std::make_unique<TDeviceSimulator>(Regs, options);
    } else {
        TRegList simRegs;
        TNameValueList simErrors;
        TDescription simDesc;
        EXPECT_EQ(LoadDescription(simDescPath, simRegs, simErrors, simDesc, folder), "");
        Sim = std::make_unique<TDeviceSimulator>(simRegs, options);
    }
    std::string failure;
    DevicePath = Sim->StartPty("", failure);
    EXPECT_NE(DevicePath, "") << failure;
    EXPECT_TRUE(OpenPort(Canal, DevicePath, version, false)) << Canal.ComPort->ErrorText();
    Worker = std::make_unique<TTh>(HandOver);
}

SimRig::~SimRig() {
    Worker->Stop([this](int ms) { HandOver.Serve(ms); });
    Canal.ComPort->Close();
    Sim->Stop();
}

int SimRig::Row(uint16_t address) const {
    for (int i = 0; i < Regs.Count(); ++i)
        if (Regs.Items(i)->RegType != rtHeader && Regs.Items(i)->Addr == address) return i;
    ADD_FAILURE() << "no register " << address;
    return 0;
}

bool SimRig::ServeUntil(const std::function<bool()>& done, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        HandOver.Serve(10);
    }
    return true;
}

std::string SimRig::Run(bool write, uint16_t address, int32_t deviceId) {
    bool done = false;
    std::string error;
    auto handler = [&](TAction* a) {
        error = a->Error();
        done = true;
    };
    if (write)
        Worker->AddAction(std::make_unique<TActionWriteReg>(&Canal, deviceId, Reg(address),
                                                            Row(address), handler));
    else
        Worker->AddAction(std::make_unique<TActionReadReg>(&Canal, deviceId, Reg(address),
                                                           Row(address), handler));
    EXPECT_TRUE(ServeUntil([&done] { return done; }, 10000));
    return error;
}

std::string SimRig::Read(uint16_t address, int32_t deviceId) {
    return Run(false, address, deviceId);
}

std::string SimRig::Write(uint16_t address, const std::string& text, int32_t deviceId) {
    EXPECT_TRUE(Reg(address)->SetValueFromText(text, false)) << text;
    return Run(true, address, deviceId);
}

} // namespace tunavox::test
