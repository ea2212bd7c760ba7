// tunavox-cli diff and set: parameter sets away from the device.
#include <cstdio>

#include "device/value_codec.h"
#include "paramset/param_set.h"
#include "paramset/set_compare.h"
#include "paramset_commands.h"
#include "session.h"
#include "util/program_folder.h"
#include "util/time_text.h"

namespace tunavox::cli {
namespace {

// The description alone, no port; 0 or the exit status with the message printed.
int LoadAlone(const Options& o, TRegList& regs, TNameValueList& errors, TDescription& desc) {
    const std::string error = LoadDescription(o.Desc, regs, errors, desc, ProgramFolder());
    if (error.empty()) return 0;
    std::fprintf(stderr, "%s: %s\n", o.Desc.c_str(), error.c_str());
    return kUsageError;
}

bool ReadSet(const std::string& path, TParamSet& set) {
    std::string error;
    if (ReadParamSetFile(path, set, error)) return true;
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
}

} // namespace

int Diff(const std::vector<std::string>& args) {
    Options o;
    std::string error;
    if (!ParseOptions(args, o, error, false, false)) return Fail(error);
    const size_t files = o.Defaults ? 1 : 2;
    if (o.Rest.size() != files)
        return Fail(o.Defaults ? "diff --defaults: нужен один файл параметров"
                               : "diff: нужны два файла параметров");
    TRegList regs;
    TNameValueList errors;
    TDescription desc;
    if (const int status = LoadAlone(o, regs, errors, desc)) return status;
    TParamSet first, second;
    if (!ReadSet(o.Rest[0], first)) return kUsageError;
    if (o.Defaults) {
        second = FactorySet(regs, desc.Name, desc.FileName, desc.Sign);
        if (!HasFactoryValues(second)) return Fail(kNoFactoryValues);
        for (const std::string& w : CompareWarnings(first, desc.Name, desc.Sign, first.DeviceId))
            std::fprintf(stderr, "Внимание: %s\n", w.c_str());
    } else {
        if (!ReadSet(o.Rest[1], second)) return kUsageError;
        for (const std::string& w : SetHeaderWarnings(first, second))
            std::fprintf(stderr, "Внимание: %s\n", w.c_str());
    }
    return PrintComparison(CompareSets(regs, first, second), false);
}

int Set(const std::vector<std::string>& args) {
    Options o;
    std::string error;
    if (!ParseOptions(args, o, error, false, false)) return Fail(error);
    if (o.Rest.size() < 2) return Fail("set: укажите файл параметров и АДРЕС=ЗНАЧЕНИЕ");
    TRegList regs;
    TNameValueList errors;
    TDescription desc;
    if (const int status = LoadAlone(o, regs, errors, desc)) return status;
    TParamSet set;
    if (!ReadSet(o.Rest[0], set)) return kUsageError;
    // Every change is checked before the file is touched: all or nothing.
    for (size_t i = 1; i < o.Rest.size(); ++i) {
        const std::string& a = o.Rest[i];
        const size_t eq = a.find('=');
        uint16_t address = 0;
        if (eq == std::string::npos || !ParseAddress(a.substr(0, eq), address))
            return Fail("ожидалось АДРЕС=ЗНАЧЕНИЕ: " + a);
        const int row = FindRow(regs, address);
        if (row < 0) return Fail("нет регистра с адресом " + DeviceErrorKey(address));
        TReg* reg = regs.Items(row);
        TParamEntry* entry = nullptr;
        for (TParamEntry& e : set.Entries)
            if (e.Addr == address) entry = &e;
        if (!entry) return Fail("в наборе нет регистра " + DeviceErrorKey(address));
        if (entry->Type != reg->RegType)
            return Fail("тип регистра " + DeviceErrorKey(address) +
                        " в наборе не совпадает с описанием");
        if (reg->Io != ioRW)
            return Fail("регистр " + DeviceErrorKey(address) + " не записывается в устройство");
        // The table editor's checks: named values, the type's range, Windows-1251 text.
        if (!reg->SetValueFromText(a.substr(eq + 1), false))
            return Fail("значение не подходит к регистру: " + a);
        const std::string problem = SetValueProblem(reg->GetValue(), reg->RegType);
        if (!problem.empty()) return Fail("значение не записать в устройство: " + problem);
        entry->Failed = false;
        entry->Value = reg->GetValue();
        entry->Shown = reg->DisplayText();
    }
    set.Edited = LocalTimeText(std::chrono::system_clock::now(), false);
    if (!WriteParamSetFile(o.Rest[0], set, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kUsageError;
    }
    return 0;
}

} // namespace tunavox::cli
