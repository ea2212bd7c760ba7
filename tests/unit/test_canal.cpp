// The frame channel against a scripted device on a pseudo-terminal.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "device/description.h"
#include "link/canal.h"
#include "link/frame.h"
#include "log/logger.h"
#include "pty_peer.h"
#include "test_support.h"
#include "util/hex_text.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

const std::string kPayload = "abc";
const size_t kRequestSize = 8; // 02 00 03 61 62 63 51 4A, the same in both versions

struct Result {
    bool ok = false;
    std::string answer, error;
    std::vector<std::string> requests;
};

class CanalTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        canal_.SetVersion(static_cast<uint8_t>(GetParam()));
        canal_.SetTimeout(150);
        ASSERT_TRUE(canal_.ComPort->Open(pty_.SlavePath(), true)) << canal_.ComPort->ErrorText();
    }

    Result Run(std::vector<Answer> script, const std::string& payload = kPayload) {
        ScriptedPeer peer(pty_, kRequestSize, std::move(script));
        Result r;
        r.ok = canal_.Exchange(payload, false, r.answer, r.error);
        r.requests = peer.Requests();
        return r;
    }

    std::string Stuffed(const std::string& frame) const {
        return GetParam() ? StuffFrame(frame) : frame;
    }

    PtyPair pty_;
    TCanal canal_;
};

} // namespace

TEST_P(CanalTest, AnswerAndRequestOnTheWire) {
    const std::string answer = Bytes({0x00, 0x12, 0xE5, 0x02, 0x80});
    Result r = Run({{{Stuffed(BuildFrame(answer, false))}}});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.answer, answer);
    EXPECT_EQ(r.error, "");
    ASSERT_EQ(r.requests.size(), 1u);
    EXPECT_EQ(HexBytes(r.requests[0]), "02 00 03 61 62 63 51 4A");
}

TEST_P(CanalTest, SilenceIsAskedOnce) {
    Result r = Run({{}});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "Устройство не отвечает");
    EXPECT_EQ(r.requests.size(), 1u);
    EXPECT_EQ(pty_.ReadQuiet(300), ""); // no second attempt
}

TEST_P(CanalTest, GarbledAnswersAreAskedThreeTimes) {
    const std::string good = Stuffed(BuildFrame("ok", false));
    std::string badCrc = good;
    badCrc.back() = static_cast<char>(badCrc.back() ^ 1);
    Result r = Run({{{badCrc}}, {{badCrc}}, {{badCrc}}});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, GetParam() ? "Получен некорректный ответ" : "Некорректная CRC");
    EXPECT_EQ(r.requests.size(), 3u);
    EXPECT_EQ(pty_.ReadQuiet(200), "");

    // A good answer on the second attempt ends the exchange.
    r = Run({{{badCrc}}, {{good}}});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.answer, "ok");
    EXPECT_EQ(r.requests.size(), 2u);
}

TEST_P(CanalTest, EmptyPayloadAnswer) {
    const std::string empty = Bytes({2, 0, 0, 0xFF, 0xFF});
    Result r = GetParam() ? Run({{{empty}}}) : Run({{{empty}}, {{empty}}, {{empty}}});
    if (GetParam()) {
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.answer, "");
        EXPECT_EQ(r.requests.size(), 1u);
    } else {
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, "Некорректная CRC");
        EXPECT_EQ(r.requests.size(), 3u);
    }
}

TEST_P(CanalTest, AnswerSplitAcrossWrites) {
    const std::string wire = Stuffed(BuildFrame("split answer", false));
    Result r = Run({{{wire.substr(0, 2)}, {wire.substr(2, 5), 30}, {wire.substr(7), 30}}});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.answer, "split answer");
}

INSTANTIATE_TEST_SUITE_P(Versions, CanalTest, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param ? "V2" : "V1"; });

class CanalV1 : public CanalTest {};
class CanalV2 : public CanalTest {};
INSTANTIATE_TEST_SUITE_P(Only, CanalV1, ::testing::Values(0));
INSTANTIATE_TEST_SUITE_P(Only, CanalV2, ::testing::Values(1));

