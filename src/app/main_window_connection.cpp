// The main window: opening and closing the port, reading, writing, polling, the
// keep-alive and the status line.
#include <QApplication>

#include <chrono>

#include "app/main_window.h"
#include "device/value_codec.h"
#include "link/open_port.h"
#include "ui/message_box.h"
#include "util/integer_text.h"
#include "util/time_text.h"

namespace tunavox {

bool TfMain::PortOpen() const {
    return line_->Canal->ComPort->IsOpen();
}

bool TfMain::OpenPort(const QString& name) {
    const auto open = [this, port = name.toStdString(), version = miVer1->isChecked() ? 0 : 1,
                       gateway = chOver41G->isChecked()] {
        return tunavox::OpenPort(*line_->Canal, port, static_cast<uint8_t>(version), gateway);
    };
    // Connecting to a network port may take seconds: the window stays live meanwhile.
    if (IsNetworkPortName(name.toStdString())) return net_->OpenLive(name, open);
    return open();
}

void TfMain::bOpenClick() {
    // Pressed again while a network port connects: it gives up.
    if (net_->Connecting()) return net_->CancelConnecting();
    // While a lost port is awaited, "Закрыть" ends the wait: the port is closed already.
    const bool waiting = line_->Reconnect.Active();
    if (waiting) link_->StopReconnecting();
    const bool ok = waiting      ? true
                    : PortOpen() ? line_->Canal->ComPort->Close()
                                 : OpenPort(cbPort->currentText());
    if (!ok) {
        const QString why = QString::fromStdString(line_->Canal->ComPort->ErrorText());
        // Which port would not open: the list may hold several alike.
        ShowWarning(this, PortOpen() || waiting
                              ? why
                              : QStringLiteral("Не удалось открыть COM-порт %1: %2")
                                    .arg(cbPort->currentText(), why));
        return;
    }
    UpdateOpenState();
    if (!PortOpen()) {
        scan_->Settled();
        devices_->LinkClosed();
        link_->ShowLinkState();
        bOpen->setText(QStringLiteral("Открыть"));
        chPoll->setChecked(false);
        return;
    }
    devices_->LinkOpened();
    scan_->Opened();
    net_->SayOpened();
    trend_->PortOpened(cbPort->currentText().toStdString());
    link_->ShowLinkState();
    bOpen->setText(QStringLiteral("Закрыть"));
    line_->Stats.Reset();
    trend_->ShowStats();
    if (!dev_->PollOnConnect && !chPoll->isChecked()) return;
    // Checking the box runs the poll step through its handler.
    if (chPoll->isChecked())
        chPollClick();
    else
        chPoll->setChecked(true);
}

void TfMain::UpdateOpenState() {
    // A port awaited after it was lost counts as open: nothing may change under it.
    const bool closed = !PortOpen() && !line_->Reconnect.Active();
    cbPort->setEnabled(closed);
    chOver41G->setEnabled(closed);
    miDevList->setEnabled(closed);
    miDevList->menuAction()->setEnabled(closed);
    miVers->setEnabled(closed);
    miVers->menuAction()->setEnabled(closed);
    scan_->miScan->setEnabled(closed);
    net_->miNetPort->setEnabled(closed);
}

void TfMain::bReadAllClick() {
    for (int row = 0; row < vstList->Model()->rowCount(); ++row)
        ReadNode(row, [this](TAction* a) { OnReadDone(a); });
}

void TfMain::bWriteAllClick() {
    for (int row = 0; row < vstList->Model()->rowCount(); ++row)
        link_->WriteEdited(row);
}

void TfMain::ReadNode(int row, const TAction::Handler& handler, TDevice* dev, uint32_t windowMs) {
    if (!dev) dev = dev_;
    TReg* reg = row >= 0 && row < dev->Regs->Count() ? dev->Regs->Items(row) : nullptr;
    if (!reg || reg->GetBusy() || reg->RegType == rtHeader || reg->Io == ioW) {
        if (handler) handler(nullptr);
        return;
    }
    std::unique_ptr<TAction> action;
    if (reg->Io == ioWOR)
        action = std::make_unique<TActionWriteReg>(line_->Canal.get(), dev->Id, reg, row, handler);
    else
        action = std::make_unique<TActionReadReg>(line_->Canal.get(), dev->Id, reg, row, handler);
    action->FirstByteWindowMs = windowMs;
    line_->Worker->AddAction(std::move(action));
}

void TfMain::WriteNode(int row, bool force, const TAction::Handler& handler, TDevice* dev,
                       uint32_t windowMs) {
    if (!dev) dev = dev_;
    TReg* reg = row >= 0 && row < dev->Regs->Count() ? dev->Regs->Items(row) : nullptr;
    if (!reg || reg->RegType == rtHeader) return;
    if (!force && !reg->IsModified()) return;
    reg->SetBusy(true);
    auto action = std::make_unique<TActionWriteReg>(line_->Canal.get(), dev->Id, reg, row, handler);
    action->FirstByteWindowMs = windowMs;
    line_->Worker->AddAction(std::move(action));
}

// A finished exchange shows on its own device's table, whichever tab is current now.
void TfMain::OnReadDone(TAction* action) {
    if (!action) return;
    if (TRegisterView* view = devices_->ViewOf(action->Reg))
        view->Model()->RefreshRow(action->Node);
    if (action->HasError()) ShowError(QString::fromStdString(action->Error()));
}

void TfMain::OnWriteDone(TAction* action) {
    if (action->HasError())
        ShowError(QString::fromStdString(action->Error()));
    else
        ShowStatus(QStringLiteral("Параметр записан"), true, normalStatusColor_);
    action->Reg->SetBusy(false);
    if (TRegisterView* view = devices_->ViewOf(action->Reg))
        view->Model()->RefreshRow(action->Node);
}

void TfMain::OnPollReadDone(TAction* action) {
    OnReadDone(action);
    int pause = 0;
    if (action) {
        line_->Pace.ExchangeBegan(action->StartedMs());
        const int64_t now = WallClockMs();
        trend_->PollRead(*action, now, *dev_);
        pause = dev_->Backoff.After(
            action->Error(), IsLinkFailure(ClassifyExchange(action->Error(), action->PortError())));
    }
    PostPollNext(pause);
}

void TfMain::OnPollWriteDone(TAction* action) {
    action->Reg->SetBusy(false);
    OnPollReadDone(action);
}

void TfMain::PostPollNext(int delayMs) {
    // The next poll step runs after the current event has been handled, or after a
    // pause while the device does not answer.
    if (delayMs > 0) {
        PollDelay->start(delayMs);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this] { chPollClick(); }, Qt::QueuedConnection);
}

