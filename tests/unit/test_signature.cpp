// Signed description files: what keeps a signature valid, what breaks it, and signing.
#include <gtest/gtest.h>

#include "device/signature.h"
#include "test_support.h"
#include "util/cp1251.h"
#include "util/file_io.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace tunavox;
using namespace tunavox::test;

namespace {

const std::string kSamples = TUNAVOX_DEVICES_DIR;

std::string Verify(const std::string& path) {
    XmlDocument doc;
    return VerifyDescription(path, doc);
}

std::string ReplaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

// A copy of a sample (a Windows-1251 file) with a change applied to its raw bytes.
std::string Variant(const TempDir& dir, const std::string& sample, const std::string& from,
                    const std::string& to) {
    const std::string original = ReadBytes(kSamples + "/" + sample);
    const std::string from1251 = Utf8ToCp1251(from);
    EXPECT_NE(original.find(from1251), std::string::npos) << from;
    const std::string path = dir.File("copy.xml");
    WriteBytes(path, ReplaceAll(original, from1251, Utf8ToCp1251(to)));
    return path;
}

} // namespace

TEST(Signature, Md5KnownAnswers) {
    EXPECT_EQ(Md5Hex(""), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(Md5Hex("abc"), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(Md5Hex("message digest"), "F96B697D7CB7938D525A2F31AAF161D0");
}

TEST(Signature, SamplesVerifyAndSignIsRemoved) {
    for (const char* name : {"NastrBUK2.xml", "NastrChP7.xml"}) {
        XmlDocument doc;
        EXPECT_EQ(VerifyDescription(kSamples + "/" + name, doc), "") << name;
        EXPECT_FALSE(doc.Root().HasAttribute("sign"));
    }
}

TEST(Signature, LayoutChangesKeepItValid) {
    TempDir dir;
    const char* s = "NastrBUK2.xml";
    EXPECT_EQ(Verify(Variant(dir, s, "\r\n    <REG", "\n\t\t\t\t<REG")), "");
    EXPECT_EQ(Verify(Variant(dir, s, "\r\n", "\n")), "");
    EXPECT_EQ(Verify(Variant(dir, s, "\r\n  ", "")), "");
    EXPECT_EQ(Verify(Variant(dir, s, "io=\"RW\"", "io='RW'")), "");
    EXPECT_EQ(Verify(Variant(dir, s, "\" io=", "\"\r\n     io = ")), "");
    // A numeric reference for a letter instead of the letter.
    EXPECT_EQ(Verify(Variant(dir, s, "<name>Гистерезис", "<name>&#1043;истерезис")), "");
    EXPECT_EQ(Verify(Variant(dir, s, "Гистерезис", "&#x413;истерезис")), "");
}

TEST(Signature, ContentChangesBreakIt) {
    TempDir dir;
    const char* s = "NastrBUK2.xml";
    const std::string corrupt = "Файл данных поврежден";
    EXPECT_EQ(Verify(Variant(dir, s, "timeout=\"1000\"", "timeout=\"1001\"")), corrupt);
    EXPECT_EQ(Verify(Variant(dir, s, "Гистерезис", "Гистерезиз")), corrupt);
    EXPECT_EQ(Verify(Variant(dir, s, "type=\"Word\" io=\"RW\"", "io=\"RW\" type=\"Word\"")),
              corrupt);
    EXPECT_EQ(Verify(Variant(dir, s, "<REGISTERS", "<!-- note --><REGISTERS")), corrupt);
    EXPECT_EQ(Verify(Variant(dir, s, "<name>Гистерезис</name>", "<name> Гистерезис</name>")),
              corrupt);
    // The digest is upper-case; the same digits in lower case are refused.
    const std::string original = ReadBytes(kSamples + "/" + s);
    const size_t at = original.find("sign=\"") + 6;
    std::string lower = original;
    for (size_t i = at; i < at + 32; ++i)
        lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[i])));
    ASSERT_NE(lower, original);
    WriteBytes(dir.File("lower.xml"), lower);
    EXPECT_EQ(Verify(dir.File("lower.xml")), corrupt);
    // Without a sign attribute a file never verifies.
    WriteBytes(dir.File("nosign.xml"), original.substr(0, at - 6) + original.substr(at + 33));
    EXPECT_EQ(Verify(dir.File("nosign.xml")), corrupt);
}

