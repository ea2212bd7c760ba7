// Finding the devices on a line: answers sorted, probes planned, a whole sweep over a
// simulated multi-drop line.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>
#include <tuple>

#include "device/description.h"
#include "engine/worker.h"
#include "link/com_port.h"
#include "link/frame.h"
#include "protocol/register_protocol.h"
#include "link/canal.h"
#include "link/open_port.h"
#include "scan/identify_runner.h"
#include "scan/scan_runner.h"
#include "sim/simulator.h"
#include "test_support.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

// Two device types on one line setting, each with a keep-alive register at 0xFFFD.
std::string TypeXml(const std::string& name, const std::string& regs, int timeout = 300) {
    return "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<DEVICE name=\"" + name +
           "\" serial=\"115200-8-N-1\" timeout=\"" + std::to_string(timeout) +
           "\">\r\n  <REGISTERS>\r\n" + regs + "  </REGISTERS>\r\n</DEVICE>\r\n";
}
const char* const kPumpRegs =
    "<REG addr=\"0x0001\" type=\"Str\" io=\"R\" defValue=\"Насос\"><name>Модель</name></REG>\r\n"
    "<REG addr=\"0x0010\" type=\"Float\" io=\"R\"><name>Давление</name></REG>\r\n"
    "<REG addr=\"0x0011\" type=\"UWord\" io=\"RW\"><name>Уставка</name></REG>\r\n"
    "<REG addr=\"0xFFFD\" type=\"UWord\" io=\"R\"><name>Счётчик</name></REG>\r\n";
const char* const kValveRegs =
    "<REG addr=\"0x0200\" type=\"UByte\" io=\"R\"><name>Положение</name></REG>\r\n"
    "<REG addr=\"0x0201\" type=\"ULong\" io=\"RW\"><name>Наработка</name></REG>\r\n"
    "<REG addr=\"0xFFFD\" type=\"UWord\" io=\"R\"><name>Счётчик</name></REG>\r\n";

// The catalogue of two types in dir, and each type's registers for the simulator.
struct Catalogue {
    explicit Catalogue(const TempDir& dir, int timeout = 300) {
        WriteSignedDescription(dir, "NastrPump.xml", TypeXml("Насос", kPumpRegs, timeout));
        WriteSignedDescription(dir, "NastrValve.xml", TypeXml("Задвижка", kValveRegs, timeout));
        // Not in the catalogue: a pump whose set point differs (and nothing else), for
        // two devices at one ID whose first answers are the same bytes.
        std::string twin = kPumpRegs;
        twin.replace(twin.find("io=\"RW\">"), 8, "io=\"RW\" defValue=\"7\">");
        const std::string twinPath = WriteSignedDescription(dir, "twin.xml", TypeXml("Насос", twin));
        std::vector<std::string> problems;
        Types = LoadScanTypes(ScanCatalogue(dir.Path() + "/"), dir.Path() + "/", problems);
        EXPECT_TRUE(problems.empty());
        for (const TScanType& t : Types) {
            auto regs = std::make_unique<TRegList>();
            TNameValueList errors;
            TDescription desc;
            EXPECT_EQ(LoadDescription(t.Path, *regs, errors, desc, dir.Path() + "/"), "");
            Regs[t.Name] = std::move(regs);
        }
        auto regs = std::make_unique<TRegList>();
        TNameValueList errors;
        TDescription desc;
        EXPECT_EQ(LoadDescription(twinPath, *regs, errors, desc, dir.Path() + "/"), "");
        Regs["twin"] = std::move(regs);
    }
    std::vector<TScanType> Types;
    std::map<std::string, std::unique_ptr<TRegList>> Regs;
};

// The simulator on a pseudo-terminal: the port to search.
std::string Serve(TDeviceSimulator& sim) {
    std::string error;
    const std::string pty = sim.StartPty("", error);
    EXPECT_NE(pty, "") << error;
    return pty;
}

