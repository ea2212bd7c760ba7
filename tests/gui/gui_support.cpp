#include "gui_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>

namespace tunavox::test {

TMainOptions OptionsFor(const TempDir& dir) {
    TMainOptions o;
    o.DescriptionsDir = QString::fromStdString(dir.Path());
    o.Ports = QStringList{};
    return o;
}

void CopySamples(const TempDir& dir, const QStringList& names) {
    for (const QString& name : names) {
        const QString from = QStringLiteral(TUNAVOX_BIN_DIR) + QLatin1Char('/') + name;
        QFile::copy(from, QString::fromStdString(dir.Path()) + QLatin1Char('/') + name);
    }
}

void OnNextModal(const std::function<void(QWidget*)>& action, int ms, const char* className) {
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [timer, clock, action, ms, className] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && className && !modal->inherits(className)) modal = nullptr;
        if (modal || clock->elapsed() > ms) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            if (modal) action(modal);
        }
    });
    timer->start(20);
}

void CaptureMessageBox(QString* text, QString* caption, QMessageBox::StandardButton answer) {
    OnNextModal(
        [text, caption, answer](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box) return;
            if (text) *text = box->text();
            if (caption) *caption = box->windowTitle();
            if (answer != QMessageBox::NoButton && box->button(answer))
                box->button(answer)->click();
            else
                box->accept();
        },
        5000, "QMessageBox");
}

void ClearSettings() {
    QSettings settings(QStringLiteral("Mirel"), QStringLiteral("Tunavox"));
    settings.clear();
    settings.sync();
}

} // namespace tunavox::test
