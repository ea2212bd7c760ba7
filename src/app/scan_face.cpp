// The window's "Поиск устройств…" and a found device opened as the user would open it.
#include "app/scan_face.h"

#include "app/main_window.h"
#include "scan/scan_runner.h"
#include "ui/scan_window.h"
#include "util/program_folder.h"

namespace tunavox {

TScanFace::TScanFace(TfMain& window) : QObject(&window), w_(window) {}

void TScanFace::Settled() {
    armed_ = false;
    lScanHint->hide();
}

void TScanFace::Said(const std::string& error) {
    if (armed_ && error == "Устройство не отвечает") lScanHint->show();
}

void TScanFace::Build(QMenu* service, QStatusBar* bar) {
    service->addSeparator();
    miScan = Named(service->addAction(QStringLiteral("Поиск устройств…")), "miScan");
    miScan->setShortcut(QKeySequence(Qt::Key_F8));
    connect(miScan, &QAction::triggered, this, [this] { ShowScan(); });
    lScanHint =
        Named(new QLabel(QStringLiteral(
                             "Найти устройство на линии: \"Сервис\" → \"Поиск устройств… (F8)\""),
                         bar),
              "lScanHint");
    bar->addWidget(lScanHint);
    lScanHint->hide();
}

void TScanFace::ShowScan() {
    // The search opens the ports itself: only while the window's own is closed.
    if (w_.PortOpen() || w_.Line().Reconnect.Active()) return;
    if (scanWindow_) {
        scanWindow_->raise();
        scanWindow_->activateWindow();
        return;
    }
    std::vector<std::string> problems;
    std::vector<TScanType> types = LoadScanTypes(w_.Catalogue(), ProgramFolder(), problems);
    QStringList ports;
    for (int i = 0; i < w_.cbPort->count(); ++i)
        ports << w_.cbPort->itemText(i);
    auto* w = new TScanWindow(
        &w_, ports, w_.cbPort->currentText(), std::move(types), problems,
        [this](std::unique_ptr<TAction> a) { w_.Line().Worker->AddAction(std::move(a)); },
        w_.chUseLogs->isChecked());
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setWindowModality(Qt::WindowModal);
    w->OnChosen = [this](const TScanResult& r, const TScanType* type) { OpenFound(r, type); };
    w->OnAdd = [this](const TScanResult& r, const TScanType* type) { return AddFound(r, *type); };
    scanWindow_ = w;
    w->show();
}

QString TScanFace::AddFound(const TScanResult& r, const TScanType& type) {
    int entry = -1;
    for (size_t e = 0; e < w_.Catalogue().size(); ++e)
        if (w_.Catalogue()[e].Path == type.Path) entry = static_cast<int>(e);
    if (entry < 0) return QStringLiteral("Описания устройства нет в каталоге");
    const QString port = QString::fromStdString(r.Port);
    // The line is one for all tabs: its port, mode and version are those of the devices on it.
    TDevicesFace& devices = w_.Devices();
    const bool fresh = devices.Count() == 1 && w_.Dev().Id == 0;
    if (!fresh && (port != w_.cbPort->currentText() || r.Gateway != w_.chOver41G->isChecked() ||
                   (r.Version == 0) != w_.miVer1->isChecked()))
        return QStringLiteral("Устройство найдено на другой линии (порт, подключение или "
                              "протокол другие), а линия у всех вкладок одна");
    if (w_.cbPort->findText(port) < 0) w_.cbPort->addItem(port);
    w_.cbPort->setCurrentIndex(w_.cbPort->findText(port));
    w_.chOver41G->setChecked(r.Gateway);
    (r.Version == 0 ? w_.miVer1 : w_.miVer2)->setChecked(true);
    if (!fresh) return devices.Add(entry, r.Id);
    // The window's first tab holds no device of the line yet: the found one goes there.
    w_.DeviceChosen(entry);
    w_.eID->setText(QString::number(r.Id));
    return {};
}

void TScanFace::OpenFound(const TScanResult& r, const TScanType* type) {
    if (w_.PortOpen() || w_.Line().Reconnect.Active()) return;
    // Each step as the user takes it: port, mode, version, ID, description, "Открыть".
    const QString port = QString::fromStdString(r.Port);
    if (w_.cbPort->findText(port) < 0) w_.cbPort->addItem(port);
    w_.cbPort->setCurrentIndex(w_.cbPort->findText(port));
    w_.chOver41G->setChecked(r.Gateway);
    (r.Version == 0 ? w_.miVer1 : w_.miVer2)->setChecked(true);
    w_.eID->setText(r.WithId ? QString::number(r.Id) : QString());
    if (type)
        for (size_t e = 0; e < w_.Catalogue().size(); ++e)
            if (w_.Catalogue()[e].Path == type->Path) w_.DeviceChosen(static_cast<int>(e));
    w_.bOpenClick();
}

} // namespace tunavox
