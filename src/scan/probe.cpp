#include "scan/probe.h"

#include "device/value_codec.h"
#include "link/canal.h"
#include "link/frame.h"
#include "protocol/register_protocol.h"
#include "util/time_text.h"

namespace tunavox {

TProbeOutcome ClassifyProbeAnswer(bool ok, const std::string& answer, const std::string& error,
                                  int portError, bool withId, uint32_t id, uint16_t address) {
    TProbeOutcome o;
    o.Error = error;
    if (!ok) {
        o.Kind = portError != 0                      ? TProbeAnswer::PortLost
                 : error == "Устройство не отвечает" ? TProbeAnswer::Silent
                                                     : TProbeAnswer::Garbled;
        return o;
    }
    o.Kind = TProbeAnswer::Garbled;
    size_t pos = 0;
    if (withId) {
        if (answer.size() < 4) {
            o.Error = "Получен пустой пакет";
            return o;
        }
        uint32_t got = 0;
        for (size_t i = 0; i < 4; ++i)
            got = (got << 8) | static_cast<unsigned char>(answer[i]);
        if (got != id) {
            o.Kind = TProbeAnswer::OtherId;
            o.OtherId = got;
            return o;
        }
        pos = 4;
    }
    if (pos >= answer.size()) {
        o.Error = "Получен пустой пакет";
        return o;
    }
    // A refusal is a device's answer whatever follows its status, unless it names another
    // register: then it is a late refusal of an earlier read.
    std::string code;
    if (!StatusToError(static_cast<uint8_t>(answer[pos]), code)) {
        o.Kind = pos + 3 <= answer.size() &&
                         ((static_cast<unsigned char>(answer[pos + 1]) << 8) |
                          static_cast<unsigned char>(answer[pos + 2])) != address
                     ? TProbeAnswer::OtherAddress
                     : TProbeAnswer::DeviceError;
        o.Error = code;
        return o;
    }
    if (pos + 3 > answer.size()) {
        o.Error = "Адрес регистра в ответе не совпадает с запрошенным";
        return o;
    }
    if (((static_cast<unsigned char>(answer[pos + 1]) << 8) |
         static_cast<unsigned char>(answer[pos + 2])) != address) {
        o.Kind = TProbeAnswer::OtherAddress;
        o.Error = "Адрес регистра в ответе не совпадает с запрошенным";
        return o;
    }
    o.Kind = TProbeAnswer::Data;
    o.Error.clear();
    o.Data = answer.substr(pos + 3);
    return o;
}

TProbeOutcome ReadOnce(TCanal& c, bool withId, uint32_t id, uint16_t address) {
    const int64_t began = SteadyMs();
    std::string answer, error;
    const bool ok = c.Exchange(BuildRequest(withId ? id : 0, kCmdRead, address, {}), withId,
                               answer, error);
    TProbeOutcome o =
        ClassifyProbeAnswer(ok, answer, error, c.LastPortError(), withId, id, address);
    o.Ms = static_cast<int>(SteadyMs() - began);
    return o;
}

void Tune(TCanal& canal, const TLineSettings& line, uint8_t version, uint32_t timeoutMs) {
    TMyComPort& port = *canal.ComPort;
    const bool open = port.IsOpen();
    if (!(port.Settings().Line() == line))
        port.SetLine(line.BaudRate, line.ByteSize, line.Parity, line.StopBits, open);
    if (canal.ProtocolVersion() != version || canal.Timeout() != timeoutMs) {
        canal.SetVersion(version);
        canal.SetTimeout(timeoutMs);
        if (open) port.ApplyTimeouts();
    }
}

std::string Wire(bool withId, uint32_t id, uint16_t address, uint8_t version) {
    std::string frame = BuildFrame(BuildRequest(withId ? id : 0, kCmdRead, address, {}), withId);
    return version != 0 ? StuffFrame(frame) : frame;
}

bool SameInBoth(bool withId, uint32_t id, uint16_t address) {
    return Wire(withId, id, address, 0) == Wire(withId, id, address, 1);
}

TProbeOutcome Probe(TCanal& c, const TLineSettings& line, uint8_t version, uint32_t timeoutMs,
                    uint32_t windowMs, bool withId, uint32_t id, uint16_t address,
                    std::atomic<int64_t>& sent) {
    Tune(c, line, version, timeoutMs);
    c.SetFirstByteWindow(windowMs);
    ++sent;
    TProbeOutcome o = ReadOnce(c, withId, id, address);
    o.Junk = c.LastHadJunk() && o.Kind != TProbeAnswer::Garbled;
    return o;
}

bool Matches(const TProbeOutcome& outcome, uint8_t regType) {
    TValue value;
    return outcome.Kind == TProbeAnswer::Data && BytesToValue(outcome.Data, regType, value);
}

} // namespace tunavox
