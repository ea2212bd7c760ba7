#include "exchange.h"

#include "session.h"
#include "several_devices.h"
#include <algorithm>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "device/description.h"
#include "device/table_text.h"
#include "device/value_codec.h"
#include "engine/worker.h"
#include "export/table_export.h"
#include "link/canal.h"
#include "link/open_port.h"
#include "util/integer_text.h"
#include "util/program_folder.h"

namespace tunavox::cli {

bool SystemPorts(std::vector<std::string>& ports) {
    std::string list;
    if (!ListComPorts(list, false)) return false;
    ports.clear();
    for (size_t start = 0; start < list.size();) {
        const size_t end = std::min(list.find("\r\n", start), list.size());
        if (end > start) ports.push_back(list.substr(start, end - start));
        start = end + 2;
    }
    return true;
}

int Ports() {
    std::vector<std::string> ports;
    if (!SystemPorts(ports)) return Fail("не удалось прочитать список COM-портов");
    for (const std::string& port : ports)
        std::printf("%s\n", port.c_str());
    return 0;
}

int Read(const std::vector<std::string>& args) {
    Options o;
    std::string error;
    if (!ParseOptions(args, o, error)) return Fail(error);
    std::vector<uint16_t> wanted;
    if (!ParseAddresses(o.Rest, 0, wanted, error)) return Fail(error);
    if (o.Devices.size() > 1) {
        if (!o.Format.empty()) return Fail("--format: только для одного устройства");
        return ReadSeveral(o, wanted);
    }
    Session s;
    if (const int status = s.Start(o)) return status;
    for (uint16_t address : wanted)
        if (FindRow(s.Regs, address) < 0)
            return Fail("нет регистра с адресом " + DeviceErrorKey(address));
    for (int row = 0; row < s.Regs.Count(); ++row) {
        const TReg* reg = s.Regs.Items(row);
        // What "Считать все" reads: no headings, nothing write-only.
        if (reg->RegType == rtHeader || reg->Io == ioW) continue;
        if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), reg->Addr) == wanted.end())
            continue;
        s.Queue(row, false);
    }
    const int status = s.Finish();
    if (!o.Format.empty() && !s.Export(o)) return 1;
    return status;
}

int Write(const std::vector<std::string>& args) {
    Options o;
    std::string error;
    if (!ParseOptions(args, o, error)) return Fail(error);
    if (o.Rest.empty()) return Fail("write: укажите АДРЕС=ЗНАЧЕНИЕ");
    Session s;
    if (const int status = s.Start(o)) return status;
    std::vector<int> rows;
    std::map<int, std::string> before, written;
    std::map<int, TValue> wantedValue;
    for (const std::string& a : o.Rest) {
        const size_t eq = a.find('=');
        uint16_t address = 0;
        if (eq == std::string::npos || !ParseAddress(a.substr(0, eq), address))
            return Fail("ожидалось АДРЕС=ЗНАЧЕНИЕ: " + a);
        const int row = FindRow(s.Regs, address);
        if (row < 0) return Fail("нет регистра с адресом " + DeviceErrorKey(address));
        // As the table's editor: a named value's text first, then the text itself.
        TReg* reg = s.Regs.Items(row);
        before[row] = ValueBeforeWrite(*reg);
        if (!reg->SetValueFromText(a.substr(eq + 1), false))
            return Fail("значение не подходит к типу регистра: " + a);
        written[row] = reg->DisplayText();
        wantedValue[row] = reg->GetValue();
        rows.push_back(row);
    }
    for (int row : rows)
        s.Queue(row, true);
    s.Wait();
    // Each written register that can be read is read back: devices clamp what they
    // cannot take. A write-only one (a command) cannot be checked, and is no failure.
    std::map<int, std::string> outcome;
    for (int row : rows) {
        std::string& result = s.Result(row);
        const TReg& reg = *s.Regs.Items(row);
        if (!result.empty()) {
            outcome[row] = ErrorTextInWords(result, &s.ErrorTexts);
        } else if (reg.Io != ioRW) {
            outcome[row] = kWrittenUnreadable;
        } else if (o.Verify && !StopRequested()) {
            // On the disk before the read-back, so that a kill then cannot lose it.
            s.Journal(reg, before[row], written[row], kWritten, TJournalLine::Acknowledged);
            outcome[row] = kConfirmed;
            s.Queue(row, false);
        } else {
            outcome[row] = kWritten;
        }
    }
    if (o.Verify) s.Wait();
    for (int row : rows) {
        if (outcome[row] != kConfirmed) continue;
        TReg* reg = s.Regs.Items(row);
        std::string& result = s.Result(row);
        if (!result.empty()) {
            outcome[row] = std::string(kWritten) +
                           ", не проверено: " + ErrorTextInWords(result, &s.ErrorTexts);
        } else if (!(reg->GetValue() == wantedValue[row])) {
            result = "Устройство сохранило другое значение: " + reg->DisplayText();
            outcome[row] = KeptOtherOutcome(reg->DisplayText());
        }
    }
    for (int row : rows)
        s.Journal(*s.Regs.Items(row), before[row], written[row], outcome[row],
                  TJournalLine::Outcome);
    return s.Finish();
}

} // namespace tunavox::cli
