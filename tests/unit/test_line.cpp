// The line and its devices: naming a device on the command line, a device's keep-alive
// row, a silent device's rest, and the recording's device field.
#include <gtest/gtest.h>

#include "line/device.h"
#include "line/poll_round.h"
#include "test_support.h"
#include "trend/poll_backoff.h"
#include "trend/poll_recorder.h"
#include "util/cp1251.h"

using namespace tunavox;
using namespace tunavox::test;

TEST(Device, ArgumentSplitsIntoFileAndId) {
    struct Case {
        const char* Text;
        bool Ok;
        const char* File;
        uint32_t Id;
    };
    const Case cases[] = {
        {"NastrChP7.xml:17", true, "NastrChP7.xml", 17},
        {"NastrChP7.xml", true, "NastrChP7.xml", 0},
        {"C:\\dev\\NastrBUK2.xml:200", true, "C:\\dev\\NastrBUK2.xml", 200},
        {"C:\\dev\\NastrBUK2.xml", true, "C:\\dev\\NastrBUK2.xml", 0}, // the drive's colon
        {"a.xml:4294967295", true, "a.xml", 4294967295u},
        {"a.xml:0", false, "", 0},
        {"a.xml:4294967296", false, "", 0},
        {":5", false, "", 0},
        {"", false, "", 0},
    };
    for (const Case& c : cases) {
        std::string file;
        uint32_t id = 99;
        EXPECT_EQ(SplitDeviceArgument(c.Text, file, id), c.Ok) << c.Text;
        if (!c.Ok) continue;
        EXPECT_EQ(file, c.File) << c.Text;
        EXPECT_EQ(id, c.Id) << c.Text;
    }
}

TEST(Device, KeepAliveIsTheRowAt0xFFFDElseTheFirst) {
    TempDir dir;
    const auto load = [&](const std::string& name, const std::string& regs) {
        TDevice d;
        EXPECT_EQ(d.Load(WriteSignedDescription(dir, name, Description(regs)), 2, dir.Path() + "/",
                         nullptr),
                  "");
        d.PollNode = 5;
        d.LastChangedRow = 3;
        d.ResetConnection();
        EXPECT_EQ(d.Entry, 2);
        EXPECT_EQ(d.PollNode, -1);
        EXPECT_EQ(d.LastChangedRow, -1);
        return d.PingNode;
    };
    EXPECT_EQ(load("a.xml",
                   "<REG header=\"h\"/>\r\n"
                   "<REG addr=\"0x1\" type=\"Byte\" io=\"R\"><name>a</name></REG>\r\n"
                   "<REG addr=\"0xFFFD\" type=\"UWord\" io=\"R\"><name>k</name></REG>\r\n"),
              2);
    EXPECT_EQ(load("b.xml", "<REG header=\"h\"/>\r\n"
                            "<REG addr=\"0x1\" type=\"Byte\" io=\"R\"><name>a</name></REG>\r\n"),
              0);
}

TEST(DeviceRest, ASilentDeviceRestsLongerUpToTenSecondsAndAnAnswerEndsIt) {
    TDeviceRest rest;
    // Time-outs at 100 ms: three in a row, then rests of 1, 2, 4, 8, 10, 10 s.
    std::vector<int> got;
    for (int i = 0; i < 8; ++i)
        got.push_back(rest.After(true, 100));
    EXPECT_EQ(got, (std::vector<int>{0, 0, 1000, 2000, 4000, 8000, 10000, 10000}));
    // A slow line: never under ten time-outs, so a probe takes at most a tenth of it.
    EXPECT_EQ(rest.After(true, 1500), 15000);
    // An answer (or a device's own error code) ends the rest and the run.
    EXPECT_EQ(rest.After(false, 100), 0);
    EXPECT_EQ(rest.After(true, 100), 0);
    EXPECT_EQ(rest.After(true, 100), 0);
    EXPECT_EQ(rest.After(true, 100), 1000);
}

TEST(DeviceRest, ARecordingOfSeveralDevicesHasTheIdFieldOneDeviceKeepsItsForm) {
    TPollSample s{"2026-12-10 08:00:00.000 +03:00", "0x302", "Частота [Гц]", "45.50", ""};
    EXPECT_EQ(RecordingLine(s),
              Utf8ToCp1251("2026-12-10 08:00:00.000 +03:00;0x302;Частота [Гц];45.50;\r\n"));
    EXPECT_EQ(RecordingHeader(), Utf8ToCp1251("Время;Код;Параметр;Значение;Ошибка\r\n"));
    s.Device = "17";
    EXPECT_EQ(RecordingLine(s),
              Utf8ToCp1251("2026-12-10 08:00:00.000 +03:00;17;0x302;Частота [Гц];45.50;\r\n"));
    EXPECT_EQ(RecordingHeader(true), Utf8ToCp1251("Время;ID;Код;Параметр;Значение;Ошибка\r\n"));
}

