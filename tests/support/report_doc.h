#pragma once
// A commissioning report's HTML read back as a parser sees it: each table's cells.
#include <map>
#include <string>
#include <vector>

namespace tunavox::test {

using TCells = std::vector<std::vector<std::string>>;

struct TReportDocDevice {
    std::string Id;
    std::string Verdict; // the device's "Заключение: …"
    std::map<std::string, std::string> Facts;
    TCells Identity, Settings, Writes; // body rows; the header row apart
    std::vector<std::string> SettingsHead;
};

struct TReportDoc {
    std::string SiteVerdict;
    std::map<std::string, std::string> Facts; // the visit's captions and values
    std::vector<TReportDocDevice> Devices;
    bool HeadersRepeat = false; // every table's header in a thead
};

// Parses the page as XML (it must be well-formed); false and why otherwise.
bool ParseReportHtml(const std::string& html, TReportDoc& doc, std::string& error);

// The settings row of a device by its code, or empty.
std::vector<std::string> SettingsRow(const TReportDocDevice& device, const std::string& code);

} // namespace tunavox::test