TEST_P(CanalV1, HeaderFailures) {
    Result r = Run({{{Bytes({2, 0})}}, {{Bytes({2})}}, {{Bytes({2, 0})}}});
    EXPECT_EQ(r.error, "Неполный ответ");
    EXPECT_EQ(r.requests.size(), 3u);
    r = Run({{{Bytes({3, 0, 1, 0x41, 0, 0})}}, {{Bytes({3, 0, 1})}}, {{Bytes({0x41, 0, 1})}}});
    EXPECT_EQ(r.error, "Некорректный стартовый байт");
    EXPECT_EQ(r.requests.size(), 3u);
    pty_.ReadQuiet(100);
    // A body shorter than announced.
    r = Run({{{Bytes({2, 0, 5, 1, 2})}}, {{Bytes({2, 0, 5, 1, 2})}}, {{Bytes({2, 0, 5})}}});
    EXPECT_EQ(r.error, "Неполный ответ");
    EXPECT_EQ(r.requests.size(), 3u);
}

TEST_P(CanalV1, LengthFieldBit15) {
    const std::string five = "12345";
    const std::string crc = CRCBytes(five);
    Result r = Run({{{Bytes({2, 0x80, 0x05}) + five + crc}}});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.answer, five);
    r = Run({{{Bytes({2, 0x00, 0x05}) + five + crc}}});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.answer, five);
    const std::string big(4095, 'q');
    r = Run({{{Bytes({2, 0x8F, 0xFF}) + big + CRCBytes(big)}}});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.answer.size(), 4095u);
}

TEST_P(CanalV2, StuffedRequestAndResynchronisation) {
    // The worked example as the device receives it.
    ScriptedPeer peer(pty_, 10, {{{StuffFrame(BuildFrame("x", false))}}});
    std::string answer, error;
    ASSERT_TRUE(canal_.Exchange(Bytes({0xE5, 0x02}), false, answer, error)) << error;
    EXPECT_EQ(HexBytes(peer.Requests()[0]), "02 00 E5 1A E5 E5 E5 1A D2 0A");

    const std::string good = StuffFrame(BuildFrame("good", false));
    // Noise in front of the STX is dropped.
    Result r = Run({{{Bytes({0xFF, 0x00, 0x13}) + good}}});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.answer, "good");
    // A broken frame followed by a second STX: the newer frame counts.
    r = Run({{{good.substr(0, 5)}, {good, 20}}});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.answer, "good");
    EXPECT_EQ(r.requests.size(), 1u);
    // Bytes only, never an STX.
    r = Run({{{Bytes({0x41, 0x42})}}, {{Bytes({0x43})}}, {{Bytes({0x44})}}});
    EXPECT_EQ(r.error, "Не найден STX в ответе");
    EXPECT_EQ(r.requests.size(), 3u);
    // Bytes after a whole frame in the same chunk spoil it; the retry succeeds.
    r = Run({{{good + Bytes({0x55})}}, {{good}}});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.requests.size(), 2u);
}

TEST_P(CanalTest, ExchangeLogLines) {
    TempDir dir;
    auto log = GetLogger();
    log->SetFileName(dir.File("exchange.txt"));
    canal_.SetLogging(true);
    const std::string good = Stuffed(BuildFrame("ok", false));
    if (GetParam())
        Run({{{Bytes({0x7F}) + good}}});
    else
        Run({{{Bytes({0x7F}) + good}}, {{good}}});
    Run({{}});
    canal_.SetLogging(false);
    Run({{{good}}}); // not logged
    log->CloseFile();
    log->SetFileName("");
    std::string text = ReadBytes(dir.File("exchange.txt"));
    text = std::regex_replace(text, std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d)"), "T");
    const std::string request = "T >> 02 00 03 61 62 63 51 4A\r\n";
    if (GetParam()) {
        EXPECT_EQ(text, "\r\n" + request + "T ## 7F\r\nT << " + HexBytes(good) + "\r\n" + "\r\n" +
                            request + "T << \r\n");
    } else {
        // Version 1.0 reads the header first: 7F is no STX, and the attempt is repeated.
        EXPECT_EQ(text, "\r\n" + request + "T << 7F 02 00\r\n" + "\r\n" + request + "T << " +
                            HexBytes(good.substr(3)) + "\r\n" + "\r\n" + request + "T << \r\n");
    }
}

