#include "device/catalogue.h"

#include "util/file_io.h"
#include "xml/xml_document.h"

namespace tunavox {

namespace {

bool SameLettersAs(std::string_view s, std::string_view lower) {
    if (s.size() != lower.size()) return false;
    for (size_t i = 0; i < s.size(); ++i)
        if ((s[i] >= 'A' && s[i] <= 'Z' ? s[i] - 'A' + 'a' : s[i]) != lower[i]) return false;
    return true;
}

// The mask Nastr*.xml, ignoring letter case as the systems the files come from do.
bool IsDescriptionName(std::string_view name) {
    return name.size() >= 9 && SameLettersAs(name.substr(0, 5), "nastr") &&
           SameLettersAs(name.substr(name.size() - 4), ".xml");
}

} // namespace

std::vector<TCatalogueEntry> ScanCatalogue(const std::string& folder) {
    std::vector<TCatalogueEntry> entries;
    for (const std::string& name : FolderNames(folder)) {
        if (!IsDescriptionName(name)) continue;
        const std::string path = folder + name;
        const TPathKind kind = PathKind(path);
        if (kind == TPathKind::Missing || kind == TPathKind::Folder) continue;
        TCatalogueEntry entry{{}, path};
        XmlDocument doc;
        if (doc.LoadFile(path).empty()) entry.Caption = doc.Root().AttrText("name");
        if (entry.Caption.empty()) {
            const size_t dot = name.rfind('.');
            entry.Caption = dot == std::string::npos ? name : name.substr(0, dot);
        }
        entries.push_back(entry);
    }
    return entries;
}

} // namespace tunavox
