#include "paramset/param_runner.h"

#include <algorithm>
#include <set>

#include "device/table_text.h"
#include "device/value_codec.h"
#include "journal/journal.h"
#include "paramset/set_compare.h"

namespace tunavox {

std::string CompareStateText(const TCompareRow& row) {
    switch (row.State) {
    case TCompareState::Same:
        return "совпадает";
    case TCompareState::Differs:
        return "различается";
    case TCompareState::ReadFailed:
        return row.Error;
    case TCompareState::NotInDescription:
        return "нет в описании";
    case TCompareState::TypeMismatch:
        return "тип не совпадает";
    case TCompareState::NoValueInFile:
        return "нет значения в файле";
    case TCompareState::NotReadable:
        return "не читается";
    case TCompareState::NoFactoryValue:
        return "нет заводского значения";
    case TCompareState::NotInOther:
        return "нет во втором наборе";
    case TCompareState::NotInFirst:
        return "нет в первом наборе";
    }
    return {};
}

std::string SettingsDifferenceText(int differing, int settings, int mismatched) {
    const std::string apart =
        mismatched > 0 ? "Не сравнимо: " + std::to_string(mismatched) + " (тип не совпадает)"
                       : std::string();
    if (differing == 0) return mismatched > 0 ? apart : "Различий в настройках нет";
    return "Различий в настройках: " + std::to_string(differing) + " из " +
           std::to_string(settings) + (apart.empty() ? "" : ". " + apart);
}

bool CountsAsSetting(const TCompareRow& row) {
    return row.Setting && row.State != TCompareState::NotInDescription &&
           row.State != TCompareState::TypeMismatch;
}

bool CountsAsDifference(const TCompareRow& row) {
    return CountsAsSetting(row) && row.State != TCompareState::Same &&
           row.State != TCompareState::NoFactoryValue;
}

TCompareCounts CountComparison(const std::vector<TCompareRow>& rows) {
    TCompareCounts c;
    for (const TCompareRow& row : rows) {
        if (CountsAsSetting(row)) {
            ++c.Settings;
            c.Differing += CountsAsDifference(row) ? 1 : 0;
        } else if (row.Setting && row.State == TCompareState::TypeMismatch) {
            ++c.Mismatched;
        } else if (!row.Setting) {
            ++c.ReadOnly;
            c.ReadOnlyDiffering +=
                row.State == TCompareState::Same || row.State == TCompareState::NoFactoryValue
                    ? 0
                    : 1;
        }
    }
    return c;
}

std::string RestoreRefusal(const TCompareRow& row) {
    if (row.Restorable) return {};
    if (row.State == TCompareState::Same || row.State == TCompareState::Differs)
        return "только для чтения";
    return CompareStateText(row);
}

std::vector<std::string> CompareWarnings(const TParamSet& set, const std::string& deviceName,
                                         const std::string& sign, uint32_t deviceId) {
    std::vector<std::string> out;
    if (set.Device != deviceName) {
        out.push_back("Файл сохранён для другого устройства: " + set.Device);
        // Another device's set names its own description: said whole, sign included.
        if (set.Sign != sign)
            out.push_back("Файл сохранён с другим описанием: " + set.DescriptionFile +
                          ", подпись " + (set.Sign.empty() ? "не указана" : set.Sign));
    } else if (set.Sign != sign) {
        out.push_back("Файл сохранён с другой версией описания: " + set.DescriptionFile);
    }
    if (set.DeviceId != deviceId)
        out.push_back("Файл сохранён для ID " + std::to_string(set.DeviceId) + ", сейчас ID " +
                      std::to_string(deviceId));
    return out;
}

TParamEntry EntryOfRead(const TReg& reg, bool failed, const std::string& errorInWords,
                        const TNameValueList* errorTexts) {
    TParamEntry e;
    e.Addr = reg.Addr;
    e.Type = reg.RegType;
    e.Name = NameText(reg);
    e.Failed = failed;
    e.Value = failed ? TValue::MakeNull() : reg.GetValue();
    e.Shown = failed ? errorInWords : ValueText(reg, errorTexts);
    if (const std::string problem = failed ? "" : SetValueProblem(e.Value, e.Type);
        !problem.empty()) {
        e.Failed = true;
        e.Value = TValue::MakeNull();
        e.Shown = "значение не записать в устройство: " + problem;
    }
    return e;
}

TParamRunner::TParamRunner(TRunnerContext context) : ctx_(std::move(context)) {}

TParamRunner::~TParamRunner() = default;

int TParamRunner::Confirmed() const {
    return static_cast<int>(
        std::count_if(Restored.begin(), Restored.end(),
                      [](const TRestoreOutcome& o) { return o.Error.empty(); }));
}

void TParamRunner::StartBackup(const std::vector<uint16_t>& only) {
    Set.Entries.clear();
    std::vector<size_t> rows;
    for (int r = 0; r < ctx_.Regs->Count(); ++r) {
        const TReg* reg = ctx_.Regs->Items(r);
        // W cannot be read, and a read of WOR writes it: neither is saved.
        if (reg->RegType != rtHeader && (reg->Io == ioR || reg->Io == ioRW) &&
            (only.empty() || std::find(only.begin(), only.end(), reg->Addr) != only.end()))
            rows.push_back(static_cast<size_t>(r));
    }
    Begin(Kind::Backup, std::move(rows));
}

void TParamRunner::StartCompare(const TParamSet& file, std::set<int> fresh) {
    Rows.clear();
    fresh_ = std::move(fresh);
    for (const TParamEntry& e : file.Entries) {
        TCompareRow row;
        row.File = e;
        row.Name = e.Name;
        for (int r = 0; r < ctx_.Regs->Count() && row.Row < 0; ++r) {
            const TReg* reg = ctx_.Regs->Items(r);
            if (reg->RegType != rtHeader && reg->Addr == e.Addr) row.Row = r;
        }
        row.FileText = EntryValueText(e, row.Row >= 0 ? ctx_.Regs->Items(row.Row) : nullptr);
        if (row.Row >= 0) {
            const TReg* reg = ctx_.Regs->Items(row.Row);
            row.Name = NameText(*reg);
            row.Service = reg->Admin;
            row.Setting = reg->Io != ioR;
            row.State = reg->RegType != e.Type               ? TCompareState::TypeMismatch
                        : reg->Io == ioW || reg->Io == ioWOR ? TCompareState::NotReadable
                        : e.Failed && file.Factory           ? TCompareState::NoFactoryValue
                        : e.Failed                           ? TCompareState::NoValueInFile
                                                             : TCompareState::ReadFailed;
            row.Restorable = row.State == TCompareState::ReadFailed && reg->Io == ioRW;
            if (row.State == TCompareState::ReadFailed) row.Error = "не считано";
        }
        Rows.push_back(std::move(row));
    }
    // Settings in table order, registers the description does not have after them in
    // file order, and the read-only rows apart at the end.
    std::stable_sort(Rows.begin(), Rows.end(), [](const TCompareRow& a, const TCompareRow& b) {
        return std::make_pair(!a.Setting, static_cast<unsigned>(a.Row)) <
               std::make_pair(!b.Setting, static_cast<unsigned>(b.Row));
    });
    std::vector<size_t> steps;
    for (size_t i = 0; i < Rows.size(); ++i)
        if (Rows[i].State == TCompareState::ReadFailed) steps.push_back(i);
    Begin(Kind::Compare, std::move(steps));
}

void TParamRunner::StartRestore() {
    Restored.clear();
    std::vector<size_t> steps;
    for (size_t i = 0; i < Rows.size(); ++i)
        if (Rows[i].Selected && Rows[i].Restorable) steps.push_back(i);
    Begin(Kind::Restore, std::move(steps));
}

void TParamRunner::Begin(Kind kind, std::vector<size_t> steps) {
    kind_ = kind;
    steps_ = std::move(steps);
    done_ = 0;
    cancelled_ = false;
    running_ = true;
    Next();
}

void TParamRunner::Next() {
    if (OnProgress) OnProgress(done_, Total());
    if (cancelled_ || done_ >= Total()) {
        running_ = false;
        if (OnFinished) OnFinished();
        return;
    }
    const size_t step = steps_[static_cast<size_t>(done_)];
    std::weak_ptr<char> alive = alive_;
    if (kind_ == Kind::Backup) {
        Read(static_cast<int>(step), [this, step](TAction* a) {
            const TReg& reg = *ctx_.Regs->Items(static_cast<int>(step));
            const bool failed = a->HasError();
            Set.Entries.push_back(EntryOfRead(
                reg, failed, failed ? ErrorTextInWords(a->Error(), ctx_.ErrorTexts) : "",
                ctx_.ErrorTexts));
            StepDone();
        });
    } else if (kind_ == Kind::Compare) {
        TCompareRow& row = Rows[step];
        const auto compared = [this, &row](const std::string& error) {
            const TReg& reg = *ctx_.Regs->Items(row.Row);
            if (!error.empty()) {
                row.DeviceText = ValueText(reg, ctx_.ErrorTexts);
                row.Error = ErrorTextInWords(error, ctx_.ErrorTexts);
            } else {
                Classify(row, reg);
                row.Restorable = reg.Io == ioRW;
                row.Selected =
                    row.Restorable && row.State == TCompareState::Differs && !row.Service;
            }
            StepDone();
        };
        // Read a moment ago by the caller: its value (or error) is the device's now.
        if (fresh_.count(row.Row)) return compared(ctx_.Regs->Items(row.Row)->GetLastError());
        Read(row.Row, [compared](TAction* a) { compared(a->Error()); });
    } else {
        TCompareRow& row = Rows[step];
        TReg* reg = ctx_.Regs->Items(row.Row);
        reg->SetBusy(true);
        reg->SetValue(row.File.Value, false, std::string());
        const std::string before = row.DeviceText;
        const auto told = [this, before](const TCompareRow& r, const std::string& outcome) {
            if (OnRestoredRow) OnRestoredRow(r, before, outcome);
        };
        ctx_.Queue(std::make_unique<TActionWriteReg>(
            ctx_.Canal, ctx_.DeviceId, reg, row.Row, [this, alive, step, told](TAction* w) {
                w->Reg->SetBusy(false);
                if (alive.expired()) return;
                if (w->HasError()) {
                    Restored.push_back({step, ErrorTextInWords(w->Error(), ctx_.ErrorTexts)});
                    told(Rows[step], Restored.back().Error);
                    StepDone();
                    return;
                }
                // The device took it: journalled now, checked next.
                told(Rows[step], kWritten);
                // Read back: the device must hold what was written.
                Read(Rows[step].Row, [this, step, told](TAction* r) {
                    TCompareRow& done = Rows[step];
                    const TReg& back = *ctx_.Regs->Items(done.Row);
                    std::string error, outcome = kConfirmed;
                    if (r->HasError()) {
                        done.DeviceText = ValueText(back, ctx_.ErrorTexts);
                        error = ErrorTextInWords(r->Error(), ctx_.ErrorTexts);
                        outcome = std::string(kWritten) + ", не проверено: " + error;
                    } else {
                        Classify(done, back);
                        if (done.State != TCompareState::Same) {
                            error = "значение не подтверждено";
                            outcome = KeptOtherOutcome(done.DeviceText);
                        }
                    }
                    Restored.push_back({step, error});
                    told(done, outcome);
                    StepDone();
                });
            }));
    }
}

void TParamRunner::Read(int row, std::function<void(TAction*)> done) {
    std::weak_ptr<char> alive = alive_;
    ctx_.Queue(std::make_unique<TActionReadReg>(ctx_.Canal, ctx_.DeviceId, ctx_.Regs->Items(row),
                                                row,
                                                [this, alive, done = std::move(done)](TAction* a) {
                                                    if (alive.expired()) return;
                                                    if (OnRow) OnRow(a->Node);
                                                    done(a);
                                                }));
}

void TParamRunner::StepDone() {
    ++done_;
    Next();
}

void TParamRunner::Classify(TCompareRow& row, const TReg& reg) const {
    const TValue device = reg.GetValue();
    row.DeviceText = ValueText(reg, ctx_.ErrorTexts);
    row.FileText = EntryValueText(row.File, &reg);
    row.State = SameValue(reg.RegType, row.File.Value, device) ? TCompareState::Same
                                                               : TCompareState::Differs;
    // Reals that differ in digits the table does not show: both with every digit.
    if (row.State == TCompareState::Differs && reg.RegType == rtFloat && !reg.Pass &&
        row.FileText == row.DeviceText) {
        row.FileText = ExactFloatText(row.File.Value);
        row.DeviceText = ExactFloatText(device);
    }
}

} // namespace tunavox
