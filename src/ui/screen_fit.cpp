#include "ui/screen_fit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
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
