#include "ui/screen_fit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QLayout>
#include <QMainWindow>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>

namespace tunavox {
namespace {

class TScreenFit : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched == parent())
            FitIntoScreen(static_cast<QWidget*>(watched));
        return false;
    }
};

// The window's content moved into a scroll area that fills it: the window may then be
// as small as the screen, and what does not fit scrolls. Not for a main window.
void MakeScrollable(QWidget* window) {
    QLayout* old = window->layout();
    if (!old || qobject_cast<QMainWindow*>(window) ||
        window->findChild<QScrollArea*>(QStringLiteral("FitScrollArea"),
                                        Qt::FindDirectChildrenOnly))
        return;
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("FitContent"));
    content->setLayout(old); // takes the layout and its widgets from the window
    auto* scroll = new QScrollArea(window);
    scroll->setObjectName(QStringLiteral("FitScrollArea"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(content);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    window->setMinimumSize(0, 0);
    // Fitted as the window is shown: its children are shown already, the new ones not.
    if (window->isVisible()) {
        content->show();
        scroll->show();
    }
}

} // namespace

void KeepOnScreen(QWidget* window) {
    window->installEventFilter(new TScreenFit(window));
}

void FitIntoScreen(QWidget* window) {
    QScreen* screen = window->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    // The frame the window system adds (none known before the window is mapped).
    const QRect frame = window->frameGeometry();
    const int frameW = std::max(0, frame.width() - window->width());
    const int frameH = std::max(0, frame.height() - window->height());
    const QSize room(area.width() - frameW, area.height() - frameH);
    const QSize least = window->minimumSize().expandedTo(window->minimumSizeHint());
    if (least.width() > room.width() || least.height() > room.height()) MakeScrollable(window);
    const QSize size = window->size()
                           .boundedTo(QSize(area.width() - frameW, area.height() - frameH))
                           .expandedTo(window->minimumSize());
    if (size != window->size()) window->resize(size);
    const int w = size.width() + frameW, h = size.height() + frameH;
    const int x = std::max(area.left(), std::min(frame.left(), area.right() + 1 - w));
    const int y = std::max(area.top(), std::min(frame.top(), area.bottom() + 1 - h));
    if (x != frame.left() || y != frame.top()) window->move(x, y);
}

} // namespace tunavox
