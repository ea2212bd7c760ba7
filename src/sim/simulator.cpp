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

void TDeviceSimulator::AddDevice(const TRegList& regs, uint32_t id, int delayMs, int version) {
    std::lock_guard<std::mutex> g(lock_);
    devices_.push_back(DeviceOf(regs, id));
    devices_.back().DelayMs = std::max(delayMs, 0);
    devices_.back().Version = version < 0 ? -1 : (version != 0 ? 1 : 0);
}

bool TDeviceSimulator::ReplaceDevice(uint32_t id, const TRegList& regs) {
    std::lock_guard<std::mutex> g(lock_);
    bool any = false;
    for (Device& d : devices_)
        if (d.Id == id) {
            d.Registers = DeviceOf(regs, id).Registers;
            any = true;
        }
    return any;
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

bool TDeviceSimulator::SetValueOf(uint32_t id, uint16_t address, const std::string& text) {
    std::lock_guard<std::mutex> g(lock_);
    for (Device& d : devices_) {
        if (d.Id != id) continue;
        const auto it = d.Registers.find(address);
        TValue v;
        if (it == d.Registers.end() || !TextToValue(text, it->second.Type, v)) return false;
        it->second.Value = v;
        return true;
    }
    return false;
}

bool TDeviceSimulator::SetPresent(uint32_t id, bool present) {
    std::lock_guard<std::mutex> g(lock_);
    bool any = false;
    for (Device& d : devices_)
        if (d.Id == id) {
            d.Off = !present;
            any = true;
        }
    return any;
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
    auto answers = AnswersOf(payload, withId, version_);
    if (answers.empty()) return std::nullopt;
    return answers.front().second;
}

std::vector<std::pair<const TDeviceSimulator::Device*, std::string>>
TDeviceSimulator::AnswersOf(const std::string& payload, bool withId, uint8_t version) {
    size_t pos = 0;
    uint32_t id = 0;
    if (withId) {
        if (payload.size() < 4) return {};
        for (int i = 0; i < 4; ++i)
            id = (id << 8) | static_cast<unsigned char>(payload[static_cast<size_t>(i)]);
        pos = 4;
    }
    if (options_.Faults.Silent || payload.size() < pos + 3) return {};
    // Who answers: the devices with the request's ID, else those without an ID; each
    // hears only frames of its own protocol version.
    std::vector<Device*> who;
    for (Device& d : devices_)
        if (!d.Off && withId && d.Id != 0 && d.Id == id && VersionOf(d) == version)
            who.push_back(&d);
    if (who.empty())
        for (Device& d : devices_)
            if (!d.Off && d.Id == 0 && VersionOf(d) == version) who.push_back(&d);
    std::vector<std::pair<const Device*, std::string>> out;
    for (Device* d : who)
        out.emplace_back(d, AnswerOf(*d, payload, pos, id, withId));
    return out;
}

std::string TDeviceSimulator::AnswerOf(Device& device, const std::string& payload, size_t pos,
                                       uint32_t id, bool withId) {
    const TSimFaults& faults = options_.Faults;
    std::map<uint16_t, Register>& registers = device.Registers;
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

std::string TDeviceSimulator::Frame(const std::string& payload, bool withId,
                                    uint8_t version) const {
    std::string frame = BuildFrame(payload, withId);
    if (options_.Faults.BadCrc) frame.back() = static_cast<char>(frame.back() ^ 0x5A);
    if (version != 0) frame = StuffFrame(frame);
    return frame;
}

std::vector<TDeviceSimulator::Outgoing> TDeviceSimulator::Take(const std::string& bytes) {
    std::vector<Outgoing> out;
    // Both protocol versions listen: a request that needs no stuffing is the same bytes
    // in either, and a device of each version hears it.
    for (Receiver* r : {&plain_, &stuffed_}) {
        r->Buffer += bytes;
        if (r == &plain_)
            ReceivePlain(*r, out);
        else
            ReceiveStuffed(*r, out);
        if (r->Buffer.size() > kMaxBuffer) {
            const size_t drop = r->Buffer.size() - kMaxBuffer;
            r->Buffer.erase(0, drop);
            r->Base += drop;
        }
    }
    return out;
}

namespace {

// The first answer to go out, with every answer that starts while it is still on the
// pair OR-ed into it at its own offset (two transmitters on one pair); those are removed.
std::string CollideFirst(std::vector<TDeviceSimulator::Outgoing>& list, double charMs) {
    std::stable_sort(list.begin(), list.end(),
                     [](const auto& a, const auto& b) { return a.Due < b.Due; });
    const auto start = list.front().Due;
    std::string bytes = std::move(list.front().Bytes);
    list.erase(list.begin());
    const double perChar = std::max(charMs, 0.001);
    auto endOf = [&] { return start + std::chrono::microseconds(static_cast<long long>(
                                          static_cast<double>(bytes.size()) * perChar * 1000)); };
    while (!list.empty() && list.front().Due < endOf()) {
        const double ms =
            std::chrono::duration<double, std::milli>(list.front().Due - start).count();
        const auto offset = static_cast<size_t>(std::max(ms, 0.0) / perChar);
        const std::string& other = list.front().Bytes;
        if (bytes.size() < offset + other.size()) bytes.resize(offset + other.size(), '\0');
        for (size_t i = 0; i < other.size(); ++i)
            bytes[offset + i] = static_cast<char>(bytes[offset + i] | other[i]);
        list.erase(list.begin());
    }
    return bytes;
}

} // namespace

std::vector<std::string> TDeviceSimulator::Receive(const std::string& bytes) {
    // Delays left out: the answers to one request collide, those to several follow.
    std::vector<std::string> out;
    std::vector<uint64_t> requests;
    for (const Outgoing& o : Take(bytes)) {
        const auto at = std::find(requests.begin(), requests.end(), o.Request);
        if (at == requests.end()) {
            requests.push_back(o.Request);
            out.push_back(o.Bytes);
            continue;
        }
        std::string& bytesOut = out[static_cast<size_t>(at - requests.begin())];
        if (bytesOut.size() < o.Bytes.size()) bytesOut.resize(o.Bytes.size(), '\0');
        for (size_t i = 0; i < o.Bytes.size(); ++i)
            bytesOut[i] = static_cast<char>(bytesOut[i] | o.Bytes[i]);
    }
    return out;
}

void TDeviceSimulator::Answer(const std::string& frame, uint64_t end, uint8_t version,
                              std::vector<Outgoing>& out) {
    const size_t length =
        ((static_cast<unsigned char>(frame[1]) << 8) | static_cast<unsigned char>(frame[2])) &
        0x7FFF;
    const bool withId = (static_cast<unsigned char>(frame[1]) & 0x80) != 0;
    const std::string payload = frame.substr(3, length);
    // The same bytes read by both receivers are one request on the line.
    if (std::find(counted_.begin(), counted_.end(), end) == counted_.end()) {
        counted_.push_back(end);
        if (counted_.size() > 64) counted_.pop_front();
        ++requests_;
        const size_t commandAt = withId ? 4 : 0;
        if (payload.size() > commandAt && static_cast<uint8_t>(payload[commandAt]) != kCmdRead)
            ++otherRequests_;
    }
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> g(lock_);
    for (auto& [device, answer] : AnswersOf(payload, withId, version))
        out.push_back({now + std::chrono::milliseconds(device->DelayMs + options_.Faults.DelayMs),
                       Frame(answer, withId, version), end});
}

void TDeviceSimulator::ReceivePlain(Receiver& r, std::vector<Outgoing>& out) {
    // Every STX may start a request; the first one (in position) that becomes a whole
    // frame with a valid CRC wins, and everything before its end is dropped. So a
    // preamble that happens to hold an STX never blocks the request behind it. Each
    // candidate is looked at once, when its last byte has come: the scan is linear.
    auto lengthAt = [](const char* p) {
        return ((static_cast<unsigned char>(p[1]) << 8) | static_cast<unsigned char>(p[2])) &
               0x7FFF;
    };
    for (;;) {
        const uint64_t end = r.Base + r.Buffer.size();
        r.Scan = std::max(r.Scan, r.Base);
        for (; r.Scan + 3 <= end; ++r.Scan) {
            const char* p = r.Buffer.data() + (r.Scan - r.Base);
            if (*p != kStx) continue;
            r.Pending.push({r.Scan + static_cast<uint64_t>(lengthAt(p)) + 5, r.Scan});
        }
        std::vector<uint64_t> ready;
        while (!r.Pending.empty() && r.Pending.top().first <= end) {
            if (r.Pending.top().second >= r.Base) ready.push_back(r.Pending.top().second);
            r.Pending.pop();
        }
        std::sort(ready.begin(), ready.end());
        bool taken = false;
        for (const uint64_t pos : ready) {
            if (taken) {
                // Still whole; looked at again after the frame just taken, if it lies beyond.
                if (pos >= r.Base) {
                    const char* p = r.Buffer.data() + (pos - r.Base);
                    r.Pending.push({pos + static_cast<uint64_t>(lengthAt(p)) + 5, pos});
                }
                continue;
            }
            const std::string_view rest(r.Buffer.data() + (pos - r.Base), end - pos);
            const size_t length = static_cast<size_t>(lengthAt(rest.data()));
            const std::string frame(rest.substr(0, length + 5));
            if (!CheckCRC(frame, 4)) continue;
            r.Buffer.erase(0, pos + length + 5 - r.Base);
            r.Base = pos + length + 5;
            Answer(frame, r.Base, 0, out);
            taken = true;
        }
        if (!taken) return;
    }
}

void TDeviceSimulator::ReceiveStuffed(Receiver& r, std::vector<Outgoing>& out) {
    // Stuffing leaves STX only at the start of a frame: a frame is what lies between
    // one STX and the next, and anything before an STX that did not make a frame can
    // never become one.
    for (;;) {
        const size_t stx = r.Buffer.find(kStx);
        if (stx == std::string::npos) {
            r.Base += r.Buffer.size();
            r.Buffer.clear();
            return;
        }
        r.Buffer.erase(0, stx);
        r.Base += stx;
        const size_t next = r.Buffer.find(kStx, 1);
        const size_t wireEnd = next == std::string::npos ? r.Buffer.size() : next;
        const std::string frame = UnstuffFrame(std::string_view(r.Buffer).substr(0, wireEnd));
        bool whole = false;
        if (frame.size() >= 5) {
            const size_t length = ((static_cast<unsigned char>(frame[1]) << 8) |
                                   static_cast<unsigned char>(frame[2])) &
                                  0x7FFF;
            whole = frame.size() == length + 5 && CheckCRC(frame, 4);
        }
        if (whole) Answer(frame, r.Base + wireEnd, 1, out);
        if (!whole && next == std::string::npos) {
            // Still arriving, unless it is already longer than any frame can be.
            if (wireEnd > 2 * (kMaxPayload + 5)) {
                r.Base += r.Buffer.size();
                r.Buffer.clear();
            }
            return;
        }
        r.Buffer.erase(0, wireEnd);
        r.Base += wireEnd;
    }
}

bool TDeviceSimulator::Respond(const std::string& bytes) {
    for (Outgoing& o : Take(bytes))
        outgoing_.push_back(std::move(o));
    return SendDue();
}

int TDeviceSimulator::NextDueMs() const {
    if (outgoing_.empty()) return -1;
    auto first = outgoing_.front().Due;
    for (const Outgoing& o : outgoing_)
        first = std::min(first, o.Due);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          first - std::chrono::steady_clock::now())
                          .count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

bool TDeviceSimulator::SendDue() {
    while (!outgoing_.empty() && NextDueMs() == 0) {
        TSimFaults faults;
        {
            std::lock_guard<std::mutex> g(lock_);
            faults = options_.Faults;
        }
        std::string answer = CollideFirst(outgoing_, CharTime(options_.Line));
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
    return !stop_;
}

void TDeviceSimulator::Serve() {
    std::string chunk;
    while (!stop_) {
        const int due = NextDueMs();
        const int n = ReadLine(chunk, due < 0 ? 500 : due);
        if (n < 0) return;
        if (n > 0 && !Respond(chunk)) return;
        if (n == 0 && !SendDue()) return;
    }
}

bool ParseSimDevice(const std::string& text, std::string& file, uint32_t& id, int& delayMs,
                    int& version) {
    // Up to three numbers after the file, each behind a colon: ID, delay, version.
    std::vector<std::string> numbers;
    std::string rest = text;
    while (numbers.size() < 3) {
        const size_t colon = rest.rfind(':');
        if (colon == std::string::npos || colon + 1 >= rest.size() ||
            rest.find_first_not_of("0123456789", colon + 1) != std::string::npos)
            break;
        numbers.insert(numbers.begin(), rest.substr(colon + 1));
        rest.resize(colon);
    }
    file = rest;
    id = 0;
    delayMs = 0;
    version = -1;
    if (file.empty()) return false;
    int64_t v = 0;
    if (!numbers.empty()) {
        if (!ParseIntegerText(numbers[0], v) || v <= 0 || v > 0xFFFFFFFFLL) return false;
        id = static_cast<uint32_t>(v);
    }
    if (numbers.size() > 1) {
        if (!ParseIntegerText(numbers[1], v) || v > 60000) return false;
        delayMs = static_cast<int>(v);
    }
    if (numbers.size() > 2) {
        if (numbers[2] != "1" && numbers[2] != "2") return false;
        version = numbers[2] == "2" ? 1 : 0;
    }
    return true;
}

} // namespace tunavox
