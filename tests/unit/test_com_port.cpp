// The serial port over a pseudo-terminal: opening, line settings, read regimes,
// closed-port errors and the port list.
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>

#include "link/com_port.h"
#include "link/usb_latency.h"
#include "pty_peer.h"
#include "test_support.h"

using namespace tunavox;
using namespace tunavox::test;
using Clock = std::chrono::steady_clock;

namespace {

long long MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

} // namespace

TEST(ComPort, OpensByNameAndExclusively) {
    PtyPair pty;
    TMyComPort port;
    ASSERT_TRUE(port.Open(pty.SlavePath().substr(5), true)) << port.ErrorText();
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.PortName(), pty.SlavePath().substr(5));
    EXPECT_TRUE(port.TxEmptyWait());

    TMyComPort second;
    EXPECT_FALSE(second.Open(pty.SlavePath(), false));
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(second.PortName(), pty.SlavePath().substr(5));
    EXPECT_NE(second.ErrorCode(), 0);
    EXPECT_NE(second.ErrorText(), "");

    // The line's exclusive flag is ours while open (a refused second opening leaves
    // it alone) and cleared with closing, or a normal user could not open it again.
    const auto exclusive = [&] {
        const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        int flag = -1;
        ::ioctl(fd, TIOCGEXCL, &flag);
        ::close(fd);
        return flag;
    };
    EXPECT_EQ(exclusive(), 1);
    EXPECT_TRUE(port.Close());
    EXPECT_EQ(exclusive(), 0);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.Close()); // closing a closed port does nothing and succeeds
    ASSERT_TRUE(second.Open(pty.SlavePath(), false));
}

TEST(ComPort, FailuresCarryTheSystemText) {
    TMyComPort port;
    EXPECT_FALSE(port.Open("ttyNoSuchPort99", true));
    EXPECT_EQ(port.ErrorText(), "нет такого файла или папки");
    TempDir dir;
    WriteBytes(dir.File("plain"), "x");
    EXPECT_FALSE(port.Open(dir.File("plain"), false));
    EXPECT_EQ(port.ErrorText(), "это не устройство");
    // The errors a user meets are told in Russian; the rest keep the system's text.
    const std::pair<int, const char*> texts[] = {
        {EACCES, "нет доступа"},
        {ENOSPC, "нет места на диске"},
        {EROFS, "файловая система только для чтения"},
        {EISDIR, "это папка"},
        {EIO, "ошибка ввода-вывода"},
        {EBUSY, "устройство или ресурс занят"},
        {EPIPE, "Broken pipe"},
    };
    for (const auto& [code, text] : texts)
        EXPECT_EQ(SystemErrorText(code), text) << code;
}

TEST(ComPort, ClosedPortSaysSo) {
    TMyComPort port;
    std::string s;
    char buf[4];
    port.ClearError();
    EXPECT_EQ(port.Read(s, 3), -1);
    EXPECT_EQ(port.ErrorText(), "COM-порт закрыт");
    port.ClearError();
    EXPECT_EQ(port.WriteString("abc", false), -1);
    EXPECT_EQ(port.ErrorText(), "COM-порт закрыт");
    port.ClearError();
    EXPECT_FALSE(port.Purge());
    EXPECT_EQ(port.ErrorText(), "COM-порт закрыт");
    EXPECT_EQ(port.ReadBuffer(buf, 4), -1);
    EXPECT_FALSE(port.ApplyLineSettings());
    EXPECT_FALSE(port.ApplyTimeouts());
    EXPECT_FALSE(port.Setup());
    port.ClearError();
    EXPECT_EQ(port.ErrorCode(), 0);
}

