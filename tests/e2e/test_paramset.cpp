// Parameter sets against the simulated device: backup, compare and restore in both
// protocol versions, with and without device ID, device refusals and a device that
// keeps another value.
#include <gtest/gtest.h>

#include <cstring>

#include "device/value_codec.h"
#include "paramset/param_runner.h"
#include "sim_rig.h"
#include "test_support.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

// Every type readable and writable, a read-only row, a write-only and a WOR row.
std::string Settings(const std::string& extra = {}) {
    return Description(
        "    <REG header=\"Уставки\"/>\r\n"
        "    <REG addr=\"1\" type=\"Str\" io=\"RW\"><name>Объект</name></REG>\r\n"
        "    <REG addr=\"2\" type=\"Byte\" io=\"RW\"><name>b</name></REG>\r\n"
        "    <REG addr=\"3\" type=\"Word\" io=\"RW\"><name>w</name></REG>\r\n"
        "    <REG addr=\"4\" type=\"Long\" io=\"RW\"><name>l</name></REG>\r\n"
        "    <REG addr=\"5\" type=\"UByte\" io=\"RW\"><name>ub</name></REG>\r\n"
        "    <REG addr=\"6\" type=\"UWord\" io=\"RW\"><name>uw</name></REG>\r\n"
        "    <REG addr=\"7\" type=\"ULong\" io=\"RW\"><name>ul</name></REG>\r\n"
        "    <REG addr=\"8\" type=\"Float\" io=\"RW\" prec=\"3\"><name>f</name></REG>\r\n"
        "    <REG addr=\"9\" type=\"Float\" io=\"RW\" prec=\"2\"><name>g</name></REG>\r\n"
        "    <REG addr=\"0x20\" type=\"UWord\" io=\"R\" defValue=\"7\"><name>r</name></REG>\r\n"
        "    <REG addr=\"0x21\" type=\"UWord\" io=\"W\"><name>w-only</name></REG>\r\n"
        "    <REG addr=\"0x22\" type=\"UWord\" io=\"WOR\"><name>wor</name></REG>\r\n" +
            extra,
        " timeout=\"300\"");
}

struct Values {
    uint16_t addr;
    TValue value;
};

const Values kAwkward[] = {
    {1, TValue(std::string("a;b \"кавычки\"\r\nстрока  "))},
    {2, TValue(int8_t{-128})},
    {3, TValue(int16_t{-2})},
    {4, TValue(int32_t{-70000})},
    {5, TValue(uint8_t{255})},
    {6, TValue(uint16_t{65535})},
    {7, TValue(uint32_t{4000000000u})},
    {8, TValue(static_cast<double>(0.1f))},
    {9, TValue(static_cast<double>(1e-38f))},
};

// A rig with a runner on its worker.
struct Bench {
    SimRig rig;
    TParamRunner runner;
    Bench(const std::string& desc, uint8_t version, TSimOptions o, int32_t id)
        : rig(desc, version, o), runner(Context(rig, id)) {}
    static TRunnerContext Context(SimRig& rig, int32_t id) {
        TRunnerContext c;
        c.Canal = &rig.Canal;
        c.Regs = &rig.Regs;
        c.ErrorTexts = &rig.ErrorTexts;
        c.DeviceId = id;
        c.Queue = [&rig](std::unique_ptr<TAction> a) { rig.Worker->AddAction(std::move(a)); };
        return c;
    }
    bool Wait() {
        return rig.ServeUntil([this] { return !runner.Running(); }, 60000);
    }
    void Put(uint16_t addr, const TValue& v, int32_t id) {
        rig.Reg(addr)->SetValue(v, false, "");
        EXPECT_EQ(rig.Run(true, addr, id), "");
    }
    const TCompareRow& Row(uint16_t addr) const {
        for (const TCompareRow& r : runner.Rows)
            if (r.File.Addr == addr) return r;
        ADD_FAILURE() << "no row " << addr;
        return runner.Rows.front();
    }
};

} // namespace