TEST(Signature, OtherFailures) {
    TempDir dir;
    EXPECT_EQ(Verify(dir.File("absent.xml")), "Файл не найден");
    EXPECT_EQ(Verify(dir.Path()), "Файл не найден");
    WriteBytes(dir.File("empty.xml"), "");
    EXPECT_EQ(Verify(dir.File("empty.xml")).rfind("Ошибка XML", 0), 0u);
    const std::string sample = ReadBytes(kSamples + "/NastrChP7.xml");
    WriteBytes(dir.File("cut.xml"), sample.substr(0, sample.size() / 2));
    EXPECT_EQ(Verify(dir.File("cut.xml")).rfind("Ошибка XML", 0), 0u);
}

TEST(Signature, SignRoundTripsAndKeepsOtherBytes) {
    TempDir dir;
    const std::string body = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
                             "<!-- Описание для проверки -->\r\n"
                             "<DEVICE name='Проба &#1071;' serial=\"9600-8-N-1\">\r\n"
                             "  <REGISTERS>\r\n"
                             "    <REG addr=\"1\" type=\"Str\" io=\"R\"><name>Две\r\nстроки</name>"
                             "<desc>&#x41;&amp;&lt;</desc></REG>\r\n"
                             "  </REGISTERS>\r\n"
                             "</DEVICE>\r\n";
    const std::string path = dir.File("Nastr.xml");
    WriteBytes(path, Utf8ToCp1251(body));
    ASSERT_EQ(SignDescriptionFile(path), "");
    const std::string signed1 = ReadBytes(path);
    EXPECT_EQ(Verify(path), "");
    // The sign is appended as the root's last attribute; nothing else moved.
    const size_t at = signed1.find(" sign=\"");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(signed1.substr(0, at) + signed1.substr(at + 7 + 32 + 1), Utf8ToCp1251(body));
    EXPECT_EQ(signed1.substr(at - 11, 11), "9600-8-N-1\"");

    // Signing again after an edit replaces the value in place.
    const std::string edited = ReplaceAll(signed1, "9600-8-N-1", "19200-8-N-1");
    WriteBytes(path, edited);
    EXPECT_EQ(Verify(path), "Файл данных поврежден");
    ASSERT_EQ(SignDescriptionFile(path), "");
    const std::string signed2 = ReadBytes(path);
    EXPECT_EQ(signed2.size(), edited.size());
    EXPECT_EQ(Verify(path), "");
    EXPECT_EQ(SignDescriptionFile(path), "");
    EXPECT_EQ(ReadBytes(path), signed2);

    WriteBytes(dir.File("bad.xml"), "<r>");
    EXPECT_NE(SignDescriptionFile(dir.File("bad.xml")), "");
    EXPECT_EQ(ReadBytes(dir.File("bad.xml")), "<r>");
}

TEST(Signature, SignWorksOnUtf8AndEmptyRoots) {
    TempDir dir;
    const std::string path = dir.File("u.xml");
    WriteBytes(path, "<?xml version=\"1.0\" encoding=\"utf-8\"?><r/>");
    ASSERT_EQ(SignDescriptionFile(path), "");
    const std::string out = ReadBytes(path);
    EXPECT_EQ(out.find("<r sign=\""), 38u);
    EXPECT_EQ(Verify(path), "");
}

