#include "line/line.h"

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

} // namespace tunavox
