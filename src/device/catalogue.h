#pragma once
#include <string>
#include <vector>

namespace tunavox {

// One device type offered in the "Устройство" menu.
struct TCatalogueEntry {
    std::string Caption; // the root's name, else the file name without extension
    std::string Path;    // full path of the description file
};

// The description files "Nastr*.xml" in folder (with its trailing "/"), in the order
// the file system returns them. Files are not verified here; a file that does not
// parse is listed under its file name.
std::vector<TCatalogueEntry> ScanCatalogue(const std::string& folder);

} // namespace tunavox
