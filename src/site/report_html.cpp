// The report as an HTML page and as spreadsheet lines.
#include "device/table_text.h"
#include "export/table_export.h"
#include "site/report.h"
#include "trend/poll_recorder.h"

namespace tunavox {
namespace {

// Screen and A4 paper across (a row of seven columns on one line): headers repeated on every page, rows never split, each device but
// the first from the top of a page.
constexpr const char* kStyle = R"(
@page { size: A4 landscape; margin: 12mm 14mm; }
body { font-family: "DejaVu Sans", Arial, sans-serif; font-size: 8pt; color: #000; }
h1 { font-size: 15pt; margin: 0 0 6pt 0; }
h2 { font-size: 12pt; margin: 12pt 0 4pt 0; }
h3 { font-size: 10pt; margin: 8pt 0 3pt 0; }
table { border-collapse: collapse; width: 100%; margin-bottom: 6pt; }
th, td { border: 1px solid #777; text-align: left; vertical-align: top; }
th { background: #e8e8e8; }
thead { display: table-header-group; }
tr { page-break-inside: avoid; break-inside: avoid; }
table.facts th { width: 28%; }
div.next { page-break-before: always; break-before: page; }
.verdict { font-weight: bold; }
.bad { color: #a00000; }
.good { color: #006000; }
)";

// For renderers that read no style sheet (Qt's, which makes the PDF).
constexpr const char* kTableAttributes = "border=\"1\" cellspacing=\"0\" cellpadding=\"4\"";

void Cell(std::string& out, const char* tag, const std::string& text, const char* cls = nullptr) {
    out += '<';
    out += tag;
    if (cls) {
        out += " class=\"";
        out += cls;
        out += '"';
    }
    out += '>';
    out += HtmlEscaped(text);
    out += "</";
    out += tag;
    out += '>';
}

// A table with a repeated header; each row's cells in order. widths: each column's share
// of the page in per cent, so that no value is broken inside a word on paper.
void Table(std::string& out, const char* cls, const std::vector<std::string>& head,
           const std::vector<std::vector<std::string>>& rows, const std::vector<int>& widths) {
    out += "<table class=\"";
    out += cls;
    out += "\" ";
    out += kTableAttributes;
    out += "><thead><tr>";
    for (size_t i = 0; i < head.size(); ++i) {
        out += "<th width=\"" + std::to_string(i < widths.size() ? widths[i] : 10) + "%\">";
        out += HtmlEscaped(head[i]);
        out += "</th>";
    }
    out += "</tr></thead><tbody>";
    for (const auto& row : rows) {
        out += "<tr>";
        for (const std::string& c : row)
            Cell(out, "td", c);
        out += "</tr>";
    }
    out += "</tbody></table>\n";
}

// Captions in the first column, values in the second.
void Facts(std::string& out, const char* cls,
           const std::vector<std::pair<std::string, std::string>>& facts) {
    out += "<table class=\"facts ";
    out += cls;
    out += "\" ";
    out += kTableAttributes;
    out += "><tbody>";
    for (const auto& [caption, value] : facts) {
        out += "<tr>";
        Cell(out, "th", caption);
        Cell(out, "td", value);
        out += "</tr>";
    }
    out += "</tbody></table>\n";
}

std::string DeviceTitle(const TReportDevice& d) {
    return "ID " + std::to_string(d.Id) + " · " + d.Type;
}

bool Good(TReportVerdict v) { return v == TReportVerdict::Conforms; }

} // namespace

std::string ReportHtml(const TReport& r) {
    const std::string siteVerdict = SiteVerdictText(r);
    std::string out = "<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\"/>";
    Cell(out, "title", "Отчёт о наладке: " + r.Site);
    out += "<style>";
    out += kStyle;
    out += "</style></head>\n<body>\n";
    Cell(out, "h1", "Отчёт о наладке: " + r.Site);
    Facts(out, "visit",
          {{"Объект", r.Site},
           {"Примечания", r.Notes.empty() ? "—" : r.Notes},
           {"Инженер", r.Engineer.empty() ? "—" : r.Engineer},
           {"Начало посещения", r.VisitStarted},
           {"Отчёт составлен", r.Made},
           {"Версия программы", r.Program}});
    out += "<p class=\"verdict site-verdict\">";
    Cell(out, "span", "Заключение по объекту: " + siteVerdict,
         siteVerdict == "соответствует эталону" ? "good" : "bad");
    out += "</p>\n";
    // The summary: every device and its verdict.
    std::vector<std::vector<std::string>> summary;
    for (const TReportLine& line : r.Lines)
        for (const TReportDevice& d : line.Devices)
            summary.push_back({std::to_string(d.Id), d.Type, line.Port, VerdictText(d)});
    Cell(out, "h2", "Устройства");
    Table(out, "summary", {"ID", "Устройство", "Линия", "Заключение"}, summary, {8, 37, 25, 30});
    bool first = true;
    for (const TReportLine& line : r.Lines) {
        Cell(out, "h2", "Линия " + line.Port);
        Facts(out, "line",
              {{"Порт или адрес", line.Port},
               {"Версия протокола", line.Protocol},
               {"Режим", line.Mode},
               {"Параметры линии", line.Settings.empty() ? "—" : line.Settings}});
        for (const TReportDevice& d : line.Devices) {
            out += std::string("<div class=\"device") + (first ? "" : " next") + "\" data-id=\"" +
                   std::to_string(d.Id) + "\">\n";
            first = false;
            Cell(out, "h2", DeviceTitle(d));
            Facts(out, "device-facts",
                  {{"Тип", d.Type},
                   {"ID", std::to_string(d.Id)},
                   {"Линия", line.Port},
                   {"Файл описания", d.Description},
                   {"Подпись описания", d.Signature}});
            out += "<p class=\"verdict device-verdict\">";
            Cell(out, "span", "Заключение: " + VerdictText(d), Good(d.Verdict) ? "good" : "bad");
            out += "</p>\n";
            Cell(out, "h3", "Идентификация");
            std::vector<std::vector<std::string>> rows;
            for (const TReportIdentity& i : d.Identity)
                rows.push_back({i.Code, i.Name, i.Found, i.Left});
            if (rows.empty())
                Cell(out, "p", "В описании нет идентификационных регистров");
            else
                Table(out, "identity", {"Код", "Параметр", "Было", "Стало"}, rows,
                      {10, 40, 25, 25});
            Cell(out, "h3", "Настройки");
            rows.clear();
            for (const TReportRow& row : d.Rows)
                rows.push_back({row.Code, row.Name, row.Factory, row.Reference, row.Found,
                                row.Left, row.State});
            Table(out, "settings",
                  {"Код", "Параметр", "Заводское", "Эталон", "Было", "Стало", "Состояние"}, rows,
                  {6, 28, 12, 12, 12, 12, 18});
            Cell(out, "h3", "Записи в устройство за посещение");
            rows.clear();
            for (const TReportWrite& w : d.Writes)
                rows.push_back({w.Time, w.Code, w.Name, w.Before, w.Written, w.Outcome});
            if (rows.empty())
                Cell(out, "p", "Записей не было");
            else
                Table(out, "writes", {"Время", "Код", "Параметр", "Было", "Записано", "Результат"},
                      rows, {17, 8, 25, 12, 12, 26});
            out += "</div>\n";
        }
    }
    out += "</body></html>\n";
    return out;
}

std::string ReportCsv(const TReport& r) {
    std::string out =
        EncodedLine("ID;Код;Параметр;Заводское;Эталон;Было;Стало;Состояние");
    for (const TReportLine& line : r.Lines)
        for (const TReportDevice& d : line.Devices)
            for (const TReportRow& row : d.Rows) {
                std::string text = std::to_string(d.Id);
                for (const std::string* field : {&row.Code, &row.Name, &row.Factory,
                                                 &row.Reference, &row.Found, &row.Left,
                                                 &row.State})
                    text += ";" + DelimitedField(*field);
                out += EncodedLine(text);
            }
    return out;
}

} // namespace tunavox
