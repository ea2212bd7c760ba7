// The Win32 serial port against a peer on the other end: the Linux simulator on a
// pseudo-terminal that Wine maps as a COM port (TUNAVOX_TEST_PORT, COM5 by default).
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "link/canal.h"
#include "link/com_port.h"
#include "link/usb_latency.h"
#include "link/frame.h"
#include "protocol/register_protocol.h"

using namespace tunavox;
using Clock = std::chrono::steady_clock;

namespace {

std::string TestPort() {
    const char* name = std::getenv("TUNAVOX_TEST_PORT");
    return name && *name ? name : "COM5";
}

long long MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// A read request for the model text (0x100) in protocol 2.0, as it goes on the line.
std::string ModelRequest() {
    return StuffFrame(BuildFrame(BuildRequest(0, kCmdRead, 0x100, ""), false));
}

} // namespace

TEST(WinPort, LineSettingsBecomeTheControlBlock) {
    struct Case {
        const char* text;
        BYTE byteSize, parity, stopBits;
    } cases[] = {{"9600-8-N-1", 8, NOPARITY, ONESTOPBIT},
                 {"19200-7-E-2", 7, EVENPARITY, TWOSTOPBITS},
                 {"115200-8-O-1", 8, ODDPARITY, ONESTOPBIT},
                 {"4800-5-M-1", 5, MARKPARITY, ONESTOPBIT},
                 {"1200-6-S-2", 6, SPACEPARITY, TWOSTOPBITS}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TMyComPort port;
        ASSERT_TRUE(port.ParseSettings(c.text, false));
        DCB dcb{};
        dcb.fOutX = dcb.fInX = dcb.fOutxCtsFlow = dcb.fNull = dcb.fAbortOnError = 1;
        ASSERT_TRUE(FillDcb(port.Settings(), dcb));
        EXPECT_EQ(dcb.BaudRate, port.Settings().BaudRate());
        EXPECT_EQ(dcb.ByteSize, c.byteSize);
        EXPECT_EQ(dcb.Parity, c.parity);
        EXPECT_EQ(dcb.fParity, c.parity != NOPARITY);
        EXPECT_EQ(dcb.StopBits, c.stopBits);
        EXPECT_EQ(dcb.fOutX | dcb.fInX | dcb.fOutxCtsFlow | dcb.fNull | dcb.fAbortOnError, 0u);
        EXPECT_EQ(dcb.fDtrControl, 0u);
        EXPECT_EQ(dcb.fRtsControl, 0u);
    }
}

