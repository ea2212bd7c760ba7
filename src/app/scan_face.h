#pragma once
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QStatusBar>

#include "ui/scan_window.h"

namespace tunavox {

class TfMain;

// "Поиск устройств…" (F8) from the window while its port is closed, a found device
// opened as the user would open it, and the hint in the status bar when nothing answers
// after "Открыть".
class TScanFace : public QObject {
public:
    explicit TScanFace(TfMain& window);
    // The item at the end of "Сервис", the hint in the status bar.
    void Build(QMenu* service, QStatusBar* bar);

    QAction* miScan;
    QLabel* lScanHint; // shown while nothing has answered since "Открыть"

    void ShowScan();
    // Port, mode, version, ID and description set, then "Открыть".
    void OpenFound(const TScanResult& result, const TScanType* type);
    // "Добавить" on a found device: into the first tab while it has no device ID yet, else
    // in a tab of its own; why not, when it cannot be.
    QString AddFound(const TScanResult& result, const TScanType& type);
    TScanWindow* ScanWindow() const { return scanWindow_; }

    // "Открыть" succeeded: "Устройство не отвечает" points to the search until something
    // answers.
    void Opened() { armed_ = true; }
    // The port closed, or the device answered: no hint.
    void Settled();
    // A failure shown in the status line.
    void Said(const std::string& error);

private:
    TfMain& w_;
    QPointer<TScanWindow> scanWindow_;
    bool armed_ = false;
};

} // namespace tunavox
