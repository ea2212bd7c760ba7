#pragma once
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>

#include "paramset/param_runner.h"

namespace tunavox {

// "Сравнение с файлом параметров": the file's header and warnings, one row per
// register of the file in table order, and the rows to write back. Nothing is written
// by Enter alone: the write button is never the default, it asks first, and only
// ticked rows the engineer can see are written.
class TCompareDialog : public QDialog {
    Q_OBJECT
public:
    TCompareDialog(TParamRunner& runner, const TParamSet& set, const QString& path,
                   const QStringList& warnings, QWidget* parent = nullptr);

    // Shows the runner's rows again (after a restore).
    void Refresh();
    // During a restore: progress, and the buttons that may be used.
    void SetBusy(bool busy);
    void SetProgress(int done, int total);
    // Service rows are listed only in service mode.
    void SetServiceMode(bool on);
    // Chooses the visible ticked rows for writing and asks the engineer, naming them.
    // False when nothing is chosen or the answer is no.
    bool ConfirmWrite();
    // Two sets side by side: the ticked rows' second values go into the first file
    // ("Записать в файл") instead of the device.
    // With factory, the second side is the description's factory values.
    void SetFileTarget(const QString& firstName, const QString& secondName, bool factory = false);
    // The set was saved for another device type or ID (which, in words): the write
    // asks for this device by name.
    void SetOtherDevice(const QString& which) { otherDevice_ = which; }
    // Visible ticked rows.
    int TickedCount() const;

    QTableWidget* Table;
    QCheckBox* chOnlyDiffs;
    QCheckBox* chReadOnly; // shows the read-only rows, listed apart from the settings
    QPushButton* bWrite;
    QPushButton* bCancel;
    QPushButton* bClose;
    QProgressBar* Progress;
    QLabel* Header;
    QLabel* Summary;      // "Различий: 7 из 33" or "Различий нет"
    QLabel* NoDifference; // stands for the table when it would be empty

signals:
    // "Записать выбранные": the runner's Selected flags hold the choice.
    void RestoreRequested();
    void CancelRequested();
    // F7 in the dialog: the window switches service mode.
    void ServiceModeRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

private:
    QString target_ = QStringLiteral("в устройство");
    bool fileTarget_ = false; // the first set's file is written, from the second side
    QString otherDevice_;
    void ApplyFilter();
    void TakeSelection();
    void UpdateButtons();
    bool Visible(size_t row) const;

    TParamRunner& runner_;
    bool serviceMode_ = false;
    bool busy_ = false;
};

} // namespace tunavox
