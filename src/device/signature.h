#pragma once
#include <string>
#include <string_view>

#include "xml/xml_document.h"

namespace tunavox {

// 32 upper-case hex digits of the MD5 digest of the bytes.
std::string Md5Hex(std::string_view bytes);

// Upper-case hex digits of a digest's bytes.
std::string DigestHex(const unsigned char* digest, size_t size);

// An MD5 digest fed in pieces; Hex ends it.
class TMd5 {
public:
    TMd5();
    ~TMd5();
    TMd5(const TMd5&) = delete;
    TMd5& operator=(const TMd5&) = delete;
    void Update(std::string_view bytes);
    std::string Hex();

private:
    void* state_; // the system's or the crypto library's digest object
};

// Digest of a document as signed: MD5 of its canonical text in Windows-1251. The
// document must not carry its sign attribute any more.
std::string DocumentDigest(const XmlDocument& doc);

// Opens a description and checks its sign attribute. On success the document is
// left open with sign removed from the root and the result is empty; otherwise the
// result is "Файл не найден", the XML reader's message or "Файл данных поврежден".
// With sign, the verified digest is stored there.
std::string VerifyDescription(const std::string& path, XmlDocument& doc,
                              std::string* sign = nullptr);

// Computes the digest of a description file and writes it into the root's sign
// attribute in place (replacing it, or appending it as the root's last attribute),
// keeping every other byte of the file. Returns the failure's message or "".
std::string SignDescriptionFile(const std::string& path);

} // namespace tunavox
