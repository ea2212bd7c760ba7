// The XML reader: whitespace rule, canonical text, encodings and hostile input.
#include <gtest/gtest.h>

#include <random>

#include "test_support.h"
#include "xml/xml_document.h"

using namespace tunavox;
using tunavox::test::TempDir;

namespace {

std::string Canonical(const std::string& xml) {
    XmlDocument doc;
    const std::string error = doc.LoadBytes(xml);
    EXPECT_EQ(error, "");
    return doc.CanonicalText();
}

} // namespace

TEST(XmlCanonical, ElementsOnTheirOwnLinesWhateverTheLayout) {
    const std::string expected = "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                                 "\r\n<root a=\"1\" b=\"x&amp;y&quot;'\">"
                                 "\r\n\t<REGISTERS>"
                                 "\r\n\t\t<REG addr=\"1\"/>"
                                 "\r\n\t\t<REG addr=\"2\">te&lt;xt</REG>"
                                 "\r\n\t</REGISTERS><!-- c -->"
                                 "\r\n</root>";
    EXPECT_EQ(Canonical("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                        "<root a='1' b=\"x&amp;y&quot;&apos;\">\n"
                        "  <REGISTERS>\n    <REG addr=\"1\"/>\n"
                        "    <REG addr=\"2\">te&lt;xt</REG>\n  </REGISTERS>\n"
                        "  <!-- c -->\n</root>\n"),
              expected);
    EXPECT_EQ(Canonical("<?xml version='1.0' encoding='utf-8'?><root a=\"1\" b='x&amp;y\"&apos;'>"
                        "<REGISTERS><REG addr='1'></REG>\r\n\r\n\t<REG addr=\"2\">te&lt;xt</REG>"
                        "</REGISTERS><!-- c --></root>"),
              expected);
}

TEST(XmlCanonical, TextKeepsItsLineBreaksAndBlanks) {
    // Text that spans lines puts the end tag on a line of its own, unless the text
    // already ends with CR LF.
    EXPECT_EQ(Canonical("<r><d>one\r\ntwo</d><e>x\r\n</e><f>  both  </f><g>&#65;&#x42;</g></r>"),
              "\r\n<r>\r\n\t<d>one\r\ntwo\r\n\t</d>\r\n\t<e>x\r\n\t</e>\r\n\t<f>  both  </f>"
              "\r\n\t<g>AB</g>\r\n</r>");
    // A lone LF is not turned into CR LF, and an attribute keeps its line break.
    EXPECT_EQ(Canonical("<r a=\"1\n2\">x\ny</r>"), "\r\n<r a=\"1\n2\">x\ny\r\n</r>");
    // Runs made only of codes up to 32 vanish; a run with any other character stays whole.
    EXPECT_EQ(Canonical("<r> \t\r\n<a/> x <b/>\x01\x02</r>"),
              "\r\n<r>\r\n\t<a/> x \r\n\t<b/>\r\n</r>");
}

TEST(XmlCanonical, OtherNodeKinds) {
    EXPECT_EQ(Canonical("<?xml version=\"1.0\"?><!--top--><r><?pi data?><![CDATA[a<b]]></r>"),
              "<?xml version=\"1.0\"?><!--top-->\r\n<r><?pi data?><![CDATA[a<b]]></r>");
}

TEST(XmlReader, ReadingOperations) {
    XmlDocument doc;
    ASSERT_EQ(doc.LoadBytes("<r i=\"0x1F\" j=\"-5\" k=\"$10\" bad=\"1x\" t=\"TRUE\" f=\"false\" "
                            "n=\"2\" z=\"0\" w=\"yes\" e=\"\">"
                            "<name>Имя</name><name>второе</name>"
                            "<units>a<!--c-->b</units><empty/><items><item/><item/></items></r>"),
              "");
    const XmlElement r = doc.Root();
    std::string error;
    int32_t i = 0;
    ASSERT_TRUE(r.AttrInt("i", 0, i, error));
    EXPECT_EQ(i, 31);
    ASSERT_TRUE(r.AttrInt("j", 0, i, error));
    EXPECT_EQ(i, -5);
    ASSERT_TRUE(r.AttrInt("k", 0, i, error));
    EXPECT_EQ(i, 16);
    ASSERT_TRUE(r.AttrInt("absent", 77, i, error));
    EXPECT_EQ(i, 77);
    EXPECT_FALSE(r.AttrInt("bad", 0, i, error));
    EXPECT_NE(error.find("bad"), std::string::npos);
    bool b = false;
    ASSERT_TRUE(r.AttrBool("t", false, b, error));
    EXPECT_TRUE(b);
    ASSERT_TRUE(r.AttrBool("f", true, b, error));
    EXPECT_FALSE(b);
    ASSERT_TRUE(r.AttrBool("n", false, b, error));
    EXPECT_TRUE(b);
    ASSERT_TRUE(r.AttrBool("z", true, b, error));
    EXPECT_FALSE(b);
    ASSERT_TRUE(r.AttrBool("absent", true, b, error));
    EXPECT_TRUE(b);
    EXPECT_FALSE(r.AttrBool("w", false, b, error));
    EXPECT_FALSE(r.AttrBool("e", false, b, error));
    EXPECT_EQ(r.AttrText("e", "def"), "");
    EXPECT_EQ(r.AttrText("absent", "def"), "def");
    EXPECT_EQ(r.ChildText("name"), "Имя");
    EXPECT_EQ(r.ChildText("units"), "a b");
    EXPECT_EQ(r.ChildText("empty", "def"), "");
    EXPECT_EQ(r.ChildText("absent", "def"), "def");
    EXPECT_FALSE(r.FirstChild("absent"));
    EXPECT_EQ(r.FirstChild("items").Children("item").size(), 2u);
}

