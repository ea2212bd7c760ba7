// The link as the faces show it: exchanges told apart, the link's state and each
// row's last success and failure, a lost port reopened, the journal of writes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <regex>

#include "device/description.h"
#include "engine/link_state.h"
#include "engine/reconnect.h"
#include "journal/journal.h"
#include "link/open_port.h"
#include "sim_rig.h"
#include "test_support.h"
#include "trend/exchange_stats.h"
#include "util/cp1251.h"
#include "util/time_text.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

const std::string kChp7 = std::string(TUNAVOX_DEVICES_DIR) + "/NastrChP7.xml";

// Runs f with the local time zone set to zone, then puts the old one back.
template <typename F> void InZone(const char* zone, F f) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", zone, 1);
    tzset();
    f();
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

std::chrono::system_clock::time_point Utc(int year, int month, int day, int hour) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    return std::chrono::system_clock::from_time_t(timegm(&t));
}

TJournalEntry Entry(const std::string& time, const std::string& device, const std::string& code) {
    return {time, "/dev/ttyUSB0", device,       "NastrX.xml", "0",       "2.0",
            code, "Уставка [°C]", "не считано", "12.5",       kConfirmed};
}

} // namespace

TEST(LinkState, ExchangesAreToldApart) {
    struct Case {
        std::string Error;
        int PortError;
        TLinkKind Kind;
        bool LinkFailure;
    };
    const Case cases[] = {
        {"", 0, TLinkKind::Ok, false},
        {std::string(1, '\x01'), 0, TLinkKind::DeviceError, false},
        {std::string(1, '\x7F'), 0, TLinkKind::DeviceError, false},
        {"Устройство не отвечает", 0, TLinkKind::NoAnswer, true},
        {"Некорректная CRC", 0, TLinkKind::Garbled, true},
        {"Получен некорректный ответ", 0, TLinkKind::Garbled, true},
        {"ошибка ввода-вывода", EIO, TLinkKind::PortLost, true},
        {"нет такого устройства или адреса", ENXIO, TLinkKind::PortLost, true},
        {"нет такого устройства", ENODEV, TLinkKind::PortLost, true},
        {"COM-порт закрыт", kPortClosedError, TLinkKind::PortClosed, false},
        {"отказано в доступе", EACCES, TLinkKind::PortError, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyExchange(c.Error, c.PortError), c.Kind) << c.Error;
        EXPECT_EQ(IsLinkFailure(c.Kind), c.LinkFailure) << c.Error;
    }
}

TEST(LinkState, ActionsCarryThePortsErrorWhenTheAdapterGoes) {
    SimRig rig(kChp7, 1);
    TActionReadReg ok(&rig.Canal, 0, rig.Reg(0x200), 0, nullptr);
    ok.Run();
    EXPECT_EQ(ClassifyExchange(ok.Error(), ok.PortError()), TLinkKind::Ok);
    rig.Sim->SetFaults([] {
        TSimFaults f;
        f.Silent = true;
        return f;
    }());
    TActionReadReg silent(&rig.Canal, 0, rig.Reg(0x200), 0, nullptr);
    silent.Run();
    EXPECT_EQ(silent.PortError(), 0);
    EXPECT_EQ(ClassifyExchange(silent.Error(), silent.PortError()), TLinkKind::NoAnswer);
    // The device side of the terminal ends, as when a USB adapter is pulled out.
    rig.Sim->Stop();
    TActionReadReg lost(&rig.Canal, 0, rig.Reg(0x200), 0, nullptr);
    lost.Run();
    EXPECT_EQ(ClassifyExchange(lost.Error(), lost.PortError()), TLinkKind::PortLost)
        << lost.Error() << " " << lost.PortError();
    rig.Canal.ComPort->Close();
    TActionReadReg closed(&rig.Canal, 0, rig.Reg(0x200), 0, nullptr);
    closed.Run();
    EXPECT_EQ(ClassifyExchange(closed.Error(), closed.PortError()), TLinkKind::PortClosed);
}

