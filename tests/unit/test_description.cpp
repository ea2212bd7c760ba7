// The description loader: every field, every failure message, the samples.
#include <gtest/gtest.h>

#include "device/description.h"
#include "device/value_codec.h"
#include "test_support.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

struct Loaded {
    TRegList regs;
    TNameValueList errors;
    TDescription desc;
    std::string error;
};

void Load(const std::string& path, Loaded& l, const std::string& folder = "/opt/tv/") {
    l.error = LoadDescription(path, l.regs, l.errors, l.desc, folder);
}

// Loads a signed description built from REGISTERS content, root attributes and
// elements that go before REGISTERS.
void LoadText(const TempDir& dir, Loaded& l, const std::string& regs,
              const std::string& rootAttrs = {}, const std::string& more = {}) {
    Load(WriteSignedDescription(dir, "Nastr_T.xml", Description(regs, rootAttrs, more)), l,
         dir.Path() + "/");
}

std::string Reg(const std::string& attrs, const std::string& children = "<name>x</name>") {
    return "    <REG " + attrs + ">" + children + "</REG>\r\n";
}

} // namespace

TEST(Description, SamplesLoadCompletely) {
    Loaded l;
    Load(std::string(TUNAVOX_DEVICES_DIR) + "/NastrBUK2.xml", l,
         std::string(TUNAVOX_DEVICES_DIR) + "/");
    ASSERT_EQ(l.error, "");
    EXPECT_EQ(l.desc.Caption, "Настройка БУК-2 (контроллер котельной)");
    EXPECT_EQ(l.desc.HintTimeout, 4000);
    EXPECT_EQ(l.desc.Line, (TLineSettings{9600, 8, parNone, sbOne}));
    EXPECT_EQ(l.desc.Timeout, 1000);
    EXPECT_TRUE(l.desc.PollOnConnect);
    EXPECT_EQ(l.desc.BackgroundFile, std::string(TUNAVOX_DEVICES_DIR) + "/fon_buk.bmp");
    EXPECT_TRUE(l.desc.BackgroundStatic);
    EXPECT_EQ(l.desc.SelectionColor, 0xB4643Cu);
    EXPECT_EQ(l.desc.RowCount, l.regs.Count());
    EXPECT_EQ(l.errors.Count(), 3u);
    EXPECT_EQ(DeviceErrorText(0x20, &l.errors), "параметр заблокирован ключом");

    bool types[9] = {}, access[4] = {}, pass = false, admin = false, fffd = false, named = false;
    for (int i = 0; i < l.regs.Count(); ++i) {
        const TReg* r = l.regs.Items(i);
        types[r->RegType] = true;
        if (r->RegType != rtHeader) access[r->Io] = true;
        pass |= r->Pass;
        admin |= r->Admin;
        fffd |= r->Addr == 0xFFFD;
        named |= !r->ValueTexts.Empty();
    }
    Loaded c;
    Load(std::string(TUNAVOX_DEVICES_DIR) + "/NastrChP7.xml", c);
    ASSERT_EQ(c.error, "");
    EXPECT_FALSE(c.desc.PollOnConnect);
    EXPECT_GT(c.regs.Count(), l.regs.Count());
    for (int i = 0; i < c.regs.Count(); ++i) {
        const TReg* r = c.regs.Items(i);
        types[r->RegType] = true;
        if (r->RegType != rtHeader) access[r->Io] = true;
    }
    // Together the samples exercise every type, access kind and feature.
    for (bool t : types)
        EXPECT_TRUE(t);
    for (bool a : access)
        EXPECT_TRUE(a);
    EXPECT_TRUE(pass && admin && fffd && named);
}

