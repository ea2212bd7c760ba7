#pragma once
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QProxyStyle>
#include <functional>

#include "device/reg.h"
#include "widgets/register_view.h"

namespace tunavox {

// Masks a password with asterisks, whatever the style's own mask character.
class TPasswordStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override;
};

// Calls picked when Enter is pressed in the watched list.
class TPickFilter : public QObject {
public:
    TPickFilter(QObject* parent, std::function<void()> picked)
        : QObject(parent), picked_(std::move(picked)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> picked_;
};

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
    // Why the last text was not taken ("Значение не принято: …"), shown beside the
    // control; empty after a text that was.
    QString Problem;
    int Row = -1;
    int Column = -1;

private:
    TReg* Register() const;
    void PostKey(int key) const;
};

} // namespace tunavox