TEST_P(CanalTest, ClosingThePortEndsAnExchange) {
    canal_.SetTimeout(5000);
    canal_.ComPort->Close();
    ASSERT_TRUE(canal_.ComPort->Open(pty_.SlavePath(), true));
    std::string answer, error;
    bool ok = true;
    const auto t0 = std::chrono::steady_clock::now();
    std::thread worker([&] { ok = canal_.Exchange(kPayload, false, answer, error); });
    EXPECT_EQ(pty_.ReadExactly(kRequestSize, 2000).size(), kRequestSize);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(canal_.ComPort->Close());
    worker.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, "COM-порт закрыт");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(3000));
    // Nothing further happens on the closed port.
    EXPECT_FALSE(canal_.Exchange(kPayload, false, answer, error));
    EXPECT_EQ(error, "COM-порт закрыт");
}

TEST_P(CanalTest, NoTimeOutWaitsWithoutEnd) {
    using Clock = std::chrono::steady_clock;
    std::string answer, error;
    // 0 ms: a silent device is given up at once.
    canal_.SetTimeout(0);
    ASSERT_TRUE(canal_.ComPort->ApplyTimeouts());
    auto t0 = Clock::now();
    EXPECT_FALSE(canal_.Exchange(kPayload, false, answer, error));
    EXPECT_EQ(error, "Устройство не отвечает");
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(2000));
    // Negative and absurd values wait the longest time-out, never for ever.
    for (const uint32_t ms : {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u}) {
        canal_.SetTimeout(ms);
        EXPECT_EQ(canal_.Timeout(), TCanal::kMaxTimeout) << ms;
        EXPECT_EQ(canal_.ComPort->Timeouts().WriteTotalTimeoutConstant, TCanal::kMaxTimeout);
    }
    // A line whose far end vanished mid-exchange fails at once with the port's text.
    canal_.SetTimeout(5000);
    ASSERT_TRUE(canal_.ComPort->ApplyTimeouts());
    bool ok = true;
    t0 = Clock::now();
    std::thread worker([&] { ok = canal_.Exchange(kPayload, false, answer, error); });
    EXPECT_EQ(pty_.ReadExactly(kRequestSize, 2000).size(), kRequestSize);
    pty_.HangUp();
    worker.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, SystemErrorText(EIO));
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(3000));
}

TEST(Canal, Defaults) {
    TCanal canal;
    EXPECT_EQ(canal.Timeout(), 1000u);
    EXPECT_EQ(canal.ProtocolVersion(), 0);
    EXPECT_FALSE(canal.Logging());
    TCommTimeouts t = canal.ComPort->Timeouts();
    EXPECT_EQ(t.ReadIntervalTimeout, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
    canal.SetVersion(1);
    t = canal.ComPort->Timeouts();
    EXPECT_EQ(t.ReadIntervalTimeout, kMaxDword);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
    canal.SetTimeout(700);
    EXPECT_EQ(canal.ComPort->Timeouts().WriteTotalTimeoutConstant, 700u);
}

TEST(Canal, DescriptionSetsLineAndTimeout) {
    TempDir dir;
    TCanal canal;
    TRegList regs;
    TNameValueList errors;
    TDescription desc;
    const std::string path =
        WriteSignedDescription(dir, "Nastr.xml",
                               "<?xml version=\"1.0\" encoding=\"windows-1251\"?><D "
                               "serial=\"19200-7-M-2\" timeout=\"1500\"><REGISTERS/></D>");
    ASSERT_EQ(LoadDescription(path, regs, errors, desc, dir.Path() + "/", &canal), "");
    EXPECT_EQ(canal.Timeout(), 1500u);
    EXPECT_EQ(canal.ComPort->Settings().Line(), (TLineSettings{19200, 7, parMark, sbTwo}));
    EXPECT_FALSE(canal.ComPort->IsOpen());
}
