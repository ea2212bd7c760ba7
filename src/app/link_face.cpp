// The window's link: its state at a glance, a lost port reopened by itself,
// writes read back, and the journal of writes.
#include <QFileInfo>
#include <algorithm>
#include <chrono>

#include "app/link_face.h"

#include "app/main_window.h"
#include "device/table_text.h"
#include "device/value_codec.h"
#include "ui/journal_window.h"
#include "ui/message_box.h"
#include "util/time_text.h"

namespace tunavox {
namespace {} // namespace

TLinkFace::TLinkFace(TfMain& window) : QObject(&window), w_(window) {}

void TLinkFace::Build(QMenu* service) {
    chVerifyWrites =
        Named(service->addAction(QStringLiteral("Проверять запись чтением")), "chVerifyWrites");
    chVerifyWrites->setCheckable(true);
    chVerifyWrites->setChecked(true);
    miJournal = Named(service->addAction(QStringLiteral("Журнал записей…")), "miJournal");
    lLink = Named(new QLabel(w_.StatusBar1), "lLink");
    lLink->setAccessibleName(QStringLiteral("Состояние связи"));
    lLink->setMargin(2);
    w_.StatusBar1->insertPermanentWidget(1, lLink); // after the status text, before the others
    ReconnectTimer = Named(new QTimer(this), "ReconnectTimer");
    ReconnectTimer->setSingleShot(true);
    connect(ReconnectTimer, &QTimer::timeout, this, [this] { ReconnectTimerTimer(); });
    connect(miJournal, &QAction::triggered, this, [this] { ShowJournal(); });
    w_.vstList->Model()->SetLink(&w_.Dev().Link);
    journal_.SetFolder(w_.Options().JournalDir.toStdString());
}

void TLinkFace::ShowLinkState() {
    // Another device answering at the ID is no link "with the device".
    const bool other = !w_.Dev().Other.empty();
    const QString text = QString::fromStdString(other ? w_.Dev().Other : w_.Dev().Link.StateText(w_.Line().Reconnect.PortName()));
    lLink->setText(text);
    lLink->setAccessibleDescription(text);
    // Down: white on red, as the status line's errors; answering: plain.
    QPalette p = w_.palette();
    lLink->setAutoFillBackground(w_.Dev().Link.Down() || other);
    if (w_.Dev().Link.Down() || other) {
        p.setColor(QPalette::Window, QColor(0xC0, 0x10, 0x10));
        p.setColor(QPalette::WindowText, Qt::white);
    }
    lLink->setPalette(p);
    lLink->setToolTip(w_.Dev().Link.Down() ? QString::fromStdString(w_.Dev().Link.Reason())
                                           : QString());
}

void TLinkFace::OnExchangeSeen(int row, const TReg* reg, TLinkKind kind, const std::string& error) {
    // The exchange's own device: its tab may be closed by now.
    TDevice* dev = w_.Devices().DeviceOf(reg);
    TRegisterView* view = w_.Devices().ViewOf(reg);
    if (!dev || !view) return;
    TRegisterModel* m = view->Model();
    // The keep-alive has no row: found by its register.
    for (int r = 0; row < 0 && r < m->rowCount(); ++r)
        if (m->Reg(r) == reg) row = r;
    const std::string words =
        error.empty() ? error : ErrorTextInWords(error, dev->ErrorTexts.get());
    bool changed = false;
    const bool wasDown = dev->Link.Down();
    if (kind == TLinkKind::Ok || kind == TLinkKind::DeviceError) w_.Scan().Settled();
    if (kind == TLinkKind::PortLost && w_.PortOpen() && !w_.Line().Reconnect.Active()) {
        dev->Link.Record(row, kind, words, WallClockMs());
        PortLost(words);
        changed = true;
    } else {
        changed = dev->Link.Record(row, kind, words, WallClockMs());
    }
    if (changed) {
        ShowLinkState();
        w_.Devices().ShowTab(w_.Devices().TabOf(dev));
        m->RefreshAll(); // stale values change their look
    } else {
        m->RefreshRow(row);
    }
    // The device answers again: what it holds now is read, not assumed.
    if (wasDown && dev->Link.State() == TLinkState::Answering) ReadStaleRows(*dev, *view);
}

void TLinkFace::ReadStaleRows(TDevice& dev, TRegisterView& view) {
    TRegisterModel* m = view.Model();
    std::vector<int> rows;
    for (const int row : dev.Link.StaleRows())
        if (const TReg* reg = m->Reg(row); reg && (reg->Io == ioR || reg->Io == ioRW))
            rows.push_back(row);
    const int top = view.rowAt(0);
    const int bottom = view.rowAt(view.viewport()->height() - 1);
    const auto onScreen = [&](int row) {
        return !view.isRowHidden(row) && top >= 0 && row >= top && (bottom < 0 || row <= bottom);
    };
    std::stable_partition(rows.begin(), rows.end(), onScreen);
    std::stable_partition(rows.begin(), rows.end(),
                          [&](int row) { return !view.isRowHidden(row); });
    for (const int row : rows)
        w_.ReadNode(
            row, [this](TAction* a) { w_.OnReadDone(a); }, &dev);
}

void TLinkFace::PortLost(const std::string& why) {
    // The handle goes at once, so the system can give the name to the returning
    // adapter; ticks, the chart and the recording stay as they are.
    w_.Line().Reconnect.Begin(*w_.Line().Canal, w_.cbPort->currentText().toStdString(),
                              w_.miVer1->isChecked() ? 0 : 1, w_.chOver41G->isChecked());
    w_.Devices().LinkLost(why, WallClockMs());
    w_.PollDelay->stop();
    ShowLinkState();
    ReconnectTimer->start(w_.Line().Reconnect.MsUntilNext());
}

void TLinkFace::ReconnectTimerTimer() {
    TReconnect& reconnect = w_.Line().Reconnect;
    if (!reconnect.Active()) return;
    const auto attempt = [&] { return reconnect.Attempt(*w_.Line().Canal); };
    // A network port's attempt may wait the whole connect time-out: beside the live window.
    const bool back =
        IsNetworkPortName(reconnect.PortName())
            ? w_.NetPort().OpenLive(QString::fromStdString(reconnect.PortName()), attempt, false)
            : attempt();
    if (!back) {
        ReconnectTimer->start(std::max(w_.Line().Reconnect.MsUntilNext(), 50));
        return;
    }
    w_.Line().Stats.RecordOutage(w_.Line().Reconnect.Outage());
    // Every device of the line goes on: its stale rows read, its polling resumed.
    w_.Devices().LinkOpened();
    // Several devices: each is told again before it is polled (the adapter may have been
    // moved to another line meanwhile).
    w_.Devices().LineBack();
    ShowLinkState();
    for (int t = 0; t < w_.Devices().Count(); ++t) {
        TRegisterView& view = *w_.Devices().View(t);
        view.Model()->RefreshAll();
        if (!w_.Devices().Held(w_.Devices().Device(t)))
            ReadStaleRows(w_.Devices().Device(t), view);
    }
    w_.ShowStatus(
        QStringLiteral("Связь восстановлена: порт %1 открыт снова").arg(w_.cbPort->currentText()),
        true, w_.NormalStatusColor());
    w_.Trend().ShowStats();
    if (w_.chPoll->isChecked()) w_.chPollClick();
}

void TLinkFace::StopReconnecting() {
    w_.Line().Reconnect.Cancel();
    ReconnectTimer->stop();
}

void TLinkFace::RestoreFactoryValue(int row) {
    TReg* reg = w_.vstList->Model()->Reg(row);
    if (!reg || !reg->DiffersFromFactory() || reg->GetBusy()) return;
    if (TDevice* dev = w_.Devices().DeviceOf(reg); dev && w_.Devices().WriteRefused(*dev)) return;
    const QString factory = QString::fromStdString(reg->DisplayTextOf(reg->DefValue));
    if (MessageBoxWithCaptions(&w_,
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
    w_.vstList->Model()->RefreshRow(row);
    w_.WriteNode(row, true, [this, note](TAction* a) { OnEditedWriteDone(a, note); });
}

void TLinkFace::WriteEdited(int row) {
    TReg* reg = w_.vstList->Model()->Reg(row);
    if (!reg || reg->RegType == rtHeader || !reg->IsModified()) return;
    if (TDevice* dev = w_.Devices().DeviceOf(reg); dev && w_.Devices().WriteRefused(*dev)) return;
    const TWriteNote note{reg, ValueBeforeWrite(*reg), reg->DisplayText(), reg->GetValue()};
    w_.WriteNode(row, false, [this, note](TAction* a) { OnEditedWriteDone(a, note); });
}

void TLinkFace::OnEditedWriteDone(TAction* action, const TWriteNote& note) {
    // Only a register that can be read is read back (a WOR row's read is a write).
    const bool readable = action->Reg->Io == ioRW;
    TDevice* dev = w_.Devices().DeviceOf(action->Reg);
    if (!dev) return; // its tab was closed meanwhile
    const bool verify = chVerifyWrites->isChecked() && !action->HasError() && readable;
    if (!verify) {
        w_.OnWriteDone(action);
        JournalWrite(*action->Reg, note.Before, note.Written,
                     action->HasError() ? ErrorTextInWords(action->Error(), dev->ErrorTexts.get())
                     : readable         ? std::string(kWritten)
                                        : std::string(kWrittenUnreadable));
        return;
    }
    // On the disk before the read-back: a crash then cannot lose the write.
    JournalWrite(*action->Reg, note.Before, note.Written, kWritten, TJournalLine::Acknowledged);
    action->Reg->SetBusy(false);
    w_.Devices().ViewOf(action->Reg)->Model()->RefreshRow(action->Node);
    w_.ReadNode(
        action->Node, [this, note](TAction* r) { OnVerifyDone(r, note); }, dev);
    // w_.ReadNode completes at once (with no action) when the row cannot be read now.
}

void TLinkFace::OnVerifyDone(TAction* action, const TWriteNote& note) {
    if (!action) {
        w_.ShowStatus(QStringLiteral("Параметр записан"), true, w_.NormalStatusColor());
        // Journalled as written when the device took it.
        if (!journalUnsaid_.empty()) SayJournalProblem(std::exchange(journalUnsaid_, {}));
        return;
    }
    const TReg& reg = *action->Reg;
    TDevice* dev = w_.Devices().DeviceOf(&reg);
    TRegisterView* view = w_.Devices().ViewOf(&reg);
    if (!dev || !view) return; // its tab was closed meanwhile
    view->Model()->RefreshRow(action->Node);
    if (action->HasError()) {
        const std::string words = ErrorTextInWords(action->Error(), dev->ErrorTexts.get());
        w_.ShowError(QStringLiteral("Параметр записан, но не считан обратно: ") +
                     QString::fromStdString(words));
        JournalWrite(reg, note.Before, note.Written,
                     std::string(kWritten) + ", не проверено: " + words, TJournalLine::Outcome);
    } else if (!(reg.GetValue() == note.Value)) {
        const std::string text = "Устройство сохранило другое значение: " + reg.DisplayText();
        dev->Link.SetRowError(action->Node, text);
        view->Model()->RefreshRow(action->Node);
        w_.ShowError(QString::fromStdString(text));
        JournalWrite(reg, note.Before, note.Written, KeptOtherOutcome(reg.DisplayText()),
                     TJournalLine::Outcome);
    } else {
        w_.ShowStatus(QStringLiteral("Параметр записан"), true, w_.NormalStatusColor());
        JournalWrite(reg, note.Before, note.Written, kConfirmed, TJournalLine::Outcome);
    }
}

void TLinkFace::JournalWrite(const TReg& reg, const std::string& before, const std::string& written,
                             const std::string& outcome, TJournalLine kind) {
    TJournalContext c;
    c.Port = w_.cbPort->currentText().toStdString();
    const TDevice* dev = w_.Devices().DeviceOf(&reg);
    if (!dev) dev = &w_.Dev();
    c.Device = dev->Desc.Name;
    c.DescFile = dev->Desc.FileName;
    c.DeviceId = static_cast<uint32_t>(dev->Id);
    c.Version = w_.miVer1->isChecked() ? 0 : 1;
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

void TLinkFace::SayJournalProblem(const std::string& error) {
    // Said once; the write itself stands.
    if (!std::exchange(journalFailed_, true))
        w_.ShowError(
            QStringLiteral("Журнал записей не ведётся (%1): %2")
                .arg(QString::fromStdString(journal_.Folder()), QString::fromStdString(error)));
}

void TLinkFace::ShowJournal() {
    if (!journalWindow_) {
        journalWindow_ = new TJournalWindow(QString::fromStdString(journal_.Folder()), &w_);
        journalWindow_->setAttribute(Qt::WA_DeleteOnClose);
    }
    journalWindow_->Reload();
    journalWindow_->show();
    journalWindow_->raise();
    journalWindow_->activateWindow();
}

} // namespace tunavox