TEST(LinkState, TheMonitorFollowsTheLinkAndEachRow) {
    TLinkMonitor m;
    m.Reset(3);
    EXPECT_EQ(m.StateText(), "Порт закрыт");
    // Exchanges after the port was closed say nothing about the device.
    EXPECT_FALSE(m.Record(0, TLinkKind::NoAnswer, "Устройство не отвечает", 500));
    m.Opened();
    EXPECT_EQ(m.StateText(), "Порт открыт");
    EXPECT_TRUE(m.Record(0, TLinkKind::Ok, "", 1000));
    EXPECT_EQ(m.State(), TLinkState::Answering);
    EXPECT_EQ(m.StateText(), "Связь с устройством есть");
    EXPECT_EQ(m.LastGood(0), 1000);
    EXPECT_FALSE(m.IsStale(0));

    // The device falls silent: every value not confirmed since is stale.
    EXPECT_TRUE(m.Record(1, TLinkKind::NoAnswer, "Устройство не отвечает", 2000));
    EXPECT_EQ(m.StateText(), "Нет связи с устройством");
    EXPECT_EQ(m.DownSince(), 2000);
    EXPECT_TRUE(m.IsStale(0));
    EXPECT_TRUE(m.IsStale(1));
    EXPECT_EQ(m.RowError(1), "Устройство не отвечает");
    EXPECT_FALSE(m.Record(1, TLinkKind::Garbled, "Некорректная CRC", 2500));
    EXPECT_EQ(m.StateText(), "Нет связи с устройством: Некорректная CRC");
    EXPECT_EQ(m.DownSince(), 2000); // the outage began with the first failure

    // A device error shows the device is there; the row keeps its own error.
    EXPECT_TRUE(m.Record(2, TLinkKind::DeviceError, "параметр заблокирован", 3000));
    EXPECT_EQ(m.State(), TLinkState::Answering);
    // Answering again does not make a value true: only the row's own exchange does.
    EXPECT_TRUE(m.IsStale(0));
    EXPECT_EQ(m.StaleRows(), (std::vector<int>{0, 1, 2})); // a refusal confirms no value
    EXPECT_FALSE(m.Record(0, TLinkKind::Ok, "", 3050));
    EXPECT_FALSE(m.IsStale(0));
    EXPECT_EQ(m.RowError(2), "параметр заблокирован");
    EXPECT_EQ(m.RowError(1), "Некорректная CRC"); // until row 1 succeeds
    EXPECT_FALSE(m.Record(1, TLinkKind::Ok, "", 3100));
    EXPECT_EQ(m.RowError(1), "");
    m.SetRowError(1, "Устройство сохранило другое значение: 5");
    EXPECT_EQ(m.RowError(1), "Устройство сохранило другое значение: 5");

    // The adapter goes: lost until the port is opened again.
    EXPECT_TRUE(m.Record(0, TLinkKind::PortLost, "ошибка ввода-вывода", 4000));
    EXPECT_EQ(m.StateText(), "Адаптер отключён — ожидание подключения…");
    EXPECT_EQ(m.StateText("/dev/ttyUSB0"), "Адаптер отключён — ожидание подключения…");
    // A network port's line is its converter's, named by its address.
    EXPECT_EQ(m.StateText("rfc2217://10.0.0.5:4001"),
              "Нет связи с преобразователем rfc2217://10.0.0.5:4001 — переподключение…");
    EXPECT_EQ(m.Reason(), "ошибка ввода-вывода");
    EXPECT_TRUE(m.IsStale(1));
    EXPECT_FALSE(m.Record(2, TLinkKind::PortClosed, "COM-порт закрыт", 4100));
    EXPECT_FALSE(m.Record(2, TLinkKind::Ok, "", 4200));
    EXPECT_EQ(m.State(), TLinkState::Lost);
    EXPECT_EQ(m.RowError(2), ""); // the row itself succeeded
    m.Opened();
    EXPECT_FALSE(m.Down());
    // Reopened, the port may lead to another device: stale until read again.
    EXPECT_TRUE(m.IsStale(1));
    EXPECT_FALSE(m.IsStale(2)); // its own read at 4200 came after the loss
    EXPECT_TRUE(m.Record(2, TLinkKind::Ok, "", 5000));
    EXPECT_FALSE(m.Record(1, TLinkKind::Ok, "", 5100));
    EXPECT_FALSE(m.IsStale(1));
    EXPECT_TRUE(m.StaleRows().size() == 1 && m.StaleRows()[0] == 0);
    // A port the user closes and opens makes nothing stale that was not.
    m.Closed();
    m.Opened();
    EXPECT_FALSE(m.IsStale(1));

    // The row's hint line.
    EXPECT_EQ(m.LastGoodText(1).rfind("Последнее успешное чтение: ", 0), 0u);
    m.Reset(4);
    EXPECT_EQ(m.LastGoodText(3), "Успешных обменов не было");
    // Rows outside the table are no trouble.
    EXPECT_FALSE(m.IsStale(-1));
    EXPECT_FALSE(m.IsStale(99));
    EXPECT_EQ(m.RowError(99), "");
    m.Opened();
    EXPECT_TRUE(m.Record(-1, TLinkKind::Ok, "", 6000));
    m.Closed();
    EXPECT_EQ(m.StateText(), "Порт закрыт");
}

