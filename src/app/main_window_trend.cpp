// The main window: recording polled values to a file and the exchange statistics.
#include <QFileDialog>
#include <chrono>

#include "app/main_window.h"
#include "device/table_text.h"
#include "device/value_codec.h"
#include "util/time_text.h"

namespace tunavox {

void TfMain::ShowStats() {
    const TExchangeStats::Snapshot s = stats_.Take();
    lStats->setText(QString::fromStdString(TExchangeStats::Text(s)));
    lStats->setToolTip(QString::fromStdString(TExchangeStats::Hint(s)));
}

void TfMain::chRecordPollToggled(bool on) {
    if (!on) {
        StopRecording();
        return;
    }
    if (recorder_.Recording()) return;
    QFileDialog dialog(this, QStringLiteral("Записывать опрос в файл"));
    dialog.setObjectName(QStringLiteral("RecordDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    // Appending to an existing recording is what is wanted, not replacing it.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setNameFilters({QStringLiteral("Текст CSV (*.csv)"), QStringLiteral("Все файлы (*.*)")});
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    QString name = QStringLiteral("Опрос_") +
                   QString::fromStdString(LocalTimeText(std::chrono::system_clock::now(), false));
    name.replace(QLatin1Char(':'), QLatin1Char('-')).replace(QLatin1Char(' '), QLatin1Char('_'));
    dialog.selectFile(name + QStringLiteral(".csv"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty() ||
        !StartRecording(dialog.selectedFiles().first())) {
        const QSignalBlocker quiet(chRecordPoll);
        chRecordPoll->setChecked(false);
    }
}

bool TfMain::StartRecording(const QString& path) {
    std::string error;
    recorder_.OnFailure = [this](const std::string& why) {
        // From the recorder's thread: said on the window's.
        const QString text = QString::fromStdString(why);
        QMetaObject::invokeMethod(
            this,
            [this, text] {
                const QSignalBlocker quiet(chRecordPoll);
                chRecordPoll->setChecked(false);
                recorder_.Stop();
                ShowError(QStringLiteral("Запись опроса остановлена: ") + text);
            },
            Qt::QueuedConnection);
    };
    if (!recorder_.Start(path.toStdString(), error)) {
        ShowError(QStringLiteral("Не удалось начать запись опроса: ") +
                  QString::fromStdString(error));
        return false;
    }
    const QSignalBlocker quiet(chRecordPoll);
    chRecordPoll->setChecked(true);
    return true;
}

void TfMain::StopRecording() {
    recorder_.Stop();
    const QSignalBlocker quiet(chRecordPoll);
    chRecordPoll->setChecked(false);
}

void TfMain::RecordSample(const TAction& action) {
    const TReg& reg = *action.Reg;
    recorder_.Record(
        {LocalTimeText(std::chrono::system_clock::now(), true), CodeText(reg), NameText(reg),
         ValueText(reg, errorTexts_.get()),
         action.HasError() ? ErrorTextInWords(action.Error(), errorTexts_.get()) : std::string()});
}

} // namespace tunavox
