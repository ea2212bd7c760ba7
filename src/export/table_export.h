#pragma once
#include <array>
#include <ctime>
#include <string>
#include <vector>

#include "device/name_value_list.h"
#include "device/reg.h"

namespace tunavox {

// The register table as it reads: column captions and every row's four cell texts
// (heading rows and hidden service rows included; column 0 is always empty).
struct TTableTexts {
    std::array<std::string, 4> Captions{"", "Код", "Параметр", "Значение"};
    std::vector<std::array<std::string, 4>> Rows;
};

TTableTexts CollectTableTexts(const TRegList* regs, const TNameValueList* errorTexts);

// ";"-separated lines ending in CR LF, fields quoted when they hold the separator or
// a double quote; Windows-1251 bytes.
std::string ExportCsv(const TTableTexts& table, char separator = ';');
// A UTF-8 HTML page with one table captioned with caption.
std::string ExportHtml(const TTableTexts& table, const std::string& caption);
// An RTF document with one table; characters outside ASCII as \uN? escapes.
std::string ExportRtf(const TTableTexts& table);

// Text with &, <, > and " as HTML entities.
std::string HtmlEscaped(const std::string& s);

// "dd.mm.yyyy hh.nn.ss" for a proposed export file name.
std::string ExportTimeStamp(const std::tm& local);

} // namespace tunavox
