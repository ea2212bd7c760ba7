// The parameter set file: exact round trips and refusal of anything malformed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include "device/value_codec.h"
#include "paramset/param_set.h"
#include "test_support.h"
#include "util/cp1251.h"
#include "util/system_error.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

TParamSet Sample() {
    TParamSet s;
    s.Device = "Котёл; \"БУК-2\"";
    s.DescriptionFile = "NastrBUK2.xml";
    s.Sign = "0123456789ABCDEF0123456789ABCDEF";
    s.DeviceId = 4000000000u;
    s.Protocol = 0;
    s.Saved = "2026-12-08 10:11:12";
    s.Program = "0.1.0";
    const std::pair<uint8_t, TValue> values[] = {
        {rtStr, TValue(std::string("a;b\t\"кавычки\"\r\nвторая\\ строка"))},
        {rtStr, TValue(std::string("  пробелы по краям  "))},
        {rtStr, TValue(std::string("\x01\x7F"))},
        {rtStr, TValue(std::string())},
        {rtByte, TValue(int8_t{-128})},
        {rtWord, TValue(int16_t{-32768})},
        {rtLong, TValue(int32_t{std::numeric_limits<int32_t>::min()})},
        {rtUByte, TValue(uint8_t{255})},
        {rtUWord, TValue(uint16_t{65535})},
        {rtULong, TValue(uint32_t{4294967295u})},
        {rtFloat, TValue(static_cast<double>(0.1f))},
        {rtFloat, TValue(static_cast<double>(1e-38f))},
        {rtFloat, FromFloatBits(0x80000000u)}, // -0
        {rtFloat, FromFloatBits(0x00000001u)}, // the smallest subnormal
        {rtFloat, FromFloatBits(0x7F7FFFFFu)},
    };
    uint16_t addr = 1;
    for (const auto& [type, value] : values)
        s.Entries.push_back({addr++, type, false, value, "показ", "Имя [ед.]"});
    s.Entries.push_back({0xFFFF, rtUWord, true, TValue::MakeNull(), "Устройство не отвечает", "x"});
    return s;
}

} // namespace

TEST(ParamSet, RoundTripIsExact) {
    TempDir dir;
    const TParamSet saved = Sample();
    std::string error;
    ASSERT_TRUE(WriteParamSetFile(dir.File("a.params"), saved, error)) << error;
    TParamSet back;
    ASSERT_TRUE(ReadParamSetFile(dir.File("a.params"), back, error)) << error;
    EXPECT_EQ(back.Device, saved.Device);
    EXPECT_EQ(back.DescriptionFile, saved.DescriptionFile);
    EXPECT_EQ(back.Sign, saved.Sign);
    EXPECT_EQ(back.DeviceId, saved.DeviceId);
    EXPECT_EQ(back.Protocol, saved.Protocol);
    EXPECT_EQ(back.Saved, saved.Saved);
    EXPECT_EQ(back.FailedCount(), 1);
    ASSERT_EQ(back.Entries.size(), saved.Entries.size());
    for (size_t i = 0; i < saved.Entries.size(); ++i) {
        const TParamEntry &a = saved.Entries[i], &b = back.Entries[i];
        EXPECT_EQ(b.Addr, a.Addr);
        EXPECT_EQ(b.Type, a.Type);
        EXPECT_EQ(b.Failed, a.Failed);
        EXPECT_EQ(b.Shown, a.Shown);
        EXPECT_EQ(b.Name, a.Name);
        if (a.Type == rtFloat)
            EXPECT_EQ(FloatBitsOf(b.Value), FloatBitsOf(a.Value)) << i;
        else
            EXPECT_EQ(b.Value, a.Value) << i;
    }
    // One line per register, readable: the Str value stays on its line.
    const std::string text = ReadBytes(dir.File("a.params"));
    EXPECT_NE(text.find("0x0001\tStr\t\"a;b\\t\\\"кавычки\\\"\\r\\nвторая\\\\ строка\"\t"),
              std::string::npos);
    EXPECT_NE(text.find("0x000B\tFloat\t0x3DCCCCCD\t"), std::string::npos);
    EXPECT_NE(text.find("0xFFFF\tUWord\t-\t\"Устройство не отвечает\"\tx\n"), std::string::npos);
    EXPECT_EQ(FormatParamSet(back), text);

    // NaN bits, signalling ones too, come back as they were through the file and the wire.
    for (const uint32_t bits : {0x7FA00001u, 0xFF800001u, 0x7FC00000u, 0x7FFFFFFFu}) {
        std::string field, wire;
        ASSERT_TRUE(ValueFieldText(FloatFromBits(bits), rtFloat, field));
        TValue fromFile, fromWire;
        ASSERT_TRUE(ParseValueField(field, rtFloat, fromFile)) << field;
        EXPECT_EQ(FloatBits(fromFile), bits) << field;
        ASSERT_TRUE(ValueToBytes(fromFile, rtFloat, wire));
        ASSERT_TRUE(BytesToValue(wire, rtFloat, fromWire));
        EXPECT_EQ(FloatBits(fromWire), bits) << field;
    }
}

