#pragma once
#include <QKeyEvent>
#include <QLineEdit>
#include <QObject>

namespace tunavox {

class TfMain;

// Finding rows (Ctrl+F) and copying them (Ctrl+C) in the window's table; which rows
// service mode, the search text and "Только отличающиеся от заводских" leave visible.
class TFindFace : public QObject {
public:
    // Makes the search field (hidden until asked for) in parent.
    TFindFace(TfMain& window, QWidget* parent);

    QLineEdit* eFind;
    // Ctrl+F: shows the search field and puts the focus there.
    void ShowFind();
    // Escape: hides the search field and shows every row again.
    void HideFind();
    // Shows the rows that service mode and the search text leave visible.
    void ApplyRowVisibility();
    // Ctrl+C: the selected rows' four columns as tab-separated text, as shown.
    QString SelectedRowsText() const;
    void CopySelectedRows();
    // Ctrl+F anywhere, Escape and Down in the field, Ctrl+C on the table; true when taken.
    bool HandleKey(QObject* watched, const QKeyEvent& key);

private:
    TfMain& w_;
};

} // namespace tunavox