TEST(Reconnect, OneAttemptASecondUntilTheSameNameOpens) {
    tunavox::test::TempDir dir;
    const std::string link = dir.File("dev");
    TRegList regs;
    auto sim = std::make_unique<TDeviceSimulator>(regs, TSimOptions{});
    std::string error;
    ASSERT_FALSE(sim->StartPty(link, error).empty()) << error;
    TCanal canal;
    ASSERT_TRUE(OpenPort(canal, link, 1, false));
    sim->Stop(); // the adapter is pulled out: its name goes away

    TReconnect r;
    const auto t0 = TReconnect::Clock::now();
    r.Begin(canal, link, 1, false, t0);
    EXPECT_FALSE(canal.ComPort->IsOpen()); // released at once
    EXPECT_TRUE(r.Active());
    EXPECT_EQ(r.MsUntilNext(t0), 1000);
    EXPECT_FALSE(r.Attempt(canal, t0 + std::chrono::milliseconds(999)));
    EXPECT_EQ(r.Attempts(), 0); // not due: no attempt at all
    EXPECT_FALSE(r.Attempt(canal, t0 + std::chrono::milliseconds(1000)));
    EXPECT_EQ(r.Attempts(), 1);
    EXPECT_FALSE(r.Attempt(canal, t0 + std::chrono::milliseconds(1500)));
    EXPECT_EQ(r.Attempts(), 1);

    // Plugged in again under the same name.
    sim = std::make_unique<TDeviceSimulator>(regs, TSimOptions{});
    ASSERT_FALSE(sim->StartPty(link, error).empty()) << error;
    EXPECT_TRUE(r.Attempt(canal, t0 + std::chrono::milliseconds(2000)));
    EXPECT_EQ(r.Attempts(), 2);
    EXPECT_FALSE(r.Active());
    EXPECT_TRUE(canal.ComPort->IsOpen());
    EXPECT_EQ(r.Outage(t0 + std::chrono::milliseconds(2000)).count(), 2000);
    // The port keeps the description's settings, as after the first opening.
    EXPECT_EQ(canal.ComPort->Settings().Parity(), parNone);

    // Cancelled: no attempt opens anything.
    r.Begin(canal, link, 1, false, t0);
    r.Cancel();
    EXPECT_FALSE(r.Attempt(canal, t0 + std::chrono::seconds(5)));
    EXPECT_FALSE(canal.ComPort->IsOpen());
}

TEST(Journal, TimesCarryTheirOffsetFromUtc) {
    const std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [+-]\d\d:\d\d)");
    EXPECT_TRUE(std::regex_match(LocalTimeWithOffset(std::chrono::system_clock::now()), shape));
    InZone("Europe/Moscow", [] {
        EXPECT_EQ(LocalTimeWithOffset(Utc(2026, 1, 15, 9)), "2026-01-15 12:00:00.000 +03:00");
    });
    // Summer time ends: the clock goes back, the offset tells the two hours apart.
    InZone("America/New_York", [] {
        EXPECT_EQ(LocalTimeWithOffset(Utc(2026, 11, 1, 5)), "2026-11-01 01:00:00.000 -04:00");
        EXPECT_EQ(LocalTimeWithOffset(Utc(2026, 11, 1, 6)), "2026-11-01 01:00:00.000 -05:00");
    });
}