TEST(XmlReader, EncodingsAreDecodedByDeclaration) {
    XmlDocument doc;
    ASSERT_EQ(doc.LoadBytes(
                  "<?xml version=\"1.0\" encoding=\"windows-1251\"?><r n=\"\xCF\xF3\xEC\xEF\"/>"),
              "");
    EXPECT_EQ(doc.Root().AttrText("n"), "Пумп");
    ASSERT_EQ(doc.LoadBytes("<?xml version=\"1.0\" encoding=\"UTF-8\"?><r n=\"Пумп\"/>"), "");
    EXPECT_EQ(doc.Root().AttrText("n"), "Пумп");
    ASSERT_EQ(doc.LoadBytes("\xEF\xBB\xBF<r n=\"Пумп\"/>"), "");
    EXPECT_EQ(doc.Root().AttrText("n"), "Пумп");
    ASSERT_EQ(doc.LoadBytes("<r n=\"Пумп\"/>"), "");
    EXPECT_EQ(doc.Root().AttrText("n"), "Пумп");
    ASSERT_EQ(doc.LoadBytes("<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><r n=\"\xE9\"/>"), "");
    EXPECT_EQ(doc.Root().AttrText("n"), "é");
    const std::string utf16("\xFF\xFE<\0r\0/\0>\0", 10);
    ASSERT_EQ(doc.LoadBytes(utf16), "");
    EXPECT_EQ(doc.Root().Name(), "r");
    EXPECT_EQ(doc.LoadBytes("<?xml version=\"1.0\" encoding=\"koi8-r\"?><r/>"),
              "Неподдерживаемая кодировка файла: koi8-r");
}

TEST(XmlReader, BadInputGivesAMessage) {
    XmlDocument doc;
    for (const std::string& bad :
         {std::string(), std::string("just text"), std::string("<r><a></r>"),
          std::string("<?xml version=\"1.0\"?>\n<r>\n  <a b=\"1></r>"), std::string("<r", 2),
          std::string("\0\0\0\0<r/>", 8), std::string("<r/><r/>")}) {
        const std::string error = doc.LoadBytes(bad);
        EXPECT_EQ(error.rfind("Ошибка XML", 0), 0u) << bad << " -> " << error;
        EXPECT_FALSE(doc.Root());
    }
    EXPECT_NE(doc.LoadBytes("<r>\n<a>\n</b></r>").find("строке 3"), std::string::npos);

    std::mt19937 rng(12345);
    for (int round = 0; round < 50; ++round) {
        std::string junk(4096, '\0');
        for (char& c : junk)
            c = static_cast<char>(rng());
        (void)doc.LoadBytes(junk); // must not crash; a message or a document
    }
}

TEST(XmlReader, DeepNestingIsRefused) {
    XmlDocument doc;
    std::string deep;
    for (int i = 0; i < 200000; ++i)
        deep += "<a>";
    for (int i = 0; i < 200000; ++i)
        deep += "</a>";
    EXPECT_EQ(doc.LoadBytes(deep), "Ошибка XML: слишком глубокая вложенность элементов");
    std::string fine;
    for (int i = 0; i < 100; ++i)
        fine += "<a>";
    for (int i = 0; i < 100; ++i)
        fine += "</a>";
    EXPECT_EQ(doc.LoadBytes(fine), "");
    EXPECT_NE(doc.CanonicalText().find("\r\n" + std::string(99, '\t') + "<a/>"), std::string::npos);
}

TEST(XmlReader, MissingAndUnreadableFiles) {
    TempDir dir;
    XmlDocument doc;
    EXPECT_NE(doc.LoadFile(dir.File("absent.xml")), "");
    EXPECT_NE(doc.LoadFile(dir.Path()), "");
}
