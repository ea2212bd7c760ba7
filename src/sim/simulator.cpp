#include "sim/simulator.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string_view>
#include <thread>

#include "device/value_codec.h"
#include "link/com_port.h"
#include "link/frame.h"
#include "protocol/register_protocol.h"
#include "util/integer_text.h"
#include "util/system_error.h"

namespace tunavox {
namespace {

constexpr size_t kMaxBuffer = 1 << 16;

TValue ZeroOf(uint8_t type) {
    TValue v;
    if (type == rtStr) return TValue(std::string());
    if (type == rtFloat) return TValue(0.0);
    TextToValue("0", type, v);
    return v;
}

// A value drifting around base: a sine with a 20 s period, phase by address.
TValue Animated(const TValue& base, uint8_t type, uint16_t address) {
    const double t =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const double wave = std::sin(2 * std::numbers::pi * t / 20.0 + address * 0.7);
    double b = 0;
    if (type == rtStr || !base.AsDouble(b)) return base;
    TValue v;
    if (type == rtFloat)
        return TValue(static_cast<double>(static_cast<float>(b + (std::fabs(b) * 0.1 + 1) * wave)));
    const double n = std::round(b + 5 * wave);
    if (!TextToValue(std::to_string(static_cast<long long>(n)), type, v)) return base;
    return v;
}

} // namespace

bool ParseSimFault(const std::string& text, TSimFaults& f) {
    if (text == "silent")
        f.Silent = true;
    else if (text == "badcrc")
        f.BadCrc = true;
    else if (text == "noise")
        f.Noise = true;
    else if (text == "split")
        f.Split = true;
    else if (text == "wrong-addr")
        f.WrongAddress = true;
    else if (text == "wrong-id")
        f.WrongId = true;
    else if (text.rfind("delay=", 0) == 0) {
        int32_t ms = 0;
        if (!ParseInt32Text(text.substr(6), ms) || ms < 0) return false;
        f.DelayMs = ms;
    } else if (text.rfind("error=", 0) == 0) {
        const size_t colon = text.find(':');
        int32_t addr = 0, code = 0;
        if (colon == std::string::npos || !ParseInt32Text(text.substr(6, colon - 6), addr) ||
            !ParseInt32Text(text.substr(colon + 1), code) || addr < 0 || addr > 0xFFFF ||
            code < 1 || code > 127)
            return false;
        f.ErrorCodes[static_cast<uint16_t>(addr)] = static_cast<uint8_t>(code);
    } else if (text.rfind("keep=", 0) == 0) {
        int32_t addr = 0;
        if (!ParseInt32Text(text.substr(5), addr) || addr < 0 || addr > 0xFFFF) return false;
        f.KeepValue.insert(static_cast<uint16_t>(addr));
    } else {
        return false;
    }
    return true;
}

TDeviceSimulator::Device TDeviceSimulator::DeviceOf(const TRegList& regs, uint32_t id) {
    Device device;
    device.Id = id;
    for (int i = 0; i < regs.Count(); ++i) {
        const TReg* r = regs.Items(i);
        if (r->RegType == rtHeader || device.Registers.count(r->Addr)) continue;
        Register reg{r->RegType, r->Io, r->DefValue, !r->ValueTexts.Empty()};
        if (reg.Value.IsEmpty() || reg.Value.IsNull()) reg.Value = ZeroOf(r->RegType);
        device.Registers[r->Addr] = reg;
    }
    return device;
}

TDeviceSimulator::TDeviceSimulator(const TRegList& regs, TSimOptions options)
    : options_(std::move(options)), version_(options_.Version), animate_(options_.Animate) {
    devices_.push_back(DeviceOf(regs, options_.DeviceId));
}

void TDeviceSimulator::AddDevice(const TRegList& regs, uint32_t id) {
    std::lock_guard<std::mutex> g(lock_);
    devices_.push_back(DeviceOf(regs, id));
}

TDeviceSimulator::~TDeviceSimulator() {
    Stop();
}

void TDeviceSimulator::SetVersion(uint8_t version) {
    version_ = version;
}

void TDeviceSimulator::SetFaults(const TSimFaults& faults) {
    std::lock_guard<std::mutex> g(lock_);
    options_.Faults = faults;
}

TValue TDeviceSimulator::Value(uint16_t address) const {
    std::lock_guard<std::mutex> g(lock_);
    const auto it = devices_.front().Registers.find(address);
    return it == devices_.front().Registers.end() ? TValue::MakeNull() : it->second.Value;
}

TValue TDeviceSimulator::ValueOf(uint32_t id, uint16_t address) const {
    std::lock_guard<std::mutex> g(lock_);
    for (const Device& d : devices_) {
        if (d.Id != id) continue;
        const auto it = d.Registers.find(address);
        return it == d.Registers.end() ? TValue::MakeNull() : it->second.Value;
    }
    return TValue::MakeNull();
}

std::optional<std::string> TDeviceSimulator::Handle(const std::string& payload, bool withId) {
    std::lock_guard<std::mutex> g(lock_);
    const TSimFaults& faults = options_.Faults;
    size_t pos = 0;
    uint32_t id = 0;
    if (withId) {
        if (payload.size() < 4) return std::nullopt;
        for (int i = 0; i < 4; ++i)
            id = (id << 8) | static_cast<unsigned char>(payload[static_cast<size_t>(i)]);
        pos = 4;
    }
    // Who answers: the devices with the request's ID, else those without an ID.
    collision_ = false;
    Device* device = nullptr;
    int answering = 0;
    for (Device& d : devices_)
        if (withId && d.Id != 0 && d.Id == id && answering++ == 0) device = &d;
    if (answering == 0)
        for (Device& d : devices_)
            if (d.Id == 0 && answering++ == 0) device = &d;
    if (!device) return std::nullopt;
    collision_ = answering > 1;
    std::map<uint16_t, Register>& registers = device->Registers;
    if (faults.Silent) return std::nullopt;
    if (payload.size() < pos + 3) return std::nullopt;
    const auto command = static_cast<uint8_t>(payload[pos]);
    uint16_t address = static_cast<uint16_t>((static_cast<unsigned char>(payload[pos + 1]) << 8) |
                                             static_cast<unsigned char>(payload[pos + 2]));
    const std::string data = payload.substr(pos + 3);

    uint8_t status = 0;
    std::string value;
    const auto it = registers.find(address);
    const auto forced = faults.ErrorCodes.find(address);
    if (forced != faults.ErrorCodes.end()) {
        status = forced->second;
    } else if (it == registers.end() || (command != kCmdRead && command != kCmdWrite)) {
        status = 1;
    } else if (command == kCmdRead) {
        if (it->second.Io == ioW)
            status = 4;
        else if (!ValueToBytes(animate_ && it->second.Io == ioR && !it->second.Named
                                   ? Animated(it->second.Value, it->second.Type, address)
                                   : it->second.Value,
                               it->second.Type, value))
            status = 127;
    } else {
        TValue written;
        if (it->second.Io == ioR)
            status = 3;
        else if (!BytesToValue(data, it->second.Type, written))
            status = 2;
        else if (!faults.KeepValue.count(address))
            it->second.Value = written;
    }

    std::string answer;
    if (withId) {
        const uint32_t back = faults.WrongId ? id + 1 : id;
        for (int shift = 24; shift >= 0; shift -= 8)
            answer += static_cast<char>((back >> shift) & 0xFF);
    }
    if (faults.WrongAddress) ++address;
    answer += static_cast<char>(status);
    answer += static_cast<char>(address >> 8);
    answer += static_cast<char>(address & 0xFF);
    // A value too long for a frame is refused rather than sent with a broken length.
    if (status == 0 && command == kCmdRead) {
        if (answer.size() + value.size() <= kMaxPayload)
            answer += value;
        else
            answer[answer.size() - 3] = static_cast<char>(127);
    }
    return answer;
}

std::string TDeviceSimulator::Frame(const std::string& payload, bool withId) const {
    std::string frame = BuildFrame(payload, withId);
    // Two devices talking at once garble each other, as a broken CRC.
    if (options_.Faults.BadCrc || collision_) frame.back() = static_cast<char>(frame.back() ^ 0x5A);
    if (version_ != 0) frame = StuffFrame(frame);
    return frame;
}

std::vector<std::string> TDeviceSimulator::Receive(const std::string& bytes) {
    std::vector<std::string> out;
    buffer_ += bytes;
    if (version_ != 0)
        ReceiveStuffed(out);
    else
        ReceivePlain(out);
    if (buffer_.size() > kMaxBuffer) {
        const size_t drop = buffer_.size() - kMaxBuffer;
        buffer_.erase(0, drop);
        base_ += drop;
    }
    return out;
}

void TDeviceSimulator::Answer(const std::string& frame, std::vector<std::string>& out) {
    ++requests_;
    const size_t length =
        ((static_cast<unsigned char>(frame[1]) << 8) | static_cast<unsigned char>(frame[2])) &
        0x7FFF;
    const bool withId = (static_cast<unsigned char>(frame[1]) & 0x80) != 0;
    const std::string payload = frame.substr(3, length);
    const size_t commandAt = withId ? 4 : 0;
    if (payload.size() > commandAt && static_cast<uint8_t>(payload[commandAt]) != kCmdRead)
        ++otherRequests_;
    if (auto answer = Handle(payload, withId)) {
        std::lock_guard<std::mutex> g(lock_);
        out.push_back(Frame(*answer, withId));
    }
}

void TDeviceSimulator::ReceivePlain(std::vector<std::string>& out) {
    // Every STX may start a request; the first one (in position) that becomes a whole
    // frame with a valid CRC wins, and everything before its end is dropped. So a
    // preamble that happens to hold an STX never blocks the request behind it. Each
    // candidate is looked at once, when its last byte has come: the scan is linear.
    for (;;) {
        const uint64_t end = base_ + buffer_.size();
        scan_ = std::max(scan_, base_);
        for (; scan_ + 3 <= end; ++scan_) {
            const char* p = buffer_.data() + (scan_ - base_);
            if (*p != kStx) continue;
            const size_t length =
                ((static_cast<unsigned char>(p[1]) << 8) | static_cast<unsigned char>(p[2])) &
                0x7FFF;
            pending_.push({scan_ + length + 5, scan_});
        }
        std::vector<uint64_t> ready;
        while (!pending_.empty() && pending_.top().first <= end) {
            if (pending_.top().second >= base_) ready.push_back(pending_.top().second);
            pending_.pop();
        }
        std::sort(ready.begin(), ready.end());
        bool taken = false;
        for (const uint64_t pos : ready) {
            if (taken) {
                // Still whole; looked at again after the frame just taken, if it lies beyond.
                if (pos >= base_) {
                    const char* p = buffer_.data() + (pos - base_);
                    const size_t length = ((static_cast<unsigned char>(p[1]) << 8) |
                                           static_cast<unsigned char>(p[2])) &
                                          0x7FFF;
                    pending_.push({pos + length + 5, pos});
                }
                continue;
            }
            const std::string_view rest(buffer_.data() + (pos - base_), end - pos);
            const size_t length =
                ((static_cast<unsigned char>(rest[1]) << 8) | static_cast<unsigned char>(rest[2])) &
                0x7FFF;
            const std::string frame(rest.substr(0, length + 5));
            if (!CheckCRC(frame, 4)) continue;
            buffer_.erase(0, pos + length + 5 - base_);
            base_ = pos + length + 5;
            Answer(frame, out);
            taken = true;
        }
        if (!taken) return;
    }
}

void TDeviceSimulator::ReceiveStuffed(std::vector<std::string>& out) {
    // Stuffing leaves STX only at the start of a frame: a frame is what lies between
    // one STX and the next, and anything before an STX that did not make a frame can
    // never become one.
    for (;;) {
        const size_t stx = buffer_.find(kStx);
        if (stx == std::string::npos) {
            base_ += buffer_.size();
            buffer_.clear();
            return;
        }
        buffer_.erase(0, stx);
        base_ += stx;
        const size_t next = buffer_.find(kStx, 1);
        const size_t wireEnd = next == std::string::npos ? buffer_.size() : next;
        const std::string frame = UnstuffFrame(std::string_view(buffer_).substr(0, wireEnd));
        bool whole = false;
        if (frame.size() >= 5) {
            const size_t length = ((static_cast<unsigned char>(frame[1]) << 8) |
                                   static_cast<unsigned char>(frame[2])) &
                                  0x7FFF;
            whole = frame.size() == length + 5 && CheckCRC(frame, 4);
        }
        if (whole) Answer(frame, out);
        if (!whole && next == std::string::npos) {
            // Still arriving, unless it is already longer than any frame can be.
            if (wireEnd > 2 * (kMaxPayload + 5)) {
                base_ += buffer_.size();
                buffer_.clear();
            }
            return;
        }
        buffer_.erase(0, wireEnd);
        base_ += wireEnd;
    }
}

bool TDeviceSimulator::Respond(const std::string& bytes) {
    TSimFaults faults;
    {
        std::lock_guard<std::mutex> g(lock_);
        faults = options_.Faults;
    }
    for (std::string answer : Receive(bytes)) {
        if (!Pause(faults.DelayMs)) return false;
        if (faults.Noise) answer = std::string("\xFF\x00\x55", 3) + answer;
        if (options_.BaudEmulation) {
            const double ms = CharTime(options_.Line) * static_cast<double>(answer.size());
            std::this_thread::sleep_for(
                std::chrono::microseconds(static_cast<long long>(ms * 1000)));
        }
        std::vector<std::string> parts{answer};
        if (faults.Split && answer.size() > 2)
            parts = {answer.substr(0, answer.size() / 2), answer.substr(answer.size() / 2)};
        for (size_t k = 0; k < parts.size(); ++k) {
            if (k > 0 && !Pause(20)) return false;
            if (!Send(parts[k])) return false;
        }
    }
    return true;
}

} // namespace tunavox
