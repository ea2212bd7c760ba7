#include "engine/action.h"

#include <chrono>
#include <exception>

#include "device/reg.h"
#include "link/canal.h"
#include "protocol/register_protocol.h"
#include "util/time_text.h"

namespace tunavox {
namespace {

TExchange BoundExchange(TCanal* canal) {
    return [canal](std::string_view payload, bool withId, std::string& answer, std::string& error) {
        return canal->Exchange(payload, withId, answer, error);
    };
}

} // namespace

TAction::TAction(TCanal* canal, int32_t deviceId, TReg* reg, int node, Handler onDone)
    : DeviceId(deviceId), Canal(canal), Reg(reg), OnDone(std::move(onDone)), Node(node) {}

bool TAction::Run() {
    startedMs_ = SteadyMs();
    if (Canal) Canal->ClearPortError();
    bool ok = false;
    try {
        Execute();
        ok = true;
    } catch (const std::exception& e) {
        error_ = e.what();
    } catch (...) {
        error_ = "Неизвестная ошибка";
    }
    portError_ = HasError() && Canal ? Canal->LastPortError() : 0;
    return ok;
}

void TActionReadReg::Execute() {
    TValue value;
    Canal->SetFirstByteWindow(FirstByteWindowMs);
    ReadRegister(static_cast<uint32_t>(DeviceId), Reg->Addr, Reg->RegType, BoundExchange(Canal),
                 value, error_);
    Canal->SetFirstByteWindow(0);
    if (HasError())
        Reg->SetValue(TValue::MakeNull(), true, error_);
    else
        Reg->SetValue(value, true, std::string());
}

void TActionWriteReg::Execute() {
    const TValue value = Reg->GetValue();
    Canal->SetFirstByteWindow(FirstByteWindowMs);
    WriteRegister(static_cast<uint32_t>(DeviceId), Reg->Addr, Reg->RegType, value,
                  BoundExchange(Canal), error_);
    Canal->SetFirstByteWindow(0);
    if (HasError())
        Reg->SetLastError(error_);
    else
        Reg->CommitWrite();
}

void TActionList::Add(std::unique_ptr<TAction> action) {
    std::lock_guard<std::mutex> g(lock_);
    items_.push_back(std::move(action));
}

std::unique_ptr<TAction> TActionList::Pop() {
    std::lock_guard<std::mutex> g(lock_);
    if (items_.empty()) return nullptr;
    std::unique_ptr<TAction> head = std::move(items_.front());
    items_.pop_front();
    return head;
}

size_t TActionList::Count() const {
    std::lock_guard<std::mutex> g(lock_);
    return items_.size();
}

} // namespace tunavox
