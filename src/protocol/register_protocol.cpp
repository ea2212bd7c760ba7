#include "protocol/register_protocol.h"

#include "device/value_codec.h"
#include "link/frame.h"
#include "util/hex_text.h"

namespace tunavox {
namespace {

const char* const kBadValue = "Ошибка при формировании запроса: некорректное значение параметра";

// Exchanges a request and checks ID, status and address. On success data holds the
// bytes after the address.
bool Transact(uint32_t deviceId, uint8_t command, uint16_t address, std::string_view payloadData,
              const TExchange& exchange, std::string& data, std::string& error) {
    const bool withId = deviceId != 0;
    const std::string request = BuildRequest(deviceId, command, address, payloadData);
    std::string answer;
    error.clear();
    if (request.size() > kMaxPayload) {
        // Its length would run into the ID flag: nothing is sent.
        error = kBadValue;
        return false;
    }
    if (!exchange(request, withId, answer, error)) return false;
    if (answer.size() < 3) {
        error = "Получен пустой пакет";
        return false;
    }
    size_t pos = 0;
    if (withId) {
        // Answers too short for their fields are reported as empty; nothing is read
        // beyond the answer.
        if (answer.size() < 4) {
            error = "Получен пустой пакет";
            return false;
        }
        uint32_t id = 0;
        for (size_t i = 0; i < 4; ++i)
            id = (id << 8) | static_cast<unsigned char>(answer[i]);
        if (id != deviceId) {
            error = "Получен ответ не от того устройства";
            return false;
        }
        pos = 4;
    }
    if (pos >= answer.size()) {
        error = "Получен пустой пакет";
        return false;
    }
    if (!StatusToError(static_cast<uint8_t>(answer[pos]), error)) return false;
    ++pos;
    if (pos + 2 > answer.size() || ((static_cast<unsigned char>(answer[pos]) << 8) |
                                    static_cast<unsigned char>(answer[pos + 1])) != address) {
        error = "Адрес регистра в ответе не совпадает с запрошенным";
        return false;
    }
    data = answer.substr(pos + 2);
    return true;
}

} // namespace

std::string BuildRequest(uint32_t deviceId, uint8_t command, uint16_t address,
                         std::string_view data) {
    std::string p;
    p.reserve(7 + data.size());
    if (deviceId != 0)
        for (int shift = 24; shift >= 0; shift -= 8)
            p += static_cast<char>((deviceId >> shift) & 0xFF);
    p += static_cast<char>(command);
    p += static_cast<char>(address >> 8);
    p += static_cast<char>(address & 0xFF);
    p.append(data);
    return p;
}

void ReadRegister(uint32_t deviceId, uint16_t address, uint8_t regType, const TExchange& exchange,
                  TValue& value, std::string& error) {
    value = TValue::MakeNull();
    std::string data;
    if (!Transact(deviceId, kCmdRead, address, {}, exchange, data, error)) return;
    if (!BytesToValue(data, regType, value)) {
        value = TValue::MakeNull();
        error = "Некорретные данные в поле DATA (" + HexBytes(data) +
                ") - regType = " + TypeName(regType);
    }
}

void WriteRegister(uint32_t deviceId, uint16_t address, uint8_t regType, const TValue& value,
                   const TExchange& exchange, std::string& error) {
    std::string bytes;
    if (!ValueToBytes(value, regType, bytes)) {
        error = kBadValue;
        return;
    }
    std::string data;
    Transact(deviceId, kCmdWrite, address, bytes, exchange, data, error);
}

} // namespace tunavox
