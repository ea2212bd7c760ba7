// The whole stack over a pseudo-terminal against the simulated device: every
// register type, both protocol versions, device IDs, device errors and faults.
#include <gtest/gtest.h>

#include "device/value_codec.h"
#include "link/frame.h"
#include "protocol/register_protocol.h"
#include "sim_rig.h"
#include "test_support.h"
#include "trend/exchange_stats.h"
#include "util/cp1251.h"
#include "util/hex_text.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

// A device with one register of every type and access, plus error texts.
std::string AllTypes(const std::string& extra = {}) {
    return Description(
        "    <REG header=\"Все типы\"/>\r\n"
        "    <REG addr=\"1\" type=\"Str\" io=\"RW\" defValue=\"Пуск\"><name>s</name></REG>\r\n"
        "    <REG addr=\"2\" type=\"Byte\" io=\"RW\" defValue=\"-5\"><name>b</name></REG>\r\n"
        "    <REG addr=\"3\" type=\"Word\" io=\"RW\" defValue=\"-300\"><name>w</name></REG>\r\n"
        "    <REG addr=\"4\" type=\"Long\" io=\"RW\" defValue=\"-70000\"><name>l</name></REG>\r\n"
        "    <REG addr=\"5\" type=\"UByte\" io=\"RW\" defValue=\"200\"><name>ub</name></REG>\r\n"
        "    <REG addr=\"6\" type=\"UWord\" io=\"RW\" defValue=\"60000\"><name>uw</name></REG>\r\n"
        "    <REG addr=\"7\" type=\"ULong\" io=\"RW\" "
        "defValue=\"4000000000\"><name>ul</name></REG>\r\n"
        "    <REG addr=\"8\" type=\"Float\" io=\"RW\" prec=\"3\" "
        "defValue=\"-1.25\"><name>f</name></REG>\r\n"
        "    <REG addr=\"0x202\" type=\"UWord\" io=\"R\" defValue=\"2\"><name>r</name></REG>\r\n"
        "    <REG addr=\"0xE5E5\" type=\"UWord\" io=\"W\"><name>wo</name></REG>\r\n" +
            extra,
        " timeout=\"300\"",
        "  <ERRORS><ERR code=\"0x10\" text=\"датчик не подключен\"/></ERRORS>\r\n");
}

struct Case {
    uint16_t addr;
    std::string initial;
    std::string written;
};

const Case kCases[] = {
    {1, "Пуск", "Котельная №2"}, {2, "-5", "127"},       {3, "-300", "-32768"},
    {4, "-70000", "2147483647"}, {5, "200", "0"},        {6, "60000", "65535"},
    {7, "4000000000", "1"},      {8, "-1.250", "3.500"}, {0x202, "2", ""},
};

class Exchange : public ::testing::TestWithParam<std::tuple<int, int32_t>> {
protected:
    uint8_t Version() const { return static_cast<uint8_t>(std::get<0>(GetParam())); }
    int32_t Id() const { return std::get<1>(GetParam()); }
    TSimOptions Options() const {
        TSimOptions o;
        o.DeviceId = static_cast<uint32_t>(Id());
        return o;
    }
    TempDir dir_;
};

} // namespace

TEST_P(Exchange, EveryTypeReadsAndWrites) {
    SimRig rig(WriteSignedDescription(dir_, "Nastr.xml", AllTypes()), Version(), Options());
    for (const Case& c : kCases) {
        EXPECT_EQ(rig.Read(c.addr, Id()), "") << c.addr;
        EXPECT_EQ(rig.Reg(c.addr)->DisplayText(), c.initial) << c.addr;
        if (c.written.empty()) continue;
        EXPECT_EQ(rig.Write(c.addr, c.written, Id()), "") << c.addr;
        EXPECT_FALSE(rig.Reg(c.addr)->IsModified());
        rig.Reg(c.addr)->SetValue(TValue::MakeNull(), true, "");
        EXPECT_EQ(rig.Read(c.addr, Id()), "") << c.addr;
        EXPECT_EQ(rig.Reg(c.addr)->DisplayText(), c.written) << c.addr;
    }
}

