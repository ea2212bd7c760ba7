#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

namespace tunavox {

// One element of a parsed document with the reading operations the description
// loader needs. Texts are UTF-8. A default-constructed element is "none".
class XmlElement {
public:
    XmlElement() = default;
    explicit XmlElement(pugi::xml_node node) : node_(node) {}

    explicit operator bool() const { return static_cast<bool>(node_); }
    std::string Name() const { return node_.name(); }

    bool HasAttribute(const char* name) const;
    // The attribute's text if present (even when empty), else def.
    std::string AttrText(const char* name, std::string_view def = {}) const;
    // Decimal or prefixed hexadecimal integer; def when absent. Fails with a message
    // for any other text.
    bool AttrInt(const char* name, int32_t def, int32_t& out, std::string& error) const;
    // "1"/"0", "true"/"false" in any case, or any number (non-zero is true); def when
    // absent. Fails with a message for any other text.
    bool AttrBool(const char* name, bool def, bool& out, std::string& error) const;
    void RemoveAttribute(const char* name);

    // Text content of the first child element with that name, else def. The texts of
    // its text children are kept as written; several non-empty ones are joined by a blank.
    std::string ChildText(const char* name, std::string_view def = {}) const;
    XmlElement FirstChild(const char* name) const;
    std::vector<XmlElement> Children(const char* name) const;

    pugi::xml_node Node() const { return node_; }

private:
    pugi::xml_node node_;
};

// A parsed XML document. Character data made only of characters with codes up to
// 32 is dropped; every other run is kept exactly, line breaks included.
class XmlDocument {
public:
    // Documents nested deeper than this are refused rather than walked.
    static constexpr int kMaxDepth = 512;
    // Documents with more tags than this are refused before they are parsed (about
    // ten times the tags of a description with 10,000 registers).
    static constexpr size_t kMaxTags = 1000000;

    // Parses a file, decoding it by its declared encoding (windows-1251, utf-8,
    // iso-8859-1, or UTF-16 with a byte order mark; none declared means utf-8).
    // Returns the empty text on success, otherwise the reason.
    std::string LoadFile(const std::string& path);
    std::string LoadBytes(std::string_view bytes);

    void Clear() { doc_.reset(); }
    XmlElement Root() const { return XmlElement(doc_.document_element()); }

    // The canonical text of the document (UTF-8): every element on a line of its own,
    // indented by tabs to its depth, attributes in file order and double-quoted.
    std::string CanonicalText() const;
    // The same text handed over in pieces of whole characters, never held whole.
    using TextSink = std::function<void(std::string_view)>;
    void WriteCanonical(const TextSink& sink) const;

private:
    pugi::xml_document doc_;
};

// Appends text with the double quote, "&", "<" and ">" written as references; every
// other character, line breaks and the apostrophe included, unchanged.
void AppendEscaped(std::string& out, std::string_view text);

// Finds the encoding named in the XML declaration at the start of the bytes; empty
// when there is no declaration or it names none.
std::string DeclaredEncoding(std::string_view bytes);

} // namespace tunavox
