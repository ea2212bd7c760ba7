#pragma once
#include <QDialog>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>

namespace tunavox {

// "Выбор устройства": a list of the device types and the "Открыть" button.
class TfSelDevDlg : public QDialog {
    Q_OBJECT
public:
    explicit TfSelDevDlg(const QStringList& captions, QWidget* parent = nullptr);
    // Shows the dialog modally; the index of the chosen entry, or -1 when it was
    // closed without a choice.
    static int Choose(const QStringList& captions, QWidget* parent);

    QListWidget* List() const { return vstList_; }
    QPushButton* OkButton() const { return bOk_; }
    // The row chosen when the dialog closed with OK, else -1.
    int Chosen() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void vstListFocusChanged();
    QListWidget* vstList_;
    QPushButton* bOk_;
};

} // namespace tunavox