class ParamSetRoundTrip : public ::testing::TestWithParam<std::tuple<int, int32_t>> {};

TEST_P(ParamSetRoundTrip, SaveChangeCompareRestore) {
    const auto [version, id] = GetParam();
    TempDir dir;
    TSimOptions o;
    o.DeviceId = static_cast<uint32_t>(id);
    Bench b(WriteSignedDescription(dir, "Nastr.xml", Settings()), static_cast<uint8_t>(version), o,
            id);
    for (const Values& v : kAwkward) {
        b.rig.Reg(v.addr)->SetValue(v.value, false, "");
        ASSERT_EQ(b.rig.Run(true, v.addr, id), "") << v.addr;
    }
    // Backup: R and RW rows only, every value exact through the file.
    b.runner.StartBackup();
    ASSERT_TRUE(b.Wait());
    EXPECT_EQ(b.rig.Sim->Value(0x22), TValue(uint16_t{0})); // WOR was not written by reading
    TParamSet& set = b.runner.Set;
    ASSERT_EQ(set.Entries.size(), 10u);
    EXPECT_EQ(set.FailedCount(), 0);
    std::string error;
    ASSERT_TRUE(WriteParamSetFile(dir.File("s.params"), set, error)) << error;
    TParamSet file;
    ASSERT_TRUE(ReadParamSetFile(dir.File("s.params"), file, error)) << error;
    for (size_t i = 0; i < std::size(kAwkward); ++i) {
        const TParamEntry& e = file.Entries[i];
        ASSERT_EQ(e.Addr, kAwkward[i].addr);
        if (e.Type == rtFloat)
            EXPECT_EQ(FloatBitsOf(e.Value), FloatBitsOf(kAwkward[i].value)) << e.Addr;
        else
            EXPECT_EQ(e.Value, kAwkward[i].value) << e.Addr;
    }

    // The device changes; the comparison finds exactly those rows.
    b.rig.Reg(1)->SetValue(TValue(std::string("другое")), false, "");
    ASSERT_EQ(b.rig.Run(true, 1, id), "");
    b.rig.Reg(9)->SetValue(TValue(0.5), false, "");
    ASSERT_EQ(b.rig.Run(true, 9, id), "");
    b.runner.StartCompare(file);
    ASSERT_TRUE(b.Wait());
    for (const TCompareRow& r : b.runner.Rows) {
        const bool changed = r.File.Addr == 1 || r.File.Addr == 9;
        EXPECT_EQ(CompareStateText(r), changed ? "различается" : "совпадает") << r.File.Addr;
        EXPECT_EQ(r.Selected, changed) << r.File.Addr;
        EXPECT_EQ(r.Restorable, r.File.Addr != 0x20) << r.File.Addr;
    }
    b.runner.StartRestore();
    ASSERT_TRUE(b.Wait());
    ASSERT_EQ(b.runner.Restored.size(), 2u);
    EXPECT_EQ(b.runner.Confirmed(), 2);
    EXPECT_EQ(b.rig.Sim->Value(1), kAwkward[0].value);
    EXPECT_EQ(FloatBitsOf(b.rig.Sim->Value(9)), FloatBitsOf(kAwkward[8].value));
}

INSTANTIATE_TEST_SUITE_P(VersionsAndIds, ParamSetRoundTrip,
                         ::testing::Combine(::testing::Values(0, 1), ::testing::Values(0, 77)));