TEST(PollRound, EveryDeviceInTurnARestingOnePassedOverAndWokenAgain) {
    // Two devices, two rows each; the order is every row of every device.
    TPollRound round;
    round.Reset({{0, 1}, {0, 2}, {1, 5}, {1, 6}}, 2);
    std::vector<std::pair<size_t, int>> read;
    const auto readAt = [&](int64_t now, int rest = 0) {
        const TPollRound::TNext n = round.Next(now);
        EXPECT_TRUE(n.Ready);
        read.push_back({n.Item.Device, n.Item.Row});
        round.Done(rest, now);
        return n;
    };
    EXPECT_TRUE(readAt(0).PassBegins);
    EXPECT_FALSE(readAt(1).PassBegins);
    readAt(2, 5000); // device 1 goes silent: it rests 5 s
    // Its other row is passed over: the pass ends and the next begins with device 0.
    const TPollRound::TNext again = round.Next(3);
    EXPECT_TRUE(again.PassBegins);
    EXPECT_EQ(again.Item.Row, round.Next(3).Item.Row) << "asking again gives the same row";
    EXPECT_EQ(round.Passes(), 1);
    readAt(3);
    readAt(4);
    readAt(5); // device 1 still rests: a whole pass of device 0 alone
    EXPECT_EQ(round.Passes(), 2);
    // Due again: device 1 is read in its turn.
    readAt(5002);
    readAt(5003);
    EXPECT_EQ(read, (std::vector<std::pair<size_t, int>>{
                        {0, 1}, {0, 2}, {1, 5}, {0, 1}, {0, 2}, {0, 1}, {0, 2}, {1, 5}}));

    // Both rest: how long until the first is due.
    TPollRound both;
    both.Reset({{0, 1}, {1, 2}}, 2);
    both.Done(3000, 0);
    both.Done(1000, 0);
    const TPollRound::TNext wait = both.Next(400);
    EXPECT_FALSE(wait.Ready);
    EXPECT_EQ(wait.WaitMs, 600);
    EXPECT_TRUE(both.Resting(0, 400));
    // An answer wakes a device at once; the port's return wakes them all.
    both.Wake(0);
    EXPECT_TRUE(both.Next(400).Ready);
    EXPECT_EQ(both.Next(400).Item.Device, 0u);
    both.WakeAll();
    EXPECT_FALSE(both.Resting(1, 400));
    // A held device (being told again, or another device at its ID) stays passed over
    // whatever wakes the line, until let go; with every device held the round looks again
    // a second later.
    both.Hold(1, true);
    both.WakeAll();
    EXPECT_TRUE(both.Resting(1, 400));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(both.Next(400 + i).Ready);
        EXPECT_EQ(both.Next(400 + i).Item.Device, 0u);
        both.Done(0, 400 + i);
    }
    both.Hold(0, true);
    EXPECT_FALSE(both.Next(500).Ready);
    EXPECT_EQ(both.Next(500).WaitMs, 1000);
    both.Hold(1, false);
    ASSERT_TRUE(both.Next(500).Ready);
    EXPECT_EQ(both.Next(500).Item.Device, 1u);
}

TEST(PollRound, TicksChangingAndADeviceLeavingKeepThePlaceAndTheRests) {
    // Devices 0, 1, 2 with two rows each; device 2 rests.
    TPollRound round;
    round.Reset({{0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 1}, {2, 2}}, 3);
    round.Done(0, 0); // read (0,1)
    round.Done(0, 0); // read (0,2)
    round.Done(0, 0); // read (1,1): (1,2) is due
    EXPECT_EQ(round.Next(0).Item.Device, 1u);
    EXPECT_EQ(round.Next(0).Item.Row, 2);

    // The due row is unticked and one before it ticked: the round goes on after the
    // place it had reached, not from the start.
    round.Update({{0, 1}, {0, 2}, {0, 3}, {1, 1}, {2, 1}, {2, 2}}, 3);
    TPollRound::TNext n = round.Next(0);
    EXPECT_EQ(n.Item.Device, 2u);
    EXPECT_EQ(n.Item.Row, 1);
    EXPECT_EQ(round.Passes(), 0);

    // Device 2 is read and goes silent; device 1 then leaves the line: device 2 becomes
    // device 1 and keeps its rest.
    round.Done(4000, 10);
    round.Remove(1);
    EXPECT_TRUE(round.Resting(1, 100)) << "the rest moves with the device";
    EXPECT_FALSE(round.Resting(0, 100));
    n = round.Next(100);
    ASSERT_TRUE(n.Ready);
    EXPECT_EQ(n.Item.Device, 0u) << "the resting device is passed over";

    // The last rows unticked under the place: the pass ends, the next begins at the first.
    TPollRound tail;
    tail.Reset({{0, 1}, {0, 5}}, 1);
    tail.Done(0, 0);
    tail.Update({{0, 1}}, 1);
    n = tail.Next(0);
    EXPECT_TRUE(n.PassBegins);
    EXPECT_EQ(tail.Passes(), 1);
    // The device that was due leaves: the round goes on at the next one's first row.
    TPollRound leave;
    leave.Reset({{0, 1}, {1, 1}, {1, 2}, {2, 7}}, 3);
    leave.Done(0, 0);
    leave.Remove(1);
    EXPECT_EQ(leave.Next(0).Item.Device, 1u);
    EXPECT_EQ(leave.Next(0).Item.Row, 7);
}

TEST(DeviceRecheck, AnsweringAfterSilenceOrRefusingARowThatReadWellAsksAgain) {
    struct Read {
        int Row;
        bool Ok, Silent, Asks;
    };
    TRecheck r;
    for (const Read& read : {
             Read{1, true, false, false},  // a value: nothing to ask
             Read{2, false, false, false}, // a refusal of a row never read well: its own
             Read{1, false, true, false},  // silent
             Read{1, false, true, false},  // still silent
             Read{1, true, false, true},   // answers again: is it the same device?
             Read{1, true, false, false},
             Read{1, false, false, true},  // the row that read well is refused now
             Read{2, false, false, false},
         })
        EXPECT_EQ(r.Read(read.Row, read.Ok, read.Silent), read.Asks)
            << read.Row << " " << read.Ok << " " << read.Silent;
}