TEST_P(Exchange, DeviceRefusals) {
    const std::string desc = WriteSignedDescription(
        dir_, "Nastr.xml",
        AllTypes("    <REG addr=\"0x7777\" type=\"UWord\" io=\"RW\"><name>x</name></REG>\r\n"));
    const std::string device = WriteSignedDescription(dir_, "NastrDevice.xml", AllTypes());
    TSimOptions o = Options();
    o.Faults.ErrorCodes[6] = 0x10;
    SimRig rig(desc, Version(), o, device);
    EXPECT_EQ(rig.Read(0x7777, Id()), "\x01"); // unknown to the device
    EXPECT_EQ(DeviceErrorText(1, &rig.ErrorTexts), "не поддерживается");
    EXPECT_EQ(rig.Read(0xE5E5, Id()), "\x04");      // write only
    EXPECT_EQ(rig.Write(0x202, "5", Id()), "\x03"); // read only
    EXPECT_EQ(rig.Read(6, Id()), "\x10");
    EXPECT_EQ(ErrorTextInWords(rig.Reg(6)->GetLastError(), &rig.ErrorTexts), "датчик не подключен");
}

INSTANTIATE_TEST_SUITE_P(VersionsAndIds, Exchange,
                         ::testing::Combine(::testing::Values(0, 1),
                                            ::testing::Values(0, 0x01020304)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "V2" : "V1") +
                                    (std::get<1>(info.param) ? "_Id" : "_NoId");
                         });

TEST(ExchangeFaults, SilenceWrongAddressAndWrongId) {
    TempDir dir;
    const std::string desc = WriteSignedDescription(dir, "Nastr.xml", AllTypes());
    for (uint8_t version : {0, 1}) {
        TSimOptions silent;
        silent.Faults.Silent = true;
        {
            SimRig rig(desc, version, silent);
            EXPECT_EQ(rig.Read(3), "Устройство не отвечает");
            EXPECT_EQ(rig.Sim->RequestCount(), 1u); // asked once
        }
        TSimOptions wrongAddr;
        wrongAddr.Faults.WrongAddress = true;
        {
            SimRig rig(desc, version, wrongAddr);
            EXPECT_EQ(rig.Read(3), "Адрес регистра в ответе не совпадает с запрошенным");
        }
        TSimOptions wrongId;
        wrongId.Faults.WrongId = true;
        {
            SimRig rig(desc, version, wrongId);
            EXPECT_EQ(rig.Read(3, 77), "Получен ответ не от того устройства");
            EXPECT_EQ(rig.Read(3, 0), ""); // without an ID there is nothing to get wrong
        }
        TSimOptions idOnly;
        idOnly.DeviceId = 9;
        {
            SimRig rig(desc, version, idOnly);
            EXPECT_EQ(rig.Read(3, 8), "Устройство не отвечает"); // another device's ID
            EXPECT_EQ(rig.Read(3, 9), "");
        }
    }
}

TEST(ExchangeFaults, NoiseAndSplitAnswers) {
    TempDir dir;
    const std::string desc = WriteSignedDescription(dir, "Nastr.xml", AllTypes());
    TSimOptions o;
    o.Faults.Noise = true;
    o.Faults.Split = true;
    {
        SimRig rig(desc, 1, o);
        EXPECT_EQ(rig.Read(8), "");
        EXPECT_EQ(rig.Reg(8)->DisplayText(), "-1.250");
    }
    {
        // Protocol 1.0 has no resynchronisation: junk first is a bad start byte, three times.
        SimRig rig(desc, 0, o);
        EXPECT_EQ(rig.Read(8), "Некорректный стартовый байт");
        // The last request may still be on its way to the device when the exchange gives up.
        EXPECT_TRUE(rig.ServeUntil([&] { return rig.Sim->RequestCount() == 3; }, 2000));
        EXPECT_EQ(rig.Sim->RequestCount(), 3u);
    }
}