// A runner served by a plain loop, as the command line serves it.
struct Sweep {
    Sweep(std::vector<TScanType> types, TScanOptions options)
        : worker(handOver), runner(std::move(types), std::move(options),
                                   [this](auto a) { worker.AddAction(std::move(a)); }) {
        runner.OnResult = [this](const TScanResult& r) { found.push_back(r); };
    }
    ~Sweep() {
        worker.Stop([this](int ms) { handOver.Serve(ms); });
    }
    bool Run(int limitMs, const std::function<void()>& each = {}) {
        runner.Start();
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (runner.Running() && std::chrono::steady_clock::now() < end) {
            handOver.Serve(10);
            if (each) each();
        }
        return !runner.Running();
    }
    std::string Text(const TScanResult& r) const {
        return ScanIdText(r) + " " + ScanWhatText(r, runner.Types());
    }
    THandOverQueue handOver;
    TTh worker;
    TScanRunner runner;
    std::vector<TScanResult> found;
};

} // namespace

TEST(ScanProbe, SortsEveryKindOfAnswer) {
    struct Case {
        const char* What;
        bool Ok;
        std::string Answer, Error;
        int PortError;
        bool WithId;
        TProbeAnswer Kind;
        std::string Data;
        uint32_t OtherId;
    };
    const std::string id17 = Bytes({0, 0, 0, 17});
    const Case cases[] = {
        {"data", true, id17 + Bytes({0, 0xFF, 0xFD, 0x12, 0x34}), "", 0, true, TProbeAnswer::Data,
         Bytes({0x12, 0x34}), 0},
        {"data without ID", true, Bytes({0, 0xFF, 0xFD, 7}), "", 0, false, TProbeAnswer::Data,
         Bytes({7}), 0},
        {"refusal: a device of another type", true, id17 + Bytes({1}), "", 0, true,
         TProbeAnswer::DeviceError, "", 0},
        {"refusal of this register", true, id17 + Bytes({1, 0xFF, 0xFD}), "", 0, true,
         TProbeAnswer::DeviceError, "", 0},
        {"late refusal of another register", true, id17 + Bytes({1, 0x00, 0x10}), "", 0, true,
         TProbeAnswer::OtherAddress, "", 0},
        {"late answer of ID 16", true, Bytes({0, 0, 0, 16, 0, 0xFF, 0xFD, 1, 2}), "", 0, true,
         TProbeAnswer::OtherId, "", 16},
        {"late answer of this ID for another register", true,
         id17 + Bytes({0, 0x00, 0x01, 1, 2}), "", 0, true, TProbeAnswer::OtherAddress, "", 0},
        {"too short for an ID", true, Bytes({0, 0}), "", 0, true, TProbeAnswer::Garbled, "", 0},
        {"status only", true, id17, "", 0, true, TProbeAnswer::Garbled, "", 0},
        {"silence", false, "", "Устройство не отвечает", 0, true, TProbeAnswer::Silent, "", 0},
        {"bad CRC", false, "", "Некорректная CRC", 0, true, TProbeAnswer::Garbled, "", 0},
        {"two devices at once", false, "", "Получен некорректный ответ", 0, true,
         TProbeAnswer::Garbled, "", 0},
        {"adapter gone", false, "", "Устройство не отвечает", 5, true, TProbeAnswer::PortLost, "",
         0},
    };
    for (const Case& c : cases) {
        const TProbeOutcome o =
            ClassifyProbeAnswer(c.Ok, c.Answer, c.Error, c.PortError, c.WithId, 17, 0xFFFD);
        EXPECT_EQ(o.Kind, c.Kind) << c.What;
        EXPECT_EQ(o.Data, c.Data) << c.What;
        EXPECT_EQ(o.OtherId, c.OtherId) << c.What;
    }
}

