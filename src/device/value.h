#pragma once
#include <cstdint>
#include <string>
#include <variant>

namespace tunavox {

// Register type codes.
enum TRegType : uint8_t {
    rtStr = 0,
    rtByte = 1,
    rtWord = 2,
    rtLong = 3,
    rtUByte = 4,
    rtUWord = 5,
    rtULong = 6,
    rtFloat = 7,
    rtHeader = 8,
};

// Access codes.
enum TRegIo : uint8_t {
    ioR = 0,
    ioW = 1,
    ioRW = 2,
    ioWOR = 3, // written instead of read when polled
};

// A register value: empty (never set), null (no value known), a string, one of the
// six integer kinds, or a real that holds a single-precision value.
class TValue {
public:
    struct Empty {
        bool operator==(const Empty&) const = default;
    };
    struct Null {
        bool operator==(const Null&) const = default;
    };
    using Data = std::variant<Empty, Null, std::string, int8_t, int16_t, int32_t, uint8_t, uint16_t,
                              uint32_t, double>;

    TValue() = default;
    template <typename T> TValue(T v) : data_(std::move(v)) {}
    TValue(const char* s) : data_(std::string(s)) {}

    static TValue MakeNull() { return TValue(Null{}); }

    bool IsEmpty() const { return std::holds_alternative<Empty>(data_); }
    bool IsNull() const { return std::holds_alternative<Null>(data_); }
    bool IsString() const { return std::holds_alternative<std::string>(data_); }
    bool IsReal() const { return std::holds_alternative<double>(data_); }
    const Data& Get() const { return data_; }

    // Integer kinds as a 64-bit number; false for every other kind.
    bool AsInt64(int64_t& out) const;
    // Numbers as a double; false for every other kind.
    bool AsDouble(double& out) const;

    // Null equals null and empty equals empty; numbers compare by value; strings by
    // their bytes; any other pair is unequal.
    bool operator==(const TValue& other) const;

private:
    Data data_;
};

} // namespace tunavox
