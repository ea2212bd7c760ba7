#include "app/net_port_face.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFormLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QKeyEvent>
#include <QTimer>
#include <atomic>
#include <thread>

#include "app/main_window.h"
#include "link/net_address.h"
#include "link/open_port.h"

namespace tunavox {
namespace {

// Calls back on Escape pressed anywhere while installed, and eats it.
class TEscapeFilter : public QObject {
public:
    explicit TEscapeFilter(std::function<void()> onEscape) : onEscape_(std::move(onEscape)) {}

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        const bool key =
            event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride;
        if (!key || static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape)
            return QObject::eventFilter(object, event);
        if (event->type() == QEvent::KeyPress) onEscape_();
        event->accept();
        return true;
    }

private:
    std::function<void()> onEscape_;
};

} // namespace
namespace {

QSettings Store() {
    return QSettings(QStringLiteral("Mirel"), QStringLiteral("Tunavox"));
}

} // namespace

TNetPortFace::TNetPortFace(TfMain& window) : QObject(&window), w_(window) {}

void TNetPortFace::Build(QMenu* service) {
    miNetPort = Named(new QAction(QStringLiteral("Сетевой порт…"), service), "miNetPort");
    // Beside the search: both choose where the line is.
    service->insertAction(w_.Scan().miScan, miNetPort);
    connect(miNetPort, &QAction::triggered, this, [this] { AskAddress(); });
}

QStringList TNetPortFace::History() const {
    QStringList out;
    for (const QString& a : Store().value(QStringLiteral("NetworkPorts")).toStringList())
        if (IsNetworkPortName(a.toStdString()) && !out.contains(a) && out.size() < kHistory)
            out << a;
    return out;
}

QStringList TNetPortFace::Entries(const QStringList& system) const {
    QStringList out = system;
    for (const QString& a : History())
        if (!out.contains(a)) out << a;
    return out;
}

void TNetPortFace::Fill(const QStringList& system) {
    const QString selected = w_.cbPort->currentText();
    const QSignalBlocker quiet(w_.cbPort);
    w_.cbPort->clear();
    w_.cbPort->addItems(system);
    for (const QString& a : History())
        if (w_.cbPort->findText(a) < 0) w_.cbPort->addItem(a);
    const int kept = w_.cbPort->findText(selected);
    w_.cbPort->setCurrentIndex(kept >= 0 ? kept : (w_.cbPort->count() > 0 ? 0 : -1));
}

void TNetPortFace::Remember(const QString& address) {
    QStringList list = History();
    list.removeAll(address);
    list.prepend(address);
    while (list.size() > kHistory)
        list.removeLast();
    QSettings s = Store();
    s.setValue(QStringLiteral("NetworkPorts"), list);
    s.sync();
}

bool TNetPortFace::AskAddress() {
    QDialog dialog(&w_);
    dialog.setObjectName(QStringLiteral("NetPortDialog"));
    dialog.setWindowTitle(QStringLiteral("Сетевой порт"));
    auto* form = new QFormLayout(&dialog);
    auto* address = Named(new QComboBox(&dialog), "cbNetAddress");
    address->setEditable(true);
    address->setInsertPolicy(QComboBox::NoInsert);
    address->addItems(History());
    address->setCurrentText(History().value(0, QStringLiteral("tcp://")));
    address->setMinimumWidth(280);
    address->setAccessibleName(QStringLiteral("Адрес"));
    form->addRow(QStringLiteral("&Адрес:"), address);
    auto* hint = new QLabel(
        QStringLiteral("tcp://УЗЕЛ:ПОРТ — линия с настройками преобразователя;\n"
                       "rfc2217://УЗЕЛ:ПОРТ — настройки линии задаёт программа (RFC 2217)"),
        &dialog);
    form->addRow(hint);
    auto* why = Named(new QLabel(&dialog), "lNetWhy");
    why->setStyleSheet(QStringLiteral("color: #C00000"));
    why->setWordWrap(true);
    form->addRow(why);
    auto* buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(QStringLiteral("Выбрать"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        TNetAddress parsed;
        std::string error;
        if (ParseNetAddress(address->currentText().trimmed().toStdString(), parsed, error)) {
            dialog.accept();
            return;
        }
        why->setText(QString::fromStdString(error));
        why->setAccessibleDescription(why->text());
    });
    address->setFocus();
    if (dialog.exec() != QDialog::Accepted) return false;
    // Kept among the last used only once it has connected (OpenLive).
    const QString chosen = address->currentText().trimmed();
    if (w_.cbPort->findText(chosen) < 0) w_.cbPort->addItem(chosen);
    w_.cbPort->setCurrentIndex(w_.cbPort->findText(chosen));
    return true;
}