TEST(ParamSet, FilesAreWrittenSafely) {
    TempDir dir;
    const std::string target = dir.File("set.params");
    // A link where the old fixed temporary name was must not be followed.
    WriteBytes(dir.File("victim"), "keep");
    ASSERT_EQ(symlink(dir.File("victim").c_str(), (target + ".tmp~").c_str()), 0);
    std::string error;
    ASSERT_TRUE(WriteParamSetFile(target, Sample(), error)) << error;
    EXPECT_EQ(ReadBytes(dir.File("victim")), "keep");
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u); // password registers may be in it
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.File("")))
        files += e.path().filename().string().find("set.params.tmp-") == 0 ? 100 : 1;
    EXPECT_EQ(files, 3u); // victim, the link and the set: no temporary left behind

    // Where a backup may not go, told before any device is read.
    const std::string desc = dir.File("desc.xml");
    WriteBytes(desc, "<DEVICE/>");
    ASSERT_EQ(link(desc.c_str(), dir.File("other-name").c_str()), 0);
    const struct {
        std::string path;
        std::string error; // empty: allowed
    } targets[] = {
        {target, ""},
        {dir.File("new.params"), ""},
        {desc, "Файл " + desc + " — файл описания устройства, параметры в него не сохраняются"},
        {dir.File("other-name"),
         "Файл " + dir.File("other-name") +
             " — файл описания устройства, параметры в него не сохраняются"},
        {dir.File("nastrX.XML"),
         "Файл " + dir.File("nastrX.XML") +
             " — файл описания устройства, параметры в него не сохраняются"},
        {dir.File(""), "Не удалось записать файл " + dir.File("") + ": это папка"},
        {dir.File("no/x.params"),
         "Не удалось записать файл " + dir.File("no/x.params") + ": нет такого файла или папки"},
        {"/proc/x.params", "Не удалось записать файл /proc/x.params: "},
    };
    for (const auto& t : targets) {
        const bool ok = CheckParamSetTarget(t.path, desc, error);
        EXPECT_EQ(ok, t.error.empty()) << t.path;
        if (!ok) {
            EXPECT_EQ(error.substr(0, t.error.size()), t.error) << t.path;
        }
    }
    EXPECT_FALSE(WriteParamSetFile(dir.File(""), Sample(), error));
    EXPECT_EQ(error, "Не удалось записать файл " + dir.File("") + ": это папка");
}

