#include "device/name_value_list.h"

#include "util/cp1251.h"

namespace tunavox {

const std::string* TNameValueList::FindByName(std::string_view name) const {
    for (const auto& [n, v] : items_)
        if (SameTextIgnoreCase(n, name)) return &v;
    return nullptr;
}

const std::string* TNameValueList::FindNameOfValue(std::string_view value) const {
    for (const auto& [n, v] : items_)
        if (v == value) return &n;
    return nullptr;
}

} // namespace tunavox
