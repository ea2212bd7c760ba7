#pragma once
#include <QAction>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

#include "paramset/param_runner.h"
#include "ui/compare_dialog.h"
#include "ui/set_window.h"

class QProgressDialog;

namespace tunavox {

class TfMain;

// The window's parameter sets: save, compare with a file or the factory values, restore,
// open a set without a device, compare two sets. Its menu items are the window's "Файл"
// items; the work runs on the window's line for the device in front.
class TSetsFace : public QObject {
public:
    // Adds its items to the "Файл" menu, where they stand.
    TSetsFace(TfMain& window, QMenu* file);

    QAction* miOpenSet; // "Открыть набор параметров…": no port needed
    QAction* miSaveParams;
    QAction* miSaveSelected; // "Сохранить выбранные параметры…"
    QAction* miCompareParams;
    QAction* miCompareFactory; // "Сравнить с заводскими значениями"
    QAction* miCompareSets;    // "Сравнить два набора…"

    // Two set files side by side (an empty second: the factory values); "Записать в
    // файл" copies the second's values of the ticked rows into the first.
    void CompareTwoSets(const QString& first, const QString& second);
    void miSaveParamsClick(bool selectedOnly = false);
    void miCompareParamsClick();
    // The selected rows' registers that a backup saves, else the ticked ones.
    std::vector<uint16_t> ChosenAddresses() const;
    // Reads every readable register on the worker and writes the set to path.
    void SaveParameters(const QString& path, const std::vector<uint16_t>& only = {});
    // Reads the set, compares it with the device and opens the comparison dialog; with
    // restore, the rows that differ are then offered for writing as "Восстановить" does.
    void CompareWithFile(const QString& path, bool restore = false);
    // Reads the device and compares it with the description's factory values.
    void CompareWithFactory();
    // Opens a set file in a window of its own for the loaded description.
    void OpenSetFile(const QString& path);
    TSetWindow* SetWindow() const { return setWindow_; }
    // Writes the rows chosen in the comparison dialog, each read back.
    void RestoreSelected();
    TParamRunner* ParamRunner() const;
    TCompareDialog* CompareDialog() const { return compareDialog_; }
    // Service rows shown or hidden in the open comparison too.
    void SetServiceMode(bool on);

    // The port is open and no set is at work on the device; else says why.
    bool ParamSetAllowed();

private:
    TParamRunner& NewParamRunner();
    void CompareWithSet(std::shared_ptr<TParamSet> set, const QString& source,
                        bool restore = false);
    QProgressDialog* ParamProgress(const QString& label);
    void CloseParamProgress(QPointer<QProgressDialog>& progress);

    TfMain& w_;
    QPointer<TCompareDialog> compareDialog_;
    QPointer<TSetWindow> setWindow_;
};

} // namespace tunavox
