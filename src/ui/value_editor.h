#pragma once
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>

#include "device/reg.h"
#include "widgets/register_view.h"

namespace tunavox {

// The in-place value editor: an edit box (masked for a password Str register) or,
// for a register with named values, an editable combo box. It changes only the
// register's current value; Enter on the table writes it.
class TPropertyEditLink : public IEditLink {
public:
    explicit TPropertyEditLink(TRegisterView* table) : Table(table) {}

    QWidget* Prepare(QWidget* parent, int row, int column) override;
    bool Accept() override;
    bool KeyDown(QKeyEvent* event) override;

    // The control's current text.
    QString Text() const;

    TRegisterView* Table;
    QPointer<QWidget> EditControl;
    int Row = -1;
    int Column = -1;

private:
    TReg* Register() const;
    void PostKey(int key) const;
};

} // namespace tunavox
