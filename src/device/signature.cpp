#include "device/signature.h"

#include "util/cp1251.h"
#include "util/file_io.h"

namespace tunavox {
namespace {

bool IsNameChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.' || c == ':';
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Where the sign attribute's value goes in the raw bytes: either the span of an
// existing value (replace) or an insertion point after the last attribute.
struct SignPlace {
    size_t begin = 0;
    size_t end = 0;
    bool existing = false;
};

bool SkipUntil(std::string_view s, size_t& pos, std::string_view marker) {
    const size_t at = s.find(marker, pos);
    if (at == std::string_view::npos) return false;
    pos = at + marker.size();
    return true;
}

// Finds the root element's start tag in the raw file and the place of its sign value.
bool FindSignPlace(std::string_view s, SignPlace& place) {
    size_t pos = 0;
    if (s.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
    for (;;) {
        while (pos < s.size() && IsSpace(s[pos]))
            ++pos;
        if (pos >= s.size() || s[pos] != '<') return false;
        if (s.compare(pos, 2, "<?") == 0) {
            if (!SkipUntil(s, pos, "?>")) return false;
        } else if (s.compare(pos, 4, "<!--") == 0) {
            if (!SkipUntil(s, pos, "-->")) return false;
        } else if (s.compare(pos, 9, "<!DOCTYPE") == 0) {
            int bracket = 0;
            for (++pos; pos < s.size(); ++pos) {
                if (s[pos] == '[')
                    ++bracket;
                else if (s[pos] == ']')
                    --bracket;
                else if (s[pos] == '>' && bracket <= 0)
                    break;
            }
            if (pos >= s.size()) return false;
            ++pos;
        } else {
            break;
        }
    }
    ++pos; // '<'
    while (pos < s.size() && IsNameChar(s[pos]))
        ++pos;
    size_t afterLast = pos;
    for (;;) {
        while (pos < s.size() && IsSpace(s[pos]))
            ++pos;
        if (pos >= s.size()) return false;
        if (s[pos] == '>' || s[pos] == '/') break;
        const size_t nameBegin = pos;
        while (pos < s.size() && IsNameChar(s[pos]))
            ++pos;
        const std::string_view name = s.substr(nameBegin, pos - nameBegin);
        while (pos < s.size() && IsSpace(s[pos]))
            ++pos;
        if (name.empty() || pos >= s.size() || s[pos] != '=') return false;
        ++pos;
        while (pos < s.size() && IsSpace(s[pos]))
            ++pos;
        if (pos >= s.size() || (s[pos] != '"' && s[pos] != '\'')) return false;
        const char quote = s[pos++];
        const size_t close = s.find(quote, pos);
        if (close == std::string_view::npos) return false;
        if (name == "sign") {
            place = {pos, close, true};
            return true;
        }
        pos = close + 1;
        afterLast = pos;
    }
    place = {afterLast, afterLast, false};
    return true;
}

} // namespace

std::string DigestHex(const unsigned char* digest, size_t size) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 0xF];
    }
    return out;
}

std::string Md5Hex(std::string_view bytes) {
    TMd5 md5;
    md5.Update(bytes);
    return md5.Hex();
}

std::string DocumentDigest(const XmlDocument& doc) {
    // The canonical text of a hostile file can be a thousand times its size: it is
    // converted and hashed piece by piece.
    TMd5 md5;
    doc.WriteCanonical([&md5](std::string_view piece) { md5.Update(Utf8ToCp1251(piece)); });
    return md5.Hex();
}

std::string VerifyDescription(const std::string& path, XmlDocument& doc, std::string* signOut) {
    const TPathKind kind = PathKind(path);
    if (kind == TPathKind::Missing || kind == TPathKind::Folder) return "Файл не найден";
    std::string error = doc.LoadFile(path);
    if (!error.empty()) return error;
    XmlElement root = doc.Root();
    const std::string sign = root.AttrText("sign");
    root.RemoveAttribute("sign");
    if (DocumentDigest(doc) != sign) {
        doc.Clear();
        return "Файл данных поврежден";
    }
    if (signOut) *signOut = sign;
    return {};
}

std::string SignDescriptionFile(const std::string& path) {
    std::string bytes, error;
    if (!ReadFileBytes(path, bytes, error)) return "Не удалось прочитать файл: " + error;
    XmlDocument doc;
    error = doc.LoadBytes(bytes);
    if (!error.empty()) return error;
    const auto* u = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() >= 2 && ((u[0] == 0xFF && u[1] == 0xFE) || (u[0] == 0xFE && u[1] == 0xFF)))
        return "Подпись файлов в кодировке UTF-16 не поддерживается";
    doc.Root().RemoveAttribute("sign");
    const std::string digest = DocumentDigest(doc);
    SignPlace place;
    if (!FindSignPlace(bytes, place)) return "Не найден открывающий тег корневого элемента";
    if (place.existing)
        bytes.replace(place.begin, place.end - place.begin, digest);
    else
        bytes.insert(place.begin, " sign=\"" + digest + "\"");
    if (!ReplaceFileBytes(path, bytes, error)) return "Не удалось записать файл: " + error;
    return {};
}

} // namespace tunavox
