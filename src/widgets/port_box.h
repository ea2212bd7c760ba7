#pragma once
#include <QComboBox>

namespace tunavox {

// The port drop-down: says when its list is about to open, so that the list can be
// read again (an adapter plugged in after start).
class TPortBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override {
        emit AboutToShowPopup();
        QComboBox::showPopup();
    }

signals:
    void AboutToShowPopup();
};

} // namespace tunavox
