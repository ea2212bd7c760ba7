#include "line/device.h"

#include <utility>

#include "util/integer_text.h"

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

bool TRecheck::Read(int row, bool ok, bool silent) {
    if (silent) {
        silent_ = true;
        return false;
    }
    const bool back = std::exchange(silent_, false);
    const bool refused = !ok && good_.count(row) > 0;
    if (ok) good_.insert(row);
    return back || refused;
}

bool SplitDeviceArgument(const std::string& text, std::string& file, uint32_t& id) {
    const size_t colon = text.rfind(':');
    file = text;
    id = 0;
    if (colon == std::string::npos || colon + 1 >= text.size() ||
        text.find_first_not_of("0123456789", colon + 1) != std::string::npos)
        return !text.empty();
    int64_t v = 0;
    if (!ParseIntegerText(text.substr(colon + 1), v) || v <= 0 || v > 0xFFFFFFFFLL) return false;
    file = text.substr(0, colon);
    id = static_cast<uint32_t>(v);
    return !file.empty();
}

} // namespace tunavox
