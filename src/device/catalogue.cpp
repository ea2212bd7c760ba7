#include "device/catalogue.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include "xml/xml_document.h"

namespace tunavox {

std::vector<TCatalogueEntry> ScanCatalogue(const std::string& folder) {
    std::vector<TCatalogueEntry> entries;
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return entries;
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        // The mask ignores letter case, as on the systems the files come from.
        if (fnmatch("Nastr*.xml", name.c_str(), FNM_CASEFOLD) != 0) continue;
        const std::string path = folder + name;
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
        TCatalogueEntry entry{{}, path};
        XmlDocument doc;
        if (doc.LoadFile(path).empty()) entry.Caption = doc.Root().AttrText("name");
        if (entry.Caption.empty()) {
            const size_t dot = name.rfind('.');
            entry.Caption = dot == std::string::npos ? name : name.substr(0, dot);
        }
        entries.push_back(entry);
    }
    closedir(dir);
    return entries;
}

} // namespace tunavox
