#include "xml/xml_document.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

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

// Writes canonical text in pieces to a sink. Pieces end on whole UTF-8 characters,
// so a sink may convert each on its own.
class CanonicalWriter {
public:
    explicit CanonicalWriter(const XmlDocument::TextSink& sink) : sink_(sink) {}
    ~CanonicalWriter() { Flush(true); }

    void Put(char c) { buf_ += c; }
    void Put(std::string_view s) {
        buf_.append(s);
        if (buf_.size() >= kChunk) Flush(false);
    }
    void PutEscaped(std::string_view s) {
        AppendEscaped(buf_, s);
        if (buf_.size() >= kChunk) Flush(false);
    }
    void Indent(int depth) { buf_.append(static_cast<size_t>(depth), '\t'); }

    void Flush(bool all) {
        size_t cut = buf_.size();
        if (!all) {
            // Keep a trailing incomplete character for the next piece.
            size_t lead = cut;
            while (lead > 0 && cut - lead < 4 &&
                   (static_cast<unsigned char>(buf_[lead - 1]) & 0xC0) == 0x80)
                --lead;
            if (lead > 0 && static_cast<unsigned char>(buf_[lead - 1]) >= 0xC0) cut = lead - 1;
        }
        if (cut == 0) return;
        sink_(std::string_view(buf_.data(), cut));
        buf_.erase(0, cut);
    }

private:
    static constexpr size_t kChunk = 1 << 16;
    const XmlDocument::TextSink& sink_;
    std::string buf_;
};

bool HasBreak(const char* text) {
    return std::strpbrk(text, "\r\n") != nullptr;
}

// Whether the element's content, as written, holds a line break: any child element
// starts on a new line, other children break where their text does.
bool ContentHasBreak(pugi::xml_node node) {
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element || HasBreak(child.value())) return true;
        if (child.type() == pugi::node_pi && HasBreak(child.name())) return true;
    }
    return false;
}

// Whether the content, as written, ends with CR LF: only text can.
bool ContentEndsWithBreak(pugi::xml_node node) {
    const pugi::xml_node last = node.last_child();
    if (!last || last.type() != pugi::node_pcdata) return false;
    const std::string_view text = last.value();
    return text.size() >= 2 && text.substr(text.size() - 2) == "\r\n";
}

void WriteAttributes(CanonicalWriter& out, pugi::xml_node node) {
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
        out.Put(' ');
        out.Put(a.name());
        out.Put("=\"");
        out.PutEscaped(a.value());
        out.Put('"');
    }
}

void WriteNode(CanonicalWriter& out, pugi::xml_node node, int depth);

void WriteElement(CanonicalWriter& out, pugi::xml_node node, int depth) {
    out.Put("\r\n");
    out.Indent(depth);
    out.Put('<');
    out.Put(node.name());
    WriteAttributes(out, node);
    if (!node.first_child()) {
        out.Put("/>");
        return;
    }
    out.Put('>');
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        WriteNode(out, child, depth + 1);
    if (ContentHasBreak(node)) {
        if (!ContentEndsWithBreak(node)) out.Put("\r\n");
        out.Indent(depth);
    }
    out.Put("</");
    out.Put(node.name());
    out.Put('>');
}

void WriteNode(CanonicalWriter& out, pugi::xml_node node, int depth) {
    switch (node.type()) {
    case pugi::node_element:
        WriteElement(out, node, depth);
        break;
    case pugi::node_pcdata:
        out.PutEscaped(node.value());
        break;
    case pugi::node_cdata:
        out.Put("<![CDATA[");
        out.Put(node.value());
        out.Put("]]>");
        break;
    case pugi::node_comment:
        out.Put("<!--");
        out.Put(node.value());
        out.Put("-->");
        break;
    case pugi::node_declaration:
        out.Put("<?");
        out.Put(node.name());
        WriteAttributes(out, node);
        out.Put("?>");
        break;
    case pugi::node_pi:
        out.Put("<?");
        out.Put(node.name());
        if (*node.value()) {
            out.Put(' ');
            out.Put(node.value());
        }
        out.Put("?>");
        break;
    case pugi::node_doctype:
        out.Put("<!DOCTYPE ");
        out.Put(node.value());
        out.Put('>');
        break;
    default:
        break;
    }
}

// The first element that carries an attribute name twice, or none.
pugi::xml_node FindDuplicateAttribute(const pugi::xml_document& doc) {
    std::unordered_set<std::string_view> names;
    for (pugi::xml_node node = doc.first_child(); node;) {
        if (node.type() == pugi::node_element && node.first_attribute()) {
            names.clear();
            for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
                if (!names.insert(a.name()).second) return node;
        }
        // Depth first, without recursion.
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node && !node.next_sibling())
            node = node.parent();
        if (node) node = node.next_sibling();
    }
    return {};
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
    const auto failAt = [&](ptrdiff_t offset, const char* what) {
        const std::string_view before = input.substr(
            0, std::min(input.size(), static_cast<size_t>(std::max<ptrdiff_t>(offset, 0))));
        const size_t line = static_cast<size_t>(std::count(before.begin(), before.end(), '\n')) + 1;
        const size_t lineStart = before.rfind('\n');
        const size_t column =
            Utf8Length(before.substr(lineStart == std::string_view::npos ? 0 : lineStart + 1)) + 1;
        doc_.reset();
        return "Ошибка XML в строке " + std::to_string(line) + ", позиция " +
               std::to_string(column) + ": " + what;
    };
    // The parser takes a NUL for the end of the text; XML allows it nowhere.
    if (encoding != pugi::encoding_auto) {
        const size_t nul = input.find('\0');
        if (nul != std::string_view::npos)
            return failAt(static_cast<ptrdiff_t>(nul), "недопустимый символ с кодом 0");
    }
    // Each tag costs the parsed tree about 64 bytes whatever its length in the file:
    // their number is bounded before the tree is built.
    size_t tags = 0;
    for (const char *p = input.data(), *end = p + input.size();
         (p = static_cast<const char*>(std::memchr(p, '<', static_cast<size_t>(end - p)))); ++p)
        if (++tags > kMaxTags) {
            doc_.reset();
            return "Ошибка XML: в документе больше " + std::to_string(kMaxTags) + " тегов";
        }
    const pugi::xml_parse_result result =
        doc_.load_buffer(input.data(), input.size(), kOptions, encoding);
    if (!result) return failAt(result.offset, StatusText(result.status));
    if (const pugi::xml_node twice = FindDuplicateAttribute(doc_))
        return failAt(encoding == pugi::encoding_auto ? -1 : twice.offset_debug(),
                      "атрибут повторяется");
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

void XmlDocument::WriteCanonical(const TextSink& sink) const {
    CanonicalWriter out(sink);
    for (pugi::xml_node node = doc_.first_child(); node; node = node.next_sibling())
        WriteNode(out, node, 0);
}

std::string XmlDocument::CanonicalText() const {
    std::string text;
    WriteCanonical([&text](std::string_view piece) { text.append(piece); });
    return text;
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