bool TNetPortFace::OpenLive(const QString& address, const std::function<bool()>& open, bool say) {
    connecting_ = true;
    // The controls are held meanwhile, but for the open button, which cancels (as Escape
    // does); the focus comes back where it was.
    const QPointer<QWidget> focused = QApplication::focusWidget();
    TMyComPort& port = *w_.Line().Canal->ComPort;
    port.CancelConnect(false);
    std::vector<QPointer<QWidget>> held;
    for (QWidget* c : w_.centralWidget()->findChildren<QWidget*>()) {
        if (c == w_.bOpen || c->isAncestorOf(w_.bOpen) || !c->isEnabledTo(c->parentWidget()))
            continue;
        // The outermost one of a branch is enough.
        QWidget* up = c->parentWidget();
        bool inner = false;
        for (; up && up != w_.centralWidget(); up = up->parentWidget())
            if (!up->isAncestorOf(w_.bOpen)) inner = true;
        if (inner) continue;
        c->setEnabled(false);
        held.emplace_back(c);
    }
    w_.menuBar()->setEnabled(false);
    const QString openText = w_.bOpen->text();
    w_.bOpen->setText(QStringLiteral("Отменить"));
    const auto cancel = [&port] { port.CancelConnect(true); };
    // Escape anywhere in the program gives up, before any control's own Escape.
    TEscapeFilter escape(cancel);
    qApp->installEventFilter(&escape);
    cancelConnect_ = cancel;
    if (say)
        w_.ShowStatus(QStringLiteral("Подключение к %1…").arg(address), false,
                      w_.NormalStatusColor());
    std::atomic<bool> done{false};
    bool ok = false;
    std::thread connecting([&] {
        ok = open();
        done = true;
    });
    QEventLoop loop;
    QTimer check;
    connect(&check, &QTimer::timeout, &loop, [&] {
        if (done) loop.quit();
    });
    check.start(20);
    loop.exec();
    connecting.join();
    qApp->removeEventFilter(&escape);
    cancelConnect_ = nullptr;
    if (ok) Remember(address);
    w_.bOpen->setText(openText);
    for (const QPointer<QWidget>& c : held)
        if (c) c->setEnabled(true);
    w_.menuBar()->setEnabled(true);
    if (focused) focused->setFocus();
    if (say) w_.ShowStatus(QString(), false, w_.NormalStatusColor());
    connecting_ = false;
    return ok;
}

void TNetPortFace::SayOpened() {
    const std::string note = OpenPortNote(*w_.Line().Canal);
    if (!note.empty()) w_.ShowStatus(QString::fromStdString(note), true, w_.NormalStatusColor());
}

QString TNetPortFace::RoundTripText() const {
    const TMyComPort& port = *w_.Line().Canal->ComPort;
    if (!port.IsNetwork() || port.RoundTripMs() < 0) return {};
    return QStringLiteral("Сетевой порт: время отклика при подключении %1 мс (добавлено к "
                          "ожиданию ответа)")
        .arg(port.RoundTripMs());
}

} // namespace tunavox
