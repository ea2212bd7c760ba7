#pragma once
// Helpers for the window tests: a folder of description files, modal dialogs
// answered from a timer, and a started main window.
#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/main_window.h"
#include "sim/simulator.h"
#include "test_support.h"

namespace tunavox::test {

// Start options for a window on the description files of dir, with no serial ports.
TMainOptions OptionsFor(const TempDir& dir);

// Copies the named sample descriptions (from the build's bin folder) into dir.
void CopySamples(const TempDir& dir, const QStringList& names);

// Runs action on the next modal widget that opens (within ms), from the event loop;
// with a class name, on the next modal widget of that class.
void OnNextModal(const std::function<void(QWidget*)>& action, int ms = 5000,
                 const char* className = nullptr);

// Answers the next message box (with OK, or by pressing answer) and returns its text
// through *text.
void CaptureMessageBox(QString* text, QString* caption = nullptr,
                       QMessageBox::StandardButton answer = QMessageBox::NoButton);

// Forgets the stored settings (each test starts from an empty store).
void ClearSettings();

// The window on the BUK-2 sample with the simulated device as its port.
struct Bench {
    TempDir dir;
    TRegList simRegs;
    std::unique_ptr<TDeviceSimulator> sim;
    std::unique_ptr<TfMain> w;
    QString port;

    TSimOptions simOptions;
    std::string link; // the device's name when it can be unplugged and plugged in again

    // With onLink, the device is reached through a link name, as a USB adapter's
    // name stays when it is plugged in again.
    explicit Bench(TSimFaults faults = {}, uint8_t version = 1, bool onLink = false) {
        CopySamples(dir, {QStringLiteral("NastrBUK2.xml")});
        TNameValueList errors;
        TDescription desc;
        LoadDescription(dir.File("NastrBUK2.xml"), simRegs, errors, desc, dir.Path() + "/");
        TSimOptions& o = simOptions;
        o.Version = version;
        o.Faults = faults;
        if (onLink) link = dir.File("dev");
        sim = std::make_unique<TDeviceSimulator>(simRegs, o);
        std::string error;
        port = QString::fromStdString(sim->StartPty(link, error));
        if (onLink) port = QString::fromStdString(link);
        TMainOptions mo;
        mo.DescriptionsDir = QString::fromStdString(dir.Path());
        mo.Ports = QStringList{QStringLiteral("ttyS0")};
        mo.ExtraPort = port;
        mo.JournalDir = QString::fromStdString(dir.File("Journal"));
        w = std::make_unique<TfMain>(mo);
        if (version == 0) w->miVer1->setChecked(true);
    }
    ~Bench() {
        w.reset();
        if (sim) sim->Stop();
    }
    // The adapter is pulled out: the device side ends and its name goes.
    void Unplug() { sim.reset(); }
    // Plugged in again under the same name, the device as it was.
    void Plug() {
        sim = std::make_unique<TDeviceSimulator>(simRegs, simOptions);
        std::string error;
        sim->StartPty(link, error);
    }
    int Row(uint16_t addr) const {
        for (int r = 0; r < w->Regs().Count(); ++r)
            if (w->Regs().Items(r)->Addr == addr && w->Regs().Items(r)->RegType != rtHeader)
                return r;
        return -1;
    }
    QString Value(uint16_t addr) const {
        return w->vstList->Model()->index(Row(addr), 3).data().toString();
    }
    // Shows the window and opens the port; false when the window never appeared.
    bool ShowAndOpen() {
        w->show();
        if (!QTest::qWaitForWindowExposed(w.get())) return false;
        Open();
        return w->PortOpen();
    }
    // Unticks every row without the click's effects.
    void UntickAll() {
        TRegisterModel* m = w->vstList->Model();
        for (int r = 0; r < m->rowCount(); ++r)
            if (m->HasCheckBox(r)) m->SetCheckState(r, Qt::Unchecked, false);
    }
    void Open() {
        w->Dev().PollOnConnect = false;
        w->bOpen->click();
    }
};

} // namespace tunavox::test
