#include "report_doc.h"

#include <pugixml.hpp>

namespace tunavox::test {
namespace {

std::string TextOf(const pugi::xml_node& node) {
    std::string out;
    for (const pugi::xml_node& n : node.children()) {
        if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) out += n.value();
        else out += TextOf(n);
    }
    return out;
}

bool HasClass(const pugi::xml_node& node, const std::string& cls) {
    const std::string all = std::string(" ") + node.attribute("class").value() + " ";
    return all.find(" " + cls + " ") != std::string::npos;
}

pugi::xml_node TableOf(const pugi::xml_node& scope, const std::string& cls) {
    for (const pugi::xpath_node& t : scope.select_nodes(".//table"))
        if (HasClass(t.node(), cls)) return t.node();
    return {};
}

TCells Rows(const pugi::xml_node& table, const char* part) {
    TCells out;
    for (const pugi::xml_node& tr : table.child(part).children("tr")) {
        out.emplace_back();
        for (const pugi::xml_node& cell : tr.children())
            out.back().push_back(TextOf(cell));
    }
    return out;
}

std::map<std::string, std::string> FactsOf(const pugi::xml_node& table) {
    std::map<std::string, std::string> out;
    for (const auto& row : Rows(table, "tbody"))
        if (row.size() == 2) out[row[0]] = row[1];
    return out;
}

std::string Verdict(const pugi::xml_node& scope, const std::string& cls) {
    for (const pugi::xpath_node& p : scope.select_nodes(".//p"))
        if (HasClass(p.node(), cls)) return TextOf(p.node());
    return {};
}

} // namespace

bool ParseReportHtml(const std::string& html, TReportDoc& doc, std::string& error) {
    pugi::xml_document xml;
    const pugi::xml_parse_result parsed = xml.load_string(html.c_str());
    if (!parsed) {
        error = std::string(parsed.description()) + " at " + std::to_string(parsed.offset);
        return false;
    }
    const pugi::xml_node body = xml.child("html").child("body");
    if (!body) {
        error = "no html/body";
        return false;
    }
    doc = {};
    doc.SiteVerdict = Verdict(body, "site-verdict");
    doc.Facts = FactsOf(TableOf(body, "visit"));
    doc.HeadersRepeat = true;
    for (const pugi::xpath_node& t : body.select_nodes(".//table"))
        if (!HasClass(t.node(), "facts") && !t.node().child("thead").child("tr"))
            doc.HeadersRepeat = false;
    for (const pugi::xpath_node& div : body.select_nodes(".//div")) {
        if (!HasClass(div.node(), "device")) continue;
        TReportDocDevice d;
        d.Id = div.node().attribute("data-id").value();
        d.Verdict = Verdict(div.node(), "device-verdict");
        d.Facts = FactsOf(TableOf(div.node(), "device-facts"));
        d.Identity = Rows(TableOf(div.node(), "identity"), "tbody");
        const pugi::xml_node settings = TableOf(div.node(), "settings");
        d.Settings = Rows(settings, "tbody");
        const TCells head = Rows(settings, "thead");
        if (!head.empty()) d.SettingsHead = head.front();
        d.Writes = Rows(TableOf(div.node(), "writes"), "tbody");
        doc.Devices.push_back(std::move(d));
    }
    return true;
}

std::vector<std::string> SettingsRow(const TReportDocDevice& device, const std::string& code) {
    for (const auto& row : device.Settings)
        if (!row.empty() && row[0] == code) return row;
    return {};
}

} // namespace tunavox::test
