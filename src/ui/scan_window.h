#pragma once
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "scan/scan_runner.h"

namespace tunavox {

// "Поиск устройств": the ports to try (ticked), the ID range, the protocol versions and
// modes; "Искать" and "Остановить"; the progress with an estimate of the rest; the
// places that answered, filling in as they are found. Enter or a double click on a
// found device hands it to OnChosen (after the search has ended and closed its port).
class TScanWindow : public QDialog {
    Q_OBJECT
public:
    TScanWindow(QWidget* parent, const QStringList& ports, const QString& current,
                std::vector<TScanType> types, const std::vector<std::string>& problems,
                TScanRunner::Queue queue, bool logging);
    ~TScanWindow() override;

    QListWidget* lPorts;
    QSpinBox* seFirstId;
    QSpinBox* seLastId;
    QComboBox* cbVersions;
    QComboBox* cbModes;
    QSpinBox* seProbeTimeout; // 0: from the line settings
    QPushButton* bSearch;
    QPushButton* bStop;
    QPushButton* bClose;
    QPushButton* bAdd; // "Добавить": the selected device to the line, in a tab of its own
    QProgressBar* pbProgress;
    QLabel* lState;
    QTableWidget* tResults;

    void Search();
    void Stop();
    bool Searching() const { return runner_ && runner_->Running(); }
    const TScanRunner* Runner() const { return runner_.get(); }
    // Opens the result of the table's row (as Enter and a double click do).
    void Choose(int row);

    // A found place to open, with its device type (null when not recognised).
    std::function<void(const TScanResult&, const TScanType*)> OnChosen;
    // Adds the result of the table's row to the line; says why not when it cannot be.
    void Add(int row);
    std::function<QString(const TScanResult&, const TScanType*)> OnAdd;

protected:
    void reject() override;

private:
    void AddResult(const TScanResult& r);
    void ShowProgress();
    void Finished();
    // What to search: changeable only while no search runs.
    void EnableChoices(bool on);

    std::vector<TScanType> types_;
    TScanRunner::Queue queue_;
    bool logging_;
    std::unique_ptr<TScanRunner> runner_;
    std::vector<TScanResult> shown_;    // one per table row
    std::optional<TScanResult> chosen_; // waits for the search to end
    QTimer* ticker_;
};

} // namespace tunavox
