// The main window: the link's state at a glance, a lost port reopened by itself,
// writes read back, and the journal of writes.
#include <algorithm>
#include <QFileInfo>
#include <chrono>

#include "app/main_window.h"
#include "device/table_text.h"
#include "device/value_codec.h"
#include "ui/journal_window.h"
#include "ui/message_box.h"

namespace tunavox {
namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

void TfMain::BuildLinkControls(QMenu* service) {
    chVerifyWrites =
        Named(service->addAction(QStringLiteral("Проверять запись чтением")), "chVerifyWrites");
    chVerifyWrites->setCheckable(true);
    chVerifyWrites->setChecked(true);
    miJournal = Named(service->addAction(QStringLiteral("Журнал записей…")), "miJournal");
    lLink = Named(new QLabel(StatusBar1), "lLink");
    lLink->setAccessibleName(QStringLiteral("Состояние связи"));
    lLink->setMargin(2);
    StatusBar1->insertPermanentWidget(1, lLink); // after the status text, before the others
    ReconnectTimer = Named(new QTimer(this), "ReconnectTimer");
    ReconnectTimer->setSingleShot(true);
    connect(ReconnectTimer, &QTimer::timeout, this, [this] { ReconnectTimerTimer(); });
    connect(miJournal, &QAction::triggered, this, [this] { ShowJournal(); });
    vstList->Model()->SetLink(&dev_->Link);
    journal_.SetFolder(options_.JournalDir.toStdString());
}

void TfMain::ShowLinkState() {
    const QString text = QString::fromStdString(dev_->Link.StateText());
    lLink->setText(text);
    lLink->setAccessibleDescription(text);
    // Down: white on red, as the status line's errors; answering: plain.
    QPalette p = palette();
    lLink->setAutoFillBackground(dev_->Link.Down());
    if (dev_->Link.Down()) {
        p.setColor(QPalette::Window, QColor(0xC0, 0x10, 0x10));
        p.setColor(QPalette::WindowText, Qt::white);
    }
    lLink->setPalette(p);
    lLink->setToolTip(dev_->Link.Down() ? QString::fromStdString(dev_->Link.Reason()) : QString());
}

void TfMain::OnExchangeSeen(int row, const TReg* reg, TLinkKind kind, const std::string& error) {
    TRegisterModel* m = vstList->Model();
    // The keep-alive has no row: found by its register.
    for (int r = 0; row < 0 && r < m->rowCount(); ++r)
        if (m->Reg(r) == reg) row = r;
    const std::string words = error.empty() ? error : ErrorTextInWords(error, dev_->ErrorTexts.get());
    bool changed = false;
    const bool wasDown = dev_->Link.Down();
    if (scanHint_ && (kind == TLinkKind::Ok || kind == TLinkKind::DeviceError)) {
        scanHint_ = false;
        lScanHint->hide();
    }
    if (kind == TLinkKind::PortLost && PortOpen() && !line_->Reconnect.Active()) {
        dev_->Link.Record(row, kind, words, NowMs());
        PortLost(words);
        changed = true;
    } else {
        changed = dev_->Link.Record(row, kind, words, NowMs());
    }
    if (changed) {
        ShowLinkState();
        m->RefreshAll(); // stale values change their look
    } else {
        m->RefreshRow(row);
    }
    // The device answers again: what it holds now is read, not assumed.
    if (wasDown && dev_->Link.State() == TLinkState::Answering) ReadStaleRows();
}

void TfMain::ReadStaleRows() {
    TRegisterModel* m = vstList->Model();
    std::vector<int> rows;
    for (const int row : dev_->Link.StaleRows())
        if (const TReg* reg = m->Reg(row); reg && (reg->Io == ioR || reg->Io == ioRW))
            rows.push_back(row);
    const int top = vstList->rowAt(0);
    const int bottom = vstList->rowAt(vstList->viewport()->height() - 1);
    const auto onScreen = [&](int row) {
        return !vstList->isRowHidden(row) && top >= 0 && row >= top &&
               (bottom < 0 || row <= bottom);
    };
    std::stable_partition(rows.begin(), rows.end(), onScreen);
    std::stable_partition(rows.begin(), rows.end(),
                          [&](int row) { return !vstList->isRowHidden(row); });
    for (const int row : rows)
        ReadNode(row, [this](TAction* a) { OnReadDone(a); });
}

void TfMain::PortLost(const std::string& why) {
    // The handle goes at once, so the system can give the name to the returning
    // adapter; ticks, the chart and the recording stay as they are.
    line_->Reconnect.Begin(*line_->Canal, cbPort->currentText().toStdString(), miVer1->isChecked() ? 0 : 1,
                     chOver41G->isChecked());
    dev_->Link.Lost(why, NowMs());
    PollDelay->stop();
    dev_->Backoff.Reset();
    ShowLinkState();
    ReconnectTimer->start(line_->Reconnect.MsUntilNext());
}

void TfMain::ReconnectTimerTimer() {
    if (!line_->Reconnect.Active()) return;
    if (!line_->Reconnect.Attempt(*line_->Canal)) {
        ReconnectTimer->start(std::max(line_->Reconnect.MsUntilNext(), 50));
        return;
    }
    line_->Stats.RecordOutage(line_->Reconnect.Outage());
    dev_->Link.Opened();
    ShowLinkState();
    vstList->Model()->RefreshAll();
    ReadStaleRows();
    ShowStatus(
        QStringLiteral("Связь восстановлена: порт %1 открыт снова").arg(cbPort->currentText()),
        true, normalStatusColor_);
    trend_->ShowStats();
    if (chPoll->isChecked()) chPollClick();
}

void TfMain::StopReconnecting() {
    line_->Reconnect.Cancel();
    ReconnectTimer->stop();
}

void TfMain::RestoreFactoryValue(int row) {
    TReg* reg = vstList->Model()->Reg(row);
    if (!reg || !reg->DiffersFromFactory() || reg->GetBusy()) return;
    const QString factory = QString::fromStdString(reg->DisplayTextOf(reg->DefValue));
    if (MessageBoxWithCaptions(this,
                               QStringLiteral("Записать в устройство заводское значение %1 "
                                              "параметра «%2»?")
                                   .arg(factory, QString::fromStdString(NameText(*reg))),
                               QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
                               {QStringLiteral("Записать"), QStringLiteral("Отмена")},
                               QMessageBox::No) != QMessageBox::Yes)
        return;
    // As typed in the editor: the device's value before, the factory value written.
    const TWriteNote note{reg, ValueBeforeWrite(*reg), reg->DisplayTextOf(reg->DefValue),
                          reg->DefValue};
    reg->SetValue(reg->DefValue, false, std::string());
    vstList->Model()->RefreshRow(row);
    WriteNode(row, true, [this, note](TAction* a) { OnEditedWriteDone(a, note); });
}

void TfMain::WriteEdited(int row) {
    TReg* reg = vstList->Model()->Reg(row);
    if (!reg || reg->RegType == rtHeader || !reg->IsModified()) return;
    const TWriteNote note{reg, ValueBeforeWrite(*reg), reg->DisplayText(), reg->GetValue()};
    WriteNode(row, false, [this, note](TAction* a) { OnEditedWriteDone(a, note); });
}

void TfMain::OnEditedWriteDone(TAction* action, const TWriteNote& note) {
    // Only a register that can be read is read back (a WOR row's read is a write).
    const bool readable = action->Reg->Io == ioRW;
    const bool verify = chVerifyWrites->isChecked() && !action->HasError() && readable;
    if (!verify) {
        OnWriteDone(action);
        JournalWrite(*action->Reg, note.Before, note.Written,
                     action->HasError() ? ErrorTextInWords(action->Error(), dev_->ErrorTexts.get())
                     : readable         ? std::string(kWritten)
                                        : std::string(kWrittenUnreadable));
        return;
    }
    // On the disk before the read-back: a crash then cannot lose the write.
    JournalWrite(*action->Reg, note.Before, note.Written, kWritten, TJournalLine::Acknowledged);
    action->Reg->SetBusy(false);
    vstList->Model()->RefreshRow(action->Node);
    ReadNode(action->Node, [this, note](TAction* r) { OnVerifyDone(r, note); });
    // ReadNode completes at once (with no action) when the row cannot be read now.
}

void TfMain::OnVerifyDone(TAction* action, const TWriteNote& note) {
    if (!action) {
        ShowStatus(QStringLiteral("Параметр записан"), true, normalStatusColor_);
        // Journalled as written when the device took it.
        if (!journalUnsaid_.empty()) SayJournalProblem(std::exchange(journalUnsaid_, {}));
        return;
    }
    const TReg& reg = *action->Reg;
    vstList->Model()->RefreshRow(action->Node);
    if (action->HasError()) {
        const std::string words = ErrorTextInWords(action->Error(), dev_->ErrorTexts.get());
        ShowError(QStringLiteral("Параметр записан, но не считан обратно: ") +
                  QString::fromStdString(words));
        JournalWrite(reg, note.Before, note.Written,
                     std::string(kWritten) + ", не проверено: " + words, TJournalLine::Outcome);
    } else if (!(reg.GetValue() == note.Value)) {
        const std::string text = "Устройство сохранило другое значение: " + reg.DisplayText();
        dev_->Link.SetRowError(action->Node, text);
        vstList->Model()->RefreshRow(action->Node);
        ShowError(QString::fromStdString(text));
        JournalWrite(reg, note.Before, note.Written, KeptOtherOutcome(reg.DisplayText()),
                     TJournalLine::Outcome);
    } else {
        ShowStatus(QStringLiteral("Параметр записан"), true, normalStatusColor_);
        JournalWrite(reg, note.Before, note.Written, kConfirmed, TJournalLine::Outcome);
    }
}

void TfMain::JournalWrite(const TReg& reg, const std::string& before, const std::string& written,
                          const std::string& outcome, TJournalLine kind) {
    TJournalContext c;
    c.Port = cbPort->currentText().toStdString();
    c.Device = dev_->Desc.Name;
    c.DescFile = dev_->Desc.FileName;
    c.DeviceId = static_cast<uint32_t>(dev_->Id);
    c.Version = miVer1->isChecked() ? 0 : 1;
    std::string error;
    if (journal_.Append(JournalEntryFor(c, reg, before, written, outcome), error, kind)) {
        if (journalWindow_) journalWindow_->Reload();
        if (kind == TJournalLine::Outcome && !journalUnsaid_.empty())
            SayJournalProblem(std::exchange(journalUnsaid_, {}));
        return;
    }
    if (kind == TJournalLine::Acknowledged) {
        journalUnsaid_ = error;
        return;
    }
    journalUnsaid_.clear();
    SayJournalProblem(error);
}

void TfMain::SayJournalProblem(const std::string& error) {
    // Said once; the write itself stands.
    if (!std::exchange(journalFailed_, true))
        ShowError(
            QStringLiteral("Журнал записей не ведётся (%1): %2")
                .arg(QString::fromStdString(journal_.Folder()), QString::fromStdString(error)));
}

void TfMain::ShowJournal() {
    if (!journalWindow_) {
        journalWindow_ = new TJournalWindow(QString::fromStdString(journal_.Folder()), this);
        journalWindow_->setAttribute(Qt::WA_DeleteOnClose);
    }
    journalWindow_->Reload();
    journalWindow_->show();
    journalWindow_->raise();
    journalWindow_->activateWindow();
}

} // namespace tunavox
