#pragma once
#include <QAction>
#include <QDialog>
#include <QEvent>
#include <QMenu>
#include <QObject>
#include <QPointer>

namespace tunavox {

class TfMain;

// Gives a menu's items (and their submenus' items) the letters that open them.
void GiveMenuLetters(const QList<QAction*>& actions);

// The window with the keyboard alone: menu letters, F10 and a lone Alt for the menu bar,
// F5, F6 and F9 from anywhere, Tab out of the table, and the list of every key in
// "Справка" → "Сочетания клавиш" (F1).
class TKeysFace : public QObject {
public:
    explicit TKeysFace(TfMain& window);
    // Shortcuts, menu letters and the list of keys in "Справка".
    void Build(QMenu* help);

    QAction* aReadAll;  // F5: "Считать все" from anywhere in the window
    QAction* aPoll;     // F6: polling on or off
    QAction* aOpenPort; // F9: the port opened or closed
    QAction* miKeys;    // "Справка" → "Сочетания клавиш" (F1)

    // Every key the window answers to, one per line, as "Справка" lists them.
    QString KeysText() const;
    // "Сочетания клавиш" (F1): the keys in a window of their own.
    void ShowKeys();
    QDialog* KeysWindow() const { return keysWindow_; }
    // F10 and a lone Alt open the menu bar; Tab leaves the table. True when taken.
    bool HandleKeys(QObject* watched, QEvent* event);

private:
    void OpenMenuBar();
    void FocusPastTable(bool forward);

    TfMain& w_;
    bool altAlone_ = false; // Alt is down and no other key came yet
    QPointer<QDialog> keysWindow_;
};

} // namespace tunavox