TEST(ParamSet, MalformedFilesAreRefusedNamingTheLine) {
    const std::string good = FormatParamSet(Sample());
    const auto cut = [&](const std::string& marker) { return good.substr(0, good.find(marker)); };
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        s.replace(s.find(from), from.size(), to);
        return s;
    };
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {"", ": файл пуст"},
        {"\xEF\xBB\xBF", ": файл пуст"},
        {"<?xml version=\"1.0\"?>\n<DEVICE/>\n", ", строка 1: это не файл параметров"},
        {good.substr(0, good.size() - 1), ", строка 28: файл оборван (нет конца строки)"},
        {cut("end\n"), ", строка 27: файл оборван (нет строки «end»)"},
        {cut("0x0005"), ", строка 15: файл оборван (нет строки «end»)"},
        {replaced("0x0005\tByte\t-128", "0x0005\tByte\t-129"),
         ", строка 16: значение «-129» не подходит к типу Byte"},
        {replaced("\tUByte\t", "\tNibble\t"), ", строка 19: неизвестный тип «Nibble»"},
        {replaced("registers: 16", "registers: 17"), ", строка 28: записей 16 вместо 17"},
        {replaced("registers: 16", "registers: 15"), ", строка 27: записей больше, чем указано"},
        {replaced("protocol: 1.0", "protocol: 3"), ", строка 6: некорректная версия протокола"},
        {replaced("0x000B\tFloat\t0x3DCCCCCD", "0x000B\tFloat\t0.1"),
         ", строка 22: значение «0.1» не подходит к типу Float"},
        {good + "лишнее\n", ", строка 29: текст после строки «end»"},
        {replaced("0x0006\t", "0x0005\t"), ", строка 17: код 0x05 уже был в строке 16"},
        {replaced("\tИмя [ед.]\n", "\tИмя [ед.]\tшестое\n"),
         ", строка 12: ожидалось пять полей, разделённых табуляцией"},
        {replaced("\"показ\"", std::string("\"по") + '\0' + "каз\""),
         ", строка 12: недопустимый управляющий символ"},
        {replaced("failed: 1", "failed: 0"), ", строка 28: записей без значения 1 вместо 0"},
        {replaced("0x0005\tByte\t-128", "0x0005\tByte\t" + std::string(60, '9')),
         ", строка 16: значение «" + std::string(40, '9') + "…» не подходит к типу Byte"},
        // Str values no device can take: outside Windows-1251, broken UTF-8, too long.
        {replaced("\"  пробелы по краям  \"", "\"日本\""),
         ", строка 13: значение не записать в устройство: текст содержит символы, которых нет "
         "в кодировке Windows-1251"},
        {replaced("\"  пробелы по краям  \"", "\"\xD0\""),
         ", строка 13: значение не записать в устройство: текст содержит символы, которых нет "
         "в кодировке Windows-1251"},
        {replaced("\"  пробелы по краям  \"", "\"" + std::string(32761, 'a') + "\""),
         ", строка 13: значение не записать в устройство: текст длиннее 32760 байт"},
        // The header: every key once, the required ones there, numbers as written.
        {replaced("id: 4000000000\n", "id: 4000000000\nid: 7\n"),
         ", строка 6: ключ «id» уже был в строке 5"},
        {replaced("failed: 1\n", ""), ", строка 11: нет строки «failed»"},
        {replaced("sign: 0123456789ABCDEF0123456789ABCDEF\n", ""),
         ", строка 11: нет строки «sign»"},
        {replaced("device: Котёл; \"БУК-2\"\n", ""), ", строка 11: нет строки «device»"},
        {replaced("# code\ttype\tvalue\tshown\tname [units]\n", ""),
         ", строка 11: нет строки с названиями столбцов"},
        {replaced("registers: 16", "registers: 016"), ", строка 9: некорректное число регистров"},
        {replaced("failed: 1", "failed: +1"),
         ", строка 10: некорректное число записей без значения"},
        {replaced("id: 4000000000", "id: 04000000000"), ", строка 5: некорректный ID"},
        {replaced("0x0005\t", "0x00005\t"), ", строка 16: некорректный код регистра"},
        {replaced("0x0005\t", "0x5\t"), ", строка 16: некорректный код регистра"},
        // The column line closes the header: a header line cut and pasted after it.
        {replaced("failed: 1\n# code\ttype\tvalue\tshown\tname [units]\n",
                  "# code\ttype\tvalue\tshown\tname [units]\nfailed: 1\n"),
         ", строка 11: строка заголовка «failed» после строки с названиями столбцов"},
    };
    for (const auto& c : cases) {
        TParamSet set = Sample();
        std::string error;
        EXPECT_FALSE(ParseParamSet(c.text, set, error)) << c.error;
        EXPECT_EQ(error, "Ошибка в файле параметров" + c.error);
        EXPECT_TRUE(set.Entries.empty());
    }
    TParamSet set;
    std::string error;
    EXPECT_FALSE(ReadParamSetFile("/nonexistent/x.params", set, error));
    EXPECT_EQ(error, "Не удалось прочитать файл /nonexistent/x.params: нет такого файла или папки");
    // The shown column is a comment: a broken escape there costs nothing.
    EXPECT_TRUE(ParseParamSet(replaced("\"показ\"\tИмя", "\"по\\qказ\tИмя"), set, error)) << error;
    EXPECT_EQ(set.Entries[0].Shown, "\"по\\qказ");
    // Without the optional lines.
    EXPECT_TRUE(
        ParseParamSet(replaced("saved: 2026-12-08 10:11:12\nprogram: 0.1.0\n", ""), set, error))
        << error;
    // A byte order mark in front is accepted; file errors name the file.
    TempDir dir;
    WriteBytes(dir.File("bom.params"), "\xEF\xBB\xBF" + good);
    EXPECT_TRUE(ReadParamSetFile(dir.File("bom.params"), set, error)) << error;
    WriteBytes(dir.File("bad.params"), good + "x\n");
    EXPECT_FALSE(ReadParamSetFile(dir.File("bad.params"), set, error));
    EXPECT_EQ(error, "Ошибка в файле параметров " + dir.File("bad.params") +
                         ", строка 29: текст после строки «end»");
}