TEST(Signature, StreamedDigestEqualsTheDigestOfTheWholeText) {
    // Long Cyrillic texts make the pieces end in the middle of two-byte characters.
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><r a=\"Щ\">";
    for (int i = 0; i < 4000; ++i)
        xml += "<REG n=\"" + std::to_string(i) + "\">Жёлтый щит\r\nЪ</REG><e/>";
    xml += "</r>";
    XmlDocument doc;
    ASSERT_EQ(doc.LoadBytes(xml), "");
    const std::string whole = doc.CanonicalText();
    ASSERT_GT(whole.size(), 3u * (1u << 16));
    EXPECT_EQ(DocumentDigest(doc), Md5Hex(Utf8ToCp1251(whole)));
}

TEST(Signature, OnlyBoundedRegularFilesAreRead) {
    TempDir dir;
    const std::string unreadable = "Не удалось прочитать файл: ";
    // A FIFO is neither waited on nor read; a link to an endless device is not read.
    ASSERT_EQ(::mkfifo(dir.File("NastrFifo.xml").c_str(), 0600), 0);
    EXPECT_EQ(Verify(dir.File("NastrFifo.xml")).rfind(unreadable, 0), 0u);
    ASSERT_EQ(::symlink("/dev/zero", dir.File("NastrZero.xml").c_str()), 0);
    EXPECT_EQ(Verify(dir.File("NastrZero.xml")).rfind(unreadable, 0), 0u);
    EXPECT_NE(SignDescriptionFile(dir.File("NastrZero.xml")), "");
    // Above the bound a file is refused before it is parsed.
    std::string big(kMaxReadBytes + 1, ' ');
    big.replace(0, 3, "<r>");
    big.replace(big.size() - 4, 4, "</r>");
    WriteBytes(dir.File("big.xml"), big);
    EXPECT_EQ(Verify(dir.File("big.xml")), unreadable + "файл больше 64 МБ");

    // Half a million empty elements deep inside: judged piece by piece, without
    // building the canonical text (about 250 MB) whole. Four times as many are refused
    // before parsing.
    const auto deep = [](int count) {
        std::string xml = "<r sign=\"0\"><INTERFACE>";
        for (int i = 0; i < 500; ++i)
            xml += "<a>";
        for (int i = 0; i < count; ++i)
            xml += "<b/>";
        for (int i = 0; i < 500; ++i)
            xml += "</a>";
        return xml + "</INTERFACE></r>";
    };
    WriteBytes(dir.File("deep.xml"), deep(500000));
    EXPECT_EQ(Verify(dir.File("deep.xml")), "Файл данных поврежден");
    WriteBytes(dir.File("deeper.xml"), deep(2000000));
    EXPECT_EQ(Verify(dir.File("deeper.xml")), "Ошибка XML: в документе больше 1000000 тегов");
}

TEST(Signature, MalformedXmlIsRefused) {
    struct Case {
        std::string bytes;
        std::string error;
    } cases[] = {
        {"<r a=\"1\" b=\"2\" a=\"3\"/>", "Ошибка XML в строке 1, позиция 2: атрибут повторяется"},
        {"<r>\n<x k=\"1\" k=\"1\"/></r>", "Ошибка XML в строке 2, позиция 2: атрибут повторяется"},
        {std::string("<r/>\0\0", 6),
         "Ошибка XML в строке 1, позиция 5: недопустимый символ с кодом 0"},
        {std::string("<r>a\0b</r>", 10),
         "Ошибка XML в строке 1, позиция 5: недопустимый символ с кодом 0"},
    };
    for (const Case& c : cases) {
        XmlDocument doc;
        EXPECT_EQ(doc.LoadBytes(c.bytes), c.error) << c.bytes;
    }
}

TEST(Signature, SignThroughALinkSignsTheFileItPointsTo) {
    TempDir dir;
    const std::string real = dir.File("real.xml");
    WriteBytes(real, "<?xml version=\"1.0\" encoding=\"utf-8\"?><r/>");
    ASSERT_EQ(::symlink(real.c_str(), dir.File("NastrLink.xml").c_str()), 0);
    ASSERT_EQ(SignDescriptionFile(dir.File("NastrLink.xml")), "");
    struct stat st {};
    ASSERT_EQ(::lstat(dir.File("NastrLink.xml").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Verify(real), "");
}
