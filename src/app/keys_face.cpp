// The main window with the keyboard alone: menu letters, F10 and Alt for the menu bar,
// shortcuts for the commands used most, Tab out of the table, and their list in
// "Справка".
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "app/keys_face.h"

#include "app/main_window.h"
#include "ui/message_box.h"
#include "ui/screen_fit.h"
#include "util/mnemonics.h"

namespace tunavox {
namespace {

// The text without its mnemonic marks, as shown.
QString Shown(const QString& text) {
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

} // namespace

void GiveMenuLetters(const QList<QAction*>& actions) {
    std::vector<std::string> texts;
    std::vector<QAction*> marked;
    for (QAction* a : actions)
        if (!a->isSeparator() && !a->text().isEmpty()) {
            texts.push_back(Shown(a->text()).toStdString());
            marked.push_back(a);
        }
    const std::vector<std::string> withLetters = WithMnemonics(texts);
    for (size_t i = 0; i < marked.size(); ++i) {
        marked[i]->setText(QString::fromStdString(withLetters[i]));
        if (QMenu* sub = marked[i]->menu()) GiveMenuLetters(sub->actions());
    }
}

TKeysFace::TKeysFace(TfMain& window) : QObject(&window), w_(window) {}

void TKeysFace::Build(QMenu* help) {
    w_.Sets().miOpenSet->setShortcut(QKeySequence::Open);
    w_.Sets().miSaveParams->setShortcut(QKeySequence::Save);
    w_.Sets().miCompareParams->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    w_.N2->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    w_.Trend().miChart->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    w_.LinkFace().miJournal->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_J));

    // The buttons' commands from anywhere in the window, the table and its editor
    // included; they act only when their button would.
    aReadAll = Named(new QAction(QStringLiteral("Считать все"), this), "aReadAll");
    aReadAll->setShortcut(QKeySequence(Qt::Key_F5));
    connect(aReadAll, &QAction::triggered, this, [this] {
        if (w_.bReadAll->isVisible() && w_.bReadAll->isEnabled()) w_.bReadAll->click();
    });
    aPoll =
        Named(new QAction(QStringLiteral("Непрерывный опрос выбранных параметров"), this), "aPoll");
    aPoll->setShortcut(QKeySequence(Qt::Key_F6));
    connect(aPoll, &QAction::triggered, this, [this] {
        if (w_.chPoll->isVisible() && w_.chPoll->isEnabled()) w_.chPoll->toggle();
    });
    aOpenPort =
        Named(new QAction(QStringLiteral("Открыть или закрыть COM-порт"), this), "aOpenPort");
    aOpenPort->setShortcut(QKeySequence(Qt::Key_F9));
    connect(aOpenPort, &QAction::triggered, this, [this] {
        if (w_.bOpen->isEnabled()) w_.bOpen->click();
    });
    for (QAction* a : {aReadAll, aPoll, aOpenPort})
        w_.addAction(a);
    w_.bReadAll->setToolTip(QStringLiteral("Считать все (F5)"));
    w_.chPoll->setToolTip(QStringLiteral("Включить или выключить опрос (F6)"));
    w_.bOpen->setToolTip(QStringLiteral("Открыть или закрыть COM-порт (F9)"));

    miKeys = Named(help->addAction(QStringLiteral("Сочетания клавиш")), "miKeys");
    miKeys->setShortcut(QKeySequence::HelpContents);
    connect(miKeys, &QAction::triggered, this, [this] { ShowKeys(); });
    GiveMenuLetters(w_.menuBar()->actions());
    // A menu opened from the keyboard and closed with Escape leaves the menu bar too, so
    // the next Alt or F10 opens it again at once.
    for (QAction* a : w_.menuBar()->actions())
        if (QMenu* menu = a->menu())
            connect(menu, &QMenu::aboutToHide, this, [this] {
                QTimer::singleShot(0, this, [this] {
                    if (QApplication::activePopupWidget() || !w_.menuBar()->activeAction()) return;
                    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                    QCoreApplication::sendEvent(w_.menuBar(), &escape);
                });
            });
}