TEST(Journal, OneFilePerDayReadBackWithFilters) {
    tunavox::test::TempDir dir;
    TJournal j(dir.File("Journal"));
    std::vector<TJournalEntry> written = {
        Entry("2026-12-08 23:59:59.999 +03:00", "БУК-2", "0x10"),
        Entry("2026-12-09 00:00:00.001 +03:00", "ЧП-7", "0x302"),
        Entry("2026-12-09 10:00:00.000 +03:00", "БУК-2", "0x03"),
    };
    // Fields with the separator, quotes and line breaks survive.
    written[2].Written = "Котельная; \"№2\"\r\nкорпус Б";
    written[2].Outcome = KeptOtherOutcome("Котельная");
    std::string error;
    for (const TJournalEntry& e : written)
        ASSERT_TRUE(j.Append(e, error)) << error;
    const std::string day = ReadBytes(dir.File("Journal/2026-12-09.csv"));
    EXPECT_EQ(Cp1251ToUtf8(day).rfind("Время;Порт;Устройство;Файл описания;ID;Протокол;Код;"
                                      "Параметр;Было;Записано;Результат\r\n",
                                      0),
              0u);
    EXPECT_EQ(day.substr(day.size() - 2), "\r\n");
    EXPECT_NE(ReadBytes(dir.File("Journal/2026-12-08.csv")).find("0x10"), std::string::npos);

    struct Case {
        TJournalFilter Filter;
        std::vector<std::string> Codes;
    };
    const Case cases[] = {
        {{}, {"0x10", "0x302", "0x03"}},
        {{"2026-12-09", "", ""}, {"0x302", "0x03"}},
        {{"", "2026-12-08", ""}, {"0x10"}},
        {{"", "", "бук"}, {"0x10", "0x03"}},
        {{"2026-12-09", "2026-12-09", "чп"}, {"0x302"}},
        {{"2027-01-01", "", ""}, {}},
    };
    for (const Case& c : cases) {
        std::vector<TJournalEntry> got;
        ASSERT_TRUE(ReadJournal(dir.File("Journal"), c.Filter, got, error)) << error;
        std::vector<std::string> codes;
        for (const TJournalEntry& e : got)
            codes.push_back(e.Code);
        EXPECT_EQ(codes, c.Codes) << c.Filter.Since << c.Filter.Device;
    }
    std::vector<TJournalEntry> all;
    ASSERT_TRUE(ReadJournal(dir.File("Journal"), {}, all, error));
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[2].Written, written[2].Written);
    EXPECT_EQ(all[2].Outcome, "устройство сохранило Котельная");
    EXPECT_EQ(all[1].Device, "ЧП-7");
    const std::string html = JournalHtml(all, "Журнал <БУК>");
    EXPECT_NE(html.find("<title>Журнал &lt;БУК&gt;</title>"), std::string::npos);
    EXPECT_NE(html.find("<td>Котельная; &quot;№2&quot;"), std::string::npos);
    EXPECT_FALSE(ReadJournal(dir.File("missing"), {}, all, error));
}

TEST(Journal, ATornLineIsCutAndNothingButAJournalIsAppendedTo) {
    tunavox::test::TempDir dir;
    const std::string folder = dir.File("j");
    TJournal j(folder);
    std::string error;
    ASSERT_TRUE(j.Append(Entry("2026-12-09 10:00:00.000 +03:00", "БУК-2", "0x10"), error));
    const std::string file = folder + "/2026-12-09.csv";
    const std::string whole = ReadBytes(file);
    // A crash in the middle of the next line.
    WriteBytes(file, whole + Utf8ToCp1251("2026-12-09 10:00:01.000 +03:00;/dev/tty;БУ"));
    ASSERT_TRUE(j.Append(Entry("2026-12-09 10:00:02.000 +03:00", "БУК-2", "0x11"), error));
    EXPECT_TRUE(j.TornLineRemoved());
    EXPECT_EQ(ReadBytes(file),
              whole + JournalLine(Entry("2026-12-09 10:00:02.000 +03:00", "БУК-2", "0x11")));
    // A header cut short is a torn first line: the file starts again.
    const std::string other = folder + "/2026-12-10.csv";
    WriteBytes(other, JournalHeader().substr(0, 7));
    ASSERT_TRUE(j.Append(Entry("2026-12-10 08:00:00.000 +03:00", "БУК-2", "0x12"), error));
    EXPECT_EQ(ReadBytes(other).rfind(JournalHeader(), 0), 0u);
    // Someone else's file under the day's name is left alone.
    const std::string foreign = folder + "/2026-12-11.csv";
    WriteBytes(foreign, "a;b\r\n");
    EXPECT_FALSE(j.Append(Entry("2026-12-11 08:00:00.000 +03:00", "БУК-2", "0x13"), error));
    EXPECT_NE(error.find("файл не является журналом записей"), std::string::npos) << error;
    EXPECT_EQ(ReadBytes(foreign), "a;b\r\n");
    // A file where the folder should be: said, never thrown.
    WriteBytes(dir.File("blocked"), "x");
    TJournal blocked(dir.File("blocked"));
    EXPECT_FALSE(blocked.Append(Entry("2026-12-11 08:00:00.000 +03:00", "БУК-2", "0x13"), error));
    EXPECT_FALSE(error.empty());
    // Lines that are not entries are left out when reading.
    std::vector<TJournalEntry> got;
    ASSERT_TRUE(ReadJournal(folder, {}, got, error));
    EXPECT_EQ(got.size(), 3u);
}