TEST(WinPort, OpensWithTheLineSettingsAsked) {
    TMyComPort port;
    port.SetLine(19200, 8, parNone, sbOne, false);
    ASSERT_TRUE(port.Open("\\\\.\\" + TestPort(), true)) << port.ErrorText();
    EXPECT_EQ(port.PortName(), TestPort());
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    // A pseudo-terminal keeps its own data bits and parity; the rest is the port's.
    ASSERT_TRUE(GetCommState(static_cast<HANDLE>(port.Handle()), &dcb));
    EXPECT_EQ(dcb.BaudRate, 19200u);
    // No flow control: a 0x13 from the device must not stop the line.
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fNull, 0u);
    EXPECT_EQ(dcb.fAbortOnError, 0u);
    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.Close()); // closing a closed port does nothing

    ASSERT_TRUE(port.ParseSettings("9600-8-N-1", false));
    ASSERT_TRUE(port.Open(TestPort(), true)) << port.ErrorText();
    EXPECT_EQ(port.PortName(), TestPort());
    ASSERT_TRUE(GetCommState(static_cast<HANDLE>(port.Handle()), &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
}

TEST(WinPort, BothReadRegimesAndTimeOuts) {
    TMyComPort port;
    ASSERT_TRUE(port.Open(TestPort(), true)) << port.ErrorText();
    std::string got;
    // Each case: the time-outs, and how long a read of a silent line may take.
    struct Case {
        const char* name;
        uint32_t interval, multiplier, constant;
        long long atLeast, atMost;
    } cases[] = {
        {"at once", kMaxDword, 0, 0, 0, 100},
        {"first byte, 300 ms", kMaxDword, kMaxDword, 300, 250, 1500},
        {"first byte, 0 ms", kMaxDword, kMaxDword, 0, 0, 100},
        {"total 10 ms a byte + 150 ms", 0, 10, 150, 150, 1500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(port.SetTimeouts(1, 1000, c.interval, c.multiplier, c.constant, true));
        ASSERT_TRUE(port.Purge());
        const auto start = Clock::now();
        EXPECT_EQ(port.Read(got, 10), 0) << port.ErrorText();
        EXPECT_GE(MsSince(start), c.atLeast);
        EXPECT_LE(MsSince(start), c.atMost);
    }

    // A request answered: the first-byte regime returns with the answer's first part
    // long before its time-out, the immediate one with what has arrived.
    ASSERT_TRUE(port.SetWaitingTimeouts(1, 1000, 3000, true));
    const auto start = Clock::now();
    ASSERT_EQ(port.WriteString(ModelRequest(), true), static_cast<int>(ModelRequest().size()))
        << port.ErrorText();
    std::string answer;
    while (answer.size() < 5 && MsSince(start) < 3000) {
        ASSERT_GE(port.Read(got, 200), 0) << port.ErrorText();
        answer += got;
    }
    EXPECT_LT(MsSince(start), 2000);
    ASSERT_GE(answer.size(), 5u);
    EXPECT_EQ(answer[0], '\x02');

    ASSERT_TRUE(port.SetPollingTimeouts(1, 1000, true));
    ASSERT_GE(port.WriteString(ModelRequest(), false), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(port.Read(got, 1000), static_cast<int>(answer.size()));
    EXPECT_EQ(got, answer);
}

TEST(WinPort, TheChannelExchangesThroughIt) {
    TCanal canal;
    canal.SetVersion(1);
    canal.SetTimeout(1000);
    ASSERT_TRUE(canal.ComPort->Open(TestPort(), true)) << canal.ComPort->ErrorText();
    const auto start = Clock::now();
    std::string answer, error;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(canal.Exchange(BuildRequest(0, kCmdRead, 0x100, ""), false, answer, error))
            << error;
        EXPECT_EQ(answer[0], 0) << "status of the answer";
    }
    // Each exchange ends when its answer is in, not at the time-out.
    EXPECT_LT(MsSince(start), 10000);
}

TEST(WinPort, ClosingEndsAReadAtOnce) {
    TMyComPort port;
    ASSERT_TRUE(port.Open(TestPort(), true)) << port.ErrorText();
    ASSERT_TRUE(port.SetWaitingTimeouts(1, 1000, 30000, true));
    int result = 0;
    Clock::time_point ended;
    std::thread reader([&] {
        std::string got;
        result = port.Read(got, 100);
        ended = Clock::now();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto closing = Clock::now();
    EXPECT_TRUE(port.Close());
    reader.join();
    EXPECT_EQ(result, -1);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(ended - closing).count(), 1000);
    EXPECT_EQ(port.ErrorCode(), kPortClosedError);
    EXPECT_EQ(port.ErrorText(), "COM-порт закрыт");
}

TEST(WinPort, AMissingPortAndAClosedOne) {
    TMyComPort port;
    EXPECT_FALSE(port.Open("COM9", true));
    EXPECT_EQ(port.ErrorCode(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(port.ErrorText(), "нет такого файла или папки");
    EXPECT_EQ(port.PortName(), "COM9");
    std::string got;
    const auto closed = [&port] {
        const bool is = port.ErrorText() == "COM-порт закрыт";
        port.ClearError();
        return is;
    };
    EXPECT_EQ(port.Read(got, 1), -1);
    EXPECT_TRUE(closed());
    EXPECT_EQ(port.WriteString("x", true), -1);
    EXPECT_TRUE(closed());
    EXPECT_FALSE(port.Purge());
    EXPECT_TRUE(closed());
    EXPECT_FALSE(port.ApplyTimeouts());
    EXPECT_TRUE(closed());
}

TEST(WinPort, PortListFromTheRegistry) {
    const char* key = "Software\\TunavoxTest\\SERIALCOMM";
    HKEY k = nullptr;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
    std::string out = "old";
    EXPECT_FALSE(ListComPorts(out, false, key)); // no such key
    EXPECT_EQ(out, "");
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                              nullptr),
              ERROR_SUCCESS);
    EXPECT_TRUE(ListComPorts(out, false, key)); // present and empty
    EXPECT_EQ(out, "");
    const auto set = [k](const char* name, const std::string& data) {
        RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1));
    };
    set("\\Device\\Serial0", "COM3");
    set("\\Device\\VCP0", " COM12 ");
    EXPECT_TRUE(ListComPorts(out, false, key));
    EXPECT_EQ(out, "COM3\r\nCOM12\r\n");
    EXPECT_TRUE(ListComPorts(out, true, key));
    EXPECT_EQ(out, "\\Device\\Serial0=COM3\r\n\\Device\\VCP0=COM12\r\n");
    RegCloseKey(k);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);

    // The system's own list holds the ports Wine knows.
    EXPECT_TRUE(ListComPorts(out, false));
}

TEST(WinPort, UsbAdaptersLatencyTimerFromTheRegistry) {
    const char* bus = "Software\\TunavoxTest\\FTDIBUS";
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, bus);
    EXPECT_EQ(UsbLatency("COM7", bus).TimerMs, -1); // no such key
    // Two adapters ever plugged in; the one now at COM7 has the timer at 16 ms.
    const auto adapter = [&](const std::string& id, const std::string& port, DWORD timer) {
        const std::string path = std::string(bus) + "\\" + id + "\\0000\\Device Parameters";
        HKEY k = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &k, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(k, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                       static_cast<DWORD>(port.size() + 1));
        RegSetValueExA(k, "LatencyTimer", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&timer),
                       sizeof timer);
        RegCloseKey(k);
    };
    adapter("VID_0403+PID_6001+A1", "COM3", 2);
    adapter("VID_0403+PID_6001+B2", "COM7", 16);
    const TUsbLatency slow = UsbLatency("com7", bus);
    EXPECT_EQ(slow.TimerMs, 16);
    EXPECT_NE(UsbLatencyHint("COM7", slow).find("«Время задержки (мс)»: 1"), std::string::npos)
        << UsbLatencyHint("COM7", slow);
    const TUsbLatency fast = UsbLatency("\\\\.\\COM3", bus);
    EXPECT_EQ(fast.TimerMs, 2);
    EXPECT_EQ(UsbLatencyHint("COM3", fast), "");
    EXPECT_EQ(UsbLatency("COM9", bus).TimerMs, -1);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, bus);
}