void TfMain::chPollClick() {
    // Whoever steps polling (the box, a completion) replaces a pending pause.
    PollDelay->stop();
    if (!PortOpen()) return;
    TRegisterModel* m = vstList->Model();
    if (chPoll->isChecked()) {
        vstList->SetDarkTicks(true);
        if (devices_->Several()) {
            devices_->PollStep();
            return;
        }
        const int next = m->NextCheckedRow(dev_->PollNode);
        if (next < 0) {
            dev_->PollNode = -1;
            chPoll->setChecked(false); // runs the unchecked branch through its handler
            return;
        }
        // A new pass over the ticked rows waits for its period; the line is idle meanwhile.
        if (dev_->PollNode < 0 || next <= dev_->PollNode) {
            const int64_t wait = line_->Pace.BeforePass();
            if (wait > 0) {
                trend_->SetWaitingForPass(true);
                PollDelay->start(static_cast<int>(wait));
                return;
            }
        }
        trend_->SetWaitingForPass(false);
        dev_->PollNode = next;
        static const char kSpinner[] = "|/-\\";
        lProgress->setText(QString(QLatin1Char(kSpinner[SpinIndex % 4])));
        ++SpinIndex;
        if (m->Reg(dev_->PollNode)->Io == ioWOR)
            WriteNode(dev_->PollNode, true, [this](TAction* a) { OnPollWriteDone(a); });
        else
            ReadNode(dev_->PollNode, [this](TAction* a) { OnPollReadDone(a); });
    } else {
        dev_->PollNode = -1;
        dev_->Backoff.Reset();
        line_->Pace.Reset();
        trend_->SetWaitingForPass(false);
        devices_->PollStopped();
        lProgress->clear();
    }
}

void TfMain::eIDChange() {
    int64_t id = 0;
    dev_->Id = ParseIntegerText(eID->text().toStdString(), id)
                   ? static_cast<int32_t>(static_cast<uint32_t>(id))
                   : 0;
    devices_->ShowTab(devices_->Current());
}

void TfMain::PingTimerTimer() {
    if (!PortOpen() || chPoll->isChecked()) return;
    if (devices_->Several()) return devices_->Ping();
    TReg* reg = vstList->Model()->Reg(dev_->PingNode);
    if (!reg || reg->GetBusy()) return;
    line_->Worker->AddAction(
        std::make_unique<TActionReadReg>(line_->Canal.get(), dev_->Id, reg, -1, nullptr));
}

void TfMain::ShowStatus(const QString& text, bool autoClear, const QColor& color) {
    StatusTimer->stop();
    QPalette p = StatusText->palette();
    p.setColor(QPalette::Window, color);
    if (color == normalStatusColor_)
        p.setColor(QPalette::WindowText, palette().color(QPalette::WindowText));
    StatusText->setPalette(p);
    StatusText->setText(text.isEmpty() ? QString() : QStringLiteral(" ") + text);
    if (autoClear) StatusTimer->start();
}

void TfMain::ShowError(const QString& text) {
    QPalette p = StatusText->palette();
    p.setColor(QPalette::WindowText, Qt::white);
    StatusText->setPalette(p);
    QString shown = text;
    const std::string raw = text.toStdString();
    if (raw.size() == 1)
        shown = QString::fromStdString(
            DeviceErrorText(static_cast<unsigned char>(raw[0]), dev_->ErrorTexts.get()));
    else
        scan_->Said(raw);
    ShowStatus(shown, true, QColor(255, 0, 0));
}

} // namespace tunavox

#include "sim/simulator.h"
#include "util/program_folder.h"

namespace tunavox {

void TfMain::StartDemo() {
    // A device of the chosen type on a pseudo-terminal, chosen as the port.
    demo_.reset();
    if (!demoPort_.isEmpty() && cbPort->findText(demoPort_) >= 0)
        cbPort->removeItem(cbPort->findText(demoPort_));
    TSimOptions o;
    o.Version = miVer1->isChecked() ? 0 : 1;
    o.Line = line_->Canal->ComPort->Settings().Line();
    o.Animate = true; // measurements move, as on a running plant
    demo_ = std::make_unique<TDeviceSimulator>(*dev_->Regs, o);
    std::string error;
    demoPort_ = QString::fromStdString(demo_->StartPty("", error));
    if (demoPort_.isEmpty()) {
        ShowError(QString::fromStdString(error));
        demo_.reset();
        return;
    }
    cbPort->insertItem(0, demoPort_);
    cbPort->setCurrentIndex(0);
}

} // namespace tunavox