TEST(ParamSetRestore, FailuresAreListedAndTheRestIsWritten) {
    TempDir dir;
    Bench b(WriteSignedDescription(dir, "Nastr.xml", Settings()), 1, {}, 0);
    b.runner.StartBackup();
    ASSERT_TRUE(b.Wait());
    const TParamSet file = b.runner.Set;
    b.Put(2, TValue(int8_t{1}), 0);
    b.Put(3, TValue(int16_t{1}), 0);
    b.Put(4, TValue(int32_t{1}), 0);
    b.runner.StartCompare(file);
    ASSERT_TRUE(b.Wait());
    // Now the device refuses 3 and keeps its own value of 4 while acknowledging.
    TSimFaults f;
    f.ErrorCodes[3] = 2;
    f.KeepValue.insert(4);
    b.rig.Sim->SetFaults(f);
    b.runner.StartRestore();
    ASSERT_TRUE(b.Wait());
    ASSERT_EQ(b.runner.Restored.size(), 3u);
    std::map<uint16_t, std::string> outcome;
    for (const TRestoreOutcome& r : b.runner.Restored)
        outcome[b.runner.Rows[r.Index].File.Addr] = r.Error;
    EXPECT_EQ(outcome[2], "");
    EXPECT_EQ(outcome[3], DeviceErrorText(2));
    EXPECT_EQ(outcome[4], "значение не подтверждено");
    EXPECT_EQ(b.runner.Confirmed(), 1);
    EXPECT_EQ(b.rig.Sim->Value(2), TValue(int8_t{0}));
}

TEST(ParamSetCompare, AnotherDescriptionAndFailedReads) {
    TempDir dir;
    // Saved from a device where 3 was a UWord, with 0x40 that this description lacks,
    // and a register whose read had failed.
    TParamSet file;
    file.Device = "Другой";
    file.DescriptionFile = "NastrOld.xml";
    file.Sign = "00";
    file.DeviceId = 5;
    file.Entries = {{3, rtUWord, false, TValue(uint16_t{1}), "1", "w"},
                    {0x40, rtUWord, false, TValue(uint16_t{1}), "1", "нет такого"},
                    {6, rtUWord, true, TValue::MakeNull(), "Устройство не отвечает", "uw"},
                    {0x21, rtUWord, false, TValue(uint16_t{1}), "1", "w-only"},
                    {0x20, rtUWord, false, TValue(uint16_t{7}), "7", "r"},
                    {2, rtByte, false, TValue(int8_t{0}), "0", "b"}};
    TSimOptions o;
    o.Faults.ErrorCodes[2] = 4;
    Bench b(WriteSignedDescription(dir, "Nastr.xml", Settings()), 0, o, 0);
    EXPECT_EQ(CompareWarnings(file, b.rig.Desc.Name, b.rig.Desc.Sign, 0),
              (std::vector<std::string>{"Файл сохранён для другого устройства: Другой",
                                        "Файл сохранён с другим описанием: NastrOld.xml, подпись 00",
                                        "Файл сохранён для ID 5, сейчас ID 0"}));
    b.runner.StartCompare(file);
    ASSERT_TRUE(b.Wait());
    EXPECT_EQ(CompareStateText(b.Row(3)), "тип не совпадает");
    EXPECT_EQ(CompareStateText(b.Row(0x40)), "нет в описании");
    EXPECT_EQ(CompareStateText(b.Row(6)), "нет значения в файле");
    EXPECT_EQ(CompareStateText(b.Row(0x21)), "не читается");
    EXPECT_EQ(CompareStateText(b.Row(0x20)), "совпадает");
    EXPECT_EQ(CompareStateText(b.Row(2)), DeviceErrorText(4));
    for (const uint16_t addr : {3, 0x40, 6, 0x21, 0x20})
        EXPECT_FALSE(b.Row(addr).Restorable) << addr;
    EXPECT_TRUE(b.Row(2).Restorable); // RW with a value: may be chosen
    EXPECT_FALSE(b.Row(2).Selected);
    // Settings in table order, what the description lacks after them, and the read-only
    // rows apart at the end.
    EXPECT_EQ(b.runner.Rows.front().File.Addr, 2);
    EXPECT_EQ(b.runner.Rows[b.runner.Rows.size() - 2].File.Addr, 0x40);
    EXPECT_EQ(b.runner.Rows.back().File.Addr, 0x20);
    EXPECT_FALSE(b.Row(0x20).Setting);
    EXPECT_TRUE(b.Row(0x40).Setting);
}

