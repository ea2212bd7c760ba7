#include "device/value.h"

namespace tunavox {

bool TValue::AsInt64(int64_t& out) const {
    return std::visit(
        [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_integral_v<T>) {
                out = static_cast<int64_t>(v);
                return true;
            } else {
                return false;
            }
        },
        data_);
}

bool TValue::AsDouble(double& out) const {
    int64_t i = 0;
    if (AsInt64(i)) {
        out = static_cast<double>(i);
        return true;
    }
    if (const double* d = std::get_if<double>(&data_)) {
        out = *d;
        return true;
    }
    return false;
}

bool TValue::operator==(const TValue& other) const {
    if (data_.index() == other.data_.index()) return data_ == other.data_;
    double a = 0, b = 0;
    if (AsDouble(a) && other.AsDouble(b)) {
        int64_t ia = 0, ib = 0;
        if (AsInt64(ia) && other.AsInt64(ib)) return ia == ib;
        return a == b;
    }
    return false;
}

} // namespace tunavox
