// The main window: recording polled values to a file and the exchange statistics.
#include <QFileDialog>
#include <QFileInfo>
#include <chrono>

#include "app/main_window.h"
#include "device/table_text.h"
#include "device/value_codec.h"
#include "ui/file_dialogs.h"
#include "ui/message_box.h"
#include "util/time_text.h"

namespace tunavox {

void TfMain::ShowStats() {
    const TExchangeStats::Snapshot s = line_->Stats.Take();
    lStats->setText(QString::fromStdString(TExchangeStats::Text(s)));
    lStats->setToolTip(QString::fromStdString(TExchangeStats::Hint(s, dev_->ErrorTexts.get())));
}

void TfMain::chRecordPollToggled(bool on) {
    dev_->RecordStopped.clear(); // the user acted: the old reason has been seen
    if (!on) {
        StopRecording();
        return;
    }
    if (dev_->Recorder.Recording()) return;
    QFileDialog dialog(this, QStringLiteral("Записывать опрос в файл"));
    dialog.setObjectName(QStringLiteral("RecordDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    PrepareFileDialog(dialog);
    // Appending to an existing recording is what is wanted, not replacing it.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setNameFilters({QStringLiteral("Текст CSV (*.csv)"), QStringLiteral("Все файлы (*.*)")});
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    QString name = QStringLiteral("Опрос_") +
                   QString::fromStdString(LocalTimeText(std::chrono::system_clock::now(), false));
    name.replace(QLatin1Char(':'), QLatin1Char('-')).replace(QLatin1Char(' '), QLatin1Char('_'));
    dialog.selectFile(name + QStringLiteral(".csv"));
    // A file that cannot be recorded to (not a recording, no access): say why and ask
    // for another one.
    while (dialog.exec() == QDialog::Accepted && !ChosenFile(dialog).isEmpty()) {
        QString why;
        if (StartRecording(ChosenFile(dialog), &why)) return;
        ShowWarning(this, why);
    }
    const QSignalBlocker quiet(chRecordPoll);
    chRecordPoll->setChecked(false);
    ShowRecording();
}

bool TfMain::StartRecording(const QString& path, QString* why) {
    std::string error;
    dev_->Recorder.OnFailure = [this](const std::string& reason) {
        // From the recorder's thread: said on the window's.
        const QString text = QString::fromStdString(reason);
        QMetaObject::invokeMethod(
            this,
            [this, text] {
                const QSignalBlocker quiet(chRecordPoll);
                chRecordPoll->setChecked(false);
                dev_->Recorder.Stop();
                dev_->Wide.reset();
                const QString why = QStringLiteral("Запись опроса остановлена: ") + text;
                dev_->RecordStopped = why.toStdString();
                ShowError(why);
                ShowRecording();
            },
            Qt::QueuedConnection);
    };
    std::unique_ptr<TWideRecording> wide;
    if (chWideRecord->isChecked()) {
        wide = WideRecordingColumns();
        if (!wide) {
            const QString text =
                QStringLiteral("Не удалось начать запись опроса в файл %1: %2")
                    .arg(path, QStringLiteral("отметьте параметры — по столбцу на каждый"));
            if (why)
                *why = text;
            else
                ShowError(text);
            return false;
        }
    }
    if (!dev_->Recorder.Start(path.toStdString(), error, wide ? wide->Header() : std::string())) {
        const QString text = QStringLiteral("Не удалось начать запись опроса в файл %1: %2")
                                 .arg(path, QString::fromStdString(error));
        if (why)
            *why = text;
        else
            ShowError(text);
        return false;
    }
    dev_->RecordPath = path.toStdString();
    dev_->Wide = std::move(wide);
    dev_->RecordStopped.clear();
    const QSignalBlocker quiet(chRecordPoll);
    chRecordPoll->setChecked(true);
    if (dev_->Recorder.TornLineRemoved())
        ShowStatus(QStringLiteral("Из файла записи удалена оборванная последняя строка"), true,
                   normalStatusColor_);
    ShowRecording();
    return true;
}

void TfMain::StopRecording() {
    // The pass begun is written as far as it got.
    if (dev_->Wide && dev_->Recorder.Recording()) {
        const std::string rest = dev_->Wide->Finish();
        if (!rest.empty()) dev_->Recorder.RecordText(rest);
    }
    dev_->Wide.reset();
    dev_->Recorder.Stop();
    const QSignalBlocker quiet(chRecordPoll);
    chRecordPoll->setChecked(false);
    ShowRecording();
}

void TfMain::ShowRecording() {
    if (dev_->Recorder.Recording()) {
        lRecord->setStyleSheet(QString());
        lRecord->setText(QStringLiteral("Запись: %1, строк: %2")
                             .arg(QFileInfo(QString::fromStdString(dev_->RecordPath)).fileName())
                             .arg(dev_->Recorder.Lines()));
        lRecord->setToolTip(QString::fromStdString(dev_->RecordPath));
    } else {
        // Why it stopped stays in sight until the user touches the recording again.
        lRecord->setStyleSheet(dev_->RecordStopped.empty() ? QString()
                                                        : QStringLiteral("color: #C00000"));
        lRecord->setText(QString::fromStdString(dev_->RecordStopped));
        lRecord->setToolTip(dev_->RecordStopped.empty() ? QString()
                                                          : QString::fromStdString(dev_->RecordPath));
    }
}

std::vector<TChartSeries> TfMain::ChartSeries() const {
    std::vector<TChartSeries> out;
    const TRegisterModel* m = vstList->Model();
    for (int r = 0; r < m->rowCount(); ++r) {
        const TReg* reg = m->Reg(r);
        // A WOR row's poll is a write: it has no values to chart.
        if (!reg || reg->RegType == rtStr || reg->RegType == rtHeader || reg->Io == ioWOR ||
            !m->HasCheckBox(r) || m->CheckState(r) != Qt::Checked)
            continue;
        const QString code = QString::fromStdString(CodeText(*reg));
        out.push_back(
            {r, code, code + QLatin1Char(' ') + QString::fromStdString(NameText(*reg)), reg});
    }
    return out;
}

void TfMain::ShowChart() {
    if (!chart_) {
        chart_ = new TChartWindow(dev_->Samples, this);
        chart_->setAttribute(Qt::WA_DeleteOnClose);
        chart_->SeriesSource = [this] { return ChartSeries(); };
        chart_->ErrorTexts = dev_->ErrorTexts.get();
        chart_->Subject = [this] {
            const QString device =
                dev_->Entry >= 0 && dev_->Entry < static_cast<int>(catalogue_.size())
                    ? QString::fromStdString(catalogue_[static_cast<size_t>(dev_->Entry)].Caption)
                    : QString();
            const QString port = QStringLiteral("порт ") + cbPort->currentText();
            return device.isEmpty() ? port : device + QStringLiteral(", ") + port;
        };
    }
    chart_->show();
    chart_->raise();
    chart_->activateWindow();
    chart_->Redraw();
}

void TfMain::AddSample(const TAction& action, int64_t timeMs) {
    // Every completed poll read of a numeric row is one sample; a failed one a gap.
    const TReg& reg = *action.Reg;
    if (reg.RegType == rtStr || reg.RegType == rtHeader || reg.Io == ioWOR || action.Node < 0)
        return;
    double value = 0;
    const std::string error = action.Error();
    if (error.empty() && reg.GetValue().AsDouble(value))
        dev_->Samples.Add(action.Node, timeMs, value);
    else
        dev_->Samples.Add(action.Node, timeMs, std::nullopt,
                     error.size() == 1 ? static_cast<uint8_t>(error[0]) : 0,
                     error.empty() ? std::string("нет значения")
                                   : ErrorTextInWords(error, dev_->ErrorTexts.get()));
    if (chart_) chart_->Changed();
}

void TfMain::RecordSample(const TAction& action, int64_t timeMs) {
    // Reads only: a WOR row's poll writes it.
    if (action.Reg->Io == ioWOR) return;
    const TPollSample sample = PollSampleOf(*action.Reg, timeMs, action.Reg->GetValue(),
                                            action.Error(), dev_->ErrorTexts.get());
    if (!dev_->Wide) {
        dev_->Recorder.Record(sample);
        return;
    }
    const std::string line = dev_->Wide->Add(action.Node, sample);
    if (!line.empty()) dev_->Recorder.RecordText(line);
}

} // namespace tunavox
