#pragma once
#include <QObject>

class QHBoxLayout;
class QWidget;

namespace tunavox {

// Moves one group of a one-line strip to a line of its own below it while the host is
// too narrow for the strip, and back when there is room again, so a large display scale
// cuts no caption. The group goes back after `after` in the strip.
class TStripOverflow : public QObject {
public:
    // below: an empty, hidden widget with a horizontal layout under the strip.
    TStripOverflow(QWidget* host, QHBoxLayout* strip, QWidget* group, QWidget* after,
                   QWidget* below);
    void Fit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* host_;
    QHBoxLayout* strip_;
    QWidget* group_;
    QWidget* after_;
    QWidget* below_;
};

} // namespace tunavox