TEST(ComPort, LineSettingsReachTheDriver) {
    PtyPair pty;
    TMyComPort port;
    ASSERT_TRUE(port.Open(pty.SlavePath(), true));
    struct Case {
        uint32_t baud;
        uint8_t bits, parity, stop;
        speed_t speed;
        tcflag_t set, clear;
    } cases[] = {
        {115200, 8, parMark, sbTwo, B115200, CS8 | PARENB | CMSPAR | PARODD | CSTOPB, 0},
        {9600, 8, parSpace, sbOne, B9600, CS8 | PARENB | CMSPAR, PARODD | CSTOPB},
        {4800, 7, parEven, sbTwo, B4800, CS7 | PARENB | CSTOPB, PARODD | CMSPAR},
        {19200, 8, parOdd, sbOne, B19200, CS8 | PARENB | PARODD, CMSPAR | CSTOPB},
        {57600, 5, parNone, sbOne, B57600, CS5, PARENB | CSTOPB},
    };
    // A pseudo-terminal forces 8 data bits and no parity bit in what it keeps, so the
    // full record is checked as built and the rest as the driver holds it.
    const tcflag_t kKeptByPty = CMSPAR | PARODD | CSTOPB;
    for (const Case& c : cases) {
        port.SetLine(c.baud, c.bits, c.parity, c.stop, true);
        struct termios built {};
        EXPECT_TRUE(FillTermios(port.Settings(), built));
        EXPECT_EQ(cfgetospeed(&built), c.speed) << c.baud;
        EXPECT_EQ(built.c_cflag & CSIZE, c.set & CSIZE) << c.baud;
        EXPECT_EQ(built.c_cflag & (c.set & ~CSIZE), c.set & ~CSIZE) << c.baud;
        EXPECT_EQ(built.c_cflag & c.clear, 0u) << c.baud;
        EXPECT_EQ(built.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(built.c_iflag & (IXON | IXOFF), 0u);
        EXPECT_EQ(built.c_lflag & (ICANON | ECHO), 0u);

        struct termios t {};
        ASSERT_EQ(tcgetattr(port.Handle(), &t), 0);
        EXPECT_EQ(cfgetospeed(&t), c.speed) << c.baud;
        EXPECT_EQ(t.c_cflag & kKeptByPty, c.set & kKeptByPty) << c.baud;
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    }
    TMyDCB odd;
    odd.SetBaudRate(250000);
    struct termios built {};
    EXPECT_FALSE(FillTermios(odd, built)); // set through the driver's free rate
    // Stored without the apply flag: the driver keeps the old settings until applied.
    port.SetLine(2400, 8, parNone, sbOne, false);
    struct termios t {};
    tcgetattr(port.Handle(), &t);
    EXPECT_EQ(cfgetospeed(&t), B57600);
    ASSERT_TRUE(port.ApplyLineSettings());
    tcgetattr(port.Handle(), &t);
    EXPECT_EQ(cfgetospeed(&t), B2400);

    EXPECT_TRUE(port.ParseSettings("19200-7-E-2", true));
    tcgetattr(port.Handle(), &t);
    EXPECT_EQ(cfgetospeed(&t), B19200);
    EXPECT_EQ(port.Settings().Line(), (TLineSettings{19200, 7, parEven, sbTwo}));
    EXPECT_FALSE(port.ParseSettings("19200-9-E-2", true));
    EXPECT_EQ(port.Settings().ByteSize(), 7);
}

TEST(ComPort, ReadRegimes) {
    PtyPair pty;
    TMyComPort port;
    ASSERT_TRUE(port.Open(pty.SlavePath(), true));
    std::string got;

    // Polling: returns at once with what has arrived.
    ASSERT_TRUE(port.SetPollingTimeouts(1, 1000, true));
    auto t0 = Clock::now();
    EXPECT_EQ(port.Read(got, 10), 0) << port.ErrorText();
    EXPECT_LT(MsSince(t0), 200);
    pty.Write("abc");
    ASSERT_TRUE(port.WaitReadable(1000));
    EXPECT_EQ(port.Read(got, 10), 3);
    EXPECT_EQ(got, "abc");

    // Counted: waits for the count, or gives up after the total time.
    ASSERT_TRUE(port.SetTimeouts(1, 1000, 0, 0, 150, true));
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.Write("12");
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.Write("345");
    });
    EXPECT_EQ(port.Read(got, 4), 4);
    EXPECT_EQ(got, "1234");
    late.join();
    EXPECT_EQ(port.Read(got, 4), 1); // "5", then the time-out
    EXPECT_EQ(got, "5");
    t0 = Clock::now();
    EXPECT_EQ(port.Read(got, 4), 0);
    EXPECT_GE(MsSince(t0), 140);

    // Waiting: returns as soon as at least one byte is there.
    ASSERT_TRUE(port.SetWaitingTimeouts(1, 1000, 600, true));
    std::thread one([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.Write("z");
    });
    t0 = Clock::now();
    EXPECT_EQ(port.Read(got, 10), 1);
    EXPECT_LT(MsSince(t0), 500);
    one.join();

    // Stored time-outs take effect only when applied.
    ASSERT_TRUE(port.SetTimeouts(1, 1000, 0, 0, 5000, false));
    EXPECT_EQ(port.Timeouts().ReadTotalTimeoutConstant, 5000u);
    t0 = Clock::now();
    EXPECT_EQ(port.Read(got, 1), 0); // still the waiting regime: 600 ms
    EXPECT_LT(MsSince(t0), 4000);
}

TEST(ComPort, WriteAndPurge) {
    PtyPair pty;
    TMyComPort port;
    ASSERT_TRUE(port.Open(pty.SlavePath(), true));
    EXPECT_EQ(port.WriteString(std::string("\x02\x00\xE5", 3), true), 3);
    EXPECT_EQ(pty.ReadExactly(3, 1000), std::string("\x02\x00\xE5", 3));
    pty.Write("stale");
    ASSERT_TRUE(port.WaitReadable(1000));
    EXPECT_TRUE(port.Purge());
    ASSERT_TRUE(port.SetPollingTimeouts(1, 1000, true));
    std::string got;
    EXPECT_EQ(port.Read(got, 10), 0);
}

