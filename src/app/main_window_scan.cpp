// The main window: "Поиск устройств…" and a found device opened as the user would open it.
#include "app/main_window.h"
#include "scan/scan_runner.h"
#include "ui/scan_window.h"
#include "util/program_folder.h"

namespace tunavox {

void TfMain::BuildScanControls(QMenu* service) {
    service->addSeparator();
    miScan = Named(service->addAction(QStringLiteral("Поиск устройств…")), "miScan");
    miScan->setShortcut(QKeySequence(Qt::Key_F8));
    connect(miScan, &QAction::triggered, this, [this] { ShowScan(); });
    lScanHint = Named(
        new QLabel(QStringLiteral("Найти устройство на линии: \"Сервис\" → \"Поиск устройств… (F8)\""),
                   StatusBar1),
        "lScanHint");
    StatusBar1->addWidget(lScanHint);
    lScanHint->hide();
}

void TfMain::ShowScan() {
    // The search opens the ports itself: only while the window's own is closed.
    if (PortOpen() || line_->Reconnect.Active()) return;
    if (scanWindow_) {
        scanWindow_->raise();
        scanWindow_->activateWindow();
        return;
    }
    std::vector<std::string> problems;
    std::vector<TScanType> types = LoadScanTypes(catalogue_, ProgramFolder(), problems);
    QStringList ports;
    for (int i = 0; i < cbPort->count(); ++i) ports << cbPort->itemText(i);
    auto* w = new TScanWindow(
        this, ports, cbPort->currentText(), std::move(types), problems,
        [this](std::unique_ptr<TAction> a) { line_->Worker->AddAction(std::move(a)); },
        chUseLogs->isChecked());
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setWindowModality(Qt::WindowModal);
    w->OnChosen = [this](const TScanResult& r, const TScanType* type) { OpenFound(r, type); };
    scanWindow_ = w;
    w->show();
}

void TfMain::OpenFound(const TScanResult& r, const TScanType* type) {
    if (PortOpen() || line_->Reconnect.Active()) return;
    // Each step as the user takes it: port, mode, version, ID, description, "Открыть".
    const QString port = QString::fromStdString(r.Port);
    if (cbPort->findText(port) < 0) cbPort->addItem(port);
    cbPort->setCurrentIndex(cbPort->findText(port));
    chOver41G->setChecked(r.Gateway);
    (r.Version == 0 ? miVer1 : miVer2)->setChecked(true);
    eID->setText(r.WithId ? QString::number(r.Id) : QString());
    if (type)
        for (size_t e = 0; e < catalogue_.size(); ++e)
            if (catalogue_[e].Path == type->Path) DeviceChosen(static_cast<int>(e));
    bOpenClick();
}

} // namespace tunavox
