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
// register of the file in table order, and the rows to write back.
class TCompareDialog : public QDialog {
    Q_OBJECT
public:
    TCompareDialog(TParamRunner& runner, const TParamSet& set, const QStringList& warnings,
                   QWidget* parent = nullptr);

    // Shows the runner's rows again (after a restore).
    void Refresh();
    // During a restore: progress, and the buttons that may be used.
    void SetBusy(bool busy);
    void SetProgress(int done, int total);

    QTableWidget* Table;
    QCheckBox* chOnlyDiffs;
    QPushButton* bWrite;
    QPushButton* bCancel;
    QPushButton* bClose;
    QProgressBar* Progress;
    QLabel* Header;

signals:
    // "Записать выбранные": the runner's Selected flags hold the choice.
    void RestoreRequested();
    void CancelRequested();

private:
    void ApplyFilter();
    void TakeSelection();

    TParamRunner& runner_;
};

} // namespace tunavox