TEST(ComPort, CharTimeAndDefaults) {
    TMyComPort port;
    EXPECT_EQ(port.Settings().BaudRate(), 9600u);
    EXPECT_EQ(port.Settings().DtrControl(), 0);
    EXPECT_EQ(port.Settings().RtsControl(), 0);
    EXPECT_DOUBLE_EQ(port.CharTime(), 0.9375);
    const TCommTimeouts t = port.Timeouts();
    EXPECT_EQ(t.ReadIntervalTimeout, kMaxDword);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, kMaxDword);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 1u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
    TMyDCB saved;
    saved.Assign(port.Settings());
    port.SetLine(0, 8, parNone, sbOne, false);
    EXPECT_DOUBLE_EQ(port.CharTime(), 0.0);
    port.Settings().Assign(saved);
    EXPECT_EQ(port.Settings().BaudRate(), 9600u);
}

TEST(ComPort, PortListFromTheSystemTree) {
    TempDir sys;
    auto add = [&](const std::string& name, bool device, const char* type) {
        std::filesystem::create_directories(sys.File(name));
        if (device) std::filesystem::create_directories(sys.File(name + "/device"));
        if (type) WriteBytes(sys.File(name + "/type"), type);
    };
    add("tty0", false, nullptr);
    add("ptmx", false, nullptr);
    add("ttyS10", true, "4\n");
    add("ttyS2", true, "4\n");
    add("ttyS3", true, "0\n"); // legacy entry without a UART
    add("ttyUSB0", true, nullptr);
    add("ttyACM1", true, nullptr);
    std::string list;
    ASSERT_TRUE(ListComPorts(list, false, sys.Path()));
    EXPECT_EQ(list, "ttyACM1\r\nttyS2\r\nttyS10\r\nttyUSB0\r\n");
    ASSERT_TRUE(ListComPorts(list, true, sys.Path()));
    EXPECT_EQ(list.substr(0, 16), "ttyACM1=ttyACM1\r");

    TempDir empty;
    ASSERT_TRUE(ListComPorts(list, false, empty.Path()));
    EXPECT_EQ(list, "");
    EXPECT_FALSE(ListComPorts(list, false, empty.File("absent")));
    EXPECT_EQ(list, "");
}

TEST(ComPort, UsbAdaptersLatencyTimerFromTheSystemTree) {
    TempDir sys;
    const auto adapter = [&](const std::string& tty, const std::string& timer) {
        std::filesystem::create_directories(sys.File("class/tty/" + tty + "/device"));
        WriteBytes(sys.File("class/tty/" + tty + "/device/latency_timer"), timer);
    };
    adapter("ttyUSB0", "16\n");
    adapter("ttyUSB1", "1\n");
    adapter("ttyUSB2", "4\n");
    adapter("ttyUSB3", "fast\n");
    std::filesystem::create_directories(sys.File("class/tty/ttyS0/device")); // no timer
    // A link to the adapter (as /dev/serial/by-id/… is) names the tty it points to.
    TempDir dev;
    WriteBytes(dev.File("ttyUSB0"), "");
    std::filesystem::create_symlink(dev.File("ttyUSB0"), dev.File("usb-FTDI_FT232R-if00"));
    const std::string file = sys.File("class/tty/ttyUSB0/device/latency_timer");
    const struct {
        std::string port;
        int timer;
        std::string hint;
    } cases[] = {
        {"/dev/ttyUSB0", 16,
         "Адаптер USB порта /dev/ttyUSB0 задерживает каждый ответ до 16 мс (таймер задержки). "
         "Чтобы опрос шёл быстрее, уменьшите его (от root): echo 1 > " +
             file},
        {"ttyUSB1", 1, ""},
        {"/dev/ttyUSB2", 4, ""}, // 4 ms is within the bound
        {"/dev/ttyUSB3", -1, ""},
        {"/dev/ttyS0", -1, ""},
        {"/dev/ttyUSB9", -1, ""},
        {"tcp://127.0.0.1:4001", -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        const TUsbLatency latency = UsbLatency(c.port, sys.Path());
        EXPECT_EQ(latency.TimerMs, c.timer);
        EXPECT_EQ(UsbLatencyHint(c.port, latency), c.hint);
    }
    const TUsbLatency linked = UsbLatency(dev.File("usb-FTDI_FT232R-if00"), sys.Path());
    EXPECT_EQ(linked.TimerMs, 16);
    EXPECT_NE(linked.Setting.find("echo 1 > " + file), std::string::npos) << linked.Setting;
}