TEST(ScanProbe, PlansProbesPerLineSettingAndSharesThem) {
    TempDir dir;
    Catalogue cat(dir);
    ASSERT_EQ(cat.Types.size(), 2u);
    // The keep-alive first, then fixed-size registers before texts; write-only never.
    const TScanType& pump = cat.Types[0].Name == "Насос" ? cat.Types[0] : cat.Types[1];
    const std::vector<TScanRegister> pumpChecks{
        {0xFFFD, rtUWord}, {0x0010, rtFloat}, {0x0011, rtUWord}};
    EXPECT_EQ(pump.Checks, pumpChecks);
    EXPECT_EQ(pump.Timeout, 300u);
    TRegList noKeepAlive;
    // Without 0xFFFD the first readable row is the probe.
    const std::string p = WriteSignedDescription(
        dir, "n.xml",
        TypeXml("X", "<REG addr=\"0x5\" type=\"UByte\" io=\"W\"><name>a</name></REG>\r\n"
                     "<REG addr=\"0x6\" type=\"Str\" io=\"R\"><name>b</name></REG>\r\n"));
    TNameValueList errors;
    TDescription desc;
    ASSERT_EQ(LoadDescription(p, noKeepAlive, errors, desc, dir.Path() + "/"), "");
    EXPECT_EQ(ScanChecks(noKeepAlive), (std::vector<TScanRegister>{{0x6, rtStr}}));

    // One setting, one shared probe register: one request per place.
    const std::vector<TScanGroup> groups = GroupScanTypes(cat.Types);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].Probes.size(), 1u);
    EXPECT_EQ(groups[0].LongestTimeout, 300u);
    // A silent place costs the request's line time and the first byte's window.
    struct Timeout {
        TLineSettings Line;
        int Ms;
    };
    for (const Timeout& t :
         {Timeout{{115200, 8, parNone, sbOne}, 11}, Timeout{{9600, 8, parNone, sbOne}, 22},
          Timeout{{1200, 8, parEven, sbTwo}, 130}}) {
        TScanGroup g = groups[0];
        g.Line = t.Line;
        EXPECT_EQ(DefaultProbeTimeout(g), t.Ms) << t.Line.BaudRate;
    }
    struct Range {
        const char* Text;
        bool Ok;
        uint32_t First, Last;
    };
    for (const Range& r :
         {Range{"1-255", true, 1, 255}, Range{"17", true, 17, 17}, Range{"0-5", false, 0, 0},
          Range{"9-3", false, 0, 0}, Range{"1-100000", false, 0, 0}, Range{"a-b", false, 0, 0}}) {
        uint32_t first = 0, last = 0;
        std::string error;
        EXPECT_EQ(ParseIdRange(r.Text, first, last, error), r.Ok) << r.Text;
        if (r.Ok)
            EXPECT_EQ(std::make_pair(first, last), std::make_pair(r.First, r.Last)) << r.Text;
        else
            EXPECT_NE(error, "") << r.Text;
    }
}

TEST(ScanLine, FindsExactlyTheThreeDevicesWithReadsOnly) {
    TempDir dir;
    Catalogue cat(dir);
    TSimOptions o;
    o.DeviceId = 3;
    TDeviceSimulator sim(*cat.Regs["Насос"], o);
    sim.AddDevice(*cat.Regs["Задвижка"], 17);
    sim.AddDevice(*cat.Regs["Насос"], 200);
    const std::string pty = Serve(sim);
    ASSERT_NE(pty, "");
    TScanOptions options;
    options.Ports = {pty};
    options.Gateway = {false};
    options.Versions = {1};
    Sweep s(cat.Types, options);
    std::vector<std::string> shown;
    s.runner.OnResult = [&](const TScanResult& r) {
        s.found.push_back(r);
        shown.push_back(s.Text(r)); // streamed as found, in ID order
    };
    ASSERT_TRUE(s.Run(60000));
    EXPECT_EQ(shown, (std::vector<std::string>{"3 Насос", "17 Задвижка", "200 Насос"}));
    EXPECT_EQ(s.runner.DevicesFound(), 3);
    EXPECT_EQ(sim.OtherRequestCount(), 0u);
    // One probe per place; a device takes its confirmation and its checks on top.
    EXPECT_GE(sim.RequestCount(), 256u);
    EXPECT_LE(sim.RequestCount(), 256u + 3 * 6);
    EXPECT_DOUBLE_EQ(s.runner.Fraction(), 1.0);
    // The port is free again: another program can open it exclusively.
    TMyComPort after;
    EXPECT_TRUE(after.Open(pty, true)) << after.ErrorText();
    sim.Stop();
}

