#pragma once
#include <QDialog>
#include <QLabel>
#include <QPushButton>

#include "device/description.h"
#include "paramset/param_set.h"
#include "widgets/register_view.h"

namespace tunavox {

// "Набор параметров": a set file opened without a device. Every row of the set with
// code, name and units and its value as the main table shows it, edited in place with
// the same editor and checks; rows the loaded description does not have (another
// address or type) are greyed, kept in the file untouched and never edited. Saved
// atomically with an "edited:" line; closing with changes asks first.
class TSetWindow : public QDialog {
    Q_OBJECT
public:
    // regs: the loaded description's registers (copied, never changed here);
    // descriptionPath: its file, which a set is never saved over.
    TSetWindow(const TParamSet& set, const QString& path, const TRegList& regs,
               const TNameValueList* errorTexts, const TDescription& desc,
               const std::string& descriptionPath, QWidget* parent = nullptr);

    // Some value differs from the file's.
    bool Modified() const;
    // Writes the set to path (the window's file from then on); false with the reason
    // shown in a message box.
    bool SaveTo(const QString& path);
    const QString& Path() const { return path_; }
    // The set as it would be saved now.
    TParamSet CurrentSet() const;
    // Whether a row is one of the set's own the description does not have.
    bool Foreign(int row) const { return foreign_.at(static_cast<size_t>(row)); }

    TRegisterView* Table;
    QLabel* Header;
    QLabel* Notice; // where the set and the loaded description part ways
    QPushButton* bSave;
    QPushButton* bSaveAs;
    QPushButton* bFactory; // "Сравнить с заводскими значениями": the file as saved

signals:
    void FactoryCompareRequested();

public:
    // Escape and "Закрыть" close through here too: unsaved changes are asked about.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Asks about unsaved changes; true when the window may go (saved, or not wanted).
    bool MayClose();
    void SaveAsClick();
    void UpdateTitle();

    TParamSet set_;
    QString path_;
    std::string descriptionPath_;
    TRegList regs_;
    std::vector<bool> foreign_;
    bool closeConfirmed_ = false; // asked once per close, whichever way it came
};

} // namespace tunavox
