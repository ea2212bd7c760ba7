// The window's parameter sets (save, compare, restore) on the worker.
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <QProgressDialog>
#include <chrono>

#include "app/sets_face.h"

#include "app/main_window.h"
#include "device/value_codec.h"
#include "paramset/set_compare.h"
#include "ui/compare_dialog.h"
#include "ui/file_dialogs.h"
#include "ui/message_box.h"
#include "util/plural.h"
#include "util/time_text.h"

namespace tunavox {

TSetsFace::TSetsFace(TfMain& window, QMenu* file) : QObject(&window), w_(window) {
    miOpenSet = Named(file->addAction(QStringLiteral("Открыть набор параметров…")), "miOpenSet");
    miSaveParams = Named(file->addAction(QStringLiteral("Сохранить параметры…")), "miSaveParams");
    miSaveSelected =
        Named(file->addAction(QStringLiteral("Сохранить выбранные параметры…")), "miSaveSelected");
    miCompareParams =
        Named(file->addAction(QStringLiteral("Сравнить с файлом параметров…")), "miCompareParams");
    miCompareFactory = Named(file->addAction(QStringLiteral("Сравнить с заводскими значениями")),
                             "miCompareFactory");
    miCompareSets = Named(file->addAction(QStringLiteral("Сравнить два набора…")), "miCompareSets");
    connect(miSaveParams, &QAction::triggered, this, [this] { miSaveParamsClick(); });
    connect(miOpenSet, &QAction::triggered, this, [this] {
        const QString path = ChooseParamSetFile(&w_, QStringLiteral("Открыть набор параметров"),
                                                "OpenSetDialog", false);
        if (!path.isEmpty()) OpenSetFile(path);
    });
    connect(miSaveSelected, &QAction::triggered, this, [this] { miSaveParamsClick(true); });
    connect(miCompareFactory, &QAction::triggered, this, [this] { CompareWithFactory(); });
    connect(miCompareSets, &QAction::triggered, this, [this] {
        QStringList files;
        for (const QString& title : {QStringLiteral("Первый набор (в него записываются изменения)"),
                                     QStringLiteral("Второй набор")}) {
            files << ChooseParamSetFile(&w_, title, "OpenSetDialog", false);
            if (files.last().isEmpty()) return;
        }
        CompareTwoSets(files[0], files[1]);
    });
    connect(miCompareParams, &QAction::triggered, this, [this] { miCompareParamsClick(); });
}

TParamRunner* TSetsFace::ParamRunner() const {
    return w_.Dev().ParamRunner.get();
}

void TSetsFace::SetServiceMode(bool on) {
    if (compareDialog_) compareDialog_->SetServiceMode(on);
}

bool TSetsFace::ParamSetAllowed() {
    if (w_.Dev().ParamRunner && w_.Dev().ParamRunner->Running()) {
        w_.ShowStatus(QStringLiteral("Дождитесь окончания работы с параметрами"), true,
                      w_.NormalStatusColor());
        return false;
    }
    if (w_.PortOpen()) return true;
    w_.ShowError(QStringLiteral("Для работы с параметрами откройте COM-порт"));
    return false;
}

TParamRunner& TSetsFace::NewParamRunner() {
    // A comparison dialog works on the runner it came from: it goes with it.
    delete compareDialog_.data();
    TRunnerContext c;
    c.Canal = w_.Line().Canal.get();
    c.Regs = w_.Dev().Regs.get();
    c.ErrorTexts = w_.Dev().ErrorTexts.get();
    c.DeviceId = w_.Dev().Id;
    c.Queue = [this](std::unique_ptr<TAction> a) { w_.Line().Worker->AddAction(std::move(a)); };
    w_.Dev().ParamRunner = std::make_unique<TParamRunner>(std::move(c));
    w_.Dev().ParamRunner->OnRow = [this](int row) { w_.vstList->Model()->RefreshRow(row); };
    w_.Dev().ParamRunner->OnRestoredRow = [this](const TCompareRow& row, const std::string& before,
                                                 const std::string& outcome) {
        w_.LinkFace().JournalWrite(*w_.Dev().Regs->Items(row.Row), before, row.FileText, outcome,
                               outcome == kWritten ? TJournalLine::Acknowledged
                                                   : TJournalLine::Outcome);
    };
    return *w_.Dev().ParamRunner;
}

QProgressDialog* TSetsFace::ParamProgress(const QString& label) {
    auto* progress = new QProgressDialog(label, QStringLiteral("Отмена"), 0, 1, &w_);
    progress->setObjectName(QStringLiteral("ParamProgress"));
    progress->setWindowTitle(w_.windowTitle());
    // Not modal: a modal progress dialog runs the event loop inside setValue, which
    // would hand the next completion to the runner while it is still in the last one.
    progress->setWindowModality(Qt::NonModal);
    progress->setMinimumDuration(0);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    TParamRunner* runner = w_.Dev().ParamRunner.get();
    connect(progress, &QProgressDialog::canceled, this, [runner] { runner->Cancel(); });
    runner->OnProgress = [progress](int done, int total) {
        progress->setMaximum(std::max(total, 1));
        progress->setValue(done);
    };
    progress->show();
    return progress;
}

void TSetsFace::CloseParamProgress(QPointer<QProgressDialog>& progress) {
    if (!progress) return;
    // Closing a progress dialog says "canceled": not once the work is over.
    QObject::disconnect(progress, &QProgressDialog::canceled, nullptr, nullptr);
    progress->close(); // deletes it
    progress = nullptr;
}

std::vector<uint16_t> TSetsFace::ChosenAddresses() const {
    std::vector<uint16_t> out;
    const auto take = [&](int row) {
        const TReg* reg = w_.vstList->Model()->Reg(row);
        if (reg && reg->RegType != rtHeader && (reg->Io == ioR || reg->Io == ioRW) &&
            std::find(out.begin(), out.end(), reg->Addr) == out.end())
            out.push_back(reg->Addr);
    };
    for (const QModelIndex& i : w_.vstList->selectionModel()->selectedRows())
        take(i.row());
    if (out.empty())
        for (int r = 0; r < w_.vstList->Model()->rowCount(); ++r)
            if (w_.vstList->Model()->CheckState(r) == Qt::Checked) take(r);
    return out;
}

void TSetsFace::miSaveParamsClick(bool selectedOnly) {
    if (!ParamSetAllowed()) return;
    const std::vector<uint16_t> only = selectedOnly ? ChosenAddresses() : std::vector<uint16_t>{};
    if (selectedOnly && only.empty()) {
        w_.ShowError(QStringLiteral("Выберите или отметьте параметры для сохранения"));
        return;
    }
    QString name =
        QString::fromStdString(w_.Dev().Desc.Name.empty() ? "Параметры" : w_.Dev().Desc.Name) +
        QLatin1Char('_') +
        QString::fromStdString(LocalTimeText(std::chrono::system_clock::now(), false));
    for (QChar& c : name)
        if (QStringLiteral("\\/:*?\"<>| ").contains(c)) c = QLatin1Char('_');
    const QString path = ChooseParamSetFile(&w_, QStringLiteral("Сохранить параметры"),
                                            "SaveParamsDialog", true, name + ".params");
    if (!path.isEmpty()) SaveParameters(path, only);
}

void TSetsFace::SaveParameters(const QString& path, const std::vector<uint16_t>& only) {
    if (!ParamSetAllowed()) return;
    // Before the device is read: the backup must have somewhere to go.
    std::string error;
    const std::string descPath = w_.Dev().Entry >= 0
                                     ? w_.Catalogue()[static_cast<size_t>(w_.Dev().Entry)].Path
                                     : std::string();
    if (!CheckParamSetTarget(path.toStdString(), descPath, error)) {
        ShowWarning(&w_, QString::fromStdString(error));
        return;
    }
    TParamRunner& runner = NewParamRunner();
    QPointer<QProgressDialog> progress = ParamProgress(QStringLiteral("Сохранение параметров…"));
    // The file is written before the progress window goes: hiding a window may keep
    // this thread waiting on the window system (Wine without a window manager waits
    // two seconds), and the set must not wait for that. Messages close it first.
    runner.OnFinished = [this, &runner, progress, path]() mutable {
        if (runner.Cancelled()) {
            CloseParamProgress(progress);
            w_.ShowError(QStringLiteral("Сохранение параметров отменено, файл не записан"));
            return;
        }
        TParamSet& set = runner.Set;
        const int failed = set.FailedCount();
        const int total = static_cast<int>(set.Entries.size());
        if (failed > 0 && failed == total) {
            // Nothing was read: a good set already there must not give way to this one.
            CloseParamProgress(progress);
            w_.ShowError(QStringLiteral("Ни один параметр не считан, файл не записан"));
            ShowWarning(&w_,
                        QStringLiteral("Ни один параметр не считан, файл %1 не записан").arg(path));
            return;
        }
        const bool askToReplace = failed > 0 && QFileInfo::exists(path);
        if (askToReplace) CloseParamProgress(progress);
        if (askToReplace &&
            MessageBoxWithCaptions(
                &w_,
                QStringLiteral(
                    "Не считано параметров: %1 из %2.\nЗаменить файл %3 неполным набором?")
                    .arg(failed)
                    .arg(total)
                    .arg(path),
                QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
                {QStringLiteral("Заменить"), QStringLiteral("Не заменять")}) != QMessageBox::Yes) {
            w_.ShowError(QStringLiteral("Файл параметров не заменён"));
            return;
        }
        set.Device = w_.Dev().Desc.Name;
        set.DescriptionFile = w_.Dev().Desc.FileName;
        set.Sign = w_.Dev().Desc.Sign;
        set.DeviceId = static_cast<uint32_t>(w_.Dev().Id);
        set.Protocol = w_.miVer1->isChecked() ? 0 : 1;
        set.Saved = LocalTimeText(std::chrono::system_clock::now(), false);
        set.Program = ProgramVersion();
        std::string error;
        if (!WriteParamSetFile(path.toStdString(), set, error)) {
            CloseParamProgress(progress);
            ShowWarning(&w_, QString::fromStdString(error));
            return;
        }
        const QString text = QStringLiteral("Параметры сохранены: %1, файл %2")
                                 .arg(total - failed)
                                 .arg(NativeName(path));
        if (failed == 0)
            w_.ShowStatus(text, true, w_.NormalStatusColor());
        else
            w_.ShowError(text + QStringLiteral(", ошибок чтения: %1").arg(failed));
        CloseParamProgress(progress);
    };
    runner.StartBackup(only);
}

void TSetsFace::miCompareParamsClick() {
    if (!ParamSetAllowed()) return;
    const QString path = ChooseParamSetFile(&w_, QStringLiteral("Сравнить с файлом параметров"),
                                            "OpenParamsDialog", false);
    if (!path.isEmpty()) CompareWithFile(path);
}

void TSetsFace::CompareWithFile(const QString& path, bool restore) {
    if (!ParamSetAllowed()) return;
    auto set = std::make_shared<TParamSet>();
    std::string error;
    if (!ReadParamSetFile(path.toStdString(), *set, error)) {
        ShowWarning(&w_, QString::fromStdString(error));
        return;
    }
    CompareWithSet(set, path, restore);
}

void TSetsFace::OpenSetFile(const QString& path) {
    TParamSet set;
    std::string error;
    if (!ReadParamSetFile(path.toStdString(), set, error)) {
        ShowWarning(&w_, QString::fromStdString(error));
        return;
    }
    const std::string descPath = w_.Dev().Entry >= 0
                                     ? w_.Catalogue()[static_cast<size_t>(w_.Dev().Entry)].Path
                                     : std::string();
    auto* window = new TSetWindow(set, path, *w_.Dev().Regs, w_.Dev().ErrorTexts.get(),
                                  w_.Dev().Desc, descPath, &w_);
    window->setAttribute(Qt::WA_DeleteOnClose);
    connect(window, &TSetWindow::FactoryCompareRequested, this,
            [this, window] { CompareTwoSets(window->Path(), QString()); });
    setWindow_ = window;
    window->show();
}

void TSetsFace::CompareTwoSets(const QString& first, const QString& second) {
    auto a = std::make_shared<TParamSet>();
    auto b = std::make_shared<TParamSet>();
    std::string error;
    // Without a second file: the description's factory values.
    if (second.isEmpty()) {
        *b = FactorySet(*w_.Dev().Regs, w_.Dev().Desc.Name, w_.Dev().Desc.FileName,
                        w_.Dev().Desc.Sign);
        if (!HasFactoryValues(*b)) {
            ShowWarning(&w_, QString::fromUtf8(kNoFactoryValues));
            return;
        }
    }
    if (!ReadParamSetFile(first.toStdString(), *a, error) ||
        (!second.isEmpty() && !ReadParamSetFile(second.toStdString(), *b, error))) {
        ShowWarning(&w_, QString::fromStdString(error));
        return;
    }
    TParamRunner& runner = NewParamRunner();
    // The first file is the target: a row may take the second's value when the
    // description lets it be written and the second has one.
    const auto classify = [this, a, b](TParamRunner& r) {
        r.Rows = CompareSets(*w_.Dev().Regs, *a, *b);
        for (TCompareRow& row : r.Rows) {
            const TReg* reg = row.Row >= 0 ? w_.Dev().Regs->Items(row.Row) : nullptr;
            const bool source =
                std::any_of(b->Entries.begin(), b->Entries.end(), [&](const TParamEntry& e) {
                    return e.Addr == row.File.Addr && !e.Failed;
                });
            row.Restorable =
                reg && reg->Io == ioRW && source &&
                (row.State == TCompareState::Differs || row.State == TCompareState::NoValueInFile);
            row.Selected = row.Restorable && !row.Service;
        }
    };
    classify(runner);
    QStringList warnings;
    for (const std::string& w :
         b->Factory ? CompareWarnings(*a, w_.Dev().Desc.Name, w_.Dev().Desc.Sign, a->DeviceId)
                    : SetHeaderWarnings(*a, *b))
        warnings << QString::fromStdString(w);
    auto* dialog = new TCompareDialog(runner, *a, first, warnings, &w_);
    dialog->SetFileTarget(QFileInfo(first).fileName(),
                          b->Factory ? QStringLiteral("Заводское значение")
                                     : QFileInfo(second).fileName(),
                          b->Factory);
    dialog->SetServiceMode(w_.ServiceMode);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    compareDialog_ = dialog;
    connect(dialog, &TCompareDialog::ServiceModeRequested, this,
            [this] { w_.ToggleServiceMode(); });
    connect(dialog, &TCompareDialog::RestoreRequested, this,
            [this, dialog, &runner, a, b, first, classify] {
                if (!dialog->ConfirmWrite()) return;
                TParamSet target = *a;
                int written = 0;
                for (const TCompareRow& row : runner.Rows) {
                    if (!row.Selected || !row.Restorable) continue;
                    const auto from =
                        std::find_if(b->Entries.begin(), b->Entries.end(),
                                     [&](const TParamEntry& e) { return e.Addr == row.File.Addr; });
                    for (TParamEntry& e : target.Entries)
                        if (e.Addr == row.File.Addr && from != b->Entries.end()) {
                            e = *from;
                            ++written;
                        }
                }
                target.Edited = LocalTimeText(std::chrono::system_clock::now(), false);
                std::string why;
                if (!WriteParamSetFile(first.toStdString(), target, why)) {
                    ShowWarning(dialog, QString::fromStdString(why));
                    return;
                }
                *a = target;
                classify(runner);
                dialog->Refresh();
                w_.ShowStatus(QStringLiteral("Записано в файл %1: %2")
                                  .arg(QFileInfo(first).fileName(),
                                       QString::fromStdString(ParametersText(written))),
                              true, w_.NormalStatusColor());
            });
    dialog->show();
}

void TSetsFace::CompareWithFactory() {
    if (!ParamSetAllowed()) return;
    auto factory = std::make_shared<TParamSet>(
        FactorySet(*w_.Dev().Regs, w_.Dev().Desc.Name, w_.Dev().Desc.FileName, w_.Dev().Desc.Sign));
    if (!HasFactoryValues(*factory)) {
        ShowWarning(&w_, QString::fromUtf8(kNoFactoryValues));
        return;
    }
    CompareWithSet(factory, QString());
}

void TSetsFace::CompareWithSet(std::shared_ptr<TParamSet> set, const QString& path,
                               bool restore) {
    TParamRunner& runner = NewParamRunner();
    QPointer<QProgressDialog> progress =
        ParamProgress(QStringLiteral("Чтение параметров устройства…"));
    // The comparison is on the screen before the progress window goes (see the save).
    runner.OnFinished = [this, &runner, progress, set, path, restore]() mutable {
        QStringList warnings;
        if (!set->Factory)
            for (const std::string& w :
                 CompareWarnings(*set, w_.Dev().Desc.Name, w_.Dev().Desc.Sign,
                                 static_cast<uint32_t>(w_.Dev().Id)))
                warnings << QString::fromStdString(w);
        if (runner.Cancelled())
            warnings << QStringLiteral("Чтение прервано: не все значения считаны");
        auto* dialog = new TCompareDialog(runner, *set, path, warnings, &w_);
        dialog->SetServiceMode(w_.ServiceMode);
        if (!set->Factory && (set->Device != w_.Dev().Desc.Name ||
                              set->DeviceId != static_cast<uint32_t>(w_.Dev().Id)))
            dialog->SetOtherDevice(QStringLiteral("%1, ID %2; сейчас %3, ID %4")
                                       .arg(QString::fromStdString(set->Device))
                                       .arg(set->DeviceId)
                                       .arg(QString::fromStdString(w_.Dev().Desc.Name))
                                       .arg(static_cast<uint32_t>(w_.Dev().Id)));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        compareDialog_ = dialog;
        connect(dialog, &TCompareDialog::RestoreRequested, this, [this] { RestoreSelected(); });
        connect(dialog, &TCompareDialog::ServiceModeRequested, this,
                [this] { w_.ToggleServiceMode(); });
        connect(dialog, &TCompareDialog::CancelRequested, this, [&runner] { runner.Cancel(); });
        dialog->show();
        CloseParamProgress(progress);
        dialog->activateWindow(); // not whatever the progress window hands its turn to
        // The rows that differ are offered for writing at once, with the usual question.
        if (restore && !runner.Cancelled())
            QTimer::singleShot(0, this, [this] { RestoreSelected(); });
    };
    runner.StartCompare(*set);
}

void TSetsFace::RestoreSelected() {
    TParamRunner* runner = w_.Dev().ParamRunner.get();
    TCompareDialog* dialog = compareDialog_;
    if (!runner || runner->Running() || !dialog) return;
    if (w_.Devices().WriteRefused(w_.Dev())) return;
    if (!w_.PortOpen()) {
        w_.ShowError(QStringLiteral("Для работы с параметрами откройте COM-порт"));
        return;
    }
    // What is written: the ticked rows the engineer can see, after a confirmation.
    const QPointer<TCompareDialog> guard = dialog;
    if (!dialog->ConfirmWrite() || !guard || w_.Dev().ParamRunner.get() != runner ||
        runner->Running())
        return;
    dialog->SetBusy(true);
    runner->OnProgress = [dialog](int done, int total) { dialog->SetProgress(done, total); };
    runner->OnFinished = [this, runner, dialog] {
        dialog->SetBusy(false);
        dialog->Refresh();
        const int total = static_cast<int>(
            std::count_if(runner->Rows.begin(), runner->Rows.end(),
                          [](const TCompareRow& r) { return r.Selected && r.Restorable; }));
        const QString text =
            QStringLiteral("Записано и подтверждено: %1 из %2").arg(runner->Confirmed()).arg(total);
        QStringList failures;
        for (const TRestoreOutcome& o : runner->Restored)
            if (!o.Error.empty()) {
                const TCompareRow& row = runner->Rows[o.Index];
                failures << QStringLiteral("%1 %2: %3")
                                .arg(QString::fromStdString(DeviceErrorKey(row.File.Addr)),
                                     QString::fromStdString(row.Name),
                                     QString::fromStdString(o.Error));
            }
        if (runner->Confirmed() == total && !runner->Cancelled()) {
            w_.ShowStatus(text, true, w_.NormalStatusColor());
            return;
        }
        w_.ShowError(text);
        if (runner->Cancelled())
            failures << QStringLiteral("Запись прервана: не все строки записаны");
        ShowWarning(dialog, text + QStringLiteral("\n\n") + failures.join(QLatin1Char('\n')));
    };
    runner->StartRestore();
}

} // namespace tunavox