TEST(ScanLine, StopEndsTheSweepAndClosesThePort) {
    TempDir dir;
    Catalogue cat(dir);
    TSimOptions o;
    o.DeviceId = 2;
    TDeviceSimulator sim(*cat.Regs["Задвижка"], o);
    const std::string pty = Serve(sim);
    ASSERT_NE(pty, "");
    TScanOptions options;
    options.Ports = {pty};
    Sweep s(cat.Types, options);
    bool stopped = false;
    size_t requestsAtStop = 0;
    ASSERT_TRUE(s.Run(20000, [&] {
        if (!stopped && !s.found.empty()) {
            stopped = true;
            requestsAtStop = sim.RequestCount();
            EXPECT_GT(s.runner.RemainingMs(), 0);
            s.runner.Cancel();
        }
    }));
    ASSERT_TRUE(stopped);
    EXPECT_TRUE(s.runner.Cancelled());
    EXPECT_LT(s.runner.Fraction(), 0.5);
    // At most the request already on its way went out after the stop, and none later.
    const size_t requests = sim.RequestCount();
    EXPECT_LE(requests, requestsAtStop + 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(sim.RequestCount(), requests);
    TMyComPort after;
    EXPECT_TRUE(after.Open(pty, true)) << after.ErrorText();
    sim.Stop();
}

// Lines as boiler rooms have them: versions mixed, devices answering late, two devices
// at one ID. Every search ends within its own bound, finds every device that answers
// within its description's time-out at the version it speaks, and takes no collision
// for a device.
TEST(ScanLine, MixedVersionsSlowDevicesAndCollisions) {
    struct Device {
        const char* Type;
        uint32_t Id;
        int DelayMs;
        int Version; // 0: 1.0, 1: 2.0
    };
    struct Case {
        const char* Name;
        std::vector<Device> Devices;
        uint32_t Last;
        std::vector<uint8_t> Versions;
        int ProbeTimeoutMs;
        int Timeout; // the descriptions'
        std::vector<std::string> Found; // "ID what version", in the order reported
        int Count;
        bool Unplaced;
    };
    const Case cases[] = {
        {"1.0 and 2.0 devices on one line",
         {{"Насос", 3, 0, 0}, {"Задвижка", 17, 0, 1}, {"Насос", 40, 0, 0}},
         45, {1, 0}, 0, 300,
         {"3 Насос 1.0", "17 Задвижка 2.0", "40 Насос 1.0"}, 3, false},
        {"a 1.0 device asked at 2.0 only is named at 1.0",
         {{"Задвижка", 9, 0, 0}}, 12, {1}, 0, 300, {"9 Задвижка 1.0"}, 1, false},
        {"slow devices, each heard late and confirmed",
         // Slow, yet within the 1000 ms time-out by a margin a busy machine keeps.
         {{"Насос", 10, 700, 1}, {"Задвижка", 11, 450, 1}, {"Насос", 30, 300, 1},
          {"Насос", 31, 0, 1}},
         40, {1}, 0, 1000, {}, 4, false},
        {"two devices at one ID: the first answers agree, the checks collide",
         {{"Насос", 7, 0, 1}, {"twin", 7, 0, 1}, {"Задвижка", 8, 0, 1}},
         9, {1}, 0, 300,
         {"7 помехи или несколько устройств с одним ID", "8 Задвижка 2.0"}, 1, false},
        {"slower than its description: not found, and said so",
         {{"Насос", 5, 450, 1}}, 150, {1}, 0, 300, {}, 0, true},
        {"the same device found with a longer probe time-out",
         {{"Насос", 5, 450, 1}}, 6, {1}, 900, 300, {"5 Насос 2.0"}, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        Catalogue cat(dir, c.Timeout);
        TSimOptions o;
        o.DeviceId = 250; // the line's first device, out of every range searched
        o.Version = 1;
        TDeviceSimulator sim(*cat.Regs["Задвижка"], o);
        for (const Device& d : c.Devices)
            sim.AddDevice(*cat.Regs[d.Type], d.Id, d.DelayMs, d.Version);
        const std::string pty = Serve(sim);
        ASSERT_NE(pty, "");
        TScanOptions options;
        options.Ports = {pty};
        options.Gateway = {false};
        options.Versions = c.Versions;
        options.FirstId = c.Last > 10 ? 1 : 4;
        options.LastId = c.Last;
        options.ProbeTimeoutMs = c.ProbeTimeoutMs;
        Sweep s(cat.Types, options);
        std::vector<std::string> shown;
        s.runner.OnResult = [&](const TScanResult& r) {
            shown.push_back(s.Text(r) + (r.Kind == TScanKind::Garbled
                                             ? ""
                                             : " " + ScanVersionText(r.Version)));
        };
        ASSERT_TRUE(s.Run(120000)) << "the search did not end";
        EXPECT_LE(s.runner.Requests(), s.runner.MaxRequests());
        EXPECT_LE(static_cast<int64_t>(sim.RequestCount()), 3 * s.runner.MaxRequests());
        EXPECT_EQ(sim.OtherRequestCount(), 0u);
        if (!c.Found.empty()) {
            EXPECT_EQ(shown, c.Found);
        }
        EXPECT_EQ(s.runner.DevicesFound(), c.Count) << ::testing::PrintToString(shown);
        EXPECT_EQ(s.runner.Unplaced() > 0, c.Unplaced) << s.runner.Unplaced();
        EXPECT_EQ(ScanUnplacedText(s.runner.Unplaced()).empty(), !c.Unplaced);
        sim.Stop();
    }
}

// The simulated pair: answers of two devices to one request are OR-ed (clean only when
// they are the same bytes), each device hears only its own protocol version, and a
// device swapped at its ID answers as the new one.
TEST(ScanSimulator, CollisionsVersionsAndSwaps) {
    TempDir dir;
    Catalogue cat(dir);
    const std::string read7 = BuildFrame(BuildRequest(7, kCmdRead, 0x0011, {}), true);
    {
        TSimOptions o;
        o.DeviceId = 7;
        TDeviceSimulator sim(*cat.Regs["Насос"], o);
        sim.AddDevice(*cat.Regs["Насос"], 7);
        const std::vector<std::string> same = sim.Receive(StuffFrame(read7));
        ASSERT_EQ(same.size(), 1u);
        EXPECT_TRUE(CheckCRC(UnstuffFrame(same[0]), 4)) << "identical answers collide cleanly";
        ASSERT_TRUE(sim.ReplaceDevice(7, *cat.Regs["twin"]));
        EXPECT_FALSE(sim.ReplaceDevice(8, *cat.Regs["twin"]));
        int64_t setPoint = 0;
        EXPECT_TRUE(sim.ValueOf(7, 0x0011).AsInt64(setPoint));
        EXPECT_EQ(setPoint, 7);
    }
    {
        TSimOptions o;
        o.DeviceId = 7;
        TDeviceSimulator sim(*cat.Regs["Насос"], o);
        sim.AddDevice(*cat.Regs["twin"], 7);
        const std::vector<std::string> clash = sim.Receive(StuffFrame(read7));
        ASSERT_EQ(clash.size(), 1u);
        EXPECT_FALSE(CheckCRC(UnstuffFrame(clash[0]), 4)) << "different answers are garbled";
    }
    {
        // A 1.0 device answers a request that reads the same in both versions, and only
        // that; a 2.0 device answers the stuffed form.
        TSimOptions o;
        o.DeviceId = 250;
        o.Version = 1;
        TDeviceSimulator sim(*cat.Regs["Насос"], o);
        sim.AddDevice(*cat.Regs["Насос"], 9, 0, 0);
        const std::string plain = BuildFrame(BuildRequest(9, kCmdRead, 0x0011, {}), true);
        ASSERT_EQ(plain, StuffFrame(plain));
        EXPECT_EQ(sim.Receive(plain).size(), 1u);
        const std::string differs = BuildFrame(BuildRequest(9, kCmdRead, 0x0002, {}), true);
        ASSERT_NE(differs, StuffFrame(differs));
        EXPECT_EQ(sim.Receive(StuffFrame(differs)).size(), 0u);
        EXPECT_EQ(sim.Receive(differs).size(), 1u);
        EXPECT_EQ(sim.RequestCount(), 3u);
        // Requests that come in one chunk (a busy machine reads them together) are each
        // one request, though both receivers read each.
        EXPECT_EQ(sim.Receive(plain + plain + plain).size(), 3u);
        EXPECT_EQ(sim.RequestCount(), 6u);
    }
    struct Arg {
        const char* Text;
        bool Ok;
        std::string File;
        uint32_t Id;
        int Delay, Version;
    };
    for (const Arg& a : {Arg{"d.xml", true, "d.xml", 0, 0, -1}, Arg{"d.xml:5", true, "d.xml", 5, 0, -1},
                         Arg{"d.xml:5:300", true, "d.xml", 5, 300, -1},
                         Arg{"C:\\d.xml:5:300:1", true, "C:\\d.xml", 5, 300, 0},
                         Arg{"d.xml:5:300:3", false, "", 0, 0, 0},
                         Arg{"d.xml:0", false, "", 0, 0, 0}, Arg{":5", false, "", 0, 0, 0}}) {
        std::string file;
        uint32_t id = 0;
        int delay = 0, version = 0;
        EXPECT_EQ(ParseSimDevice(a.Text, file, id, delay, version), a.Ok) << a.Text;
        if (a.Ok) {
            EXPECT_EQ(std::make_tuple(file, id, delay, version),
                      std::make_tuple(a.File, a.Id, a.Delay, a.Version))
                << a.Text;
        }
    }
}

// Is the device at an ID still its description's type? The same one, another type of the
// catalogue, one the catalogue does not know, or nobody: told through a line's worker.
TEST(ScanIdentify, TheSameAnotherAnUnknownAndNoDevice) {
    TempDir dir;
    Catalogue cat(dir);
    const std::string strangerPath = WriteSignedDescription(
        dir, "stranger.xml",
        TypeXml("Чужой", "<REG addr=\"0x0500\" type=\"UByte\" io=\"R\"><name>x</name></REG>\r\n"));
    TRegList stranger;
    TNameValueList errors;
    TDescription desc;
    ASSERT_EQ(LoadDescription(strangerPath, stranger, errors, desc, dir.Path() + "/"), "");
    TSimOptions o;
    o.DeviceId = 3;
    TDeviceSimulator sim(*cat.Regs["Насос"], o);
    sim.AddDevice(*cat.Regs["Задвижка"], 4);
    sim.AddDevice(stranger, 5);
    const std::string pty = Serve(sim);
    ASSERT_NE(pty, "");
    TCanal canal;
    canal.SetTimeout(200);
    ASSERT_TRUE(OpenPort(canal, pty, 1, false)) << canal.ComPort->ErrorText();
    THandOverQueue handOver;
    TTh worker(handOver);
    size_t pump = 0;
    for (size_t t = 0; t < cat.Types.size(); ++t)
        if (cat.Types[t].Name == "Насос") pump = t;
    struct Case {
        uint32_t Id;
        TIdentity Result;
        std::string What;
    };
    for (const Case& c : {Case{3, TIdentity::Same, ""}, Case{4, TIdentity::Other, "Задвижка"},
                          Case{5, TIdentity::Unknown, "неизвестное устройство"},
                          Case{9, TIdentity::Silent, ""}}) {
        TIdentifyRunner runner(&canal, c.Id, cat.Types, pump,
                               [&worker](std::unique_ptr<TAction> a) { worker.AddAction(std::move(a)); });
        bool finished = false;
        runner.OnFinished = [&] { finished = true; };
        runner.Start();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!finished && std::chrono::steady_clock::now() < end)
            handOver.Serve(10);
        ASSERT_TRUE(finished) << c.Id;
        EXPECT_EQ(runner.Result(), c.Result) << c.Id;
        if (c.Result == TIdentity::Other || c.Result == TIdentity::Unknown) {
            EXPECT_EQ(runner.WhatText(), c.What) << c.Id;
        }
    }
    EXPECT_EQ(OtherDeviceText(4, "Задвижка"), "На месте ID 4 другое устройство: Задвижка");
    EXPECT_EQ(sim.OtherRequestCount(), 0u) << "reads only";
    worker.Stop([&handOver](int ms) { handOver.Serve(ms); });
    canal.ComPort->Close();
    sim.Stop();
}