TEST(ParamSetRunner, CancelStopsAfterTheRegisterInProgress) {
    TempDir dir;
    Bench b(WriteSignedDescription(dir, "Nastr.xml", Settings()), 1, {}, 0);
    b.runner.OnProgress = [&](int done, int) {
        if (done == 3) b.runner.Cancel();
    };
    b.runner.StartBackup();
    ASSERT_TRUE(b.Wait());
    EXPECT_TRUE(b.runner.Cancelled());
    EXPECT_EQ(b.runner.Set.Entries.size(), 3u);
    EXPECT_EQ(b.rig.Sim->RequestCount(), 3u);
}

TEST(ParamSetCompare, RealsByTheirBitsAndValuesAsTheTableShowsThem) {
    TempDir dir;
    const std::string extra =
        "    <REG addr=\"0x30\" type=\"Float\" io=\"RW\" prec=\"0\"><name>p0</name></REG>\r\n"
        "    <REG addr=\"0x31\" type=\"UByte\" io=\"RW\" admin=\"1\"><name>s</name>"
        "<values><item value=\"0\" text=\"Стоп\"/><item value=\"1\" text=\"Пуск\"/></values>"
        "</REG>\r\n";
    Bench b(WriteSignedDescription(dir, "Nastr.xml", Settings(extra)), 1, {}, 0);
    // file bits, device bits, state, "В файле", "В устройстве"
    const struct {
        uint32_t file, device;
        const char* state;
        const char* fileText;
        const char* deviceText;
    } cases[] = {
        {0x43166666, 0x43160000, "различается", "150.4", "150"}, // 150.4 vs 150 at prec 0
        {0x00000001, 0x00000000, "различается", "1e-45", "0"},   // a denormal
        {0x80000000, 0x00000000, "различается", "-0", "0"},
        {0x7FA00001, 0x7FA00001, "совпадает", "nan", "nan"}, // the same NaN bits
        {0x7FA00001, 0x7FC00000, "различается", "NaN 0x7FA00001", "NaN 0x7FC00000"},
        {0x43160000, 0x43160000, "совпадает", "150", "150"},
    };
    for (const auto& c : cases) {
        b.Put(0x30, FloatFromBits(c.device), 0);
        TParamSet file;
        file.Entries = {{0x30, rtFloat, false, FloatFromBits(c.file), "чепуха", "p0"}};
        b.runner.StartCompare(file);
        ASSERT_TRUE(b.Wait());
        const TCompareRow& row = b.Row(0x30);
        EXPECT_EQ(CompareStateText(row), c.state) << c.fileText;
        if (row.State == TCompareState::Differs) {
            EXPECT_EQ(row.FileText, c.fileText);
            EXPECT_EQ(row.DeviceText, c.deviceText);
        }
        // A difference is written back bit for bit.
        EXPECT_EQ(row.Selected, row.State == TCompareState::Differs);
        b.runner.StartRestore();
        ASSERT_TRUE(b.Wait());
        EXPECT_EQ(FloatBitsOf(b.rig.Sim->Value(0x30)), c.file) << c.fileText;
    }
    // The file's shown text is a comment: the value is shown as the table would; a
    // service row that differs is never chosen by itself.
    b.Put(0x31, TValue(uint8_t{0}), 0);
    TParamSet file;
    file.Entries = {{0x31, rtUByte, false, TValue(uint8_t{1}), "Стоп", "s"}};
    b.runner.StartCompare(file);
    ASSERT_TRUE(b.Wait());
    EXPECT_EQ(b.Row(0x31).FileText, "Пуск");
    EXPECT_EQ(b.Row(0x31).DeviceText, "Стоп");
    EXPECT_TRUE(b.Row(0x31).Service && b.Row(0x31).Restorable);
    EXPECT_FALSE(b.Row(0x31).Selected);
}
