#include "xml/xml_document.h"

#include <algorithm>
#include <cstring>

#include "util/cp1251.h"
#include "util/file_io.h"
#include "util/integer_text.h"

namespace tunavox {
namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool OnlyLowCodes(const char* text) {
    for (const char* p = text; *p; ++p)
        if (static_cast<unsigned char>(*p) > 32) return false;
    return true;
}

const char* StatusText(pugi::xml_parse_status status) {
    switch (status) {
    case pugi::status_out_of_memory:
        return "недостаточно памяти";
    case pugi::status_unrecognized_tag:
        return "нераспознанный тег";
    case pugi::status_bad_pi:
        return "ошибка в объявлении или инструкции обработки";
    case pugi::status_bad_comment:
        return "ошибка в комментарии";
    case pugi::status_bad_cdata:
        return "ошибка в секции CDATA";
    case pugi::status_bad_doctype:
        return "ошибка в объявлении типа документа";
    case pugi::status_bad_pcdata:
        return "ошибка в тексте";
    case pugi::status_bad_start_element:
        return "ошибка в открывающем теге";
    case pugi::status_bad_attribute:
        return "ошибка в атрибуте";
    case pugi::status_bad_end_element:
        return "ошибка в закрывающем теге";
    case pugi::status_end_element_mismatch:
        return "закрывающий тег не соответствует открывающему";
    case pugi::status_append_invalid_root:
        return "недопустимый корневой узел";
    case pugi::status_no_document_element:
        return "нет корневого элемента";
    default:
        return "внутренняя ошибка разбора";
    }
}

// Text of the element's character data children, as the loader reads it.
std::string TextContent(pugi::xml_node node) {
    std::string out;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_pcdata && child.type() != pugi::node_cdata) continue;
        const char* value = child.value();
        if (!*value) continue;
        if (!out.empty()) out += ' ';
        out += value;
    }
    return out;
}

void AppendAttributes(std::string& out, pugi::xml_node node) {
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
        out += ' ';
        out += a.name();
        out += "=\"";
        AppendEscaped(out, a.value());
        out += '"';
    }
}

void WriteNode(std::string& out, pugi::xml_node node, int depth);

void WriteElement(std::string& out, pugi::xml_node node, int depth) {
    out += "\r\n";
    out.append(static_cast<size_t>(depth), '\t');
    out += '<';
    out += node.name();
    AppendAttributes(out, node);
    if (!node.first_child()) {
        out += "/>";
        return;
    }
    std::string inner;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        WriteNode(inner, child, depth + 1);
    out += '>';
    out += inner;
    const bool multiline = inner.find_first_of("\r\n") != std::string::npos;
    if (multiline) {
        const bool endsWithBreak =
            inner.size() >= 2 && inner.compare(inner.size() - 2, 2, "\r\n") == 0;
        if (!endsWithBreak) out += "\r\n";
        out.append(static_cast<size_t>(depth), '\t');
    }
    out += "</";
    out += node.name();
    out += '>';
}

void WriteNode(std::string& out, pugi::xml_node node, int depth) {
    switch (node.type()) {
    case pugi::node_element:
        WriteElement(out, node, depth);
        break;
    case pugi::node_pcdata:
        AppendEscaped(out, node.value());
        break;
    case pugi::node_cdata:
        out += "<![CDATA[";
        out += node.value();
        out += "]]>";
        break;
    case pugi::node_comment:
        out += "<!--";
        out += node.value();
        out += "-->";
        break;
    case pugi::node_declaration:
        out += "<?";
        out += node.name();
        AppendAttributes(out, node);
        out += "?>";
        break;
    case pugi::node_pi:
        out += "<?";
        out += node.name();
        if (*node.value()) {
            out += ' ';
            out += node.value();
        }
        out += "?>";
        break;
    case pugi::node_doctype:
        out += "<!DOCTYPE ";
        out += node.value();
        out += '>';
        break;
    default:
        break;
    }
}

// Removes character data made only of low codes, and measures the nesting depth.
// Iterative, so a hostile file cannot exhaust the stack here.
bool Normalise(pugi::xml_document& doc) {
    std::vector<pugi::xml_node> stack{doc};
    std::vector<int> depths{0};
    while (!stack.empty()) {
        pugi::xml_node node = stack.back();
        const int depth = depths.back();
        stack.pop_back();
        depths.pop_back();
        if (depth > XmlDocument::kMaxDepth) return false;
        for (pugi::xml_node child = node.first_child(); child;) {
            pugi::xml_node next = child.next_sibling();
            if (child.type() == pugi::node_pcdata && OnlyLowCodes(child.value()))
                node.remove_child(child);
            else if (child.type() == pugi::node_element) {
                stack.push_back(child);
                depths.push_back(depth + 1);
            }
            child = next;
        }
    }
    return true;
}

} // namespace

void AppendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
        case '"':
            out += "&quot;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
}

std::string DeclaredEncoding(std::string_view bytes) {
    if (bytes.substr(0, 5) != "<?xml") return {};
    const size_t end = bytes.find("?>");
    if (end == std::string_view::npos) return {};
    const std::string_view decl = bytes.substr(0, end);
    size_t pos = decl.find("encoding");
    if (pos == std::string_view::npos) return {};
    pos += 8;
    while (pos < decl.size() &&
           (decl[pos] == ' ' || decl[pos] == '\t' || decl[pos] == '\r' || decl[pos] == '\n'))
        ++pos;
    if (pos >= decl.size() || decl[pos] != '=') return {};
    ++pos;
    while (pos < decl.size() &&
           (decl[pos] == ' ' || decl[pos] == '\t' || decl[pos] == '\r' || decl[pos] == '\n'))
        ++pos;
    if (pos >= decl.size() || (decl[pos] != '"' && decl[pos] != '\'')) return {};
    const char quote = decl[pos++];
    const size_t close = decl.find(quote, pos);
    if (close == std::string_view::npos) return {};
    return std::string(decl.substr(pos, close - pos));
}