TEST(ParamSet, AC1ControlCharacterReadsAsItWasWritten) {
    // A device's byte 0x98 (no letter in Windows-1251) arrives as U+0098.
    const std::string device = Cp1251ToUtf8(std::string("a\x98z", 3));
    std::string field;
    ASSERT_TRUE(ValueFieldText(TValue(device), rtStr, field));
    EXPECT_EQ(field, "\"a\\x98z\"");
    TValue back;
    ASSERT_TRUE(ParseValueField(field, rtStr, back));
    EXPECT_EQ(back, TValue(device));
    EXPECT_EQ(Utf8ToCp1251(std::get<std::string>(back.Get())), std::string("a\x98z", 3));
    // Written by hand the same way: the same character, which a device can take.
    TParamSet set = Sample();
    set.Entries[1].Value = TValue(device);
    TParamSet read;
    std::string error;
    EXPECT_TRUE(ParseParamSet(FormatParamSet(set), read, error)) << error;
    EXPECT_EQ(read.Entries[1].Value, TValue(device));
    EXPECT_EQ(SetValueProblem(TValue(device), rtStr), "");
    EXPECT_EQ(SetValueProblem(TValue(std::string(32761, 'a')), rtStr), "текст длиннее 32760 байт");
    EXPECT_EQ(SetValueProblem(TValue(std::string("x")), rtUWord), "значение не подходит к типу");
}

TEST(ParamSet, LeftoversOfAKilledWriteGoAndADurabilityFailureIsToldApart) {
    TempDir dir;
    const std::string path = dir.File("set.params");
    namespace fs = std::filesystem;
    // One left by a kill an hour ago, one of a write that may still be running.
    WriteBytes(path + ".tmp-Ab12Cd", "partial");
    WriteBytes(path + ".tmp-Ef34Gh", "partial");
    WriteBytes(dir.File("other.params.tmp-Ij56Kl"), "someone else's");
    for (const char* name : {"set.params.tmp-Ab12Cd", "other.params.tmp-Ij56Kl"})
        fs::last_write_time(dir.File(name),
                            fs::file_time_type::clock::now() - std::chrono::hours(1));
    std::string error;
    ASSERT_TRUE(WriteParamSetFile(path, Sample(), error)) << error;
    EXPECT_FALSE(fs::exists(path + ".tmp-Ab12Cd"));
    EXPECT_TRUE(fs::exists(path + ".tmp-Ef34Gh"));
    EXPECT_TRUE(fs::exists(dir.File("other.params.tmp-Ij56Kl")));
    EXPECT_EQ(SystemErrorText(EXDEV), "файл нельзя перенести на другую файловую систему");
}

TEST(ParamSet, WhatTheProgramDidNotChangeIsWrittenBackByteForByte) {
    // Comments, an unquoted shown text, a shown text quoted another way and line ends as a
    // text editor left them: none of it is the program's to rewrite.
    const std::string lines[] = {
        "format: tunavox-params 1",
        "# Котельная №3, щит 2: снято перед заменой платы",
        "device: ЧП-7",
        "description: NastrChP7.xml",
        "sign: 4AE76AF50590CA970E84EA7691308783",
        "id: 0",
        "protocol: 2.0",
        "saved: 2026-12-08 22:58:07",
        "program: 0.1.0",
        "registers: 3",
        "failed: 0",
        "# code\ttype\tvalue\tshown\tname [units]",
        "0x0302\tFloat\t0x42480000\t50.00 Гц\tЧастота [Гц]",
        "# ниже уставка, согласованная с заказчиком",
        "0x0305\tUByte\t1\t\"\\x41\"\tСпособ останова",
        "0x0100\tStr\t\"ЧП-7\"\t\"ЧП-7\"\tМодель",
        "end",
        "",
    };
    for (const bool crlf : {false, true}) {
        std::string text = crlf ? "\xEF\xBB\xBF" : "";
        for (const std::string& l : lines)
            text += l + (crlf ? "\r\n" : "\n");
        TParamSet set;
        std::string error;
        ASSERT_TRUE(ParseParamSet(text, set, error)) << error;
        EXPECT_EQ(FormatParamSet(set), text) << crlf;
        // One value changed: its line alone is the program's, and "edited" comes in.
        set.Entries[1].Value = TValue(uint8_t{2});
        set.Entries[1].Shown = "Торможение";
        set.Edited = "2026-12-10 09:00:00";
        std::string expected = text;
        const std::string eol = crlf ? "\r\n" : "\n";
        const std::string old = lines[14] + eol;
        expected.replace(expected.find(old), old.size(),
                         "0x0305\tUByte\t2\t\"Торможение\"\tСпособ останова" + eol);
        expected.insert(expected.find("registers: 3"), "edited: 2026-12-10 09:00:00" + eol);
        EXPECT_EQ(FormatParamSet(set), expected) << crlf;
        // A row taken out goes, a new one comes before "end"; the counts follow.
        set.Entries.erase(set.Entries.begin());
        set.Entries.push_back({0x0304, rtUWord, false, TValue(uint16_t{7}), "7", "Новая"});
        const std::string changed = FormatParamSet(set);
        EXPECT_EQ(changed.find("0x0302"), std::string::npos);
        EXPECT_NE(changed.find("0x0304\tUWord\t7\t\"7\"\tНовая" + eol + "end" + eol),
                  std::string::npos);
        EXPECT_NE(changed.find(lines[13] + eol), std::string::npos); // the comment stays
        TParamSet back;
        ASSERT_TRUE(ParseParamSet(changed, back, error)) << error;
        EXPECT_EQ(back.Entries.size(), 3u);
    }
}