TEST(Description, RegisterFields) {
    TempDir dir;
    Loaded l;
    LoadText(dir, l,
             "    <REG header=\"Группа\" addr=\"7\" admin=\"1\" bg=\"#102030\"/>\r\n"
             "    <REG header=\"\"/>\r\n" +
                 Reg("addr=\"0x0C\" type=\"UWord\" io=\"rw\" poll=\"1\" defValue=\"0x1F4\"",
                     "<name>Уставка</name><units>°C</units><desc>подсказка</desc>"
                     "<values><item value=\"0\" text=\"выкл\"/><item value=\"1\" text=\"вкл\"/>"
                     "</values>") +
                 Reg("addr=\"65536\" type=\"Float\" io=\"WOR\" prec=\"2\" defValue=\"1,5\" "
                     "pass=\"true\" font=\"00ff00\" identity=\"1\"") +
                 Reg("addr=\"65535\" type=\"byte\" io=\"W\" defValue=\"300\""));
    ASSERT_EQ(l.error, "");
    ASSERT_EQ(l.regs.Count(), 5);
    const TReg* h = l.regs.Items(0);
    EXPECT_EQ(h->RegType, rtHeader);
    EXPECT_EQ(h->Name, "Группа");
    EXPECT_EQ(h->Addr, 7);
    EXPECT_TRUE(h->Admin);
    EXPECT_EQ(h->BgColor, 0x302010u);
    EXPECT_EQ(l.regs.Items(1)->RegType, rtHeader);
    EXPECT_EQ(l.regs.Items(1)->Name, "");

    const TReg* u = l.regs.Items(2);
    EXPECT_EQ(u->Addr, 12);
    EXPECT_EQ(u->RegType, rtUWord);
    EXPECT_EQ(u->Io, ioRW);
    EXPECT_TRUE(u->Poll);
    EXPECT_FALSE(u->Pass);
    EXPECT_FALSE(u->Identity);
    EXPECT_EQ(u->Prec, 7);
    EXPECT_EQ(u->Name, "Уставка");
    EXPECT_EQ(u->Units, "°C");
    EXPECT_EQ(u->Desc, "подсказка");
    EXPECT_EQ(u->DefValue, TValue(uint16_t{500}));
    EXPECT_TRUE(u->GetValue().IsNull()); // only WOR starts from its default
    ASSERT_EQ(u->ValueTexts.Count(), 2u);
    EXPECT_EQ(u->ValueTexts.Name(1), "1");
    EXPECT_EQ(u->ValueTexts.Value(1), "вкл");

    const TReg* f = l.regs.Items(3);
    EXPECT_EQ(f->Addr, 0);
    EXPECT_EQ(f->Io, ioWOR);
    EXPECT_EQ(f->Prec, 2);
    EXPECT_TRUE(f->Pass);
    EXPECT_TRUE(f->Identity);
    EXPECT_EQ(f->FontColor, 0x00FF00u);
    EXPECT_EQ(f->BgColor, kNoColor);
    EXPECT_EQ(f->GetValue(), TValue(1.5));
    EXPECT_EQ(f->GetDevValue(), TValue(1.5));

    const TReg* b = l.regs.Items(4);
    EXPECT_EQ(b->Addr, 0xFFFF);
    EXPECT_EQ(b->RegType, rtByte);
    EXPECT_TRUE(b->DefValue.IsEmpty()); // 300 is no Byte: no default, no failure
}

