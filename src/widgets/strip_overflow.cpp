#include "widgets/strip_overflow.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QWidget>

namespace tunavox {

TStripOverflow::TStripOverflow(QWidget* host, QHBoxLayout* strip, QWidget* group, QWidget* after,
                               QWidget* below)
    : QObject(host), host_(host), strip_(strip), group_(group), after_(after), below_(below) {
    host->installEventFilter(this);
}

bool TStripOverflow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == host_ && event->type() == QEvent::Resize) Fit();
    return false;
}

void TStripOverflow::Fit() {
    const bool below = group_->parentWidget() == below_;
    // The strip's least width with the group in it.
    const int spacing = strip_->spacing() < 0 ? 6 : strip_->spacing();
    const int oneLine =
        strip_->minimumSize().width() + (below ? group_->minimumSizeHint().width() + spacing : 0);
    const int room = host_->width();
    if (!below && room < oneLine) {
        strip_->removeWidget(group_);
        group_->setParent(below_);
        static_cast<QHBoxLayout*>(below_->layout())->insertWidget(0, group_);
        group_->show();
        below_->show();
    } else if (below && room >= oneLine) {
        below_->layout()->removeWidget(group_);
        group_->setParent(strip_->parentWidget());
        strip_->insertWidget(strip_->indexOf(after_) + 1, group_);
        group_->show();
        below_->hide();
    }
}

} // namespace tunavox
