#include "line/line.h"

#include "line/device.h"

namespace tunavox {

TLine::TLine() : Canal(std::make_unique<TCanal>()) {}

TLine::~TLine() {
    Shutdown();
}

void TLine::Start(std::function<void()> onPosted, TTh::Observer observer) {
    HandOver.OnPosted = std::move(onPosted);
    Worker = std::make_unique<TTh>(HandOver, std::move(observer));
}

void TLine::Shutdown() {
    if (Canal) Canal->ComPort->Close();
    if (Worker) Worker->Stop([this](int ms) { HandOver.Serve(ms); });
    Worker.reset();
}

TRunnerContext RunnerContext(TLine& line, TDevice& device) {
    TRunnerContext c;
    c.Canal = line.Canal.get();
    c.Regs = device.Regs.get();
    c.ErrorTexts = device.ErrorTexts.get();
    c.DeviceId = device.Id;
    c.Queue = [&line](std::unique_ptr<TAction> a) { line.Queue(std::move(a)); };
    return c;
}

} // namespace tunavox