TEST(Description, TypeAndAccessTexts) {
    struct Case {
        const char* type;
        const char* io;
        const char* error; // empty: accepted
    } cases[] = {
        {"UByte", "R", ""},
        {"ubyte", "R", "Некорректный тип регистра: ubyte"},
        {"b", "R", ""},
        {"Bool", "R", ""},
        {"ULong", "wor", ""},
        {"Uw", "R", "Некорректный тип регистра: Uw"},
        {"U", "R", "Некорректный тип регистра: U"},
        {"", "R", "Некорректный тип регистра: "},
        {"Xyz", "R", "Некорректный тип регистра: Xyz"},
        {"Header", "R", ""},
        {"Str", "rw", ""},
        {"Str", "", "Некорректный тип ввода/вывода: "},
        {"Str", "RWX", "Некорректный тип ввода/вывода: RWX"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        Loaded l;
        LoadText(dir, l, Reg(std::string("type=\"") + c.type + "\" io=\"" + c.io + "\""));
        EXPECT_EQ(l.error, c.error) << c.type << "/" << c.io;
        EXPECT_EQ(l.regs.Count(), l.error.empty() ? 1 : 0);
    }
}

TEST(Description, AFailingRegisterEmptiesTheList) {
    TempDir dir;
    std::string regs;
    for (int i = 0; i < 9; ++i)
        regs += Reg("addr=\"" + std::to_string(i) + "\" type=\"Word\" io=\"R\"");
    regs += Reg("addr=\"9\" type=\"Word\" io=\"R\" font=\"#12345\"");
    Loaded l;
    LoadText(dir, l, regs);
    EXPECT_EQ(l.error, "Invalid Color string");
    EXPECT_EQ(l.regs.Count(), 0);
    EXPECT_FALSE(l.desc.RowCount.has_value());

    for (const char* bad : {"poll=\"yes\"", "prec=\"two\"", "addr=\"1O\"", "bg=\"#GG0000\""}) {
        Loaded b;
        LoadText(dir, b, Reg(std::string("type=\"Word\" io=\"R\" ") + bad));
        EXPECT_NE(b.error, "") << bad;
        EXPECT_EQ(b.regs.Count(), 0) << bad;
    }
}

TEST(Description, RootSettings) {
    TempDir dir;
    Loaded l;
    LoadText(dir, l, "", " timeout=\"1500\" allowOverMode=\"0\"");
    ASSERT_EQ(l.error, "");
    EXPECT_EQ(l.desc.Timeout, 1500);
    EXPECT_FALSE(l.desc.AllowOverMode);
    EXPECT_FALSE(l.desc.HintTimeout.has_value());
    EXPECT_EQ(l.desc.RowCount, 0);
    EXPECT_FALSE(l.desc.PollOnConnect);
    EXPECT_FALSE(l.desc.HasInterface);

    Loaded unnamed;
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?><D serial=\"4800-7-E-2\">"
        "<REGISTERS pollOnConnect=\"true\"/></D>";
    Load(WriteSignedDescription(dir, "n.xml", xml), unnamed);
    ASSERT_EQ(unnamed.error, "");
    EXPECT_EQ(unnamed.desc.Caption, "Неизвестное устройство");
    EXPECT_EQ(unnamed.desc.Timeout, 1000);
    EXPECT_TRUE(unnamed.desc.AllowOverMode);
    EXPECT_TRUE(unnamed.desc.PollOnConnect);
    EXPECT_EQ(unnamed.desc.Line, (TLineSettings{4800, 7, parEven, sbTwo}));
}

TEST(Description, RootFailures) {
    TempDir dir;
    struct Case {
        std::string xml;
        std::string error;
    } cases[] = {
        {"<D serial=\"9600-8-N\"><REGISTERS/></D>", "Некорректные параметры COM-порта: 9600-8-N"},
        {"<D><REGISTERS/></D>", "Некорректные параметры COM-порта: "},
        {"<D serial=\"9600-8-N-1\"/>", "В описании нет элемента REGISTERS"},
        {"<D serial=\"9600-8-N-1\"><ERRORS><ERR code=\"\" text=\"a\"/></ERRORS><REGISTERS/></D>",
         "Некорректный код ошибки: "},
        {"<D serial=\"9600-8-N-1\" timeout=\"soon\"><REGISTERS/></D>",
         "Некорректное целое значение атрибута timeout: soon"},
    };
    for (const Case& c : cases) {
        Loaded l;
        Load(WriteSignedDescription(dir, "f.xml", c.xml), l);
        EXPECT_EQ(l.error, c.error) << c.xml;
    }
}

TEST(Description, ErrorTextsAreKeyedAndReplaced) {
    TempDir dir;
    Loaded l;
    l.errors.Add("0x10", "от прежнего устройства");
    LoadText(dir, l, "", "",
             "<ERRORS><ERR code=\"16\" text=\"первый\"/><ERR code=\"0x10\" text=\"второй\"/>"
             "<ERR code=\"$AB\" text=\"эй-би\"/><ERR code=\"5\"/></ERRORS>\r\n");
    ASSERT_EQ(l.error, "");
    ASSERT_EQ(l.errors.Count(), 4u);
    EXPECT_EQ(l.errors.Name(0), "0x10");
    EXPECT_EQ(l.errors.Name(2), "0xAB");
    EXPECT_EQ(l.errors.Name(3), "0x05");
    EXPECT_EQ(DeviceErrorText(16, &l.errors), "первый");
    EXPECT_EQ(DeviceErrorText(5, &l.errors), "");
}

TEST(Description, InterfaceColours) {
    TempDir dir;
    Loaded none;
    LoadText(dir, none, "");
    EXPECT_FALSE(none.desc.FontColor.has_value());

    Loaded defaults;
    LoadText(dir, defaults, "", "", "<INTERFACE/>");
    EXPECT_TRUE(defaults.desc.HasInterface);
    EXPECT_EQ(defaults.desc.FontColor, 0x000000u);
    EXPECT_EQ(defaults.desc.LinesColor, 0xA0A0A0u);
    EXPECT_EQ(defaults.desc.SelectionColor, 0xFFA0A0u);
    EXPECT_EQ(defaults.desc.SelectedTextColor, 0xFFFFFFu);

    // A bad colour stops the ones after it, silently; the rest of the file loads.
    WriteBytes(dir.File("pic.BMP"), "BM");
    Loaded bad;
    LoadText(
        dir, bad, Reg("type=\"Word\" io=\"R\""), "",
        "<INTERFACE font=\"#010203\" selBG=\"blue\"><BACKGROUND file=\"pic.BMP\"/></INTERFACE>");
    ASSERT_EQ(bad.error, "");
    EXPECT_EQ(bad.desc.FontColor, 0x030201u);
    EXPECT_EQ(bad.desc.LinesColor, 0xA0A0A0u);
    EXPECT_FALSE(bad.desc.SelectionColor.has_value());
    EXPECT_FALSE(bad.desc.SelectedTextColor.has_value());
    EXPECT_EQ(bad.desc.BackgroundFile, dir.File("pic.BMP"));
    EXPECT_FALSE(bad.desc.BackgroundStatic);
    EXPECT_EQ(bad.regs.Count(), 1);
}

TEST(Description, BackgroundFiles) {
    TempDir dir;
    WriteBytes(dir.File("fon.bmp"), "BM");
    WriteBytes(dir.File("fon.png"), "PNG");
    struct Case {
        std::string attrs;
        std::string expected;
        bool fixed;
    } cases[] = {
        {"file=\"fon.bmp\" static=\"1\"", dir.File("fon.bmp"), true},
        {"file=\"\\fon.bmp\"", dir.File("fon.bmp"), false},
        {"file=\"" + dir.File("fon.bmp") + "\"", dir.File("fon.bmp"), false},
        {"file=\"fon.png\"", "", false},
        {"file=\"absent.bmp\"", "", false},
        {"file=\"\"", "", false},
        {"file=\"fon.bmp\" static=\"maybe\"", dir.File("fon.bmp"), false},
        {"file=\"C:\\fon.bmp\"", "", false},
    };
    for (const Case& c : cases) {
        Loaded l;
        LoadText(dir, l, "", "", "<INTERFACE><BACKGROUND " + c.attrs + "/></INTERFACE>");
        ASSERT_EQ(l.error, "") << c.attrs;
        EXPECT_EQ(l.desc.BackgroundFile, c.expected) << c.attrs;
        EXPECT_EQ(l.desc.BackgroundStatic, c.fixed) << c.attrs;
    }
    EXPECT_EQ(ResolveBackgroundPath("\\pics\\a.bmp", "/opt/tv/"), "/opt/tv/pics/a.bmp");
    EXPECT_EQ(ResolveBackgroundPath("a.bmp", "/opt/tv/"), "/opt/tv/a.bmp");
    EXPECT_EQ(ResolveBackgroundPath("\\\\server\\a.bmp", "/opt/tv/"), "//server/a.bmp");
    EXPECT_EQ(ResolveBackgroundPath("D:\\a.bmp", "/opt/tv/"), "D:/a.bmp");
}

TEST(Description, HostileFilesFailCleanly) {
    TempDir dir;
    const std::string big = dir.File("big.xml");
    {
        std::string bytes = "<?xml version=\"1.0\" encoding=\"windows-1251\"?><D "
                            "serial=\"9600-8-N-1\" sign=\"0\"><REGISTERS>";
        const std::string reg = "<REG addr=\"1\" type=\"Word\" io=\"R\"><name>" +
                                std::string(2000, 'R') + "</name></REG>\r\n";
        while (bytes.size() < 50u * 1024 * 1024)
            bytes += reg;
        bytes += "</REGISTERS></D>";
        WriteBytes(big, bytes);
    }
    Loaded l;
    Load(big, l);
    EXPECT_EQ(l.error, "Файл данных поврежден");
    EXPECT_EQ(l.regs.Count(), 0);

    WriteBytes(dir.File("bin.xml"), std::string("\x7F"
                                                "ELF\x02\x01\x01\0\0\0",
                                                10));
    Loaded b;
    Load(dir.File("bin.xml"), b);
    EXPECT_EQ(b.error.rfind("Ошибка XML", 0), 0u);
}