TEST(Journal, EntriesNameTheWriteAndItsContext) {
    SimRig rig(kChp7, 1);
    TReg* reg = rig.Reg(0x302);
    EXPECT_EQ(ValueBeforeWrite(*reg), "не считано");
    ASSERT_EQ(rig.Read(0x302), "");
    EXPECT_EQ(ValueBeforeWrite(*reg), "50.00");
    TJournalContext c{"/dev/ttyUSB0", "ЧП-7", "NastrChP7.xml", 77, 0};
    const TJournalEntry e = JournalEntryFor(c, *reg, "50.00", "45.50", kConfirmed);
    EXPECT_EQ(e.Code, "0x302");
    EXPECT_EQ(e.Name, "Заданная частота [Гц]");
    EXPECT_EQ(e.DeviceId, "77");
    EXPECT_EQ(e.Version, "1.0");
    TJournalEntry back;
    const std::string line = JournalLine(e);
    ASSERT_TRUE(ParseJournalLine(line.substr(0, line.size() - 2), back));
    EXPECT_EQ(back.Outcome, "записано и подтверждено");
    EXPECT_EQ(back.Port, "/dev/ttyUSB0");
}

TEST(ExchangeStats, OutagesAreCounted) {
    TExchangeStats s;
    s.Record("");
    EXPECT_EQ(TExchangeStats::Text(s.Take()).find("обрывов"), std::string::npos);
    s.RecordOutage(std::chrono::milliseconds(2400));
    s.RecordOutage(std::chrono::milliseconds(1200));
    const auto snap = s.Take();
    EXPECT_NE(TExchangeStats::Text(snap).find("ошибок: 0, обрывов связи: 2, "), std::string::npos);
    EXPECT_EQ(TExchangeStats::Hint(snap), "Связь терялась: 2 раза, всего 4 с");
    s.Reset();
    EXPECT_EQ(s.Take().Outages, 0u);
}

TEST(ExchangeStats, EachDeviceCountedApartAndNamedOnlyWhenThereAreSeveral) {
    TExchangeStats s;
    const auto at = TExchangeStats::Clock::now();
    s.Record("", at, 3);
    EXPECT_EQ(TExchangeStats::DevicesText(s.Take(at)), "") << "one device: the totals say it";
    s.Record("\x04", at, 17);
    s.Record("Устройство не отвечает", at, 17);
    s.Record("", at, 3);
    const auto snap = s.Take(at);
    EXPECT_EQ(snap.Done, 4u);
    EXPECT_EQ(snap.Failed, 2u);
    EXPECT_EQ(TExchangeStats::DevicesText(snap),
              "ID 3: обмен 2, ошибок 0\nID 17: обмен 2, ошибок 2");
    s.Reset();
    EXPECT_TRUE(s.Take().Devices.empty());
}