void TKeysFace::ShowKeys() {
    // A window of its own, not a message: it stays open beside the work.
    if (!keysWindow_) {
        auto* w = new QDialog(&w_);
        w->setObjectName(QStringLiteral("KeysWindow"));
        w->setWindowTitle(QStringLiteral("Сочетания клавиш"));
        w->setAttribute(Qt::WA_DeleteOnClose);
        auto* layout = new QVBoxLayout(w);
        auto* text = new QPlainTextEdit(KeysText(), w);
        text->setObjectName(QStringLiteral("KeysText"));
        text->setReadOnly(true);
        text->setAccessibleName(QStringLiteral("Сочетания клавиш"));
        layout->addWidget(text);
        auto* close = new QPushButton(QStringLiteral("&Закрыть"), w);
        connect(close, &QPushButton::clicked, w, &QDialog::close);
        layout->addWidget(close, 0, Qt::AlignRight);
        w->resize(560, 420);
        KeepOnScreen(w);
        keysWindow_ = w;
    }
    keysWindow_->show();
    keysWindow_->raise();
    keysWindow_->activateWindow();
}

QString TKeysFace::KeysText() const {
    QStringList lines;
    const auto line = [&](const QString& keys, const QString& what) {
        lines << keys + QStringLiteral(" — ") + what;
    };
    // Every command that has a key, from the actions themselves.
    std::vector<const QAction*> actions = {aOpenPort, aReadAll, aPoll};
    std::function<void(const QList<QAction*>&)> walk = [&](const QList<QAction*>& list) {
        for (const QAction* a : list) {
            if (a->menu())
                walk(a->menu()->actions());
            else if (!a->shortcut().isEmpty())
                actions.push_back(a);
        }
    };
    walk(w_.menuBar()->actions());
    for (const QAction* a : actions)
        line(a->shortcut().toString(QKeySequence::NativeText), Shown(a->text()));
    line(QStringLiteral("F10, Alt"), QStringLiteral("меню (буквы пунктов подчёркнуты)"));
    line(QKeySequence(QKeySequence::Find).toString(QKeySequence::NativeText),
         QStringLiteral("поиск по коду и названию параметра"));
    line(QStringLiteral("F7"), QStringLiteral("показать или скрыть служебные параметры"));
    if (w_.Devices().Several())
        line(QStringLiteral("Ctrl+PgDown, Ctrl+PgUp"),
             QStringLiteral("к следующей или предыдущей вкладке устройства"));
    line(QStringLiteral("Tab, Shift+Tab"),
         QStringLiteral("к следующему или предыдущему полю окна"));
    line(QStringLiteral("В таблице: ↑ ↓ PgUp PgDn Home End"), QStringLiteral("выбор параметра"));
    line(QStringLiteral("В таблице: Пробел"), QStringLiteral("отметить параметр для опроса"));
    line(QStringLiteral("В таблице: ввод значения, Enter"), QStringLiteral("записать параметр"));
    line(QStringLiteral("В таблице: Esc"), QStringLiteral("отменить ввод значения"));
    line(QKeySequence(QKeySequence::Copy).toString(QKeySequence::NativeText),
         QStringLiteral("копировать выбранные строки таблицы"));
    return lines.join(QLatin1Char('\n'));
}

bool TKeysFace::HandleKeys(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != &w_) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::KeyPress) {
        altAlone_ = key->key() == Qt::Key_Alt && key->modifiers() == Qt::AltModifier;
        if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::NoModifier) {
            OpenMenuBar();
            return true;
        }
        // Tab leaves the table (and its editor) for the next control of the window.
        const bool inTable = widget == w_.vstList || w_.vstList->isAncestorOf(widget);
        if (inTable && (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
            !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            FocusPastTable(key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier));
            return true;
        }
    } else if (event->type() == QEvent::KeyRelease && key->key() == Qt::Key_Alt) {
        // Alt pressed and let go alone: the menu bar, where the w_.style does not do it itself.
        const bool alone = altAlone_ && !key->isAutoRepeat();
        altAlone_ = false;
        if (alone && !w_.style()->styleHint(QStyle::SH_MenuBar_AltKeyNavigation, nullptr, &w_)) {
            OpenMenuBar();
            return true;
        }
    }
    return false;
}

void TKeysFace::OpenMenuBar() {
    for (QAction* a : w_.menuBar()->actions())
        if (a->isVisible() && a->isEnabled()) {
            w_.menuBar()->setActiveAction(a);
            return;
        }
}

void TKeysFace::FocusPastTable(bool forward) {
    // An open editor is accepted first, as when moving to another row; a value it does
    // not take keeps the focus there.
    if (!w_.vstList->AcceptEditing()) return;
    QWidget* w = w_.vstList;
    // The focus chain runs through the table's own children (its editor, headers)
    // before reaching the window's next control.
    for (int guard = 0; guard < 1000; ++guard) {
        w = forward ? w->nextInFocusChain() : w->previousInFocusChain();
        if (!w || w == w_.vstList) return;
        if (w_.vstList->isAncestorOf(w) || w->window() != &w_) continue;
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled()) {
            w->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return;
        }
    }
}

} // namespace tunavox
