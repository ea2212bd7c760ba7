#include "engine/link_state.h"

#include <chrono>

#include "link/com_port.h"
#include "link/net_address.h"
#include "util/time_text.h"

namespace tunavox {

TLinkKind ClassifyExchange(const std::string& error, int portError) {
    if (error.empty()) return TLinkKind::Ok;
    // A one-character error is the device's own code: it heard the request.
    if (error.size() == 1) return TLinkKind::DeviceError;
    if (portError == kPortClosedError) return TLinkKind::PortClosed;
    if (portError != 0)
        return IsPortLostError(portError) ? TLinkKind::PortLost : TLinkKind::PortError;
    if (error == "Устройство не отвечает") return TLinkKind::NoAnswer;
    return TLinkKind::Garbled;
}

bool IsLinkFailure(TLinkKind kind) {
    return kind == TLinkKind::NoAnswer || kind == TLinkKind::Garbled ||
           kind == TLinkKind::PortLost || kind == TLinkKind::PortError;
}

void TLinkMonitor::Reset(int rows) {
    rows_.assign(static_cast<size_t>(rows < 0 ? 0 : rows), Row{});
    state_ = TLinkState::Closed;
    downSince_ = 0;
    lastOutage_ = 0;
    reason_.clear();
}

void TLinkMonitor::Opened() {
    state_ = TLinkState::Open;
    downSince_ = 0;
}

void TLinkMonitor::Closed() {
    state_ = TLinkState::Closed;
    downSince_ = 0;
}

void TLinkMonitor::Lost(const std::string& error, int64_t nowMs) {
    if (!Down()) downSince_ = lastOutage_ = nowMs;
    state_ = TLinkState::Lost;
    reason_ = error;
}

bool TLinkMonitor::Record(int row, TLinkKind kind, const std::string& errorWords, int64_t nowMs) {
    const TLinkState before = state_;
    Row* r = row >= 0 && static_cast<size_t>(row) < rows_.size() ? &rows_[static_cast<size_t>(row)]
                                                                 : nullptr;
    // Failing after the port was closed under them says nothing about the device.
    if (kind == TLinkKind::PortClosed) {
        if (r && state_ != TLinkState::Lost) r->Error = errorWords;
        return false;
    }
    if (r) {
        if (kind == TLinkKind::Ok) {
            r->LastGood = nowMs;
            r->Error.clear();
        } else {
            r->Error = errorWords;
        }
    }
    // Once lost, only a reopening (Opened) changes the state.
    if (state_ == TLinkState::Lost || state_ == TLinkState::Closed) return false;
    switch (kind) {
    case TLinkKind::Ok:
    case TLinkKind::DeviceError:
        state_ = TLinkState::Answering;
        downSince_ = 0;
        break;
    case TLinkKind::PortLost:
        Lost(errorWords, nowMs);
        break;
    default:
        if (!Down()) downSince_ = lastOutage_ = nowMs;
        state_ = TLinkState::Silent;
        reason_ = errorWords;
        break;
    }
    return state_ != before;
}

void TLinkMonitor::SetRowError(int row, const std::string& words) {
    if (row >= 0 && static_cast<size_t>(row) < rows_.size())
        rows_[static_cast<size_t>(row)].Error = words;
}

std::string TLinkMonitor::StateText(const std::string& port) const {
    switch (state_) {
    case TLinkState::Closed:
        return "Порт закрыт";
    case TLinkState::Open:
        return "Порт открыт";
    case TLinkState::Answering:
        return "Связь с устройством есть";
    case TLinkState::Silent:
        return reason_.empty() || reason_ == "Устройство не отвечает"
                   ? "Нет связи с устройством"
                   : "Нет связи с устройством: " + reason_;
    case TLinkState::Lost:
        return LineLostText(port);
    }
    return {};
}

std::string LineLostText(const std::string& port) {
    if (IsNetworkPortName(port)) return "Нет связи с преобразователем " + port + " — переподключение…";
    return "Адаптер отключён — ожидание подключения…";
}

std::string LineLostNote(const std::string& port, const std::string& why) {
    if (IsNetworkPortName(port))
        return "Связь с преобразователем " + port + " потеряна (" + why +
               "), переподключение раз в секунду…";
    return "Связь с устройством потеряна (" + why + "), ожидание подключения порта " + port + "…";
}

const TLinkMonitor::Row* TLinkMonitor::At(int row) const {
    return row >= 0 && static_cast<size_t>(row) < rows_.size() ? &rows_[static_cast<size_t>(row)]
                                                               : nullptr;
}

bool TLinkMonitor::IsStale(int row) const {
    const Row* r = At(row);
    return r && lastOutage_ > 0 && r->LastGood <= lastOutage_;
}

std::vector<int> TLinkMonitor::StaleRows() const {
    std::vector<int> out;
    for (size_t i = 0; i < rows_.size(); ++i)
        if (IsStale(static_cast<int>(i))) out.push_back(static_cast<int>(i));
    return out;
}

std::string TLinkMonitor::RowError(int row) const {
    const Row* r = At(row);
    return r ? r->Error : std::string();
}

int64_t TLinkMonitor::LastGood(int row) const {
    const Row* r = At(row);
    return r ? r->LastGood : 0;
}

std::string TLinkMonitor::LastGoodText(int row) const {
    const int64_t at = LastGood(row);
    if (at == 0) return "Успешных обменов не было";
    return "Последнее успешное чтение: " +
           LocalTimeText(std::chrono::system_clock::time_point(std::chrono::milliseconds(at)),
                         false);
}

} // namespace tunavox