TEST(Journal, AWriteIsOnRecordBeforeItsReadBackAndTheReadBackCompletesIt) {
    TempDir dir;
    const std::string folder = dir.File("Journal");
    std::string error;
    TJournalEntry first = Entry("2026-12-09 10:00:00.000 +03:00", "ЧП-7", "0x302");
    TJournalEntry second = Entry("2026-12-09 10:00:01.000 +03:00", "ЧП-7", "0x304");
    {
        TJournal j(folder);
        // Acknowledged, then killed during the read-back: "записано" stays on record.
        ASSERT_TRUE(j.Append(first, error, TJournalLine::Acknowledged)) << error;
        ASSERT_TRUE(j.Append(second, error, TJournalLine::Acknowledged)) << error;
        std::vector<TJournalEntry> got;
        ASSERT_TRUE(ReadJournal(folder, {}, got, error)) << error;
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].Outcome, kWritten);
        EXPECT_EQ(got[1].Outcome, kWritten);
        // The read-backs finish out of order and later: each completes its own write.
        TJournalEntry kept = second;
        kept.Time = "2026-12-09 10:00:05.000 +03:00";
        kept.Outcome = "устройство сохранило 7";
        ASSERT_TRUE(j.Append(kept, error, TJournalLine::Outcome)) << error;
        TJournalEntry confirmed = first;
        confirmed.Time = "2026-12-09 10:00:06.000 +03:00";
        confirmed.Outcome = kConfirmed;
        ASSERT_TRUE(j.Append(confirmed, error, TJournalLine::Outcome)) << error;
        // An outcome with no acknowledged write before it (a refused write) is its own.
        TJournalEntry refused = Entry("2026-12-09 10:00:07.000 +03:00", "ЧП-7", "0x302");
        refused.Outcome = "отказано в записи";
        ASSERT_TRUE(j.Append(refused, error, TJournalLine::Outcome)) << error;
    }
    std::vector<TJournalEntry> got;
    ASSERT_TRUE(ReadJournal(folder, {}, got, error)) << error;
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].Code, "0x302");
    EXPECT_EQ(got[0].Time, first.Time);
    EXPECT_EQ(got[0].Outcome, kConfirmed);
    EXPECT_EQ(got[1].Code, "0x304");
    EXPECT_EQ(got[1].Outcome, "устройство сохранило 7");
    EXPECT_EQ(got[2].Outcome, "отказано в записи");
    const std::string bytes = ReadBytes(folder + "/2026-12-09.csv");
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 6); // header, 2 + 2 + 1 lines
}

TEST(Journal, PasswordsKeepNoLengthAndBytesWithoutALetterAreEscaped) {
    TempDir dir;
    const std::string path = WriteSignedDescription(
        dir, "NastrP.xml",
        Description("    <REG addr=\"1\" type=\"Str\" io=\"RW\" pass=\"1\"><name>p</name></REG>\r\n"
                    "    <REG addr=\"2\" type=\"Str\" io=\"RW\"><name>s</name></REG>\r\n"));
    TRegList regs;
    TNameValueList errors;
    TDescription desc;
    ASSERT_EQ(LoadDescription(path, regs, errors, desc, "./"), "");
    const TJournalContext c{"/dev/ttyUSB0", "X", "NastrP.xml", 0, 1};
    struct Case {
        std::string Before, Written, Outcome;
        std::string WantBefore, WantOutcome;
    };
    const Case cases[] = {
        {"***", "*****", kConfirmed, kPasswordMask, kConfirmed},
        {kNotRead, "*", kWritten, kNotRead, kWritten},
        {"**", "***********", KeptOtherOutcome("**"), kPasswordMask,
         KeptOtherOutcome(kPasswordMask)},
    };
    for (const Case& k : cases) {
        const TJournalEntry e = JournalEntryFor(c, *regs.Items(0), k.Before, k.Written, k.Outcome);
        EXPECT_EQ(e.Before, k.WantBefore);
        EXPECT_EQ(e.Written, kPasswordMask);
        EXPECT_EQ(e.Outcome, k.WantOutcome);
    }
    // A device's byte 0x98 (U+0098) is no letter of Windows-1251: written as \x98.
    const std::string device = Cp1251ToUtf8(std::string("a\x98z\x01", 4));
    const TJournalEntry e = JournalEntryFor(c, *regs.Items(1), device, "b", kConfirmed);
    const std::string line = JournalLine(e);
    EXPECT_EQ(line.find('\x98'), std::string::npos);
    EXPECT_NE(line.find(";a\\x98z\\x01;b;"), std::string::npos) << line;
}

TEST(TimeText, DatesOfTheCalendarOnly) {
    const std::pair<const char*, bool> cases[] = {
        {"2026-12-10", true},  {"2024-02-29", true},  {"2000-02-29", true},  {"2026-02-30", false},
        {"2026-13-01", false}, {"2025-02-29", false}, {"1900-02-29", false}, {"2026-00-10", false},
        {"2026-01-00", false}, {"2026-04-31", false}, {"2026-1-10", false},  {"вчера", false},
        {"2026-12-1x", false}, {"", false},
    };
    for (const auto& [text, ok] : cases)
        EXPECT_EQ(IsDateText(text), ok) << text;
}
