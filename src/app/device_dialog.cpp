#include "app/device_dialog.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace tunavox {

TfSelDevDlg::TfSelDevDlg(const QStringList& captions, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("fSelDevDlg"));
    setWindowTitle(QStringLiteral("Выбор устройства"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    vstList_ = new QListWidget(this);
    vstList_->setObjectName(QStringLiteral("vstList"));
    vstList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    for (const QString& c : captions) {
        auto* item = new QListWidgetItem(c, vstList_);
        item->setSizeHint(QSize(0, 24));
    }
    auto* panel = new QWidget(this);
    panel->setFixedHeight(40);
    bOk_ = new QPushButton(QStringLiteral("Открыть"), panel);
    bOk_->setObjectName(QStringLiteral("bOk"));
    bOk_->setEnabled(false);
    auto* row = new QHBoxLayout(panel);
    row->addStretch();
    row->addWidget(bOk_);
    row->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(vstList_);
    layout->addWidget(panel);

    connect(vstList_, &QListWidget::currentRowChanged, this, [this] { vstListFocusChanged(); });
    connect(vstList_, &QListWidget::itemDoubleClicked, this, [this] {
        if (vstList_->currentRow() >= 0) accept();
    });
    connect(bOk_, &QPushButton::clicked, this, &QDialog::accept);
    vstList_->installEventFilter(this);
    if (!captions.isEmpty()) vstList_->setCurrentRow(0);
    vstListFocusChanged();

    // Fixed size: a row per entry, one spare row, and the button panel.
    const int height = (static_cast<int>(captions.size()) + 1) * 24 + 40;
    setFixedSize(320, height);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfSelDevDlg::vstListFocusChanged() {
    bOk_->setEnabled(vstList_->currentRow() >= 0);
}

bool TfSelDevDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == vstList_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (vstList_->currentRow() >= 0) accept();
            return true; // consumed in any case
        }
    }
    return QDialog::eventFilter(watched, event);
}

int TfSelDevDlg::Chosen() const {
    return result() == QDialog::Accepted ? vstList_->currentRow() : -1;
}

int TfSelDevDlg::Choose(const QStringList& captions, QWidget* parent) {
    TfSelDevDlg dialog(captions, parent);
    dialog.exec();
    return dialog.Chosen();
}

} // namespace tunavox
