#include "line/device.h"

namespace tunavox {

TDevice::TDevice()
    : Regs(std::make_unique<TRegList>()), ErrorTexts(std::make_unique<TNameValueList>()) {}

TDevice::~TDevice() = default;

std::string TDevice::Load(const std::string& path, int entry, const std::string& programFolder,
                          TCanal* canal) {
    Entry = entry;
    Desc = TDescription{};
    return LoadDescription(path, *Regs, *ErrorTexts, Desc, programFolder, canal);
}

void TDevice::ResetConnection() {
    Link.Reset(Regs->Count());
    PollNode = -1;
    LastChangedRow = -1;
    PingNode = -1;
    for (int r = 0; r < Regs->Count(); ++r)
        if (Regs->Items(r)->Addr == 0xFFFD && Regs->Items(r)->RegType != rtHeader) {
            PingNode = r;
            break;
        }
    if (PingNode < 0 && Regs->Count() > 0) PingNode = 0;
}

} // namespace tunavox
