#pragma once
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tunavox {

// An ordered list of name=value entries (named register values, device error texts).
// Lookup by name ignores letter case and the first matching entry wins.
class TNameValueList {
public:
    void Add(std::string name, std::string value) {
        items_.emplace_back(std::move(name), std::move(value));
    }
    void Clear() { items_.clear(); }
    bool Empty() const { return items_.empty(); }
    size_t Count() const { return items_.size(); }
    const std::string& Name(size_t i) const { return items_[i].first; }
    const std::string& Value(size_t i) const { return items_[i].second; }

    // The value of the first entry whose name equals name without regard to case.
    const std::string* FindByName(std::string_view name) const;
    // The name of the first entry whose value equals value exactly.
    const std::string* FindNameOfValue(std::string_view value) const;

private:
    std::vector<std::pair<std::string, std::string>> items_;
};

} // namespace tunavox