TEST(ParamSet, AFileChangedSinceItWasReadIsNotOverwritten) {
    TempDir dir;
    const std::string path = dir.File("set.params");
    std::string error;
    ASSERT_TRUE(WriteParamSetFile(path, Sample(), error)) << error;
    TParamSet set;
    ASSERT_TRUE(ReadParamSetFile(path, set, error)) << error;
    set.Entries[4].Value = TValue(int8_t{5});
    // Somebody else's version: another size, then the same size and time but other bytes.
    const std::string theirs = FormatParamSet(Sample());
    std::string sameSize = theirs;
    sameSize.replace(sameSize.find("saved: 2026-12-08"), 17, "saved: 2026-12-09");
    for (const std::string& other : {theirs + "\n", sameSize}) {
        const auto time = std::filesystem::last_write_time(path);
        WriteBytes(path, other);
        if (other.size() == theirs.size()) std::filesystem::last_write_time(path, time);
        bool changed = false;
        EXPECT_FALSE(WriteParamSetFile(path, set, error, &changed));
        EXPECT_TRUE(changed);
        EXPECT_EQ(error, "Не удалось записать файл " + path +
                             ": файл изменён другой программой после того, как был прочитан");
        EXPECT_EQ(ReadBytes(path), other);
        // The checks of a file that is not kept are the same.
        const TParamSet& kept = set;
        EXPECT_FALSE(WriteParamSetFile(path, kept, error));
        EXPECT_EQ(ReadBytes(path), other);
        WriteBytes(path, theirs);
        ASSERT_TRUE(ReadParamSetFile(path, set, error)) << error;
        set.Entries[4].Value = TValue(int8_t{5});
    }
    // Overwriting on purpose, and saving twice in a row: the stamp follows each write.
    bool changed = true;
    EXPECT_TRUE(WriteParamSetFile(path, set, error, &changed)) << error;
    EXPECT_FALSE(changed);
    set.Entries[4].Value = TValue(int8_t{6});
    EXPECT_TRUE(WriteParamSetFile(path, set, error, &changed)) << error;
    TParamSet back;
    ASSERT_TRUE(ReadParamSetFile(path, back, error));
    EXPECT_EQ(back.Entries[4].Value, TValue(int8_t{6}));
    // Another path is another file: no stamp of it to check.
    EXPECT_TRUE(WriteParamSetFile(dir.File("copy.params"), set, error)) << error;
}

TEST(ParamSet, AnExistingFileKeepsItsModeAndAReadOnlyOneIsRefused) {
    TempDir dir;
    const std::string path = dir.File("set.params");
    std::string error;
    ASSERT_TRUE(WriteParamSetFile(path, Sample(), error)) << error;
    struct stat st {};
    for (const mode_t mode : {0640u, 0600u}) {
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        ASSERT_TRUE(WriteParamSetFile(path, Sample(), error)) << error;
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, mode);
    }
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    const std::string before = ReadBytes(path);
    TParamSet changed = Sample();
    changed.Edited = "2026-12-10 09:00:00";
    EXPECT_FALSE(WriteParamSetFile(path, changed, error));
    EXPECT_EQ(error, "Не удалось записать файл " + path + ": файл только для чтения");
    EXPECT_FALSE(CheckParamSetTarget(path, "", error));
    EXPECT_EQ(error, "Не удалось записать файл " + path + ": файл только для чтения");
    EXPECT_EQ(ReadBytes(path), before);
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
}