TEST(ExchangeFaults, CyrillicTextTravelsAsWindows1251) {
    TempDir dir;
    TRegList regs;
    TNameValueList errors;
    TDescription d;
    ASSERT_EQ(LoadDescription(WriteSignedDescription(dir, "Nastr.xml", AllTypes()), regs, errors, d,
                              dir.Path()),
              "");
    TDeviceSimulator sim(regs, {});
    const std::string bytes = Utf8ToCp1251("Ёлка №1");
    auto answer = sim.Handle(BuildRequest(0, kCmdWrite, 1, bytes), false);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(HexBytes(*answer), "00 00 01");
    EXPECT_EQ(sim.Value(1), TValue(std::string("Ёлка №1")));
    answer = sim.Handle(BuildRequest(0, kCmdRead, 1, ""), false);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->substr(3), bytes);
    EXPECT_EQ(HexBytes(answer->substr(3, 2)), "A8 EB");
}

TEST(Simulator, FindsRequestsBehindJunkAndNeverSendsWhatCannotBeFramed) {
    TempDir dir;
    TRegList regs;
    TNameValueList errors;
    TDescription d;
    ASSERT_EQ(LoadDescription(WriteSignedDescription(dir, "Nastr.xml", AllTypes()), regs, errors, d,
                              dir.Path() + "/"),
              "");
    const std::string read3 = BuildFrame(BuildRequest(0, kCmdRead, 3, {}), false);
    for (uint8_t version : {0, 1}) {
        TSimOptions o;
        o.Version = version;
        TDeviceSimulator sim(regs, o);
        // 200 KB of STX bytes in line-sized pieces, each looked at once, then a request.
        const std::string junk(512, kStx);
        size_t answers = 0;
        for (int i = 0; i < 400; ++i)
            answers += sim.Receive(junk).size();
        EXPECT_EQ(answers, 0u);
        EXPECT_EQ(sim.Receive(version ? StuffFrame(read3) : read3).size(), 1u) << int(version);
        EXPECT_EQ(sim.RequestCount(), 1u);
    }

    // A text too long for an answer frame is refused with code 127, not sent.
    TDeviceSimulator sim(regs, {});
    const std::string longText(40000, 'x');
    auto answer = sim.Handle(BuildRequest(0, kCmdWrite, 1, longText), false);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(HexBytes(*answer), "00 00 01");
    answer = sim.Handle(BuildRequest(0, kCmdRead, 1, {}), false);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(HexBytes(*answer), "7F 00 01");
}

TEST(ExchangeStatistics, CountWhatTheWorkerDid) {
    TempDir dir;
    TSimOptions o;
    o.Faults.ErrorCodes[3] = 2;
    SimRig rig(WriteSignedDescription(dir, "Nastr.xml", AllTypes()), 1, o);
    TExchangeStats stats;
    // A worker of its own that reports every action it ran.
    TTh worker(rig.HandOver, [&stats](const TAction& a) { stats.Record(a.Error()); });
    int pending = 0;
    for (const uint16_t addr : {1, 2, 3, 3, 5}) {
        ++pending;
        worker.AddAction(std::make_unique<TActionReadReg>(&rig.Canal, 0, rig.Reg(addr), 0,
                                                          [&pending](TAction*) { --pending; }));
    }
    worker.AddAction(std::make_unique<TActionReadReg>(&rig.Canal, 0, rig.Reg(6), 0, nullptr));
    ASSERT_TRUE(rig.ServeUntil([&] { return pending == 0 && stats.Take().Done == 6; }));
    worker.Stop([&rig](int ms) { rig.HandOver.Serve(ms); });
    const auto snap = stats.Take();
    EXPECT_EQ(snap.Done, 6u);
    EXPECT_EQ(snap.Failed, 2u);
    EXPECT_EQ(snap.Failures.at(std::string(1, '\x02')), 2u);
    EXPECT_GT(snap.Rate, 0.0);
}