std::string XmlDocument::LoadFile(const std::string& path) {
    std::string bytes, error;
    if (!ReadFileBytes(path, bytes, error)) return "Не удалось прочитать файл: " + error;
    return LoadBytes(bytes);
}

std::string XmlDocument::LoadBytes(std::string_view bytes) {
    doc_.reset();
    constexpr unsigned kOptions =
        (pugi::parse_default | pugi::parse_declaration | pugi::parse_comments | pugi::parse_pi |
         pugi::parse_doctype | pugi::parse_ws_pcdata) &
        ~(pugi::parse_eol | pugi::parse_wconv_attribute | pugi::parse_wnorm_attribute);
    std::string converted;
    std::string_view input = bytes;
    pugi::xml_encoding encoding = pugi::encoding_utf8;
    const auto* u = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() >= 2 && ((u[0] == 0xFF && u[1] == 0xFE) || (u[0] == 0xFE && u[1] == 0xFF))) {
        encoding = pugi::encoding_auto;
    } else if (bytes.size() >= 3 && u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF) {
        input = bytes.substr(3);
    } else {
        const std::string declared = Lower(DeclaredEncoding(bytes));
        if (declared == "windows-1251" || declared == "cp1251" || declared == "x-cp1251" ||
            declared == "cp-1251") {
            converted = Cp1251ToUtf8(bytes);
            input = converted;
        } else if (declared == "iso-8859-1" || declared == "latin1" || declared == "iso8859-1") {
            encoding = pugi::encoding_latin1;
        } else if (!declared.empty() && declared != "utf-8" && declared != "utf8" &&
                   declared != "us-ascii" && declared != "ascii") {
            return "Неподдерживаемая кодировка файла: " + DeclaredEncoding(bytes);
        }
    }
    const pugi::xml_parse_result result =
        doc_.load_buffer(input.data(), input.size(), kOptions, encoding);
    if (!result) {
        const std::string_view before = input.substr(
            0, std::min(input.size(), static_cast<size_t>(std::max<ptrdiff_t>(result.offset, 0))));
        const size_t line = static_cast<size_t>(std::count(before.begin(), before.end(), '\n')) + 1;
        const size_t lineStart = before.rfind('\n');
        const size_t column =
            Utf8Length(before.substr(lineStart == std::string_view::npos ? 0 : lineStart + 1)) + 1;
        doc_.reset();
        return "Ошибка XML в строке " + std::to_string(line) + ", позиция " +
               std::to_string(column) + ": " + StatusText(result.status);
    }
    int roots = 0;
    for (pugi::xml_node node = doc_.first_child(); node; node = node.next_sibling())
        if (node.type() == pugi::node_element) ++roots;
    if (roots > 1) {
        doc_.reset();
        return "Ошибка XML: в документе больше одного корневого элемента";
    }
    if (!Normalise(doc_)) {
        doc_.reset();
        return "Ошибка XML: слишком глубокая вложенность элементов";
    }
    return {};
}

std::string XmlDocument::CanonicalText() const {
    std::string out;
    for (pugi::xml_node node = doc_.first_child(); node; node = node.next_sibling())
        WriteNode(out, node, 0);
    return out;
}

bool XmlElement::HasAttribute(const char* name) const {
    return static_cast<bool>(node_.attribute(name));
}

std::string XmlElement::AttrText(const char* name, std::string_view def) const {
    const pugi::xml_attribute a = node_.attribute(name);
    return a ? std::string(a.value()) : std::string(def);
}

bool XmlElement::AttrInt(const char* name, int32_t def, int32_t& out, std::string& error) const {
    const pugi::xml_attribute a = node_.attribute(name);
    if (!a) {
        out = def;
        return true;
    }
    if (ParseInt32Text(a.value(), out)) return true;
    error = std::string("Некорректное целое значение атрибута ") + name + ": " + a.value();
    return false;
}

bool XmlElement::AttrBool(const char* name, bool def, bool& out, std::string& error) const {
    const pugi::xml_attribute a = node_.attribute(name);
    if (!a) {
        out = def;
        return true;
    }
    const std::string text = Lower(a.value());
    int64_t number = 0;
    if (text == "true") {
        out = true;
    } else if (text == "false") {
        out = false;
    } else if (ParseIntegerText(text, number)) {
        out = number != 0;
    } else {
        error = std::string("Некорректное логическое значение атрибута ") + name + ": " + a.value();
        return false;
    }
    return true;
}

void XmlElement::RemoveAttribute(const char* name) {
    node_.remove_attribute(name);
}

std::string XmlElement::ChildText(const char* name, std::string_view def) const {
    const pugi::xml_node child = node_.child(name);
    return child ? TextContent(child) : std::string(def);
}

XmlElement XmlElement::FirstChild(const char* name) const {
    return XmlElement(node_.child(name));
}

std::vector<XmlElement> XmlElement::Children(const char* name) const {
    std::vector<XmlElement> out;
    for (pugi::xml_node child = node_.child(name); child; child = child.next_sibling(name))
        out.emplace_back(child);
    return out;
}

} // namespace tunavox
